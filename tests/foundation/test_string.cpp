#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "foundation/kxcatch.h"
#include "kxalloc.h"
#include "kxchunk.h"
#include "kxmemstream.h"
#include "kxstring.h"

namespace {

std::string Repeat(char c, size_t n) { return std::string(n, c); }

std::string Bytes(const KxResizableChunk& chunk) {
    return std::string(static_cast<const char*>(chunk.GetData()),
                       static_cast<size_t>(chunk.GetSize()));
}

} // namespace

// ---- KxAllocate and the free helpers -----------------------------------------------------------

TEST(KxAllocate, NegativeCountReleasesReserveAndNextAllocationRestoresIt) {
    delete[] KxAllocate(8);
    ASSERT_TRUE(KxHasMemoryReserve());
    KxCaught c = CatchKx<KxMemoryException>([] { KxAllocate(-1); });
    EXPECT_KX(c, "Bad memory allocation request - tried to allocate -1 bytes.", "", "");
    EXPECT_FALSE(KxHasMemoryReserve());
    char* block = KxAllocate(5);
    EXPECT_EQ(block[0], '\0');
    delete[] block;
    EXPECT_TRUE(KxHasMemoryReserve());
}

TEST(KxAllocate, MemoryExceptionIsAlsoABadAlloc) {
    EXPECT_THROW(KxAllocate(-7), std::bad_alloc);
}

TEST(KxCopyString, ReplacesWithCopyAndSpareBytes) {
    char* p = nullptr;
    EXPECT_STREQ(KxCopyString(&p, "hello", 3), "hello");
    char* same = p;
    EXPECT_EQ(KxCopyString(&p, p, 0), same); // its own buffer: nothing happens
    // A source inside the held buffer must be read before that buffer goes.
    EXPECT_STREQ(KxCopyString(&p, p + 2, 0), "llo");
    EXPECT_STREQ(KxCopyString(&p, nullptr, 4), "");
    strcpy(p, "abcd"); // a null source still leaves the spare bytes
    delete[] p;
}

TEST(KxCopyString, NullDestination) {
    EXPECT_KX(CatchKx([] { KxCopyString(nullptr, "x", 0); }), "null pointer: pDest",
              "KxCopyString", "KxCopyString of KxAlloc");
}

TEST(KxDeblank, StripsEveryByteUpTo32AndKeepsHighBytes) {
    struct Case {
        const char* in;
        bool leading, trailing;
        const char* out;
    } cases[] = {
        {" \t\r\nab c\r\n ", true, true, "ab c"},
        {" \tab ", true, false, "ab "},
        {" ab \t", false, true, " ab"},
        {"\x01\x1f\x20", true, true, ""},
        {"", true, true, ""},
        {"\xa0x\xa0", true, true, "\xa0x\xa0"},
    };
    for (const Case& t : cases) {
        char buffer[32];
        strcpy(buffer, t.in);
        EXPECT_STREQ(KxDeblank(buffer, t.leading, t.trailing), t.out) << '"' << t.in << '"';
    }
    EXPECT_KX(CatchKx([] { KxDeblank(nullptr, true, true); }), "null pointer: sString",
              "KxDeblank", "");
}

TEST(KxPrependAndPad, ShiftTextRight) {
    char buffer[32] = "cd";
    EXPECT_STREQ(KxPrependString(buffer, "ab"), "abcd");
    EXPECT_STREQ(KxPrependString(buffer, buffer + 2), "cdabcd"); // a prefix from itself
    EXPECT_STREQ(KxPadLeft(buffer, '0', 3), "000cdabcd");
    EXPECT_STREQ(KxPadLeft(buffer, '0', 0), "000cdabcd");
}

// ---- KxResizableChunk --------------------------------------------------------------------------

