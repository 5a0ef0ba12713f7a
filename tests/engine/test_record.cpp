#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kxcatch.h"
#include "kxblob.h"
#include "kxengineexceptions.h"
#include "kxfield.h"
#include "kxfieldvalue.h"
#include "kxformat.h"
#include "kxmemstream.h"
#include "kxrecord.h"
#include "kxtimestamp.h"
#include "platform/platform_fixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A driver record over a plain byte buffer: each field is a blank flag byte followed by its
// value in binary (texts padded with blanks, blobs as a 32-bit blob number), so the generic layer
// is tested without the text driver's own rules.
class MemRecord : public KxFileRecord {
public:
    MemRecord(const KxPointerVector<KxField>* pFields, KxBlobFile* pBlobFile)
        : KxFileRecord(pFields, pBlobFile) {
        uint32_t at = 0;
        for (uint16_t i = 0; i < GetFieldCount(); ++i) {
            m_offsets.push_back(at);
            at += 1 + PayloadSize(i);
        }
        m_bytes.assign(at, 0);
        Clear();
    }

    KxRecord* Clone() const override { return new MemRecord(*this); }
    void Clear() override {
        for (uint16_t i = 0; i < GetFieldCount(); ++i) PutBlank(i);
    }

    char* GetAlpha(uint16_t f, char* pBuffer, uint32_t ulLength, bool strip) const override {
        uint32_t n = PayloadSize(f);
        if (ulLength < n + 1)
            KxGenerateException("Buffer %u too small in GetAlpha() of MemRecord", "MemRecord",
                                ulLength);
        memcpy(pBuffer, Payload(f), n);
        pBuffer[n] = '\0';
        if (strip)
            for (uint32_t i = n; i > 0 && pBuffer[i - 1] == ' '; --i) pBuffer[i - 1] = '\0';
        return pBuffer;
    }
    void GetBinary(uint16_t f, void* pDest) const override {
        memcpy(pDest, Payload(f), PayloadSize(f));
    }
    bool GetBoolean(uint16_t f) const override { return Payload(f)[0] != 0; }
    void GetDate(uint16_t f, KxDate& date) const override { date.SetCString(Text(f).c_str()); }
    bool GetIsBlank(uint16_t f) const override { return m_bytes.at(m_offsets.at(f)) != 0; }
    int32_t GetLong(uint16_t f) const override { return Get<int32_t>(f); }
    double GetNumber(uint16_t f) const override { return Get<double>(f); }
    int16_t GetShort(uint16_t f) const override { return Get<int16_t>(f); }
    void GetTime(uint16_t f, KxTime& time) const override { time.SetCString(Text(f).c_str()); }
    void GetTimestamp(uint16_t f, KxTimestamp& t) const override { t.SetCString(Text(f).c_str()); }
    uint32_t GetUnsignedLong(uint16_t f) const override { return Get<uint32_t>(f); }
    uint16_t GetUnsignedShort(uint16_t f) const override { return Get<uint16_t>(f); }

    void PutAlpha(uint16_t f, const char* pText) override {
        size_t n = strlen(pText);
        if (n > PayloadSize(f)) KxGenerateException("String \"%s\" too large", "MemRecord", pText);
        memset(Payload(f), ' ', PayloadSize(f));
        memcpy(Payload(f), pText, n);
        SetBlank(f, false);
    }
    void PutBinary(uint16_t f, const void* pBytes) override {
        memcpy(Payload(f), pBytes, PayloadSize(f));
        SetBlank(f, false);
    }
    void PutBlank(uint16_t f) override {
        memset(Payload(f), ' ', PayloadSize(f));
        SetBlank(f, true);
    }
    void PutBoolean(uint16_t f, bool v) override { Put<unsigned char>(f, v ? 1 : 0); }
    void PutDate(uint16_t f, const KxDate& date) override { PutText(f, date.GetText().GetCString()); }
    void PutLong(uint16_t f, int32_t v) override { Put(f, v); }
    void PutNumber(uint16_t f, double v) override { Put(f, v); }
    void PutShort(uint16_t f, int16_t v) override { Put(f, v); }
    void PutTime(uint16_t f, const KxTime& time) override { PutText(f, time.GetCString()); }
    void PutTimestamp(uint16_t f, const KxTimestamp& t) override { PutText(f, t.GetCString()); }
    void PutUnsignedLong(uint16_t f, uint32_t v) override { Put(f, v); }
    void PutUnsignedShort(uint16_t f, uint16_t v) override { Put(f, v); }

    void GetBLOB(uint16_t f, KxBlob& blob) const override {
        if (GetBlobFile() == nullptr)
            KxGenerateException("No BLOB file pointer available.", "MemRecord");
        int32_t n = GetBLOBIndex(f);
        if (n >= 1)
            GetBlobFile()->GetBlob(n, blob);
        else
            blob.SetBlob(nullptr, 0);
    }
    void PutBLOB(uint16_t f, const KxBlob& blob) override {
        if (GetBlobFile() == nullptr)
            KxGenerateException("No BLOB file pointer available.", "MemRecord");
        if (blob.GetSize() == 0) return PutBlank(f);
        Put(f, GetBlobFile()->AddBlob(new KxBlob(blob)));
    }
    int32_t GetBLOBIndex(uint16_t f) const override { return GetIsBlank(f) ? 0 : Get<int32_t>(f); }
    uint32_t GetBufferLength() const override { return static_cast<uint32_t>(m_bytes.size()); }
    void SetRawData(const void* p) override { memcpy(m_bytes.data(), p, m_bytes.size()); }
    void GetRawData(void* p) const override { memcpy(p, m_bytes.data(), m_bytes.size()); }

