#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/enginefixture.h"
#include "kxengineexceptions.h"
#include "kxfield.h"
#include "kxfile.h"
#include "kxini.h"
#include "txdfile.h"

namespace {

using kxtest::Lines;

// Two alpha fields in lines of 10 characters.
const std::string kFields = Lines({"[Field1]", "FieldName=Code", "Type=A", "Length=4",
                                   "ByteOffset=0", "[Field2]", "FieldName=Name", "Type=A",
                                   "Length=6", "ByteOffset=4"});
const std::string kData = "CDDPcispla\r\nVP16etopos\r\n";

std::string Info(std::initializer_list<std::string> extra = {}) {
    std::string out = Lines({"[FileInfo]", "RecordLength=10"});
    for (const std::string& line : extra) out += line + "\r\n";
    return out;
}

class FileTest : public kxtest::EngineTest {
protected:
    std::string Data() const { return Path("set.txd"); }
    void WriteSet(const std::string& structure, const std::string& data = kData) const {
        Write("set.kxs", structure);
        Write("set.txd", data);
    }
    KxCaught OpenFails(const char* password = nullptr) {
        return CatchKx([&] {
            TXDFile file;
            file.Open(Data().c_str(), kxIORead, password);
        });
    }
};

// ---------------------------------------------------------------------------------------------
// Finding and reading the structure file

TEST_F(FileTest, DefaultKxsServesADataSetWithoutItsOwn) {
    Write("set.txd", kData);
    KxCaught none = CatchKx<KxFileException>([&] {
        TXDFile file;
        file.Open(Data().c_str());
    });
    EXPECT_EQ(none.message, "Unable to open .KXS for " + Data());
    EXPECT_NE(none.callpath.find("GetIniFile() of KxFile"), std::string::npos) << none.callpath;

    Write("default.kxs", Info({"Title=Default layout"}) + kFields);
    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_STREQ(file.GetTitle(), "Default layout");
    EXPECT_EQ(file.GetFieldCount(), 2);
}

TEST_F(FileTest, AnAlternateStructureFileMustExist) {
    WriteSet(Info() + kFields);
    std::string alternate = Path("other.kxs");
    KxCaught c = CatchKx<KxFileException>([&] {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead, nullptr, alternate.c_str());
    });
    EXPECT_EQ(c.message, "Alternate .KXS file \"" + alternate + "\" not found");
    Write("other.kxs", Info({"Title=Other"}) + kFields);
    TXDFile file;
    file.Open(Data().c_str(), kxIORead, nullptr, alternate.c_str());
    EXPECT_STREQ(file.GetTitle(), "Other");
}

TEST_F(FileTest, OpeningReadsTheFileInfoAndSelectsEveryRecord) {
    WriteSet(Info({"Information=About", "InputLayout=Layout", "InputLayoutNumber=7",
                   "PrimaryKeyFields=1", "Number of Relate Fields=2", "Relate Field0=Code",
                   "Relate Field1=Name", "Category1=Drugs", "Category2=Regimens", "Category3=",
                   "Category4=Never read"}) +
             kFields);
    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_STREQ(file.GetTitle(), Data().c_str());  // no Title: the data file's name
    EXPECT_STREQ(file.GetInformation(), "About");
    EXPECT_STREQ(file.GetInputLayout(), "Layout");
    EXPECT_EQ(file.GetInputLayoutNumber(), 7);
    EXPECT_EQ(file.GetPrimaryKeyFieldCount(), 1);
    ASSERT_EQ(file.GetRelateFields().GetCount(), 2);
    EXPECT_STREQ(file.GetRelateFields()[1].GetCString(), "Name");
    ASSERT_EQ(file.GetCategoryCount(), 2);
    EXPECT_STREQ(file.GetCategory(1), "Regimens");
    EXPECT_EQ(CatchKx([&] { file.GetCategory(2); }).message,
              "Index 2 out of range; array is from 0 to 1");

    EXPECT_EQ(file.GetCurrentRecordNumber(), 1);
    EXPECT_EQ(file.GetSelection().GetCount(), 2);
    EXPECT_EQ(file.GetSystemSet().GetCount(), 2);
    EXPECT_EQ(file.GetSelectionPosition(), 1);
    EXPECT_EQ(file.GetSelectionCount(), 2);
    EXPECT_EQ(file.FieldGetInfo(1).GetOwnerFile(), &file);
    EXPECT_EQ(file.GetFieldNumber("nAmE"), 1);
    EXPECT_EQ(&file.FieldGetInfo("code"), &file.FieldGetInfo(uint16_t{0}));
    EXPECT_TRUE(CatchKx<KxFieldNotFoundException>([&] { file.GetFieldNumber("Dose"); }).thrown);
    EXPECT_EQ(CatchKx([&] { file.GetFieldNumber(nullptr); }).message,
              "Invalid parameter (null) in GetFieldNumber");
    EXPECT_EQ(CatchKx([&] { file.FieldGetInfo(static_cast<uint16_t>(2)); }).message,
              "Index 2 out of range; array is from 0 to 1");

    // Found by a scan over the primary key field.
    std::unique_ptr<TXDRec> key(file.GetNewRecord());
    key->PutAlpha(0, "VP16");
    EXPECT_EQ(file.GetRecordNumberByKey(*key), 2);
    EXPECT_EQ(file.GetCurrentRecordNumber(), 1);
    EXPECT_TRUE(file.GotoRecordByPrimaryKeys(*key));
    EXPECT_EQ(file.GetCurrentRecordNumber(), 2);

    file.Close();
    EXPECT_EQ(file.GetFieldCount(), 0);
    EXPECT_STREQ(file.GetFileName(), "");
    EXPECT_EQ(file.GetCurrentRecord(), nullptr);
}

