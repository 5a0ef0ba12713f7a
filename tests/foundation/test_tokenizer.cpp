#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kxtokenizer.h"

namespace {

std::vector<std::string> Drain(KxStringTokenizer& tokenizer) {
    std::vector<std::string> tokens;
    while (tokenizer.GetRemainingTokenCount() > 0)
        tokens.push_back(tokenizer.GetNextToken().GetCString());
    return tokens;
}

struct Failure {
    std::string message, source, callpath;
    bool tokenizerException = false;
};

template <typename F> Failure Catch(F f) {
    try {
        f();
    } catch (KxException& e) {
        return {e.GetErrorMessage(), e.GetSource(), e.GetCallpath(),
                dynamic_cast<KxStringTokenizerException*>(&e) != nullptr};
    }
    ADD_FAILURE() << "no exception";
    return {};
}

const char* const kUnterminated =
    "A group token has no end delimeter.\nCannot retrieve token as specified.\nPlease correct.\n\n";

} // namespace

TEST(KxStringTokenizer, SplitsAsConfigured) {
    struct Case {
        const char* text;
        const char* delimiter;
        const char* groupBegin;
        bool keep;
        const char* groupEnd;
        bool noSpaceSkipping;
        std::vector<std::string> tokens;
    } cases[] = {
        {"a,b,,c", ",", nullptr, false, nullptr, false, {"a", "b", "", "c"}},
        {"a,b,", ",", nullptr, false, nullptr, false, {"a", "b", ""}},
        {"", ",", nullptr, false, nullptr, false, {""}},
        {",", ",", nullptr, false, nullptr, false, {"", ""}},
        {"   ", ",", nullptr, false, nullptr, false, {""}},
        {"  x , y", ",", nullptr, false, nullptr, false, {"x ", "y"}},
        {"  x , y", ",", nullptr, false, nullptr, true, {"  x ", " y"}},
        {"\tx,\ty", ",", nullptr, false, nullptr, false, {"\tx", "\ty"}},
        {"a ; b;c ; d", " ; ", nullptr, false, nullptr, false, {"a", "b;c", "d"}},
        {"a;;;b", ";;", nullptr, false, nullptr, false, {"a", ";b"}},
        {"Cisplatin Carboplatin", " ", nullptr, false, nullptr, false,
         {"Cisplatin", "Carboplatin"}},
        {"[a,b],c", ",", "[", false, "]", false, {"a,b", "c"}},
        {"[a,b],c", ",", "[", true, "]", false, {"[a,b]", "c"}},
        {"[a]x,c", ",", "[", false, "]", false, {"a", "c"}},
        {"[a]x,c", ",", "[", true, "]", false, {"[a]", "c"}},
        {"c,  [a,b]", ",", "[", false, "]", false, {"c", "a,b"}},
        {"[a,b]", ",", "[", false, "]", false, {"a,b"}},
        {"\"a,b\",c", ",", "\"", false, nullptr, false, {"a,b", "c"}},
        {"\"a,b\",c", ",", "\"", false, "", false, {"a,b", "c"}},
        {"\"a,b\",c", ",", "\"", true, nullptr, false, {"\"a,b\"", "c"}},
        {"<<a,b>>,c", ",", "<<", false, ">>", false, {"a,b", "c"}},
        {"x[a,b],c", ",", "[", false, "]", false, {"x[a", "b]", "c"}},
        // Without a group begin there are no groups, whatever the brackets.
        {"[a,b],c", ",", "", false, "]", false, {"[a", "b]", "c"}},
        // A group end that is also the delimiter: kept, the search for the next delimiter
        // starts at the group end and finds it; not kept, it starts after it.
        {"'a,b',c", "'", "'", true, nullptr, false, {"'a,b'", ",c"}},
        {"'a,b',c", "'", "'", false, nullptr, false, {"a,b"}},
    };
    for (const Case& c : cases) {
        KxStringTokenizer tokenizer(c.text, c.delimiter, c.groupBegin, c.keep, c.groupEnd,
                                    c.noSpaceSkipping);
        EXPECT_EQ(Drain(tokenizer), c.tokens) << '"' << c.text << "\" at \"" << c.delimiter << '"';
    }
}