TEST(KxResizableChunk, ConstructionAndFill) {
    KxResizableChunk empty;
    EXPECT_EQ(empty.GetSize(), 0);
    EXPECT_EQ(empty.GetData(), nullptr);
    EXPECT_EQ(Bytes(KxResizableChunk(3)), std::string(3, '\0'));
    KxResizableChunk chunk(2, 'a');
    EXPECT_EQ(Bytes(chunk), "aa");
    chunk.ResizeChunk(5, false, 0); // only the gained bytes are filled
    EXPECT_EQ(Bytes(chunk), std::string("aa\0\0\0", 5));
    chunk.ResizeChunk(6, true, 'x');
    EXPECT_EQ(Bytes(chunk), "xxxxxx");
    *chunk.AsPtrAtOffset<char>(0) = 'y';
    chunk.ResizeChunk(3, false, 'z'); // a shrink fills nothing
    EXPECT_EQ(Bytes(chunk), "yxx");
    chunk.Resize(0);
    EXPECT_EQ(chunk.GetData(), nullptr);
}

TEST(KxResizableChunk, CopiesAreIndependent) {
    KxResizableChunk a(3, 'a');
    KxResizableChunk b(a);
    std::unique_ptr<KxResizableChunk> c(a.Clone());
    KxResizableChunk d(7, 'd');
    d = a;
    *a.AsPtrAtOffset<char>(0) = 'X';
    EXPECT_EQ(Bytes(b), "aaa");
    EXPECT_EQ(Bytes(*c), "aaa");
    EXPECT_EQ(Bytes(d), "aaa");
    d = d;
    EXPECT_EQ(Bytes(d), "aaa");
}

TEST(KxResizableChunk, NegativeSizeIsRejectedAndLeavesChunk) {
    KxResizableChunk chunk(2, 'q');
    EXPECT_KX(CatchKx([&] { chunk.Resize(-1); }), "lNewSize, value -1, must be non-negative.",
              "KxResizableChunk", "Resize() of KxResizableChunk");
    EXPECT_KX(CatchKx([&] { chunk.ResizeChunk(-5, true, 'x'); }),
              "lNewSize, value -5, must be non-negative.", "KxResizableChunk",
              "Resize() of KxResizableChunk\r\nResizeChunk() of KxResizableChunk");
    EXPECT_EQ(Bytes(chunk), "qq");
}

TEST(KxResizableChunk, OffsetsAreCheckedForEveryView) {
    KxResizableChunk chunk(4);
    EXPECT_NE(chunk.AsPtrAtOffset<void>(3), nullptr);
    const char* path = "AsPtrAtOffset<char>() of KxResizableChunk";
    EXPECT_KX(CatchKx([&] { chunk.AsPtrAtOffset<char>(4); }), "index (value=4) is out of range [0, 3]",
              "KxResizableChunk", path);
    EXPECT_KX(CatchKx([&] { chunk.AsPtrAtOffset<unsigned char>(-1); }),
              "index (value=-1) is out of range [0, 3]", "KxResizableChunk",
              "AsPtrAtOffset<unsigned char>() of KxResizableChunk");
    const KxResizableChunk empty;
    EXPECT_KX(CatchKx([&] { empty.AsPtrAtOffset<void>(0); }),
              "index (value=0) is out of range [0, -1]", "KxResizableChunk",
              "AsPtrAtOffset<void>() of KxResizableChunk");
}

TEST(KxResizableChunk, CopyFromClipsGrowsAndOverlaps) {
    KxResizableChunk source(4, 's');
    *source.AsPtrAtOffset<char>(3) = 'e';
    KxResizableChunk dest(2, 'd');
    dest.CopyFrom(source, 100, 2, 3); // clipped to 2 bytes, grown with 0 to 5 bytes
    EXPECT_EQ(Bytes(dest), std::string("dd\0se", 5));

    KxResizableChunk self(4, 'a');
    memcpy(self.GetData(), "abcd", 4);
    self.CopyFrom(self, 4, 0, 2); // overlapping, and the block grows under the source
    EXPECT_EQ(Bytes(self), "ababcd");

    EXPECT_KX(CatchKx([&] { dest.CopyFrom(source, 1, 5, 0); }),
              "index (value=5) is out of range [0, 3]", "KxResizableChunk",
              "CopyFrom() of KxResizableChunk");
    EXPECT_EQ(Bytes(dest), std::string("dd\0se", 5));
}