TEST_F(FileTest, FieldSectionsAreReadUntilTheFirstMissingOne) {
    WriteSet(Info() + kFields +
             Lines({"[Field4]", "FieldName=Lost", "Type=A", "Length=1", "ByteOffset=0"}));
    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_EQ(file.GetFieldCount(), 2);
}

TEST_F(FileTest, AMappedFieldBorrowsItsTargetsDefinition) {
    WriteSet(Info() + kFields + Lines({"[Field3]", "FieldName=Abbreviation", "MappedTo=Code"}));
    TXDFile file;
    file.Open(Data().c_str());
    const KxField& mapped = file.FieldGetInfo(2);
    EXPECT_STREQ(mapped.GetName(), "Abbreviation");
    EXPECT_EQ(mapped.GetFieldNumber(), 2);
    EXPECT_EQ(mapped.GetType(), 'A');
    EXPECT_EQ(mapped.GetLength(), 4);
    EXPECT_EQ(mapped.GetByteOffset(), 0);
    char text[8];
    EXPECT_STREQ(file.GetCurrentRecord()->GetAlpha(2, text, sizeof text, true), "CDDP");
    file.Close();

    WriteSet(Info() + kFields + Lines({"[Field3]", "FieldName=Abbreviation", "MappedTo=code"}));
    EXPECT_EQ(OpenFails().message, "Field2 is mapped to a non-existent field.");
}

TEST_F(FileTest, UserFlagsTakeBitsInTurnUpToThirtyTwo) {
    WriteSet(Info({"UserFlagCount=3", "UserFlag1=Checked;\"Reviewed by a registrar\";1;1",
                   "UserFlag2=Hidden;\"an engine flag\";1;1",
                   "UserFlag3=Source;\"Where the text came from\";2;2"}) +
             kFields);
    TXDFile file;
    file.Open(Data().c_str());
    ASSERT_EQ(file.GetUserFlagTypes().size(), 2u);  // Hidden is the engine's own
    EXPECT_STREQ(file.GetUserFlagTypes()[0]->GetDescription(), "Reviewed by a registrar");
    EXPECT_EQ(file.GetUserFlagTypes()[0]->GetMask(), 1u);
    EXPECT_EQ(file.GetUserFlagTypes()[1]->GetMask(), 2u << 1);
    file.Close();

    struct Case {
        std::vector<std::string> flags;
        std::string message;
    };
    for (const Case& c :
         {Case{{"UserFlagCount=1", "UserFlag1=A;\"x\";1;1;5"}, "Bad UserFlag string \"A;\"x\";1;1;5\""},
          Case{{"UserFlagCount=1", "UserFlag1=A;\"x\";1"}, "Bad UserFlag string \"A;\"x\";1\""},
          Case{{"UserFlagCount=3", "UserFlag1=A;\"a\";1;20", "UserFlag2=B;\"b\";1;20",
                "UserFlag3=C;\"c\";1;20"},
               "Too many unknown flags"},
          // A count far beyond the definitions stops at the first missing one.
          Case{{"UserFlagCount=2000000000"}, "Bad UserFlag string \"\""}}) {
        std::string info = Info();
        for (const std::string& line : c.flags) info += line + "\r\n";
        WriteSet(info + kFields);
        EXPECT_EQ(OpenFails().message, c.message) << c.flags[0];
    }
    WriteSet(Info({"UserFlagCount=2", "UserFlag1=A;\"a\";1;20", "UserFlag2=B;\"b\";1;20"}) + kFields);
    EXPECT_FALSE(OpenFails().thrown);
}