TEST(KxStringTokenizer, TokensAreHandedOutInOrderThenTheIndexErrorChangesNothing) {
    KxStringTokenizer tokenizer("a,b,c", ",");
    EXPECT_EQ(tokenizer.GetRemainingTokenCount(), 3);
    KxString& first = tokenizer.GetNextToken();
    EXPECT_EQ(first, "a");
    EXPECT_EQ(tokenizer.GetRemainingTokenCount(), 2);
    EXPECT_EQ(tokenizer.GetNextToken(), "b");
    EXPECT_EQ(tokenizer.GetNextToken(), "c");
    EXPECT_EQ(tokenizer.GetRemainingTokenCount(), 0);
    for (int i = 0; i < 2; ++i) {
        Failure f = Catch([&] { tokenizer.GetNextToken(); });
        EXPECT_EQ(f.message, "Index 3 out of range; array is from 0 to 2");
        EXPECT_EQ(f.source, "KxVector");
        EXPECT_EQ(f.callpath, "GetNextToken() of KxStringTokenizer");
        EXPECT_EQ(tokenizer.GetRemainingTokenCount(), 0);
    }
    EXPECT_EQ(first, "a") << "a token stays valid while the tokenizer lives";

    tokenizer.SetString("x y");
    EXPECT_EQ(tokenizer.GetRemainingTokenCount(), 1);
    EXPECT_EQ(tokenizer.GetNextToken(), "x y");
}

TEST(KxStringTokenizer, UnterminatedGroupFailsThroughTheParse) {
    Failure f = Catch([] { KxStringTokenizer("[a,b", ",", "[", false, "]"); });
    EXPECT_EQ(f.message, kUnterminated);
    EXPECT_EQ(f.source, "KxStringTokenizer");
    EXPECT_TRUE(f.tokenizerException);
    EXPECT_EQ(f.callpath,
              "ParseStringIntoTokens of KxStringTokenizer\r\nConstructor of KxStringTokenizer");

    // In SetString the tokens before the fault remain, from the first.
    KxStringTokenizer tokenizer("p,q,r", ",", "[", false, "]");
    tokenizer.GetNextToken();
    f = Catch([&] { tokenizer.SetString("a, b,[c,d"); });
    EXPECT_EQ(f.message, kUnterminated);
    EXPECT_TRUE(f.tokenizerException);
    EXPECT_EQ(f.callpath,
              "ParseStringIntoTokens of KxStringTokenizer\r\nSetString() of KxStringTokenizer");
    EXPECT_EQ(Drain(tokenizer), (std::vector<std::string>{"a", "b"}));
}

TEST(KxStringTokenizer, BadArgumentsAreRefused) {
    struct Case {
        const char* text;
        const char* delimiter;
        const char* groupBegin;
        const char* groupEnd;
        const char* message;
    } cases[] = {
        {"a]", ",", nullptr, "]", "Group end delimeter specified without a group begin delimeter."},
        {"a,b", "", nullptr, nullptr, "The token delimiter must not be empty."},
        {"a,b", nullptr, nullptr, nullptr, "The token delimiter must not be empty."},
        {nullptr, ",", nullptr, nullptr, "Cannot tokenize null string."},
    };
    for (const Case& c : cases) {
        Failure f = Catch(
            [&] { KxStringTokenizer(c.text, c.delimiter, c.groupBegin, false, c.groupEnd); });
        EXPECT_EQ(f.message, c.message);
        EXPECT_EQ(f.source, "KxStringTokenizer");
        EXPECT_EQ(f.callpath, "Constructor of KxStringTokenizer");
    }

    KxStringTokenizer tokenizer("a,b", ",");
    tokenizer.GetNextToken();
    Failure f = Catch([&] { tokenizer.SetString(nullptr); });
    EXPECT_EQ(f.message, "Cannot tokenize null string.");
    EXPECT_EQ(f.callpath, "SetString() of KxStringTokenizer");
    EXPECT_EQ(Drain(tokenizer), std::vector<std::string>{"b"}) << "a refused text changes nothing";
}

// Large inputs split in linear time: many tokens, a long token, and a long delimiter that
// almost matches everywhere.
TEST(KxStringTokenizer, LargeInputsStayFast) {
    std::string many;
    for (int i = 0; i < 200000; ++i) many += "ab,";
    KxStringTokenizer tokenizer(many.c_str(), ",");
    EXPECT_EQ(tokenizer.GetRemainingTokenCount(), 200001);

    std::string one(4 * 1024 * 1024, 'x');
    tokenizer.SetString(one.c_str());
    ASSERT_EQ(tokenizer.GetRemainingTokenCount(), 1);
    EXPECT_EQ(tokenizer.GetNextToken().GetLength(), static_cast<int32_t>(one.size()));

    std::string text(2 * 1024 * 1024, 'a');
    std::string delimiter(256 * 1024, 'a');
    delimiter += 'b';
    KxStringTokenizer nearMiss(text.c_str(), delimiter.c_str());
    EXPECT_EQ(nearMiss.GetRemainingTokenCount(), 1);

    std::string groups(1024 * 1024, '[');
    EXPECT_THROW(KxStringTokenizer(groups.c_str(), ",", "[", false, "]"),
                 KxStringTokenizerException);
}
