#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/enginefixture.h"
#include "kxfield.h"
#include "kxini.h"
#include "kxtimestamp.h"
#include "txdfile.h"

namespace {

using kxtest::Inline;
using kxtest::Line;
using kxtest::Lines;
using kxtest::Stored;
using kxtest::TextOf;
using Records = std::vector<std::vector<std::string>>;

struct FieldDef {
    std::string name;
    char type;
    int length;
    int offset;
};

std::string FieldSections(const std::vector<FieldDef>& fields) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
        out += Lines({"[Field" + std::to_string(i + 1) + "]", "FieldName=" + f.name,
                      std::string("Type=") + f.type, "Length=" + std::to_string(f.length),
                      "ByteOffset=" + std::to_string(f.offset)});
    }
    return out;
}

std::string Structure(int recordLength, const std::vector<FieldDef>& fields,
                      const std::string& extra = "") {
    return Lines({"[FileInfo]", "Title=Test set", "NumberOfFields=" + std::to_string(fields.size()),
                  "RecordLength=" + std::to_string(recordLength), "Use CR=Y", "Use LF=Y"}) +
           extra + FieldSections(fields);
}

// Three blob fields filling lines of 100 characters, as the shipped data sets are laid out.
const std::vector<FieldDef> kBlobFields = {
    {"Name", 'B', 40, 0}, {"Note", 'B', 30, 40}, {"Code", 'B', 30, 70}};

std::string Row(const std::string& a, const std::string& b, const std::string& c,
                const std::string& end = "\r\n") {
    return Line({{a, 40}, {b, 30}, {c, 30}}, end);
}

class TXDTest : public kxtest::EngineTest {
protected:
    std::string Data() const { return Path("set.txd"); }
    void WriteSet(const std::string& structure, const std::string& data) const {
        Write("set.kxs", structure);
        Write("set.txd", data);
    }
    KxCaught OpenFails() const {
        return CatchKx([&] {
            TXDFile file;
            file.Open(Data().c_str());
        });
    }
};

// ---------------------------------------------------------------------------------------------
// The read path over files written byte by byte

struct LineEndCase {
    const char* name;
    std::string end;
    int16_t kind;
};

class TXDLineEnds : public TXDTest, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(TXDLineEnds, KindAndLengthComeFromTheDataAndEveryFieldReadsBack) {
    const std::string& end = GetParam().end;
    // "Use CR" and "Use LF" say CR LF; the data decides.
    WriteSet(Structure(100, kBlobFields),
             Row(Inline("1.0"), "", "", end) +
                 Row(Inline("Cisplatin"), Stored(1, "Platinum compound"), Inline("CDDP"), end) +
                 Row(Inline("Etoposide"), "", Stored(2, "VP"), end));
    Write("set.kxb", kxtest::BlobFileOf({std::string("Platinum compound\r\nforms DNA adducts") +
                                             '\0',
                                         std::string("VP-16") + '\0'}));

    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_EQ(file.GetEOLType(), GetParam().kind);
    EXPECT_EQ(file.GetLineLength(), 100 + static_cast<int32_t>(end.size()));
    EXPECT_EQ(file.GetNumberOfRecords(), 3);
    EXPECT_EQ(file.GetCurrentRecordNumber(), 1);
    EXPECT_EQ(file.GetSelection().GetCount(), 3);
    file.Close();

    EXPECT_EQ(kxtest::ReadEveryField(Data()),
              (Records{{"1.0", "", ""},
                       {"Cisplatin", "Platinum compound\r\nforms DNA adducts", "CDDP"},
                       {"Etoposide", "", "VP-16"}}));
}