    // Makes a blob field refer to a number, for the reference bookkeeping.
    void SetBlobNumber(uint16_t f, int32_t n) { Put(f, n); }
    const Bytes& Raw() const { return m_bytes; }

private:
    uint32_t PayloadSize(uint16_t f) const {
        switch (GetFieldType(f)) {
        case 'N': case '$': return 8;
        case 'I': case 'W': case 'B': return 4;
        case 'S': case 'U': return 2;
        case 'L': return 1;
        case 'D': return 8;
        case 'T': return 9;
        case '@': return 17;
        default: return static_cast<uint32_t>(GetFieldLength(f));
        }
    }
    unsigned char* Payload(uint16_t f) { return &m_bytes.at(m_offsets.at(f) + 1); }
    const unsigned char* Payload(uint16_t f) const { return &m_bytes.at(m_offsets.at(f) + 1); }
    std::string Text(uint16_t f) const {
        return std::string(reinterpret_cast<const char*>(Payload(f)), PayloadSize(f));
    }
    void PutText(uint16_t f, const char* pText) {
        memcpy(Payload(f), pText, PayloadSize(f));
        SetBlank(f, false);
    }
    template <typename T> T Get(uint16_t f) const {
        T v;
        memcpy(&v, Payload(f), sizeof v);
        return v;
    }
    template <typename T> void Put(uint16_t f, T v) {
        memcpy(Payload(f), &v, sizeof v);
        SetBlank(f, false);
    }
    void SetBlank(uint16_t f, bool blank) { m_bytes.at(m_offsets.at(f)) = blank ? 1 : 0; }

    std::vector<uint32_t> m_offsets;
    Bytes m_bytes;
};

struct FieldSpec {
    char type;
    int16_t length;
    int16_t precision = 0;
};

std::unique_ptr<KxPointerVector<KxField>> Layout(const std::vector<FieldSpec>& specs) {
    auto fields = std::make_unique<KxPointerVector<KxField>>();
    uint16_t offset = 0;
    for (size_t i = 0; i < specs.size(); ++i) {
        auto* field = new KxField();
        fields->push_back(field);
        std::string name = "F" + std::to_string(i);
        field->SetName(name.c_str());
        field->SetDefinition(static_cast<uint16_t>(i), specs[i].type, specs[i].length,
                             specs[i].precision, -1);
        field->SetByteOffset(offset);
        offset = static_cast<uint16_t>(offset + specs[i].length);
    }
    return fields;
}

std::string Display(const KxFileRecord& r, uint16_t f, uint32_t size = 64, bool formatted = true) {
    std::vector<char> buffer(size, 'x');
    r.GetField(f, buffer.data(), size, formatted);
    return std::string(buffer.data());
}

Bytes Serialise(const KxFileRecord& r) {
    KxMemoryStream stream;
    r.RawSerialWrite(stream);
    return Bytes(stream.GetData(), stream.GetData() + stream.GetSize());
}

void Deserialise(KxFileRecord& r, const Bytes& b) {
    KxMemoryStream stream(b.data(), static_cast<uint32_t>(b.size()));
    r.RawSerialRead(stream);
}

// ---------------------------------------------------------------------------------------------
// Display text

TEST(RecordDisplay, DefaultTextOfEachType) {
    auto fields = Layout({{'I', 10}, {'N', 10, 2}, {'S', 6}, {'U', 6}, {'W', 10}, {'L', 1},
                          {'A', 10}, {'@', 17}, {'T', 9}, {'D', 8}, {'N', 12, 0}});
    MemRecord r(fields.get(), nullptr);

    EXPECT_EQ(Display(r, 0), "");
    r.PutLong(0, 42);
    EXPECT_EQ(Display(r, 0), "42");
    r.PutLong(0, -7);
    EXPECT_EQ(Display(r, 0), "-7");
    r.PutNumber(1, 3.5);
    EXPECT_EQ(Display(r, 1), "3.50");
    r.PutNumber(10, -2.5);
    EXPECT_EQ(Display(r, 10), "-2");
    r.PutShort(2, -32767);
    EXPECT_EQ(Display(r, 2), "-32767");
    r.PutUnsignedShort(3, 0);
    EXPECT_EQ(Display(r, 3), "");
    r.PutUnsignedLong(4, 4000000000u);
    EXPECT_EQ(Display(r, 4), "4000000000");
    r.PutBoolean(5, true);
    EXPECT_EQ(Display(r, 5), "True");
    r.PutBoolean(5, false);
    EXPECT_EQ(Display(r, 5), "False");
    // Texts are shown as they are, but for the padding of the field.
    r.PutAlpha(6, " ab");
    EXPECT_EQ(Display(r, 6), " ab");
    r.PutField(7, "20070914123456789");
    EXPECT_EQ(Display(r, 7), "20070914123456789");
    r.PutField(8, "123456789");
    EXPECT_EQ(Display(r, 8), "123456789");
    r.PutField(9, "20040229");
    EXPECT_EQ(Display(r, 9), "20040229");
}