TEST(KxResizableChunk, CheckEmpty) {
    KxResizableChunk empty, full(1);
    empty.CheckEmpty(true);
    full.CheckEmpty(false);
    EXPECT_KX(CatchKx([&] { full.CheckEmpty(true); }), "chunk must be empty", "KxResizableChunk", "");
    EXPECT_KX(CatchKx([&] { empty.CheckEmpty(false); }), "chunk must not be empty",
              "KxResizableChunk", "");
}

// ---- KxString: capacity and growth -------------------------------------------------------------

TEST(KxStringCapacity, NewCopyAndAppendFollowTheGrowthPolicy) {
    KxString s;
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.GetCapacity(), 64);
    EXPECT_EQ(s.GetGranularity(), 32u);
    s.Copy(Repeat('a', 63).c_str());
    EXPECT_EQ(s.GetCapacity(), 64);
    s.Copy(Repeat('a', 64).c_str());
    EXPECT_EQ(s.GetCapacity(), 96);
    s.Copy("x"); // nothing shrinks
    EXPECT_EQ(s.GetCapacity(), 96);

    struct Case {
        size_t before, appended;
        int32_t capacity;
    } cases[] = {
        {0, 10, 64},   // fits
        {0, 63, 64},   // exactly fills the free room
        {0, 100, 224}, // 64 + max(64, 150) = 214, rounded up
        {60, 4, 160},  // 64 + max(64, 6) = 128, rounded up
    };
    for (const Case& t : cases) {
        KxString grown(Repeat('b', t.before).c_str());
        grown.Append(Repeat('c', t.appended).c_str());
        EXPECT_EQ(grown.GetCapacity(), t.capacity) << t.before << " + " << t.appended;
        EXPECT_EQ(grown.GetLength(), static_cast<int32_t>(t.before + t.appended));
    }
}

TEST(KxStringCapacity, GrowthStepIsCappedAt1024) {
    KxString s;
    s.Copy(Repeat('a', 2047).c_str());
    ASSERT_EQ(s.GetCapacity(), 2080);
    s.Append(Repeat('b', 40).c_str()); // 2080 + max(1024, 60) = 3104, then rounded up a step
    EXPECT_EQ(s.GetCapacity(), 3136);
}

TEST(KxStringCapacity, CopiesKeepCapacityAndGranularity) {
    KxString s;
    s.Init(10);
    EXPECT_EQ(s.GetCapacity(), 64); // never shrinks
    s.Copy(Repeat('a', 70).c_str());
    EXPECT_EQ(s.GetCapacity(), 80); // (71 / 10 + 1) * 10
    KxString copy(s), assigned;
    assigned = s;
    std::unique_ptr<KxString> clone(s.Clone());
    for (const KxString* t : {&copy, &assigned, clone.get()}) {
        EXPECT_EQ(t->GetCapacity(), 80);
        EXPECT_EQ(t->GetGranularity(), 10u);
        EXPECT_EQ(*t, s);
    }
}

TEST(KxStringCapacity, ResizeStringBufferChecks) {
    KxString s;
    KxResizableChunk chunk;
    s.ResizeStringBuffer(chunk, 40);
    EXPECT_EQ(chunk.GetSize(), 64);
    s.ResizeStringBuffer(chunk, 1);
    EXPECT_EQ(chunk.GetSize(), 64);
    EXPECT_KX(CatchKx([&] { s.ResizeStringBuffer(chunk, 0); }),
              "lNewLength, value=0, must be greater than 0.", "KxString",
              "ResizeStringBuffer() of KxString");
    EXPECT_KX(CatchKx([&] { s.Init(0); }), "granularity, value=0, must be greater than 0.",
              "KxString", "Init() of KxString");
}