INSTANTIATE_TEST_SUITE_P(Ends, TXDLineEnds,
                         ::testing::Values(LineEndCase{"CRLF", "\r\n", kxEOLCRLF},
                                           LineEndCase{"LF", "\n", kxEOLLF},
                                           LineEndCase{"CR", "\r", kxEOLCR}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(TXDTest, AnEmptyDataFileHasNoRecordsAndCRLFLinesOfRecordLengthPlusTwo) {
    WriteSet(Structure(100, kBlobFields), "");
    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_EQ(file.GetNumberOfRecords(), 0);
    EXPECT_EQ(file.GetEOLType(), kxEOLCRLF);
    EXPECT_EQ(file.GetLineLength(), 102);
    EXPECT_EQ(file.GetCurrentRecordNumber(), 0);
    KxCaught c = CatchKx([&] { file.GotoRecord(1); });
    EXPECT_EQ(c.message, "Record number 1 is out of range [1..0]");
    EXPECT_EQ(c.callpath, "GotoRecord() of TXDFile");
}

TEST_F(TXDTest, StartingColOneCountsColumnsFromOne) {
    WriteSet(Lines({"[FileInfo]", "RecordLength=10", "StartingCol=1", "[Field1]", "FieldName=A",
                    "Type=A", "Length=3", "ByteOffset=1", "[Field2]", "FieldName=B", "Type=A",
                    "Length=7", "ByteOffset=4"}),
             "abcdefghij\r\n");
    TXDFile file;
    file.Open(Data().c_str());
    char text[16];
    EXPECT_STREQ(file.GetCurrentRecord()->GetAlpha(0, text, sizeof text, true), "abc");
    EXPECT_STREQ(file.GetCurrentRecord()->GetAlpha(1, text, sizeof text, true), "defghij");
}

// Every damage fails on opening with the message, never with a crash or a wrong count.
struct Damage {
    const char* name;
    std::string structure;
    std::string data;
    std::string message;  // "%s" stands for the data file's path
};

class TXDDamage : public TXDTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(TXDDamage, OpeningFailsWithTheMessage) {
    WriteSet(GetParam().structure, GetParam().data);
    KxCaught c = OpenFails();
    std::string expected = GetParam().message;
    if (size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, Data());
    EXPECT_TRUE(c.thrown);
    EXPECT_EQ(c.message, expected);
    EXPECT_NE(c.callpath.find("Open() of TXDFile"), std::string::npos) << c.callpath;
}

const std::string kRow = Row("x", "y", "z");
const std::vector<FieldDef> kAlpha100 = {{"Text", 'A', 100, 0}};

INSTANTIATE_TEST_SUITE_P(
    Files, TXDDamage,
    ::testing::Values(
        // Three lines of 102 and a fourth of 100 without its CR LF: (406 + 2) / 102 = 4 records.
        Damage{"LastLineWithoutLineEnd", Structure(100, kAlpha100),
               kRow + kRow + kRow + std::string(100, 'x'),
               "The end-of-line indicator is missing from the last record."},
        Damage{"TruncatedInsideTheLastLine", Structure(100, kAlpha100),
               kRow + kRow + kRow + std::string(40, 'x'),
               "The end-of-line indicator is missing from the last record."},
        Damage{"TruncatedInsideTheSecondLine", Structure(100, kAlpha100),
               kRow + std::string(50, 'x'),
               "Line termination character not found in second record of %s with line length "
               "102."},
        Damage{"SecondLineOfAnotherLength", Structure(100, kAlpha100),
               kRow + std::string(101, 'x') + "\r\n" + kRow,
               "Line termination character not found in second record of %s with line length "
               "102."},
        Damage{"NoLineEndInTheFirstLine", Structure(100, kAlpha100), std::string(300, 'x'),
               "EOL indicator (CR or LF) not found at end of first record."},
        Damage{"TruncatedFirstLine", Structure(100, kAlpha100), std::string(60, 'x'),
               "EOL indicator (CR or LF) not found at end of first record."},
        Damage{"FieldsReachPastTheLines", Structure(100, kAlpha100),
               std::string(60, 'x') + "\r\n" + std::string(60, 'y') + "\r\n",
               "TXD line length is 60, but last field ends on 100"},
        Damage{"FieldsEndPastRecordLength", Structure(50, kAlpha100), kRow,
               "TXD record length is 50, but last field ends on 100"},
        Damage{"RecordLengthZero", Structure(0, kAlpha100), kRow,
               "Record length (value=0) is out of range [1..32767]"},
        Damage{"RecordLengthTooLarge", Structure(40000, kAlpha100), kRow,
               "Record length (value=40000) is out of range [1..32767]"},
        Damage{"RecordLengthMissing",
               Lines({"[FileInfo]"}) + FieldSections(kAlpha100), kRow,
               "Record length (value=0) is out of range [1..32767]"},
        Damage{"FieldBeforeStartingCol",
               Lines({"[FileInfo]", "RecordLength=100", "StartingCol=1"}) +
                   FieldSections({{"Text", 'A', 10, 0}}),
               kRow, "Field 0 has ByteOffset 0, outside the record from StartingCol 1"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(TXDTest, TheFirstLineEndCannotHideInTheRecordLengthWindow) {
    // An LF line of 50 characters under RecordLength 100 is followed, within the 102 bytes
    // examined, by a CR inside the second line's text: the LF that comes first decides.
    std::string line = std::string(49, 'a') + "\n";
    WriteSet(Structure(100, {{"Text", 'A', 40, 0}}), line + std::string(10, 'b') + "\r" +
                                                         std::string(38, 'b') + "\n" + line);
    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_EQ(file.GetEOLType(), kxEOLLF);
    EXPECT_EQ(file.GetLineLength(), 50);
    EXPECT_EQ(file.GetNumberOfRecords(), 3);
}

TEST_F(TXDTest, ALineOfAnotherLengthFurtherOnFailsWhenItIsRead) {
    WriteSet(Structure(100, kAlpha100), kRow + kRow + std::string(99, 'x') + "\r\n" +
                                            std::string(101, 'x') + "\r\n" + kRow);
    TXDFile file;
    file.Open(Data().c_str());
    file.GotoRecord(2);
    KxCaught c = CatchKx([&] { file.GotoRecord(3); });
    EXPECT_EQ(c.message, "Line termination character not found in record 3 of " + Data() +
                             " with line length 102.");
    EXPECT_EQ(c.callpath, "GotoRecord() of TXDFile");
    file.GotoRecord(5);
    KxCaught beyond = CatchKx([&] { file.GotoRecord(6); });
    EXPECT_EQ(beyond.message, "Record number 6 is out of range [1..5]");
    EXPECT_EQ(CatchKx([&] { file.GotoRecord(0); }).message,
              "Record number 0 is out of range [1..5]");
}

// ---------------------------------------------------------------------------------------------
// Blob fields

TEST_F(TXDTest, GetBLOBReadsInlineTextStoredBlobsAndBlankFields) {
    std::vector<std::string> blobs(12, std::string("unused") + '\0');
    blobs[11] = std::string("Blob twelve") + '\0';
    WriteSet(Structure(40, {{"Text", 'B', 40, 0}}),
             Line({{"0       Hello", 40}}) + Line({{"12      ", 40}}) + Line({{"", 40}}) +
                 Line({{"99      ", 40}}));
    Write("set.kxb", kxtest::BlobFileOf(blobs));
    TXDFile file;
    file.Open(Data().c_str());
    KxBlob blob;
    file.GetCurrentRecord()->GetBLOB(0, blob);
    EXPECT_EQ(TextOf(blob), std::string("Hello") + '\0');
    file.GotoRecord(2);
    file.GetCurrentRecord()->GetBLOB(0, blob);
    EXPECT_EQ(TextOf(blob), std::string("Blob twelve") + '\0');
    EXPECT_EQ(file.GetBlobFieldMap().GetBlobNumber(0), 12);
    file.GotoRecord(3);
    file.GetCurrentRecord()->GetBLOB(0, blob);
    EXPECT_EQ(blob.GetSize(), 0u);
    // A number beyond the blob file's table is a library failure, not a crash.
    file.GotoRecord(4);
    KxCaught c = CatchKx([&] { file.GetCurrentRecord()->GetBLOB(0, blob); });
    EXPECT_TRUE(c.thrown);
    EXPECT_NE(c.callpath.find("GetBLOB() of TXDRec"), std::string::npos) << c.callpath;
}

TEST_F(TXDTest, GetBLOBNeedsABlobFileAndAFieldOfAtMost253Characters) {
    WriteSet(Structure(260, {{"Text", 'A', 260, 0}}), Line({{"0       Hello", 260}}));
    TXDFile file;
    file.Open(Data().c_str());
    KxBlob blob;
    EXPECT_KX(CatchKx([&] { file.GetCurrentRecord()->GetBLOB(0, blob); }),
              "No BLOB file pointer available.", "TXDRec", "GetBLOB() of TXDRec");

    file.Close();
    WriteSet(Structure(260, {{"Text", 'B', 260, 0}}), Line({{"0       Hello", 260}}));
    EXPECT_EQ(OpenFails().message,
              "Buffer 254 too small in GetAlpha() of TXDRec; need buffer length of 261");
}

TEST_F(TXDTest, PutBLOBKeepsShortPrintableTextsInTheLineAndStoresTheRest) {
    WriteSet(Structure(40, {{"Text", 'B', 40, 0}}), "");
    TXDFile file;
    file.Open(Data().c_str(), kxIORead | kxIOWrite);
    std::unique_ptr<TXDRec> record(file.GetNewRecord());
    auto put = [&](const std::string& value) {
        KxBlob blob(value.data(), static_cast<uint32_t>(value.size()));
        record->PutBLOB(0, blob);
        return std::string(record->GetLine(), 40);
    };
    auto padded = [](std::string s) {
        s.resize(40, ' ');
        return s;
    };
    EXPECT_EQ(put("Hello"), padded("0       Hello"));
    EXPECT_EQ(file.GetBlobFile()->GetNumberOfDescriptors(), 0);
    // 31 printable bytes still fit the 32 after the number; 32 do not.
    EXPECT_EQ(put(std::string(31, 'a')), padded("0       " + std::string(31, 'a')));
    std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    EXPECT_EQ(put(forty), "1       " + forty.substr(0, 32));
    EXPECT_EQ(put("two\nlines"), padded("2       two"));
    EXPECT_EQ(put(std::string("Hello") + '\0'), padded("3       Hello"));
    EXPECT_EQ(put(""), padded(""));
    KxBlob stored;
    file.GetBlobFile()->GetBlob(1, stored);
    EXPECT_EQ(TextOf(stored), forty);
}

TEST_F(TXDTest, PutAlphaRefusesLineBreaksAndTextsLongerThanTheField) {
    WriteSet(Structure(10, {{"Code", 'A', 5, 0}, {"Rest", 'A', 5, 5}}), "");
    TXDFile file;
    file.Open(Data().c_str());
    std::unique_ptr<TXDRec> record(file.GetNewRecord());
    record->PutAlpha(0, "abc");
    EXPECT_KX(CatchKx([&] { record->PutAlpha(0, "a\nb"); }),
              "TXD files do not support embedded returns in ALPHA fields", "TXDRec",
              "PutAlpha() of TXDRec");
    EXPECT_EQ(std::string(record->GetLine(), 12), "abc       \r\n");
    EXPECT_KX(CatchKx([&] { record->PutAlpha(0, "abcdef"); }),
              "String \"abcdef\" of length 6 too large in PutAlpha() of TXDRec; max length 5",
              "TXDRec", "PutAlpha() of TXDRec");
    EXPECT_TRUE(record->GetIsBlank(0));
    record->PutAlpha(1, "vwxyz");
    EXPECT_EQ(std::string(record->GetLine(), 12), "     vwxyz\r\n");
    char small[5];
    EXPECT_EQ(CatchKx([&] { record->GetAlpha(1, small, sizeof small, true); }).message,
              "Buffer 5 too small in GetAlpha() of TXDRec; need buffer length of 6");
}

// ---------------------------------------------------------------------------------------------
// Typed fields

class TXDTypes : public TXDTest {
protected:
    void SetUp() override {
        TXDTest::SetUp();
        WriteSet(Structure(120, {{"I", 'I', 11, 0},
                                 {"W", 'W', 10, 11},
                                 {"S", 'S', 6, 21},
                                 {"U", 'U', 5, 27},
                                 {"N", 'N', 10, 32},
                                 {"L", 'L', 1, 42},
                                 {"D", 'D', 8, 43},
                                 {"T", 'T', 9, 51},
                                 {"@", '@', 17, 60},
                                 {"Y", 'Y', 4, 77},
                                 {"A", 'A', 10, 81}}),
                 "");
        file_.Open(Data().c_str());
        record_.reset(file_.GetNewRecord());
    }
    std::string Field(int offset, int length) const {
        return std::string(record_->GetLine() + offset, static_cast<size_t>(length));
    }

    TXDFile file_;
    std::unique_ptr<TXDRec> record_;
};

TEST_F(TXDTypes, BlankFieldsReadAsTheSentinels) {
    EXPECT_EQ(record_->GetLong(0), INT32_MIN);
    EXPECT_EQ(record_->GetUnsignedLong(1), 0u);
    EXPECT_EQ(record_->GetShort(2), INT16_MIN);
    EXPECT_EQ(record_->GetUnsignedShort(3), 0);
    EXPECT_EQ(record_->GetNumber(4), -1e30);
    EXPECT_FALSE(record_->GetBoolean(5));
    KxTimestamp stamp;
    stamp.SetCString("20240102030405006");
    record_->GetTimestamp(8, stamp);
    EXPECT_STREQ(stamp.GetCString(), KxTimestamp::kxEmptyText);
}

TEST_F(TXDTypes, ValuesAreStoredAsLeftJustifiedTextAndReadBack) {
    record_->PutLong(0, -2147483647);
    record_->PutUnsignedLong(1, 4000000000u);
    record_->PutShort(2, -123);
    record_->PutUnsignedShort(3, 65535);
    record_->PutNumber(4, 3.25);
    record_->PutBoolean(5, true);
    KxDate date;
    date.SetCString("20240229");
    record_->PutDate(6, date);
    KxTime time;
    time.SetCString("235958123");
    record_->PutTime(7, time);
    KxTimestamp stamp;
    stamp.SetCString("19991231235959999");
    record_->PutTimestamp(8, stamp);
    record_->PutAlpha(10, "text");

    EXPECT_EQ(Field(0, 11), "-2147483647");
    EXPECT_EQ(Field(11, 10), "4000000000");
    EXPECT_EQ(Field(21, 6), "-123  ");
    EXPECT_EQ(Field(27, 5), "65535");
    EXPECT_EQ(Field(32, 10), "3         ");  // no Precision: no decimals
    EXPECT_EQ(Field(42, 1), "1");
    EXPECT_EQ(Field(43, 8), "20240229");
    EXPECT_EQ(Field(51, 9), "235958123");
    EXPECT_EQ(Field(60, 17), "19991231235959999");

    EXPECT_EQ(record_->GetLong(0), -2147483647);
    EXPECT_EQ(record_->GetUnsignedLong(1), 4000000000u);
    EXPECT_EQ(record_->GetShort(2), -123);
    EXPECT_EQ(record_->GetUnsignedShort(3), 65535);
    EXPECT_TRUE(record_->GetBoolean(5));
    KxDate readDate;
    record_->GetDate(6, readDate);
    EXPECT_STREQ(readDate.GetText().GetCString(), "20240229");
    KxTime readTime;
    record_->GetTime(7, readTime);
    EXPECT_STREQ(readTime.GetCString(), "235958123");
    KxTimestamp readStamp;
    record_->GetTimestamp(8, readStamp);
    EXPECT_STREQ(readStamp.GetCString(), "19991231235959999");

    record_->PutAlpha(5, "0");
    EXPECT_FALSE(record_->GetBoolean(5));
    EXPECT_EQ(CatchKx([&] { record_->PutBinary(9, "abcd"); }).message,
              "TXDFiles do not support BINARY fields");
    char bytes[4];
    EXPECT_EQ(CatchKx([&] { record_->GetBinary(9, bytes); }).message,
              "TXDFiles do not support BINARY fields");
}

TEST_F(TXDTest, NumbersTakeTheFieldsPrecision) {
    WriteSet(Lines({"[FileInfo]", "RecordLength=10", "[Field1]", "FieldName=N", "Type=N",
                    "Length=10", "Precision=2"}),
             "");
    TXDFile file;
    file.Open(Data().c_str());
    std::unique_ptr<TXDRec> record(file.GetNewRecord());
    record->PutNumber(0, 3.5);
    EXPECT_EQ(std::string(record->GetLine(), 10), "3.50      ");
    EXPECT_DOUBLE_EQ(record->GetNumber(0), 3.5);
    EXPECT_EQ(CatchKx([&] { record->PutNumber(0, 1e12); }).message,
              "String \"1000000000000.00\" of length 16 too large in PutAlpha() of TXDRec; max "
              "length 10");
}

// ---------------------------------------------------------------------------------------------
// Writing, reopening, scrambling

KxPointerVector<KxField> Layout() {
    KxPointerVector<KxField> fields;
    struct Def {
        const char* name;
        char type;
        int16_t length;
    };
    for (const Def& d : {Def{"Name", 'B', 24}, Def{"Text", 'B', 20}, Def{"Count", 'I', 6}}) {
        auto* field = new KxField();
        field->SetName(d.name);
        field->SetType(d.type);
        field->SetLength(d.length);
        fields.push_back(field);
    }
    return fields;
}

// Fills the file's current record and appends or inserts it.
void PutRow(TXDFile& file, KxFileRecord& record, const std::string& name, const std::string& text,
            int32_t count) {
    KxBlob a(name.data(), static_cast<uint32_t>(name.size()));
    KxBlob b(text.data(), static_cast<uint32_t>(text.size()));
    record.Clear();
    record.PutBLOB(0, a);
    record.PutBLOB(1, b);
    record.PutLong(2, count);
}

class TXDWriteTest : public TXDTest {
protected:
    void SetUp() override {
        TXDTest::SetUp();
        TXDFile maker;
        KxPointerVector<KxField> fields = Layout();
        maker.PackFields(fields);
        maker.Create(Data().c_str(), fields, 0, false);
    }
    Records ReadBack(const char* password = nullptr) const {
        // The Count field holds no blob number.
        return kxtest::ReadEveryField(Data(), password, 2);
    }
};

TEST_F(TXDWriteTest, CreateWritesTheStructureAndAnEmptyDataFile) {
    EXPECT_EQ(Read("set.txd"), "");
    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_EQ(file.GetRecordLength(), 50);
    EXPECT_EQ(file.GetNumberOfFieldsRead(), 3);
    EXPECT_EQ(file.FieldGetInfo(2).GetByteOffset(), 44);
    EXPECT_EQ(file.GetDriverConstant(), 30);
    KxIniFile structure(Path("set.kxs").c_str());
    KxIniSection& info = *structure.GetSection("FileInfo");
    EXPECT_STREQ(info.GetString("FileName", "?"), "set.txd");
    EXPECT_STREQ(info.GetString("Use CR", "?"), "Y");
    EXPECT_STREQ(info.GetString("Use LF", "?"), "Y");
    EXPECT_STREQ(info.GetString("StartingCol", "?"), "0");
    EXPECT_STREQ(info.GetString("Title", "absent"), "absent");
}

TEST_F(TXDWriteTest, CreateRefusesExistingFilesAndLeavesNothingBehind) {
    TXDFile file;
    KxPointerVector<KxField> fields = Layout();
    file.PackFields(fields);
    KxCaught header = CatchKx<KxFileException>([&] { file.Create(Data().c_str(), fields, 0, false); });
    EXPECT_EQ(header.message, "Header file \"" + Path("set.kxs") + "\" already exists");

    Write("other.txd", "keep");
    std::string other = Path("other.txd");
    KxCaught data = CatchKx<KxFileException>([&] { file.Create(other.c_str(), fields, 0, false); });
    EXPECT_EQ(data.message, "Data file \"" + other + "\" already exists");
    EXPECT_FALSE(KxIOInterface::Exists(Path("other.kxs").c_str()));
    EXPECT_EQ(Read("other.txd"), "keep");
}

TEST_F(TXDWriteTest, AppendInsertDeleteAndModifyKeepRecordsAndBlobsInStep) {
    const std::string longText = "Leucovorin is given\r\nbefore fluorouracil.";
    {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead | kxIOWrite);
        KxFileRecord& record = *file.GetCurrentRecord();
        PutRow(file, record, "Version", "1.0", 1);
        EXPECT_EQ(file.DataAppend(record), 1);
        PutRow(file, record, "Fluorouracil", longText, 2);
        EXPECT_EQ(file.DataAppend(record), 2);
        PutRow(file, record, "A name far too long to fit inline", "short", 3);
        EXPECT_EQ(file.DataAppend(record), 3);
        PutRow(file, record, "Inserted", "first", 4);
        EXPECT_EQ(file.DataInsert(1, record), 1);
        EXPECT_EQ(file.GetNumberOfRecords(), 4);
        file.DataDelete(2);  // "Version"
        EXPECT_EQ(file.GetNumberOfRecords(), 3);
        // Record 2 is now Fluorouracil: its long text gives way to another stored one.
        file.GotoRecord(2);
        PutRow(file, record, "Fluorouracil", std::string(30, 'z'), 5);
        file.DataModify(2, record);
        file.Close();
    }
    EXPECT_EQ(ReadBack(), (Records{{"Inserted", "first"},
                                   {"Fluorouracil", std::string(30, 'z')},
                                   {"A name far too long to fit inline", "short"}}));
    EXPECT_EQ(Read("set.txd").size(), 3u * 52u);

    // The long text was freed when its record changed; the two stored blobs remain, each
    // referred to once.
    KxBlobFile blobs(Data().c_str(), kxIORead);
    int32_t allocated = 0;
    for (int32_t n = 1; n <= blobs.GetNumberOfDescriptors(); ++n) {
        const KxBlobDescriptor& d = blobs.GetDescriptor(n);
        if (!d.IsAllocated()) continue;
        ++allocated;
        EXPECT_EQ(d.GetReferenceCount(), 1) << n;
    }
    EXPECT_EQ(allocated, 2);
}

TEST_F(TXDWriteTest, AModifyThatKeepsABlobKeepsIt) {
    {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead | kxIOWrite);
        KxFileRecord& record = *file.GetCurrentRecord();
        PutRow(file, record, "Name", std::string(40, 'q'), 1);
        file.DataAppend(record);
        file.Close();
    }
    {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead | kxIOWrite);
        KxFileRecord& record = *file.GetCurrentRecord();
        record.PutLong(2, 7);  // the blob field is left as it is
        file.DataModify(1, record);
        file.Close();
    }
    EXPECT_EQ(ReadBack(), (Records{{"Name", std::string(40, 'q')}}));
    KxBlobFile blobs(Data().c_str(), kxIORead);
    ASSERT_EQ(blobs.GetNumberOfDescriptors(), 1);
    EXPECT_EQ(blobs.GetDescriptor(1).GetReferenceCount(), 1);
}

TEST_F(TXDWriteTest, AnOutOfPlaceModifyWithBlobsIsRefusedBeforeAnythingIsWritten) {
    TXDFile file;
    file.Open(Data().c_str(), kxIORead | kxIOWrite);
    KxFileRecord& record = *file.GetCurrentRecord();
    PutRow(file, record, "One", "1", 1);
    file.DataAppend(record);
    PutRow(file, record, "Two", "2", 2);
    file.DataAppend(record);
    file.GotoRecord(2);
    std::unique_ptr<TXDRec> other(file.GetNewRecord());
    PutRow(file, *other, "Changed", "x", 3);
    EXPECT_KX(CatchKx([&] { file.DataModify(1, *other); }),
              "TXD file can not handle out-of-place modifies when BLOBs are used", "TXDFile",
              "DataModify() of TXDFile");
    file.Close();
    EXPECT_EQ(ReadBack(), (Records{{"One", "1"}, {"Two", "2"}}));
}

TEST_F(TXDWriteTest, EncryptScramblesTheRecordsAndDecryptRestoresTheBytes) {
    {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead | kxIOWrite);
        KxFileRecord& record = *file.GetCurrentRecord();
        PutRow(file, record, "Cyclophosphamide", "Alkylating agent\r\nof the nitrogen mustards", 1);
        file.DataAppend(record);
        PutRow(file, record, "Methotrexate", "MTX", 2);
        file.DataAppend(record);
        file.Close();
    }
    const std::string plain = Read("set.txd");
    const Records expected = ReadBack();
    {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead | kxIOWrite);
        file.KxEncrypt("secret");
        EXPECT_STREQ(file.GetPassword(), "secret");
        EXPECT_EQ(file.GetNumberOfRecords(), 2);
        file.Close();
    }
    const std::string scrambled = Read("set.txd");
    EXPECT_EQ(scrambled.size(), plain.size());
    EXPECT_EQ(scrambled.find("Methotrexate"), std::string::npos);
    EXPECT_EQ(scrambled.substr(50, 2), "\r\n");

    EXPECT_EQ(CatchKx([&] { ReadBack(); }).message, "Invalid password");
    EXPECT_EQ(CatchKx([&] { ReadBack("wrong"); }).message, "Invalid password");
    EXPECT_EQ(ReadBack("secret"), expected);

    TXDFile file;
    file.Open(Data().c_str(), kxIORead | kxIOWrite, "secret");
    EXPECT_EQ(CatchKx([&] { file.KxDecrypt("wrong"); }).message,
              "Invalid password modification attempted.");
    file.KxDecrypt("secret");
    file.Close();
    EXPECT_EQ(Read("set.txd"), plain);
    EXPECT_EQ(ReadBack(), expected);
}