TEST(RecordDisplay, BlankFieldsShowEmptyUnlessAFormatOptionAsksForTheValue) {
    auto fields = Layout({{'L', 1}, {'@', 17}, {'L', 1}});
    (*fields)[2]->SetFormat(KxField::kxShowFiltered, "", nullptr);
    MemRecord r(fields.get(), nullptr);
    EXPECT_EQ(Display(r, 0), "");
    EXPECT_EQ(Display(r, 1), "");
    // Option 2 without a filter renders the blank value with the default text.
    EXPECT_EQ(Display(r, 2), "False");
    EXPECT_EQ(Display(r, 2, 64, false), "");
}

TEST(RecordDisplay, TextIsCutToTheDestinationAndAlwaysTerminated) {
    auto fields = Layout({{'N', 20, 4}, {'B', 20}});
    kxtest::TempDir dir;
    KxBlobFile blobs((dir / "r.txd").c_str(), kxIORead | kxIOWrite);
    MemRecord r(fields.get(), &blobs);
    r.PutNumber(0, 1e300);
    EXPECT_EQ(Display(r, 0, 4), "100");
    r.PutField(1, "a long blob text");
    EXPECT_EQ(Display(r, 1, 5), "a lo");
    // The raw form of a blob is cut the same way.
    char raw[6];
    memset(raw, 'x', sizeof raw);
    r.GetField(1, raw, sizeof raw);
    EXPECT_STREQ(raw, "a lon");
}

TEST(RecordDisplay, FormatOptions) {
    auto fields = Layout({{'I', 10}, {'I', 10}, {'I', 10}});
    (*fields)[0]->SetFormat(KxField::kxShowFormatted, "", nullptr);
    KxFormat stages;
    stages.AddLine("1-5", "Early");
    (*fields)[1]->SetFormat(stages);
    (*fields)[2]->SetFormat(7, "", nullptr);
    MemRecord r(fields.get(), nullptr);
    for (uint16_t f = 0; f < 3; ++f) r.PutLong(f, 5);

    // No format to render with: the default text.
    EXPECT_EQ(Display(r, 0), "5");
    EXPECT_EQ(Display(r, 1), "Early");
    EXPECT_EQ(Display(r, 1, 64, false), "5");
    EXPECT_KX(CatchKx([&] { Display(r, 2); }), "Unknown format type", "KxFileRecord",
              "GetField() of KxFileRecord");
    // A value on no line, and text that is no label, fall back to the plain conversion.
    r.PutField(1, "7", 1);
    EXPECT_EQ(Display(r, 1), "7");
    r.PutField(1, "Early", 1);
    EXPECT_EQ(r.GetLong(1), 1);
    EXPECT_EQ(CatchKx([&] { r.PutField(1, "Late", 1); }).message, "\"Late\" is not a valid long");
    EXPECT_EQ(r.GetLong(1), 1);
    EXPECT_KX(CatchKx([&] { r.PutField(2, "7", 3); }), "Unknown format type", "KxFileRecord",
              "PutField() of KxFileRecord");
}

TEST(RecordDisplay, FieldNumberOutsideTheLayout) {
    auto fields = Layout({{'I', 10}, {'I', 10}});
    MemRecord r(fields.get(), nullptr);
    EXPECT_KX(CatchKx([&] { Display(r, 2); }), "The field index (value=2) is not in range [0, 1].",
              "KxRecord", "CheckFieldIndexRange() of KxRecord\r\nGetField() of KxFileRecord");
    EXPECT_KX(CatchKx([&] { r.GetFieldName(5); }), "Index 5 out of range; array is from 0 to 1",
              "KxVector", "GetFieldDefinition() of KxFileRecord\r\nGetFieldName() of KxFileRecord");
    EXPECT_STREQ(r.GetFieldName(1), "F1");
}

// ---------------------------------------------------------------------------------------------
// Parsing text

struct ParseCase {
    char type;
    const char* text;
    const char* expected;  // the display text afterwards, or the failure message
    bool fails;
};