// ---- KxString: appending -----------------------------------------------------------------------

TEST(KxStringAppend, NumbersUseTheirFormats) {
    struct Case {
        std::string (*render)();
        const char* expected;
    } cases[] = {
        {[] { KxString s; s.Append(int16_t(-32768)); return std::string(s); }, "-32768"},
        {[] { KxString s; s.Append(int32_t(-7)); return std::string(s); }, "-7"},
        {[] { KxString s; s.Append(-9000000000L); return std::string(s); }, "-9000000000"},
        {[] { KxString s; s.Append(uint16_t(65535)); return std::string(s); }, "65535"},
        {[] { KxString s; s.Append(uint32_t(4294967295u)); return std::string(s); }, "4294967295"},
        {[] { KxString s; s.Append(18446744073709551615UL); return std::string(s); },
         "18446744073709551615"},
        {[] { KxString s; s.Append(2.5); return std::string(s); }, "2.500000"},
        {[] { KxString s; s.Append(-0.0000004); return std::string(s); }, "-0.000000"},
        {[] { KxString s; s << true << ' ' << false; return std::string(s); }, "true false"},
        {[] { KxString s; s << 'x' << int16_t(1) << 2 << 3L << uint16_t(4) << 5u << 6UL; return std::string(s); },
         "x123456"},
        {[] { KxString s("a"); s += KxString("b"); s += "c"; s += 'd'; s += int16_t(-1); s += 2;
              return std::string(s); }, "abcd-12"},
    };
    for (const Case& t : cases) EXPECT_EQ(t.render(), t.expected);
}

TEST(KxStringAppend, LargeDoubleIsRenderedWhole) {
    KxString s;
    s.Append(1e100);
    EXPECT_EQ(s.GetLength(), 101 + 7);
    EXPECT_TRUE(s.BeginsWith("1000000000000000015902"));
    EXPECT_TRUE(s.EndsWith(".000000"));
}

TEST(KxStringAppend, ModifiersResetAndEndLine) {
    KxString s("old text");
    s << Reset << "Record " << 12 << EndLine << "next";
    EXPECT_EQ(s, "Record 12\r\nnext");
    EXPECT_EQ(s.GetCapacity(), 64);
}

TEST(KxStringAppend, CharZeroAndEmptyTextAddNothing) {
    KxString s("ab");
    s << '\0' << "";
    EXPECT_EQ(s, "ab");
    EXPECT_TRUE(KxString('\0').IsEmpty());
    EXPECT_EQ(KxString('q'), "q");
    EXPECT_TRUE(KxString(static_cast<const char*>(nullptr)).IsEmpty());
}

TEST(KxStringAppend, ItselfAndPiecesOfItself) {
    KxString s("abc");
    s += s;
    EXPECT_EQ(s, "abcabc");
    // A piece of its own text while the buffer has to grow (and may move).
    KxString t(Repeat('x', 60).c_str());
    t.Append("yz");
    t.Append(t.GetCString() + 58);
    EXPECT_EQ(std::string(t), Repeat('x', 60) + "yz" + "xxyz");
}

TEST(KxStringAppend, NullText) {
    KxString s("keep");
    EXPECT_KX(CatchKx([&] { s.Append(static_cast<const char*>(nullptr)); }), "null pointer: pString",
              "KxString", "Append(char *) of KxString");
    EXPECT_EQ(s, "keep");
}

// ---- KxString: editing -------------------------------------------------------------------------

