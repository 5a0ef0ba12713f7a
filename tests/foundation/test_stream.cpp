#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/kxcatch.h"
#include "kxmemstream.h"
#include "kxstream.h"

namespace {

std::string Contents(const KxMemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.GetData()),
                       static_cast<size_t>(stream.GetSize()));
}

KxMemoryStream Over(const std::string& bytes) {
    return KxMemoryStream(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// A stream that cannot tell its length, as a pipe or a reader without a size would be.
class OpaqueStream : public KxInputStreamInterface {
public:
    explicit OpaqueStream(std::string bytes) : m_bytes(std::move(bytes)) {}
    void GetStreamName(KxString& sName) const override { sName = "opaque"; }
    uint32_t Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) override {
        size_t n = std::min<size_t>(ulCount, m_bytes.size() - m_position);
        if (mustReadAll && n < ulCount) KxGenerateException("short read", "OpaqueStream");
        memcpy(pBuffer, m_bytes.data() + m_position, n);
        m_position += n;
        largest = std::max<size_t>(largest, ulCount);
        return static_cast<uint32_t>(n);
    }
    size_t largest = 0;

private:
    std::string m_bytes;
    size_t m_position = 0;
};

} // namespace

// ---- encodings ---------------------------------------------------------------------------------

TEST(KxStreamEncoding, EachWriteProducesItsBytes) {
    struct Case {
        void (*write)(KxOutputStreamInterface&);
        std::string bytes;
    } cases[] = {
        {[](KxOutputStreamInterface& s) { s.WriteBool(true); s.WriteBool(false); }, std::string("\1\0", 2)},
        {[](KxOutputStreamInterface& s) { s.WriteShort(-2); }, "\xfe\xff"},
        {[](KxOutputStreamInterface& s) { s.WriteUnsignedShort(0x1234); }, "\x34\x12"},
        {[](KxOutputStreamInterface& s) { s.WriteInt(0x01020304); }, "\x04\x03\x02\x01"},
        {[](KxOutputStreamInterface& s) { s.WriteLong(-1); }, "\xff\xff\xff\xff"},
        {[](KxOutputStreamInterface& s) { s.WriteUnsignedLong(0x80000000u); }, std::string("\0\0\0\x80", 4)},
        {[](KxOutputStreamInterface& s) { s.WriteUnsignedNative(0x0102030405060708ull); },
         "\x08\x07\x06\x05\x04\x03\x02\x01"},
        {[](KxOutputStreamInterface& s) { s.WriteDouble(1.0); }, std::string("\0\0\0\0\0\0\xf0\x3f", 8)},
        {[](KxOutputStreamInterface& s) { s.WriteCString(nullptr); }, std::string(4, '\0')},
        {[](KxOutputStreamInterface& s) { s.WriteCString("abc"); }, std::string("\4\0\0\0abc\0", 8)},
        {[](KxOutputStreamInterface& s) { s.WriteCString(""); }, std::string("\1\0\0\0\0", 5)},
        {[](KxOutputStreamInterface& s) { s.WriteKxHeader(0, 530); }, std::string("\0\0\0\0\x12\x02", 6)},
        {[](KxOutputStreamInterface& s) { s.WriteKxHeader(-1, 1); }, std::string("\xff\xff\xff\xff\1\0", 6)},
        {[](KxOutputStreamInterface& s) { s.WriteString("abcdef", 4, 0); }, "abcd"},
        {[](KxOutputStreamInterface& s) { s.WriteString("ab", 4, 0); }, std::string("ab\0", 3)},
        {[](KxOutputStreamInterface& s) { s.WriteString(nullptr, 4, ';'); }, ";"},
        {[](KxOutputStreamInterface& s) { s.WriteString("ab", true); }, std::string("ab\0", 3)},
        {[](KxOutputStreamInterface& s) { s.WriteString("ab", false); }, "ab"},
        {[](KxOutputStreamInterface& s) { s.WriteLine("x"); s.WriteLine(""); }, "x\r\n\r\n"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        KxMemoryStream stream;
        cases[i].write(stream);
        EXPECT_EQ(Contents(stream), cases[i].bytes) << "case " << i;
    }
}

TEST(KxStreamEncoding, TypedValuesRoundTrip) {
    KxMemoryStream stream;
    stream.WriteBool(true);
    stream.WriteShort(INT16_MIN);
    stream.WriteUnsignedShort(UINT16_MAX);
    stream.WriteInt(INT32_MIN);
    stream.WriteLong(-123456);
    stream.WriteUnsignedLong(UINT32_MAX);
    stream.WriteUnsignedNative(UINT64_MAX - 1);
    stream.WriteDouble(-2.5e-300);
    stream.Rewind();
    EXPECT_TRUE(stream.ReadBool());
    EXPECT_EQ(stream.ReadShort(), INT16_MIN);
    EXPECT_EQ(stream.ReadUnsignedShort(), UINT16_MAX);
    EXPECT_EQ(stream.ReadInt(), INT32_MIN);
    EXPECT_EQ(stream.ReadLong(), -123456);
    EXPECT_EQ(stream.ReadUnsignedLong(), UINT32_MAX);
    EXPECT_EQ(stream.ReadUnsignedNative(), UINT64_MAX - 1);
    EXPECT_EQ(stream.ReadDouble(), -2.5e-300);
    EXPECT_EQ(stream.GetBytesAvailable(), 0u);
}

TEST(KxStreamEncoding, AnyNonZeroByteReadsAsTrue) {
    KxMemoryStream stream = Over(std::string("\x07\x00", 2));
    EXPECT_TRUE(stream.ReadBool());
    EXPECT_FALSE(stream.ReadBool());
}

TEST(KxStreamEncoding, ShortFixedReadNamesEveryLevel) {
    KxMemoryStream stream = Over("ab");
    EXPECT_KX(CatchKx([&] { stream.ReadUnsignedNative(); }),
              "Unexpected end of stream \"memory stream\": 8 bytes required at position 0, 2 "
              "available",
              "KxMemoryStream",
              "Read() of KxMemoryStream\r\nReadUnsignedNative() of KxInputStreamInterface");
    EXPECT_EQ(stream.GetPosition(), 0u); // a failed required read consumes nothing
    EXPECT_EQ(stream.ReadShort(), 0x6261);
}

TEST(KxStreamEncoding, NullTextsForWrites) {
    KxMemoryStream stream;
    EXPECT_KX(CatchKx([&] { stream.WriteString(nullptr, true); }),
              "Null pointer passed to WriteString", "KxOutputStreamInterface",
              "WriteString() of KxOutputStreamInterface");
    EXPECT_KX(CatchKx([&] { stream.WriteLine(nullptr); }), "Null pointer passed to WriteLine",
              "KxOutputStreamInterface", "WriteLine() of KxOutputStreamInterface");
    EXPECT_EQ(stream.GetSize(), 0u);
}

// ---- headers -----------------------------------------------------------------------------------

TEST(KxStreamHeader, TypeIsCheckedOnItsLowByte) {
    KxMemoryStream stream;
    stream.WriteKxHeader(0, 530);
    stream.WriteInt(0x0301); // low byte 1, other bytes ignored
    stream.WriteShort(7);
    stream.Rewind();
    EXPECT_KX(CatchKx<KxIOStreamingException>([&] { stream.ReadKxHeader(1); }),
              "Invalid header found", "KxInputStreamInterface",
              "ReadKxHeader() of KxInputStreamInterface");
    stream.Rewind();
    EXPECT_EQ(stream.ReadKxHeader(0), 530);
    EXPECT_EQ(stream.ReadKxHeader(1), 7);
}

// ---- counted strings ---------------------------------------------------------------------------

TEST(KxStreamCString, ReadsWhatWasWritten) {
    KxMemoryStream stream;
    stream.WriteCString("abc");
    stream.WriteCString(nullptr);
    stream.WriteCString("");
    stream.Rewind();
    char* text = nullptr;
    EXPECT_STREQ(stream.ReadCString(&text), "abc");
    EXPECT_STREQ(stream.ReadCString(&text), "");
    EXPECT_STREQ(stream.ReadCString(&text), "");
    EXPECT_STREQ(text, "");
    delete[] text;
}

TEST(KxStreamCString, BadCountsAreRefusedBeforeAllocating) {
    struct Case {
        int32_t count;
        const char* message;
    } cases[] = {
        {-1, "Invalid string length (value=-1) in stream \"memory stream\""},
        {INT32_MIN, "Invalid string length (value=-2147483648) in stream \"memory stream\""},
        {INT32_MAX, "String length (value=2147483647) in stream \"memory stream\" is above the "
                    "limit of 67108864 bytes"},
        {100, "String length (value=100) in stream \"memory stream\" is more than the 3 bytes left"},
    };
    for (const Case& t : cases) {
        KxMemoryStream stream;
        stream.WriteInt(t.count);
        stream.WriteString("xyz", false);
        stream.Rewind();
        char* text = KxAllocate(4);
        strcpy(text, "old");
        EXPECT_KX(CatchKx([&] { stream.ReadCString(&text); }), t.message, "KxInputStreamInterface",
                  "ReadCString() of KxInputStreamInterface");
        EXPECT_STREQ(text, "old"); // a failed read leaves the caller's text alone
        delete[] text;
    }
}

TEST(KxStreamCString, CorruptCountOnStreamOfUnknownLengthFailsAtTheShortRead) {
    std::string bytes("\x00\x00\x40\x00", 4); // 4 MB announced, 3 bytes present
    OpaqueStream stream(bytes + "abc");
    char* text = nullptr;
    EXPECT_KX(CatchKx([&] { stream.ReadCString(&text); }), "short read", "OpaqueStream",
              "ReadCString() of KxInputStreamInterface");
    EXPECT_EQ(text, nullptr);
    EXPECT_LE(stream.largest, 1024u * 1024u);
}

TEST(KxStreamCString, LargeStringArrivesWhole) {
    std::string big(3 * 1024 * 1024 + 5, 'k');
    KxMemoryStream out;
    out.WriteCString(big.c_str());
    OpaqueStream stream(Contents(out));
    char* text = nullptr;
    stream.ReadCString(&text);
    EXPECT_EQ(std::string(text), big);
    delete[] text;
}

TEST(KxStreamCString, NullDestination) {
    KxMemoryStream stream = Over(std::string(4, '\0'));
    EXPECT_KX(CatchKx([&] { stream.ReadCString(nullptr); }), "Null pointer passed to ReadCString",
              "KxInputStreamInterface", "ReadCString() of KxInputStreamInterface");
}

// ---- terminated strings ------------------------------------------------------------------------

TEST(KxStreamTerminated, BufferFormMatchesWrittenForm) {
    KxMemoryStream stream;
    stream.WriteString("abcdef", 4, 0);
    stream.WriteString("ab", 4, 0);
    stream.WriteString("z", false);
    stream.Rewind();
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    stream.ReadString(buffer, 4, 0);
    EXPECT_EQ(std::string(buffer, 5), "abcd#"); // a full-length text gets no terminator
    memset(buffer, '#', sizeof buffer);
    EXPECT_STREQ(stream.ReadString(buffer, 4, 0), "ab");
    memset(buffer, '#', sizeof buffer);
    EXPECT_STREQ(stream.ReadString(buffer, 4, 0), "z"); // the end of the stream ends it too
    EXPECT_STREQ(stream.ReadString(buffer, 4, 0), "");
}

TEST(KxStreamTerminated, KxStringFormKeepsTerminatorAndNeedsIt) {
    KxMemoryStream stream = Over("ab;cd");
    KxString s("old");
    EXPECT_EQ(stream.ReadString(s, ';'), ';');
    EXPECT_EQ(s, "ab;");
    EXPECT_KX(CatchKx([&] { stream.ReadString(s, ';'); }),
              "Unexpected end of stream \"memory stream\": 1 bytes required at position 5, 0 "
              "available",
              "KxMemoryStream",
              "Read() of KxMemoryStream\r\nReadString() of KxInputStreamInterface");
    EXPECT_EQ(s, "ab;");
    KxMemoryStream zero = Over(std::string("xy\0", 3));
    zero.ReadString(s, '\0');
    EXPECT_EQ(s, "xy");
}

// ---- lines -------------------------------------------------------------------------------------

TEST(KxStreamLine, AcceptsCrLfLfAndEndOfStream) {
    KxMemoryStream stream = Over("ab\r\ncd\nef");
    char buffer[16];
    EXPECT_EQ(stream.ReadLine(buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(stream.ReadLine(buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "cd");
    EXPECT_EQ(stream.ReadLine(buffer, sizeof buffer), 2u);
    EXPECT_STREQ(buffer, "ef");
    EXPECT_EQ(stream.ReadLine(buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(stream.ReadLine(buffer, 0), 0u);
}

TEST(KxStreamLine, SizeLimitSplitsTheLine) {
    KxMemoryStream stream = Over("abcdef\n");
    char buffer[4];
    EXPECT_EQ(stream.ReadLine(buffer, 4), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(stream.ReadLine(buffer, 4), 3u);
    EXPECT_STREQ(buffer, "def");
    EXPECT_EQ(stream.ReadLine(buffer, 4), 1u);
    EXPECT_STREQ(buffer, "");
}

TEST(KxStreamLine, LoneCarriageReturnIsAnError) {
    const char* message = "Return character not followed by newline; unknown end of line type";
    for (const char* bytes : {"ab\rcd", "ab\r"}) {
        KxMemoryStream stream = Over(bytes);
        char buffer[16];
        EXPECT_KX(CatchKx([&] { stream.ReadLine(buffer, sizeof buffer); }), message,
                  "KxInputStreamInterface", "ReadLine() of KxInputStreamInterface");
        KxMemoryStream again = Over(bytes);
        KxString line("old");
        EXPECT_KX(CatchKx([&] { again.ReadLine(line); }), message, "KxInputStreamInterface",
                  "ReadLine() of KxInputStreamInterface\r\nReadLine() of KXInputStreamInterface");
        EXPECT_EQ(line, "old");
    }
}

TEST(KxStreamLine, KxStringTakesLongLinesWholeAndStopsAtTheirEnd) {
    struct Case {
        size_t length;
        const char* ending;
        uint32_t consumed;
    } cases[] = {
        {2000, "\r\n", 2002}, {1022, "\n", 1023}, {1021, "\r\n", 1023}, {1022, "\r\n", 1024},
        {1023, "\n", 1024},   {1023, "", 1023},   {2046, "\n", 2047},   {0, "\n", 1},
    };
    for (const Case& t : cases) {
        std::string text(t.length, 'L');
        for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
        std::string bytes = text + t.ending + (*t.ending != '\0' ? "next\n" : "");
        KxMemoryStream stream = Over(bytes);
        KxString line;
        EXPECT_EQ(stream.ReadLine(line), t.consumed) << t.length << " + " << strlen(t.ending);
        EXPECT_EQ(std::string(line), text) << t.length;
        if (*t.ending != '\0') {
            EXPECT_EQ(stream.ReadLine(line), 5u);
            EXPECT_EQ(line, "next");
        }
        EXPECT_EQ(stream.ReadLine(line), 0u);
        EXPECT_TRUE(line.IsEmpty());
    }
}

// ---- the memory stream itself ------------------------------------------------------------------

TEST(KxMemoryStream, PositionedWritesOverwriteAndExtend) {
    KxMemoryStream stream("blob");
    stream.WriteString("abcdef", false);
    stream.Seek(2);
    stream.WriteString("XY", false);
    EXPECT_EQ(stream.GetPosition(), 4u);
    stream.Seek(5);
    stream.WriteString("123", false);
    EXPECT_EQ(Contents(stream), "abXYe123");
    stream.Truncate(3);
    EXPECT_EQ(stream.GetPosition(), 3u);
    EXPECT_EQ(Contents(stream), "abX");
    stream.Write(stream.GetData(), 3); // from its own bytes while it grows
    EXPECT_EQ(Contents(stream), "abXabX");
    KxString name;
    stream.GetStreamName(name);
    EXPECT_EQ(name, "blob");
    stream.Clear();
    EXPECT_EQ(stream.GetSize(), 0u);
    EXPECT_EQ(stream.GetPosition(), 0u);
}

TEST(KxMemoryStream, ReadsShortWithoutMustReadAll) {
    KxMemoryStream stream = Over("abc");
    char buffer[8] = {};
    stream.Seek(1);
    EXPECT_EQ(stream.Read(buffer, 8, false), 2u);
    EXPECT_STREQ(buffer, "bc");
    EXPECT_EQ(stream.Read(buffer, 8, false), 0u);
}

TEST(KxMemoryStream, SeekAndTruncateStayWithinTheBytes) {
    KxMemoryStream stream = Over("abc");
    stream.Seek(3);
    EXPECT_KX(CatchKx([&] { stream.Seek(4); }),
              "Position 4 is past the end of stream \"memory stream\" (size 3)", "KxMemoryStream",
              "Seek() of KxMemoryStream");
    EXPECT_KX(CatchKx([&] { stream.Truncate(9); }),
              "Cannot truncate stream \"memory stream\" of 3 bytes to 9 bytes", "KxMemoryStream",
              "Truncate() of KxMemoryStream");
    EXPECT_EQ(stream.GetPosition(), 3u);
    EXPECT_EQ(stream.GetSize(), 3u);
}