TEST(RecordParse, PlainConversionsAndTheirMessages) {
    const ParseCase cases[] = {
        {'S', "  12", "12", false},
        {'S', "\t\r\n+12", "12", false},
        {'S', "12x", "\"12x\" is not a valid short", true},
        {'S', "40000", "\"40000\" does not fit in a short", true},
        {'S', "-32768", "", false},  // the blank value
        {'S', "-32767", "-32767", false},
        {'S', "-", "\"-\" is not a valid short", true},
        {'S', "12 ", "\"12 \" is not a valid short", true},
        {'U', "-1", "\"-1\" is not a valid unsigned short", true},
        {'U', "65535", "65535", false},
        {'U', "65536", "\"65536\" does not fit in an unsigned short", true},
        {'I', "0000000000000000000042", "42", false},
        {'I', "2147483647", "2147483647", false},
        {'I', "2147483648", "\"2147483648\" does not fit in a long", true},
        {'I', "-99999999999999999999999999999999", "\"-99999999999999999999999999999999\" does "
                                                  "not fit in a long", true},
        {'I', "1.5", "\"1.5\" is not a valid long", true},
        {'W', "4294967295", "4294967295", false},
        {'W', "4294967296", "\"4294967296\" does not fit in an unsigned long", true},
        {'W', "-0", "\"-0\" is not a valid unsigned long", true},
        {'W', "18446744073709551617", "\"18446744073709551617\" does not fit in an unsigned long",
         true},
        {'N', " -2.5e1", "-25.00", false},
        {'N', ".5", "0.50", false},
        {'N', "1e999", "\"1e999\" is not a valid double", true},
        {'N', "NaN", "\"NaN\" is not a valid double", true},
        {'N', "inf", "\"inf\" is not a valid double", true},
        {'N', "0x10", "\"0x10\" is not a valid double", true},
        {'N', "1e", "\"1e\" is not a valid double", true},
        {'N', "3.5 ", "\"3.5 \" is not a valid double", true},
        {'N', ".", "\".\" is not a valid double", true},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(std::string(1, c.type) + " \"" + c.text + "\"");
        auto fields = Layout({{c.type, 12, 2}});
        MemRecord r(fields.get(), nullptr);
        r.PutField(0, "7");
        Bytes before = r.Raw();
        try {
            r.PutField(0, c.text);
            EXPECT_FALSE(c.fails);
            EXPECT_EQ(Display(r, 0), c.expected);
        } catch (KxMalformedDataException& e) {
            EXPECT_TRUE(c.fails);
            EXPECT_STREQ(e.GetErrorMessage(), c.expected);
            EXPECT_EQ(e.GetType(), c.type);
            EXPECT_STREQ(e.GetText(), c.text);
            EXPECT_STREQ(e.GetCallpath(), "KxConvertValue()\r\nAlphaToField() of KxFileRecord\r\n"
                                          "PutField() of KxFileRecord");
            EXPECT_EQ(r.Raw(), before);
        }
    }
}

TEST(RecordParse, EmptyTextBlanksTheField) {
    auto fields = Layout({{'S', 6}, {'A', 5}});
    MemRecord r(fields.get(), nullptr);
    r.PutField(0, "12");
    r.PutField(1, "ab");
    r.PutField(0, "");
    r.PutField(1, nullptr);
    EXPECT_TRUE(r.GetIsBlank(0));
    EXPECT_TRUE(r.GetIsBlank(1));
}

TEST(RecordParse, BooleanTexts) {
    auto fields = Layout({{'L', 1}});
    MemRecord r(fields.get(), nullptr);
    for (const char* text : {"yes", "y", "t", "1", "TRUE", "True", " Yes"}) {
        r.PutBoolean(0, false);
        r.PutField(0, text);
        EXPECT_TRUE(r.GetBoolean(0)) << text;
    }
    for (const char* text : {"no", "2", "yess", "0", "f", "yes "}) {
        r.PutBoolean(0, true);
        r.PutField(0, text);
        EXPECT_FALSE(r.GetBoolean(0)) << text;
        EXPECT_FALSE(r.GetIsBlank(0)) << text;
    }
}

TEST(RecordParse, TextTypes) {
    auto fields = Layout({{'@', 17}, {'D', 8}, {'T', 9}, {'A', 4}, {'Y', 4}, {'X', 4}});
    MemRecord r(fields.get(), nullptr);
    r.PutField(0, "20070914235959999 and more");
    EXPECT_EQ(Display(r, 0), "20070914235959999");
    r.PutField(1, "20070914");
    KxDate date;
    r.GetDate(1, date);
    EXPECT_EQ(date.GetJulianDayFromCalendarStart(), 732933);
    r.PutField(2, "235959999");
    EXPECT_EQ(Display(r, 2), "235959999");
    // A text that is no date fails in the date and leaves the field as it was.
    EXPECT_TRUE(CatchKx([&] { r.PutField(1, "2007091"); }).thrown);
    EXPECT_EQ(Display(r, 1), "20070914");
    r.PutField(3, "abcd");
    EXPECT_EQ(Display(r, 3), "abcd");
    r.PutField(4, "xy");
    const unsigned char* y = r.Raw().data() + r.Raw().size() - 9;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(y), 4), std::string("xy\0\0", 4));
    EXPECT_KX(CatchKx([&] { r.PutField(5, "1"); }), "Invalid field type", "KxFileRecord",
              "PutField() of KxFileRecord");
}

// ---------------------------------------------------------------------------------------------
// Bulk get and put