TEST_F(TXDWriteTest, EmptyAndRenameFileWorkOnTheWholeDataSet) {
    {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead | kxIOWrite);
        KxFileRecord& record = *file.GetCurrentRecord();
        PutRow(file, record, "Doxorubicin", std::string(45, 'd'), 1);
        file.DataAppend(record);
        file.Close();
    }
    TXDFile renamer;
    std::string renamed = Path("renamed.txd");
    renamer.RenameFile(Data().c_str(), renamed.c_str());
    EXPECT_FALSE(KxIOInterface::Exists(Data().c_str()));
    EXPECT_FALSE(KxIOInterface::Exists(Path("set.kxb").c_str()));
    EXPECT_EQ(kxtest::ReadEveryField(renamed, nullptr, 2)[0][1], std::string(45, 'd'));
    KxIniFile structure(Path("renamed.kxs").c_str());
    EXPECT_STREQ(structure.GetSection("FileInfo")->GetString("FileName", ""), "renamed.txd");

    TXDFile file;
    file.Open(renamed.c_str(), kxIORead | kxIOWrite);
    file.Empty();
    EXPECT_EQ(file.GetNumberOfRecords(), 0);
    file.Close();
    EXPECT_EQ(Read("renamed.txd"), "");
    EXPECT_EQ(Read("renamed.kxb"), "");
    EXPECT_TRUE(kxtest::ReadEveryField(renamed).empty());
}