// "05E00F" is "abc" scrambled with the structure file's key, worked out by hand.
TEST_F(FileTest, AStoredPasswordOpensOnlyWithTheSamePassword) {
    WriteSet(Info({"Password=05E00F"}) + kFields);
    EXPECT_EQ(OpenFails().message, "Invalid password");
    EXPECT_EQ(OpenFails("abd").message, "Invalid password");
    KxCaught wrong = CatchKx<KxFileException>([&] {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead, "ab");
    });
    EXPECT_TRUE(wrong.thrown);
    EXPECT_FALSE(OpenFails("abc").thrown);

    for (const char* value : {"05e00f", "05E00", "05E0G0"}) {
        WriteSet(Info({std::string("Password=") + value}) + kFields);
        EXPECT_EQ(OpenFails("abc").message, "Invalid binary string") << value;
    }
    WriteSet(Info({"Password="}) + kFields);
    EXPECT_FALSE(OpenFails().thrown);
    // A plain data set stays plain when a password is given anyway.
    TXDFile file;
    file.Open(Data().c_str(), kxIORead, "abc");
    EXPECT_STREQ(file.GetPassword(), "");
    char text[8];
    EXPECT_STREQ(file.GetCurrentRecord()->GetAlpha(0, text, sizeof text, true), "CDDP");
}

TEST_F(FileTest, ScramblingIsUndoneAndRefusesNullArguments) {
    std::mt19937 random(7);
    for (int length : {0, 1, 2, 13, 14, 100, 1001}) {
        std::string original(static_cast<size_t>(length), '\0');
        for (char& c : original) c = static_cast<char>(random());
        std::string bytes = original;
        KxScramble(bytes.data(), length, "BrightCanopyx");
        if (length > 1) {
            EXPECT_NE(bytes, original);
        }
        KxUnscramble(bytes.data(), length, "BrightCanopyx");
        EXPECT_EQ(bytes, original) << length;
    }
    std::string abc = "abc";
    KxScramble(abc.data(), 3, kxStructurePasswordKey);
    EXPECT_EQ(abc, "\x05\xE0\x0F");
    EXPECT_EQ(CatchKx([&] { KxScramble(nullptr, 3, "key"); }).message, "Invalid (null) parameter");
    EXPECT_EQ(CatchKx([&] { KxUnscramble(abc.data(), 3, nullptr); }).message,
              "Invalid (null) parameter");
    EXPECT_EQ(CatchKx([&] { KxScramble(abc.data(), 3, ""); }).message, "Invalid (null) parameter");
}