TEST(RecordBulk, GetAllFieldsFillsTheAskedRangeOnly) {
    std::vector<FieldSpec> specs(10, {'I', 10});
    auto fields = Layout(specs);
    MemRecord r(fields.get(), nullptr);
    for (uint16_t i = 0; i < 10; ++i) r.PutLong(i, 100 + i);

    std::vector<std::vector<char>> buffers(10, std::vector<char>(16, '\0'));
    std::vector<char*> texts;
    for (auto& b : buffers) {
        strcpy(b.data(), "untouched");
        texts.push_back(b.data());
    }
    r.GetAllFields(texts.data(), 2, 3, 16);
    for (int i = 0; i < 10; ++i)
        EXPECT_STREQ(texts[i], i == 3 ? "103" : i == 4 ? "104" : "untouched") << i;

    EXPECT_KX(CatchKx([&] { r.GetAllFields(texts.data(), 7, 4, 16); }),
              "Attempt to GetFields past end of record", "KxFileRecord",
              "GetAllFields() of KxFileRecord");
    // The sum is taken wide, not in 16 bits.
    EXPECT_TRUE(CatchKx([&] { r.GetAllFields(texts.data(), 65535, 2, 16); }).thrown);

    r.GetAllFields(texts.data(), 0, 7, 16);
    EXPECT_STREQ(texts[0], "100");
    EXPECT_STREQ(texts[9], "109");
}

TEST(RecordBulk, PutAllFieldsAndBlankness) {
    auto fields = Layout({{'I', 10}, {'A', 5}, {'L', 1}});
    MemRecord r(fields.get(), nullptr);
    EXPECT_TRUE(r.GetAllFieldsBlank());
    const char* texts[] = {"12", "abc", "yes"};
    r.PutAllFields(texts, 2, 1);
    EXPECT_TRUE(r.GetIsBlank(0));
    EXPECT_EQ(Display(r, 1), "abc");
    EXPECT_TRUE(r.GetBoolean(2));
    EXPECT_FALSE(r.GetAllFieldsBlank());
    EXPECT_KX(CatchKx([&] { r.PutAllFields(texts, 3, 1); }),
              "Attempt to PutFields past end of record", "KxFileRecord",
              "PutAllFields() of KxFileRecord");
    r.PutAllFields(texts, 0, 0);
    EXPECT_EQ(r.GetLong(0), 12);
}

TEST(RecordBulk, LoadFieldsFrom) {
    kxtest::TempDir dir;
    KxBlobFile blobs((dir / "r.txd").c_str(), kxIORead | kxIOWrite);
    auto fields = Layout({{'I', 10}, {'A', 8}, {'B', 20}, {'@', 17}, {'N', 8, 1}, {'Y', 3}});
    MemRecord source(fields.get(), &blobs), target(fields.get(), &blobs);
    source.PutLong(0, 9);
    source.PutAlpha(1, "word");
    source.PutField(2, "blob text");
    source.PutField(3, "20070914000000000");
    source.PutBinary(5, "\x01\x00\x02");
    target.PutNumber(4, 1.5);  // blank in the source
    target.LoadFieldsFrom(source);
    for (uint16_t f : {0, 1, 2, 3, 5}) EXPECT_EQ(Display(target, f), Display(source, f)) << f;
    EXPECT_TRUE(target.GetIsBlank(4));
    char y[3];
    target.GetBinary(5, y);
    EXPECT_EQ(std::string(y, 3), std::string("\x01\x00\x02", 3));

    auto other = Layout({{'I', 10}, {'S', 6}});
    MemRecord mismatched(other.get(), nullptr);
    auto mine = Layout({{'I', 10}, {'I', 10}});
    MemRecord local(mine.get(), nullptr);
    local.PutLong(0, 1);
    mismatched.PutLong(0, 2);
    Bytes before = local.Raw();
    EXPECT_KX(CatchKx([&] { local.LoadFieldsFrom(mismatched); }),
              "Field 1 has type 'I' locally, but passed in record has type 'S' for this field",
              "KxFileRecord", "LoadFieldsFrom() of KxFileRecord");
    EXPECT_EQ(local.Raw(), before);
}

TEST(RecordBulk, CalculateRecordLength) {
    auto fields = Layout({{'A', 10}, {'I', 10}});
    (*fields)[0]->SetByteOffset(30);  // the last field need not be the last in the array
    EXPECT_EQ(KxFileRecord::CalculateRecordLength(*fields), 40);
    EXPECT_EQ(KxFileRecord::CalculateRecordLength(*fields, 1), 39);
    EXPECT_EQ(KxFileRecord::CalculateRecordLength(KxPointerVector<KxField>()), 0);
}

// ---------------------------------------------------------------------------------------------
// Value holders