TEST(KxStringEdit, Insert) {
    KxString s("ad");
    s.Insert("bc", 1);
    s.Insert(">", 0);
    s.Insert("<", 5);
    EXPECT_EQ(s, ">abcd<");
    KxString own(Repeat('a', 50).c_str());
    own.Insert(own.GetCString() + 30, 1); // its own text, while the buffer grows
    EXPECT_EQ(std::string(own), Repeat('a', 70));
    EXPECT_EQ(own.GetCapacity(), 96); // grown for text length + capacity: ((20 + 64 + 1) / 32 + 1) * 32

    EXPECT_KX(CatchKx([&] { s.Insert("x", 7); }),
              "lPosition (value=7) is invalid for string of length=6.", "KxString",
              "Insert() of KxString");
    EXPECT_KX(CatchKx([&] { s.Insert("x", -1); }),
              "lPosition (value=-1) is invalid for string of length=6.", "KxString",
              "Insert() of KxString");
    EXPECT_KX(CatchKx([&] { s.Insert(nullptr, 0); }), "null pointer: pString", "KxString",
              "Insert() of KxString");
    EXPECT_EQ(s, ">abcd<");
}

TEST(KxStringEdit, RemoveAndTruncate) {
    KxString s("abcd");
    s.Remove(1, 2);
    EXPECT_EQ(s, "ad");
    s.Remove(2, 0);
    s.Remove(0, 2);
    EXPECT_TRUE(s.IsEmpty());

    KxString t("abcd");
    const char* path = "Remove() of KxString";
    EXPECT_KX(CatchKx([&] { t.Remove(3, 2); }),
              "Cannot remove 2 characters starting at position 3 from string of length 4.",
              "KxString", path);
    EXPECT_KX(CatchKx([&] { t.Remove(-1, 1); }),
              "Cannot remove 1 characters starting at position -1 from string of length 4.",
              "KxString", path);
    EXPECT_KX(CatchKx([&] { t.Remove(1, -1); }),
              "Cannot remove -1 characters starting at position 1 from string of length 4.",
              "KxString", path);
    EXPECT_EQ(t, "abcd");

    t.Truncate(4);
    t.Truncate(1);
    EXPECT_EQ(t, "a");
    EXPECT_KX(CatchKx([&] { t.Truncate(2); }),
              "ulLength (value=2) must not be greater than string length (value=1).", "KxString",
              "Truncate() of KxString");
    t.Clear();
    EXPECT_TRUE(t.IsEmpty());
}

TEST(KxStringEdit, CharAccess) {
    KxString s("abc");
    EXPECT_EQ(s.GetCharAt(2), 'c');
    s.SetCharAt(0, 'X');
    EXPECT_EQ(s, "Xbc");
    s.SetCharAt(1, '\0');
    EXPECT_EQ(s, "X");
    EXPECT_KX(CatchKx([&] { s.GetCharAt(1); }), "index (value=1) is out of range, [0, 0]",
              "KxString", "GetCharAt of KxString");
    EXPECT_KX(CatchKx([&] { s.SetCharAt(-1, 'y'); }), "index (value=-1) is out of range, [0, 0]",
              "KxString", "SetCharAt() of KxString");
    KxString empty;
    EXPECT_KX(CatchKx([&] { empty.GetCharAt(0); }), "index (value=0) is out of range, [0, -1]",
              "KxString", "GetCharAt of KxString");
}

TEST(KxStringEdit, GetSubstring) {
    KxString s("abcdef");
    EXPECT_EQ(s.GetSubstring(2, -1), "cdef");
    EXPECT_EQ(s.GetSubstring(1, 3), "bcd");
    EXPECT_TRUE(s.GetSubstring(6, 0).IsEmpty());
    EXPECT_EQ(s.GetSubstring(0, 6), "abcdef");
    EXPECT_EQ(KxString(Repeat('z', 100).c_str()).GetSubstring(1).GetLength(), 99);
    EXPECT_KX(CatchKx([&] { s.GetSubstring(7, 0); }),
              "lStart (value=7) must not be greater than GetLength (value=6)", "KxString",
              "GetSubstring() of KxString");
    EXPECT_KX(CatchKx([&] { s.GetSubstring(2, 5); }),
              "Substring length (value=5) must be less than or equal to GetLength (value=6) minus "
              "lStart (value=2).",
              "KxString", "GetSubstring() of KxString");
    EXPECT_KX(CatchKx([&] { s.GetSubstring(-1, 1); }), "index (value=-1) is out of range [0, 63]",
              "KxResizableChunk",
              "AsPtrAtOffset<char>() of KxResizableChunk\r\nGetSubstring() of KxString");
}