TEST_F(FileTest, DamagedCountsAndDeclaredIndexesFailClearly) {
    struct Case {
        std::string structure;
        std::string message;
    };
    std::string manySections = Info();
    for (int n = 1; n <= KxFile::kxMaxFields + 1; ++n)
        manySections += "[Field" + std::to_string(n) + "]\r\nType=A\r\n";
    for (const Case& c :
         {Case{Info({"Number of Relate Fields=2000000000"}) + kFields,
               "Number of Relate Fields (value=2000000000) is out of range [0..65535]"},
          Case{Info({"Number of Relate Fields=-1"}) + kFields,
               "Number of Relate Fields (value=-1) is out of range [0..65535]"},
          Case{Info() + Lines({"[Field1]", "FieldName=Code", "Type=A", "Length=4", "Index=1"}),
               "Field indexes are not supported yet (field 0)"},
          Case{manySections, "Too many field sections (more than 32767)"}}) {
        WriteSet(c.structure);
        EXPECT_EQ(OpenFails().message, c.message);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing the structure file

TEST_F(FileTest, WriteStructureKeepsWhatWasRead) {
    WriteSet(Lines({"[FileInfo]", "Title=Drugs", "Information=Antineoplastic drugs",
                    "PrimaryKeyFields=1", "Number of Relate Fields=1", "Relate Field0=Code",
                    "Category1=Drugs", "UserFlagCount=1", "UserFlag1=Source;\"Origin\";3;2",
                    "RecordLength=10", "StartingCol=1", "Use CR=N", "Use LF=Y", "[Field1]",
                    "FieldName=Code", "Type=A", "Length=4", "ByteOffset=1", "Hidden=true",
                    "Source=2", "[Field2]", "FieldName=Name", "Type=A", "Length=6",
                    "ByteOffset=5", "[Field3]", "FieldName=Alias", "MappedTo=Name"}),
             "CDDPcispla\n");
    {
        TXDFile file;
        file.Open(Data().c_str(), kxIORead | kxIOWrite);
        // Only the structure is rewritten: the records stay as they are, which for the checks
        // below does not matter.
        file.SetPassword("", "abc");
        file.WriteStructure();
    }
    KxIniFile written(Path("set.kxs").c_str());
    KxIniSection& info = *written.GetSection("FileInfo");
    EXPECT_STREQ(info.GetString("FileName", ""), "set.txd");
    EXPECT_STREQ(info.GetString("Password", ""), "05E00F");
    EXPECT_STREQ(info.GetString("Relate Field0", ""), "Code");
    EXPECT_STREQ(info.GetString("UserFlag1", ""), "Source;\"Origin\";3;2");
    EXPECT_STREQ(info.GetString("StartingCol", ""), "0");
    EXPECT_STREQ(info.GetString("Use CR", ""), "N");  // the data's line ends
    EXPECT_STREQ(info.GetString("Use LF", ""), "Y");
    EXPECT_STREQ(written.GetSection("Field1")->GetString("ByteOffset", ""), "0");
    EXPECT_EQ(written.GetSection("Field3")->GetNumLines(), 2);

    TXDFile file;
    file.Open(Data().c_str(), kxIORead, "abc");
    EXPECT_STREQ(file.GetTitle(), "Drugs");
    EXPECT_STREQ(file.GetInformation(), "Antineoplastic drugs");
    EXPECT_EQ(file.GetPrimaryKeyFieldCount(), 1);
    EXPECT_STREQ(file.GetRelateFields()[0].GetCString(), "Code");
    EXPECT_STREQ(file.GetCategory(0), "Drugs");
    EXPECT_EQ(file.GetUserFlagTypes()[0]->GetMask(), 3u);
    EXPECT_EQ(file.FieldGetInfo(uint16_t{0}).GetFlags(), KxFlagType::kxHidden);
    EXPECT_EQ(file.FieldGetInfo(uint16_t{0}).GetDataSetFlags(), 2u);
    EXPECT_EQ(file.FieldGetInfo(2).GetByteOffset(), 4);
    EXPECT_EQ(file.GetNumberOfRecords(), 1);
    EXPECT_EQ(CatchKx([&] { file.SetPassword("wrong", ""); }).message,
              "Invalid password modification attempted.");
}

// ---------------------------------------------------------------------------------------------
// Transactions, locks, log

TEST_F(FileTest, OneTransactionAtATime) {
    WriteSet(Info() + kFields);
    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_EQ(CatchKx([&] { file.EndTransaction(nullptr); }).message, "No transaction in process.");
    KxTransaction* transaction = file.BeginTransaction(true);
    EXPECT_KX(CatchKx<KxTransactionException>([&] { file.BeginTransaction(true); }),
              "Transaction already in process.  Only one transaction allowed at a time.", "KxFile",
              "BeginTransaction() of KxFile");
    EXPECT_EQ(file.GetExclusiveLockCount(), 1);
    file.EndTransaction(transaction);
    EXPECT_EQ(file.GetExclusiveLockCount(), 0);
    EXPECT_EQ(CatchKx([&] { file.EndTransaction(transaction); }).message,
              "No transaction in process.");

    // A shared lock refuses writing transactions until it is given back.
    file.Lock(kxFileSharedLock);
    EXPECT_EQ(CatchKx([&] { file.BeginTransaction(true); }).message,
              "File is under a shared lock; no writes are allowed.");
    KxTransaction* reading = file.BeginTransaction(false);
    file.EndTransaction(reading);
    EXPECT_TRUE(file.Unlock(kxFileSharedLock));
    EXPECT_EQ(file.GetSharedLockCount(), 0);
    file.EndTransaction(file.BeginTransaction(true));

    // Closing ends an open transaction and lets the lock go.
    file.BeginTransaction(true);
    file.Close();
    TXDFile other;
    other.Open(Data().c_str());
    EXPECT_TRUE(other.TryLock(kxFileExclusiveLock));
    EXPECT_TRUE(other.Unlock(kxFileExclusiveLock));
}

TEST_F(FileTest, TheLogFileBelongsToFilesOpenedForWriting) {
    WriteSet(Info() + kFields);
    TXDFile file;
    file.Open(Data().c_str());
    EXPECT_EQ(CatchKx([&] { file.GetTransactionLog(); }).message,
              "No transaction log available; file is either not open or read-only.");
    EXPECT_FALSE(KxIOInterface::Exists(Path("set.klg").c_str()));
    file.Open(Data().c_str(), kxIORead | kxIOWrite);
    EXPECT_STREQ(file.GetTransactionLog().GetFileName(), Path("set.klg").c_str());
    EXPECT_EQ(Read("set.klg"), "");
    file.Close();
    Write("set.klg", "kept");
    file.Open(Data().c_str(), kxIORead | kxIOWrite);
    file.Close();
    EXPECT_EQ(Read("set.klg"), "kept");
    EXPECT_EQ(CatchKx([&] { file.StartTransaction(); }).message,
              "New transactions require the ability to create a log file");
}

TEST_F(FileTest, RefreshCountsRecordsAnotherWriterAdded) {
    WriteSet(Info() + kFields);
    TXDFile reader;
    reader.Open(Data().c_str());
    {
        TXDFile writer;
        writer.Open(Data().c_str(), kxIORead | kxIOWrite);
        writer.GetCurrentRecord()->PutAlpha(0, "MTX");
        writer.DataAppend(*writer.GetCurrentRecord());
    }
    EXPECT_EQ(reader.GetNumberOfRecords(), 2);
    reader.Refresh();
    EXPECT_EQ(reader.GetNumberOfRecords(), 3);
    EXPECT_EQ(reader.GetSelection().GetSize(), 3);
    reader.GotoRecord(3);
    char text[8];
    EXPECT_STREQ(reader.GetCurrentRecord()->GetAlpha(0, text, sizeof text, true), "MTX");
}

TEST_F(FileTest, DeleteFileRemovesTheWholeFamily) {
    WriteSet(Info({"NumberOfFields=4"}) + kFields);
    for (const char* name : {"set.kxb", "set.klg", "set.000", "set.003", "set.004", "keep.txd"})
        Write(name, "x");
    TXDFile file;
    file.DeleteFile(Data().c_str(), false, true);
    for (const char* gone : {"set.txd", "set.kxb", "set.klg", "set.000", "set.003"})
        EXPECT_FALSE(KxIOInterface::Exists(Path(gone).c_str())) << gone;
    EXPECT_TRUE(KxIOInterface::Exists(Path("set.004").c_str()));  // beyond NumberOfFields
    EXPECT_TRUE(KxIOInterface::Exists(Path("set.kxs").c_str()));
    file.DeleteFile(Data().c_str(), true, false);
    EXPECT_FALSE(KxIOInterface::Exists(Path("set.kxs").c_str()));
    EXPECT_TRUE(KxIOInterface::Exists(Path("keep.txd").c_str()));
}

// ---------------------------------------------------------------------------------------------
// The engine's registries

TEST_F(FileTest, StartupBuildsTheRegistriesAndShutdownReleasesThem) {
    KxEngineStartup();
    ASSERT_EQ(KxFileTypeRegistry::GetFileTypes().size(), 1u);
    const KxFileType* text = KxFileTypeRegistry::FindByExtension(".TXD");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text->GetDescription(), "Flat (column based) ASCII Text File");
    EXPECT_TRUE(text->GetFirstProperty());
    EXPECT_FALSE(text->GetSecondProperty());
    KxVector<const KxFieldType*> types;
    text->GetSupportedFieldTypes(types);
    std::string letters;
    for (const KxFieldType* type : types) letters += type->GetType();
    EXPECT_EQ(letters, "AYBLDINS@TUW");
    std::unique_ptr<KxFile> file(text->NewFile());
    EXPECT_STREQ(file->GetDefaultExtension(), ".txd");

    KxEngineShutdown();
    KxEngineShutdown();
    EXPECT_FALSE(KxEngineIsStarted());
    EXPECT_TRUE(KxFileTypeRegistry::GetFileTypes().empty());
    EXPECT_FALSE(KxFieldType::AreTypesInitialized());
    KxEngineStartup();
    EXPECT_TRUE(KxEngineIsStarted());
    EXPECT_TRUE(KxFieldType::AreTypesInitialized());
    EXPECT_NE(KxFlagType::FindEngineFlagType("Hidden"), nullptr);
    EXPECT_EQ(KxFileTypeRegistry::GetFileTypes().size(), 1u);
}

} // namespace