TEST(RecordValues, PutAndRetrieveThroughValueHolders) {
    kxtest::TempDir dir;
    KxBlobFile blobs((dir / "r.txd").c_str(), kxIORead | kxIOWrite);
    auto fields = Layout({{'I', 10}, {'A', 6}, {'B', 20}, {'Y', 4}, {'S', 6}});
    MemRecord r(fields.get(), &blobs);

    KxFieldValue value(kxLongField);
    value.SetLong(17);
    r.PutFieldValue(0, value);
    KxFieldValue back(kxLongField);
    r.RetrieveFieldValue(0, back);
    EXPECT_EQ(back.AsLong_TypeEnforced(), 17);

    KxFieldValue text(kxAlphaField);
    text.SetString("ab");
    r.PutFieldValue(1, text);
    KxFieldValue textBack(kxAlphaField);
    r.RetrieveFieldValue(1, textBack);
    EXPECT_STREQ(textBack.AsCString_TypeEnforced(), "ab");

    KxFieldValue blob(kxBlobField);
    blob.SetBlob(KxBlob("held", 4));
    r.PutFieldValue(2, blob);
    KxFieldValue blobBack(kxBlobField);
    r.RetrieveFieldValue(2, blobBack);
    EXPECT_STREQ(blobBack.AsKxBlob_TypeEnforced().GetText(), "held");

    // A shorter byte block is padded to the field's length.
    KxFieldValue bytes(kxBinaryField);
    bytes.SetChunk(KxResizableChunk(2, 'z'));
    r.PutFieldValue(3, bytes);
    KxFieldValue bytesBack(kxBinaryField);
    r.RetrieveFieldValue(3, bytesBack);
    const KxResizableChunk& chunk = bytesBack.AsKxResizableChunk_TypeEnforced();
    ASSERT_EQ(chunk.GetSize(), 4);
    EXPECT_EQ(std::string(static_cast<const char*>(chunk.GetData()), 4), std::string("zz\0\0", 4));

    EXPECT_KX(CatchKx([&] { r.PutFieldValue(4, value); }),
              "Cannot put a field value of type KX_LONG_FLD into a field of type KX_SHORT_FLD.",
              "KxRecord", "PutFieldValue() of KxRecord\r\nPutFieldValue() of KxRecordVariable");
    r.PutShort(4, 1);
    EXPECT_KX(CatchKx([&] { r.RetrieveFieldValue(4, back); }),
              "Cannot retrieve a field value of type KX_LONG_FLD from a field of type "
              "KX_SHORT_FLD.",
              "KxRecord",
              "RetrieveFieldValue() of KxRecord\r\nRetrieveFieldValue() of KxRecordVariable");
    r.PutBlank(0);
    EXPECT_KX(CatchKx([&] { r.RetrieveFieldValue(0, back); }),
              "Cannot retrieve a field value from a blank field (uwFieldIndex=0).", "KxRecord",
              "RetrieveFieldValue() of KxRecord\r\nRetrieveFieldValue() of KxRecordVariable");
}

TEST(RecordValues, TheBaseLayerLeavesBlobsToTheVariableRecord) {
    auto fields = Layout({{'B', 20}});
    MemRecord r(fields.get(), nullptr);
    KxFieldValue blob(kxBlobField);
    EXPECT_KX(CatchKx([&] { r.KxRecord::PutFieldValue(0, blob); }),
              "PutFieldValue not defined in this class for KxFieldValues of type KX_BLOB_FLD.",
              "KxRecord", "PutFieldValue() of KxRecord");
    r.SetBlobNumber(0, 3);
    EXPECT_KX(CatchKx([&] { r.KxRecord::RetrieveFieldValue(0, blob); }),
              "RetrieveFieldValue not defined in this class for KxFieldValues of type "
              "KX_BLOB_FLD.",
              "KxRecord", "RetrieveFieldValue() of KxRecord");
}

// ---------------------------------------------------------------------------------------------
// Conversions to other types

TEST(RecordConversions, CrossTypeGetters) {
    auto fields = Layout({{'N', 12}, {'W', 10}, {'A', 8}, {'S', 6}, {'U', 6}, {'D', 8}, {'I', 10}});
    MemRecord r(fields.get(), nullptr);
    r.PutNumber(0, 1e10);
    r.PutUnsignedLong(1, 4000000000u);
    r.PutAlpha(2, "abc");
    r.PutShort(3, -1);
    r.PutUnsignedShort(4, 40000);
    r.PutField(5, "20070914");
    r.PutLong(6, 70000);

    struct Case {
        std::function<void()> call;
        const char* message;
        const char* label;
    };
    const Case cases[] = {
        {[&] { r.GetFieldAsLong(0); }, "Number field has value of 1.000000e+10; does not fit in a LONG", "GetFieldAsLong()"},
        {[&] { r.GetFieldAsLong(1); }, "Unsigned Long field has value of 4000000000; too large for a LONG", "GetFieldAsLong()"},
        {[&] { r.GetFieldAsLong(2); }, "Alpha field has value of \"abc\"; does not fit in a LONG", "GetFieldAsLong()"},
        {[&] { r.GetFieldAsLong(5); }, "Cannot convert field of type 'D' to a LONG", "GetFieldAsLong()"},
        {[&] { r.GetFieldAsNumber(2); }, "Alpha field has value of \"abc\"; does not fit in a NUMBER", "GetFieldAsNumber()"},
        {[&] { r.GetFieldAsShort(6); }, "Long field has value of 70000; does not fit in a SHORT", "GetFieldAsShort()"},
        {[&] { r.GetFieldAsShort(4); }, "Unsigned Short field has value of 40000; too large for a SHORT", "GetFieldAsShort()"},
        {[&] { r.GetFieldAsUnsignedLong(3); }, "Short field has value of -1; does not fit in an UNSIGNED LONG", "GetFieldAsUnsignedLong()"},
        {[&] { r.GetFieldAsUnsignedShort(6); }, "Long field has value of 70000; does not fit in an UNSIGNED SHORT", "GetFieldAsUnsignedShort()"},
        {[&] { r.GetFieldAsUnsignedShort(1); }, "Unsigned Long field has value of 4000000000; too large for an UNSIGNED SHORT", "GetFieldAsUnsignedShort()"},
        {[&] { r.GetFieldAsBoolean(5); }, "Cannot convert field of type 'D' to a BOOLEAN", "GetFieldAsBoolean()"},
    };
    for (const Case& c : cases)
        EXPECT_KX(CatchKx(c.call), c.message, "KxFileRecord", std::string(c.label) + " of KxFileRecord");

    r.PutAlpha(2, " 17");
    EXPECT_EQ(r.GetFieldAsLong(2), 17);
    EXPECT_EQ(r.GetFieldAsNumber(6), 70000.0);
    EXPECT_EQ(r.GetFieldAsUnsignedLong(4), 40000u);
    r.PutNumber(0, -0.5);
    EXPECT_EQ(r.GetFieldAsUnsignedShort(0), 0);
    r.PutBlank(3);
    EXPECT_EQ(r.GetFieldAsLong(3), kxBlankLong);
}

