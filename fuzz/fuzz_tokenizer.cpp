// The string tokenizer over any delimiter, group marks and text: the history file, search texts
// and structure values all go through it. Input: a flag byte (bit 0 keeps the group delimiters,
// bit 1 turns space skipping off, bit 2 passes a null group end), then the delimiter, the group
// begin and the group end, each ended by a NUL, then the text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "kxtokenizer.h"

namespace {

std::string TakeField(std::string_view& rest) {
    size_t end = rest.find('\0');
    std::string field(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return field;
}

void Drain(KxStringTokenizer& tokenizer) {
    int32_t remaining = tokenizer.GetRemainingTokenCount();
    while (tokenizer.GetRemainingTokenCount() > 0) {
        tokenizer.GetNextToken().GetLength();
        if (tokenizer.GetRemainingTokenCount() != --remaining)
            tvfuzz::Fail("a token taken did not lower the count of remaining tokens by one");
    }
    // One past the last is the vector's index error, and changes nothing.
    try {
        tokenizer.GetNextToken();
        tvfuzz::Fail("a token was handed out past the last one");
    } catch (KxException&) {
    }
    if (tokenizer.GetRemainingTokenCount() != 0) tvfuzz::Fail("a failed token read changed the count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string delimiter = TakeField(rest);
    std::string groupBegin = TakeField(rest);
    std::string groupEnd = TakeField(rest);
    std::string text(rest);
    std::unique_ptr<KxStringTokenizer> tokenizer;
    try {
        tokenizer = std::make_unique<KxStringTokenizer>(
            text.c_str(), delimiter.c_str(), groupBegin.c_str(), (flags & 1) != 0,
            (flags & 4) != 0 ? nullptr : groupEnd.c_str(), (flags & 2) != 0);
    } catch (KxException&) {
        return 0;
    }
    Drain(*tokenizer);
    // More texts on the same tokenizer; one that cannot be split keeps the tokens found first.
    for (const std::string* next : {&groupBegin, &text}) {
        try {
            tokenizer->SetString(next->c_str());
        } catch (KxException&) {
        }
        Drain(*tokenizer);
    }
    return 0;
}