// ---- KxString: searching -----------------------------------------------------------------------

TEST(KxStringSearch, Find) {
    struct Case {
        const char* text;
        const char* what;
        int32_t start;
        bool last;
        int32_t found;
    } cases[] = {
        {"aaa", "a", 0, true, 2},   {"aaa", "a", 0, false, 0},   {"aaaa", "aa", 0, true, 2},
        {"abcabc", "bc", 2, false, 4}, {"abcabc", "bc", 5, false, -1}, {"aaa", "x", 0, true, -1},
        {"abc", "", 1, false, 1},   {"abc", "", 0, true, 3},     {"abc", "c", 3, false, -1},
    };
    for (const Case& t : cases)
        EXPECT_EQ(KxString(t.text).Find(t.what, t.start, t.last), t.found)
            << t.text << " / " << t.what << " from " << t.start;
    KxString s("a.b.c");
    EXPECT_EQ(s.Find('.', 0, true), 3);
    EXPECT_EQ(s.Find(KxString("b.c")), 2);
    KxString aaa("aaa");
    EXPECT_KX(CatchKx([&] { aaa.Find("a", 4, false); }),
              "lStart (value=4) is past end of string (length=3)", "KxString", "Find() of KxString");
    EXPECT_KX(CatchKx([&] { aaa.Find(static_cast<const char*>(nullptr)); }),
              "null pointer: sString", "KxString", "Find() of KxString");
}

TEST(KxStringSearch, Replace) {
    struct Case {
        const char* text;
        const char* from;
        const char* to;
        bool all;
        const char* result;
    } cases[] = {
        {"abab", "ab", "xab", true, "xabxab"}, // replaced text is not searched again
        {"abab", "ab", "x", false, "xab"},
        {"aaa", "aa", "b", true, "ba"},
        {"abc", "z", "y", true, "abc"},
        {"abc", "abc", "", true, ""},
        {"a-b-c", "-", "--", true, "a--b--c"},
    };
    for (const Case& t : cases) {
        KxString s(t.text);
        s.Replace(t.from, t.to, t.all);
        EXPECT_EQ(s, t.result) << t.text;
    }
    KxString s("abc");
    const char* path = "Replace() of KxString";
    EXPECT_KX(CatchKx([&] { s.Replace(nullptr, "x", true); }), "null pointer: sOriginal",
              "KxString", path);
    EXPECT_KX(CatchKx([&] { s.Replace("a", nullptr, true); }), "null pointer: sReplace",
              "KxString", path);
    EXPECT_KX(CatchKx([&] { s.Replace("", "x", true); }), "sOriginal must not be empty",
              "KxString", path);
    EXPECT_EQ(s, "abc");
}

TEST(KxStringSearch, BeginsAndEndsWith) {
    KxString s("record.txd");
    EXPECT_TRUE(s.BeginsWith("rec"));
    EXPECT_TRUE(s.BeginsWith(""));
    EXPECT_FALSE(s.BeginsWith("Rec"));
    EXPECT_FALSE(KxString("ab").BeginsWith("abc"));
    EXPECT_TRUE(s.EndsWith(".txd"));
    EXPECT_TRUE(s.EndsWith('d'));
    EXPECT_FALSE(s.EndsWith("record.txd!"));
    EXPECT_FALSE(KxString().EndsWith('d'));
    EXPECT_KX(CatchKx([&] { s.BeginsWith(nullptr); }), "null pointer: sString", "KxString",
              "BeginsWith() of KxString");
    EXPECT_KX(CatchKx([&] { s.EndsWith(static_cast<const char*>(nullptr)); }),
              "null pointer: sString", "KxString", "EndsWith() of KxString");
}