// ---------------------------------------------------------------------------------------------
// Serial form

TEST(RecordSerial, BlankVectorOfNineFields) {
    std::vector<FieldSpec> specs(9, {'S', 6});
    auto fields = Layout(specs);
    MemRecord r(fields.get(), nullptr);
    for (uint16_t i = 1; i < 9; ++i) r.PutShort(i, 0);
    KxMemoryStream stream;
    r.WriteBlankVector(stream);
    ASSERT_EQ(stream.GetSize(), 2u);
    EXPECT_EQ(stream.GetData()[0], 0x01);
    EXPECT_EQ(stream.GetData()[1], 0x00);

    r.PutShort(0, 0);
    r.PutBlank(8);
    stream.Clear();
    r.WriteBlankVector(stream);
    EXPECT_EQ(stream.GetData()[0], 0x00);
    EXPECT_EQ(stream.GetData()[1], 0x01);
}

TEST(RecordSerial, BytesOfTheSerialForm) {
    auto fields = Layout({{'I', 10}, {'A', 5}, {'A', 3}, {'S', 6}, {'L', 1}, {'D', 8}});
    MemRecord r(fields.get(), nullptr);
    r.PutLong(0, 258);
    r.PutAlpha(1, "ab");
    r.PutAlpha(2, "xyz");
    r.PutBoolean(4, true);
    r.PutField(5, "00010102");
    const Bytes expected = {0x08,                   // field 3 blank
                            0x02, 0x01, 0x00, 0x00, // 258
                            'a',  'b',  0x00,       // shorter than the field: ends in a 0 byte
                            'x',  'y',  'z',        // as long as the field: no 0 byte
                            0x01,                   // true
                            0x02, 0x00, 0x00, 0x00}; // day number 2
    EXPECT_EQ(Serialise(r), expected);
}

TEST(RecordSerial, RoundTripOfEveryType) {
    kxtest::TempDir dir;
    KxBlobFile blobs((dir / "r.txd").c_str(), kxIORead | kxIOWrite);
    auto fields = Layout({{'A', 8}, {'Y', 3}, {'I', 10}, {'S', 6}, {'U', 6}, {'W', 10},
                          {'N', 12, 3}, {'D', 8}, {'T', 9}, {'@', 17}, {'L', 1}, {'B', 20},
                          {'I', 10}, {'A', 4}});
    MemRecord r(fields.get(), &blobs);
    r.PutAlpha(0, "abcdefgh");
    r.PutBinary(1, "\x00\xff\x10");
    r.PutLong(2, -2147483647);
    r.PutShort(3, -5);
    r.PutUnsignedShort(4, 65535);
    r.PutUnsignedLong(5, 4294967295u);
    r.PutNumber(6, -1234.5);
    r.PutField(7, "99991231");
    r.PutField(8, "235959999");
    r.PutField(9, "20000229120000001");
    r.PutBoolean(10, true);
    const char text[] = "blob\0with a NUL";
    r.PutBLOB(11, KxBlob(text, sizeof text));
    // Field 12 stays blank; field 13 holds an empty text.
    r.PutAlpha(13, "");

    Bytes serial = Serialise(r);
    MemRecord copy(fields.get(), &blobs);
    Deserialise(copy, serial);
    for (uint16_t f = 0; f < 14; ++f) {
        EXPECT_EQ(copy.GetIsBlank(f), r.GetIsBlank(f)) << f;
        EXPECT_EQ(Display(copy, f), Display(r, f)) << f;
    }
    char y[3];
    copy.GetBinary(1, y);
    EXPECT_EQ(std::string(y, 3), std::string("\x00\xff\x10", 3));
    KxBlob blob;
    copy.GetBLOB(11, blob);
    EXPECT_EQ(std::string(static_cast<const char*>(blob.GetData()), blob.GetSize()),
              std::string(text, sizeof text));
    EXPECT_EQ(Serialise(copy), serial);
}