TEST_F(TXDWriteTest, StreamingAndForeignRecordsAreRefused) {
    TXDFile file;
    file.Open(Data().c_str(), kxIORead | kxIOWrite);
    KxBlob stream;
    EXPECT_EQ(CatchKx<KxNotImplementedError>([&] { file.Read(stream); }).message,
              "TXDFile is not streamable");
    EXPECT_EQ(CatchKx<KxNotImplementedError>([&] { TXDFileType().NewFile(stream); }).message,
              "TXDFile is not streamable");
    TXDRec foreign(&file.GetFields(), file.GetBlobFile(), 60, kxEOLLF);
    EXPECT_EQ(CatchKx([&] { file.DataAppend(foreign); }).message,
              "The record buffer does not have the layout of this file (line length 52)");
    EXPECT_EQ(file.GetNumberOfRecords(), 0);
    EXPECT_EQ(CatchKx([&] { TXDRec(&file.GetFields(), nullptr, 52, 4); }).message,
              "Invalid EOL flag");
}

// ---------------------------------------------------------------------------------------------
// The exclusive lock between processes

TEST_F(TXDTest, AWritingTransactionHoldsOffAnotherProcess) {
    WriteSet(Structure(100, kBlobFields), Row(Inline("1.0"), "", ""));
    TXDFile file;
    file.Open(Data().c_str(), kxIORead);
    KxTransaction* transaction = file.BeginTransaction(true);
    EXPECT_EQ(file.GetExclusiveLockCount(), 1);

    int report[2], go[2];
    ASSERT_EQ(::pipe(report), 0);
    ASSERT_EQ(::pipe(go), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Another process opening the same data set: its answers go back through the pipe.
        int code = 0;
        try {
            TXDFile other;
            other.Open(Data().c_str(), kxIORead);
            char answer = other.TryLock(kxFileExclusiveLock) ? 'Y' : 'N';
            if (::write(report[1], &answer, 1) != 1) code = 3;
            char c;
            if (::read(go[0], &c, 1) != 1) code = 4;
            answer = other.TryLock(kxFileExclusiveLock) ? 'Y' : 'N';
            if (::write(report[1], &answer, 1) != 1) code = 5;
            if (answer == 'Y' && !other.Unlock(kxFileExclusiveLock)) code = 6;
        } catch (...) {
            code = 2;
        }
        ::_exit(code);
    }
    ::alarm(60);
    char answer = 0;
    ASSERT_EQ(::read(report[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'N') << "the other process got the lock during the transaction";
    file.EndTransaction(transaction);
    EXPECT_EQ(file.GetExclusiveLockCount(), 0);
    char c = 'G';
    ASSERT_EQ(::write(go[1], &c, 1), 1);
    ASSERT_EQ(::read(report[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'Y') << "the lock was not released by EndTransaction";
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::alarm(0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (int fd : {report[0], report[1], go[0], go[1]}) ::close(fd);
}

// ---------------------------------------------------------------------------------------------
// Done when: a data set the engine wrote and one written byte by byte read back through GetBLOB

TEST_F(TXDTest, EveryFieldOfEveryRecordReadsBackThroughGetBLOB) {
    const Records wanted = {
        {"20240601", "Drug data version", "EMPTY"},
        {"Carboplatin", "Second-generation platinum compound.\r\nDose by AUC.", "CBDCA"},
        {"Paclitaxel", std::string(29, 'p'), ""},
        {"", "A text that needs the blob file", "Taxol"}};

    // Through the writing path.
    const std::string built = Path("built.txd");
    {
        TXDFile maker;
        KxPointerVector<KxField> fields;
        for (const char* name : {"Name", "Note", "Code"}) {
            auto* field = new KxField();
            field->SetName(name);
            field->SetType(kxBlobField);
            field->SetLength(name[0] == 'N' && name[1] == 'a' ? 40 : 38);
            fields.push_back(field);
        }
        maker.PackFields(fields);
        maker.Create(built.c_str(), fields, 0, false);
        maker.Open(built.c_str(), kxIORead | kxIOWrite);
        KxFileRecord& record = *maker.GetCurrentRecord();
        for (const auto& row : wanted) {
            record.Clear();
            for (uint16_t f = 0; f < 3; ++f) {
                KxBlob blob(row[f].data(), static_cast<uint32_t>(row[f].size()));
                record.PutBLOB(f, blob);
            }
            maker.DataAppend(record);
        }
        maker.Close();
    }
    EXPECT_EQ(kxtest::ReadEveryField(built), wanted);

    // Byte by byte, with the texts in the blob file ending in NUL as the shipped sets have them.
    Write("bytes.kxs", Structure(100, kBlobFields));
    Write("bytes.txd", Row(Inline("20240601"), Inline("Drug data version"), Inline("EMPTY")) +
                           Row(Inline("Carboplatin"), Stored(1, "Second-generation"),
                               Inline("CBDCA")) +
                           Row(Inline("Paclitaxel"), Stored(2, std::string(22, 'p')), "") +
                           Row("", Stored(3, "A text that"), Inline("Taxol")));
    Write("bytes.kxb", kxtest::BlobFileOf({wanted[1][1] + '\0', wanted[2][1] + '\0',
                                           wanted[3][1] + '\0'}));
    EXPECT_EQ(kxtest::ReadEveryField(Path("bytes.txd")), wanted);
    // Reading changes nothing.
    EXPECT_EQ(Read("bytes.kxb"), kxtest::BlobFileOf({wanted[1][1] + '\0', wanted[2][1] + '\0',
                                                     wanted[3][1] + '\0'}));
}

} // namespace