// ---- KxString: case, blanks, comparison --------------------------------------------------------

TEST(KxStringText, CaseMappingTouchesAsciiLettersOnly) {
    KxString s("Ab1-\xc4z");
    s.ToUppercase();
    EXPECT_EQ(s, "AB1-\xc4Z");
    s.ToLowercase();
    EXPECT_EQ(s, "ab1-\xc4z");
}

TEST(KxStringText, DeblankVariants) {
    KxString both(" \tab \r\n"), lead(both), trail(both);
    both.Deblank();
    lead.DeblankLeading();
    trail.DeblankTrailing();
    EXPECT_EQ(both, "ab");
    EXPECT_EQ(lead, "ab \r\n");
    EXPECT_EQ(trail, " \tab");
}

TEST(KxStringText, ComparisonsAreBytewise) {
    KxString a("abc"), b("abd"), high("\xe9");
    EXPECT_TRUE(a == KxString("abc"));
    EXPECT_TRUE(a == "abc");
    EXPECT_TRUE(a != "abd");
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b >= a);
    EXPECT_TRUE(a >= a);
    EXPECT_TRUE(a < high); // bytes above 127 sort after ASCII
    EXPECT_FALSE(a == "ABC");
    EXPECT_TRUE(KxString("") == static_cast<const char*>(nullptr)); // null reads as empty
}

// ---- KxString: printf --------------------------------------------------------------------------

TEST(KxStringPrintf, ReplacesContentAndGrowsToFit) {
    KxString s("previous");
    s.printf("%s=%d", "n", 42);
    EXPECT_EQ(s, "n=42");
    EXPECT_EQ(s.GetCapacity(), 64);
    s.printf("%s", Repeat('w', 200).c_str());
    EXPECT_EQ(s.GetLength(), 200);
    EXPECT_EQ(s.GetCapacity(), 224); // ((201 + 1) / 32 + 1) * 32
    s.printf("%s", "");
    EXPECT_TRUE(s.IsEmpty());
}

TEST(KxStringPrintf, ArgumentsMayComeFromTheStringItself) {
    KxString s(Repeat('q', 50).c_str());
    s.printf("%s|%s", s.GetCString(), s.GetCString());
    EXPECT_EQ(std::string(s), Repeat('q', 50) + "|" + Repeat('q', 50));
}

TEST(KxStringPrintf, FormattingFailureLeavesTheString) {
    ASSERT_STREQ(setlocale(LC_CTYPE, nullptr), "C");
    KxString s("kept");
    const wchar_t wide[] = {0x4e2d, 0};
    EXPECT_KX(CatchKx([&] { s.printf("%ls", wide); }),
              "error encountered in call to 'vsnprintf' with format string, \"%ls\".", "KxString",
              "vprintf() of KxString\r\nprintf() of KxString");
    EXPECT_EQ(s, "kept");
}

// ---- KxString: stored form ---------------------------------------------------------------------

TEST(KxStringStream, WritesCountedStringAndReadsItBack) {
    KxMemoryStream stream;
    KxString("abc").Write(stream);
    KxString().Write(stream);
    ASSERT_EQ(stream.GetSize(), 8u + 5u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.GetData()), 8),
              std::string("\x04\0\0\0abc\0", 8));
    stream.Rewind();
    KxString a("old"), b("old");
    a.Read(stream);
    b.Read(stream);
    EXPECT_EQ(a, "abc");
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_KX(CatchKx([&] { a.Read(stream); }),
              "Unexpected end of stream \"memory stream\": 4 bytes required at position 13, 0 "
              "available",
              "KxMemoryStream",
              "Read() of KxMemoryStream\r\nReadInt() of KxInputStreamInterface\r\n"
              "ReadCString() of KxInputStreamInterface\r\nRead() of KxString");
    EXPECT_EQ(a, "abc");
}