TEST(RecordSerial, DamagedFormsFailAndLeaveTheRecordAsItWas) {
    kxtest::TempDir dir;
    KxBlobFile blobs((dir / "r.txd").c_str(), kxIORead | kxIOWrite);
    auto fields = Layout({{'I', 10}, {'A', 4}, {'B', 20}});
    MemRecord r(fields.get(), &blobs);
    r.PutLong(0, 5);
    const Bytes before = r.Raw();

    const std::vector<Bytes> damaged = {
        {},                                           // no blank vector
        {0x08},                                       // a blank bit past the last field
        {0x06, 0x01, 0x00},                           // a long cut short
        {0x05, 'a', 'b'},                             // a short text without its 0 byte
        {0x03, 0xff, 0xff, 0xff, 0xff, 'x'},          // a blob length beyond the stream
        {0x03, 0x10, 0x00, 0x00, 0x00, 'x', 'y'},     // a blob cut short
    };
    for (const Bytes& b : damaged) {
        SCOPED_TRACE(testing::PrintToString(b));
        KxCaught c = CatchKx([&] { Deserialise(r, b); });
        EXPECT_TRUE(c.thrown);
        EXPECT_NE(c.callpath.find("RawSerialRead() of KxFileRecord"), std::string::npos);
        EXPECT_EQ(r.Raw(), before);
    }
    EXPECT_KX(CatchKx([&] { Deserialise(r, {0x08}); }),
              "Blank vector has bits set beyond the 3 fields of the record", "KxFileRecord",
              "ReadBlankVector() of KxFileRecord\r\nRawSerialRead() of KxFileRecord");
}

TEST(RecordSerial, GenericStoredForm) {
    auto fields = Layout({{'I', 10}, {'A', 4}});
    MemRecord r(fields.get(), nullptr), copy(fields.get(), nullptr);
    r.PutLong(0, 77);
    r.PutAlpha(1, "abc");
    KxMemoryStream stream;
    r.WriteRecord(stream);
    EXPECT_EQ(stream.GetSize(), r.GetBufferLength());
    stream.Rewind();
    copy.ReadRecord(stream);
    EXPECT_EQ(copy.Raw(), r.Raw());
    // A short stream fails before anything changes.
    KxMemoryStream shortStream(r.Raw().data(), 3);
    MemRecord fresh(fields.get(), nullptr);
    EXPECT_TRUE(CatchKx([&] { fresh.ReadRecord(shortStream); }).thrown);
    EXPECT_TRUE(fresh.GetAllFieldsBlank());
}

// ---------------------------------------------------------------------------------------------
// Blob references

class BlobReferences : public ::testing::Test {
protected:
    void SetUp() override {
        blobs_ = std::make_unique<KxBlobFile>((dir_ / "r.txd").c_str(), kxIORead | kxIOWrite);
        for (int i = 0; i < 2; ++i) {
            int32_t n = blobs_->AddBlob(new KxBlob("0123456789", 10));
            // Two references each, so that one decrement never frees a blob.
            blobs_->IncrementReferenceCount(n);
            blobs_->IncrementReferenceCount(n);
        }
    }
    int32_t Count(int32_t n) const { return blobs_->GetDescriptor(n).GetReferenceCount(); }

    kxtest::TempDir dir_;
    std::unique_ptr<KxBlobFile> blobs_;
};

TEST_F(BlobReferences, UpdateReconcilesEachBlobField) {
    auto fields = Layout({{'I', 10}, {'B', 20}});
    // Old and new blob number of field 1; 0 stands for a blank field.
    struct Case {
        int32_t oldBlob, newBlob, delta1, delta2;
    };
    const Case cases[] = {
        {1, 2, -1, +1}, {0, 1, +1, 0}, {2, 0, 0, -1}, {1, 1, 0, 0}, {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.oldBlob) + " -> " + std::to_string(c.newBlob));
        MemRecord oldRecord(fields.get(), blobs_.get()), newRecord(fields.get(), blobs_.get());
        if (c.oldBlob != 0) oldRecord.SetBlobNumber(1, c.oldBlob);
        if (c.newBlob != 0) newRecord.SetBlobNumber(1, c.newBlob);
        int32_t before1 = Count(1), before2 = Count(2);
        newRecord.UpdateBlobReferences(oldRecord);
        EXPECT_EQ(Count(1) - before1, c.delta1);
        EXPECT_EQ(Count(2) - before2, c.delta2);
    }
}

TEST_F(BlobReferences, IncrementAndDecrementWalkTheNonBlankBlobFields) {
    auto fields = Layout({{'B', 20}, {'I', 10}, {'B', 20}, {'B', 20}});
    MemRecord r(fields.get(), blobs_.get());
    r.SetBlobNumber(0, 1);
    r.SetBlobNumber(2, 2);
    r.PutLong(1, 2);  // not a blob field, though its value is a valid number
    r.IncrementBlobReferences();
    EXPECT_EQ(Count(1), 3);
    EXPECT_EQ(Count(2), 3);
    r.DecrementBlobReferences();
    r.DecrementBlobReferences();
    EXPECT_EQ(Count(1), 1);
    EXPECT_EQ(Count(2), 1);
    // An inline blob (number 0) has no count to change.
    r.SetBlobNumber(0, 0);
    r.IncrementBlobReferences();
    EXPECT_EQ(Count(1), 1);
}

} // namespace
