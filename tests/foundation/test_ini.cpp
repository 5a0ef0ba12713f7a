#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "kxini.h"
#include "kxio.h"
#include "kxplatform_path.h"
#include "kxplatform_process.h"

namespace fs = std::filesystem;

namespace {

// A new directory under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path candidate = fs::temp_directory_path() / ("kxini-" + std::to_string(random()));
            if (fs::create_directory(candidate)) {
                path_ = candidate.string();
                return;
            }
        }
        throw std::runtime_error("no temporary directory");
    }
    ~TempDir() {
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        return names;
    }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << contents;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs f, which must throw a KxException, and returns a copy of it.
KxException Caught(const std::function<void()>& f) {
    try {
        f();
    } catch (KxException& e) {
        return e;
    }
    ADD_FAILURE() << "no KxException was thrown";
    return KxException("(none)", "(none)");
}

// The message and the call path of what f throws, in one text for exact comparison.
std::string Failure(const std::function<void()>& f) {
    KxException e = Caught(f);
    return std::string(e.GetErrorMessage()) + " | " + e.GetCallpath();
}

class IniTest : public ::testing::Test {
protected:
    std::string Make(const std::string& contents, const std::string& name = "test.ini") {
        std::string path = dir / name;
        WriteFile(path, contents);
        return path;
    }

    TempDir dir;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Reading

TEST_F(IniTest, ValuesAreStrippedUnquotedAndConverted) {
    KxIniFile ini(Make("[Main]\r\nTitle = My File \r\nCount=0x1F\r\nFlag= YES\r\n"
                       "Padded = \"  word  \"  \r\nBare\r\n").c_str());
    KxIniSection* main = ini.GetSection("Main");
    ASSERT_NE(main, nullptr);
    EXPECT_STREQ(main->GetString("Title", "x"), "My File");
    EXPECT_EQ(main->GetInt("Count", 0), 31);
    EXPECT_TRUE(main->GetBool("Flag", false));
    EXPECT_STREQ(main->GetString("Padded", ""), "  word  ");
    // A line without "=" is a key with an empty value, not a missing key.
    EXPECT_EQ(main->FindKey("Bare"), 4);
    EXPECT_STREQ(main->GetString("Bare", "default"), "");
    EXPECT_STREQ(main->GetString("Missing", "default"), "default");
}

TEST_F(IniTest, KeysAndSectionNamesIgnoreCase) {
    KxIniFile ini(Make("[FileInfo]\nName=Drugs\nname=second\n[Fields]\nF1=A\n").c_str());
    EXPECT_EQ(ini.GetNumSections(), 2);
    KxIniSection* info = ini.GetSection("FILEINFO");
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->GetName(), "[FileInfo]");
    // Keys need not be unique: the first one wins.
    EXPECT_STREQ(info->GetString("NAME", ""), "Drugs");
    EXPECT_EQ(ini.GetNumSections(), 2);
}

TEST_F(IniTest, GetSectionIndexForms) {
    KxIniFile ini(Make("[Header]\n[FileInfo]\nA=1\n[FileInfo2]\nB=2\n").c_str());
    EXPECT_EQ(ini.GetSectionIndex("FILEINFO"), 1);
    EXPECT_EQ(ini.GetSectionIndex("[fileinfo]"), 1);
    EXPECT_EQ(ini.GetSectionIndex("File"), -1);
    EXPECT_EQ(ini.GetSectionIndex("File", 0, true), 1);
    EXPECT_EQ(ini.GetSectionIndex("[File", 0, true), 1);
    EXPECT_EQ(ini.GetSectionIndex("[FileInfo]", 0, true), 1);
    EXPECT_EQ(ini.GetSectionIndex("File", 2, true), 2);
    EXPECT_EQ(ini.GetSectionIndex("File", 3, true), -1);
    EXPECT_EQ(ini.GetSectionIndex(nullptr), -1);
}

TEST_F(IniTest, CommentsAreKeptWithTheLineThatFollows) {
    KxIniFile ini(Make("[S]\r\n;  note\r\nKey=1\r\n; last\r\n").c_str());
    KxIniSection* s = ini.GetSection("S");
    ASSERT_EQ(s->GetNumLines(), 1);
    ASSERT_EQ(s->GetComments(0).size(), 1u);
    EXPECT_STREQ(s->GetComments(0)[0], "  note");
    ASSERT_EQ(s->GetComments(1).size(), 1u);
    EXPECT_STREQ(s->GetComments(1)[0], " last");
}

TEST_F(IniTest, TextBeforeTheFirstHeaderIsIgnoredAndNotWrittenBack) {
    std::string path = Make("stray=1\r\n; stray comment\r\n[S]\r\nKey=1\r\n");
    KxIniFile ini(path.c_str());
    ASSERT_EQ(ini.GetNumSections(), 1);
    EXPECT_EQ(ini.GetSection("S")->GetNumLines(), 1);
    ini.Write();
    EXPECT_EQ(ReadFile(path), "[S]\r\nKey=1\r\n\r\n");
}

TEST_F(IniTest, SectionEndsAtAnyLineBeginningWithABracket) {
    KxIniFile ini(Make("[A]\nK=1\n[broken\nL=2\n[B]\nM=3\n").c_str());
    EXPECT_EQ(ini.GetNumSections(), 2);
    EXPECT_EQ(ini.GetSection("A")->GetNumLines(), 1);
    EXPECT_EQ(ini.GetSection("B")->GetNumLines(), 1);
}

TEST_F(IniTest, LazySectionsAreReadFromTheFileAsItIsThen) {
    std::string path = Make("[A]\r\nK=old\r\n[B]\r\nL=1\r\n");
    KxIniFile ini(path.c_str(), false);
    ASSERT_EQ(ini.GetNumSections(), 2);
    // Rewritten in place: the object holds the same file open.
    WriteFile(path, "[A]\r\nK=new\r\n[B]\r\nL=2\r\n");
    EXPECT_STREQ(ini.GetSection("A")->GetString("K", ""), "new");
    EXPECT_EQ(ini.GetSection(1)->GetInt("L", 0), 2);
}

TEST_F(IniTest, MissingFile) {
    std::string path = dir / "missing.ini";
    EXPECT_THROW(KxIniFile ini(path.c_str()), KxFileException);
    KxException e = Caught([&] { KxIniFile ini(path.c_str()); });
    EXPECT_EQ(Failure([&] { KxIniFile ini(path.c_str()); }),
              "\"" + path + "\" does not exist. | SetName() of KxIniFile\r\nConstructor() of KxIniFile");
    EXPECT_STREQ(e.GetSource(), "KxIniFile");
    EXPECT_FALSE(fs::exists(path));

    KxIniFile created(path.c_str(), true, true);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(created.GetNumSections(), 0);
}

TEST_F(IniTest, RelativeNameIsResolvedToAFullPath) {
    Make("[A]\nK=1\n");
    fs::path old = fs::current_path();
    fs::current_path(dir.path());
    KxIniFile ini("test.ini");
    fs::current_path(old);
    EXPECT_EQ(std::string(ini.GetFileName()), dir / "test.ini");
}

TEST(KxIniFileNoFile, FailuresWithoutAFile) {
    KxIniFile ini;
    EXPECT_EQ(Failure([&] { ini.SeekToNextSection(); }),
              "Cannot find section without a file | SeekToNextSection() of KxIniFile");
    KxIniSection* s = ini.AddSection("A");
    s->SetLoaded(false);
    EXPECT_EQ(Failure([&] { ini.GetSection(int32_t{0}); }),
              "Cannot load section 0 without a file | GetSection(long lIndex) of KxIniFile");
    EXPECT_EQ(Failure([&] { ini.GetSection(int32_t{3}); }),
              "Index 3 out of range; array is from 0 to 0 | GetSection(long lIndex) of KxIniFile");
    EXPECT_EQ(Failure([&] { ini.AddSection("a"); }),
              "Section already exists. | AddSection(KxIniSection *pSection) of KxIniFile\r\n"
              "AddSection(char *sSectionName) of KxIniFile");
    EXPECT_EQ(ini.GetSection(""), nullptr);
    EXPECT_EQ(ini.GetSection(static_cast<const char*>(nullptr)), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Values

TEST(KxIniSectionValues, GetInt) {
    struct Case {
        const char* value;
        int32_t expected;
    } cases[] = {
        {"-7", -7},           {"42", 42},          {" 42 ", 42},        {"0x1F", 31},
        {"0xff", 255},        {"0xFFFFFFFF", -1},  {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        // Not wholly a number: the default.
        {"12abc", 99},        {"1-2", 99},         {"-", 99},           {"--5", 99},
        {"0x", 99},           {"0x1G", 99},        {"0X1F", 99},        {"0x123456789", 99},
        {"2147483648", 99},   {"99999999999", 99}, {"", 99},            {"   ", 99},
    };
    for (const Case& c : cases) {
        KxIniSection s("S");
        s.AddLine("Count", c.value);
        EXPECT_EQ(s.GetInt("count", 99), c.expected) << "'" << c.value << "'";
    }
    KxIniSection s("S");
    EXPECT_EQ(s.GetInt("Count", 5), 5);
}

TEST(KxIniSectionValues, GetBool) {
    struct Case {
        const char* value;
        bool whenDefaultFalse, whenDefaultTrue;
    } cases[] = {
        {"true", true, true}, {"YES", true, true}, {" yes ", true, true}, {"1", true, true},
        {"false", false, false}, {"no", false, false}, {"0", false, false}, {"2", false, false},
        {"", false, true},
    };
    for (const Case& c : cases) {
        KxIniSection s("S");
        s.AddLine("Flag", c.value);
        EXPECT_EQ(s.GetBool("FLAG", false), c.whenDefaultFalse) << "'" << c.value << "'";
        EXPECT_EQ(s.GetBool("FLAG", true), c.whenDefaultTrue) << "'" << c.value << "'";
    }
}

TEST(KxIniSectionValues, GetStringIntoABufferIsAlwaysTerminated) {
    KxIniSection s("S");
    s.AddLine("K", "abcdef");
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_STREQ(s.GetString("K", "", buffer, 4), "abc");
    EXPECT_STREQ(s.GetString("missing", "dflt", buffer, 8), "dflt");
}

TEST(KxIniSectionValues, SetStringReplacesAppendsAndRemoves) {
    KxIniSection s("S");
    s.AddLine("A", "1");
    s.AddComment("before B");
    s.AddLine("B", "2");
    s.AddLine("C", "3");

    s.SetString("a", "new");
    EXPECT_STREQ(s.GetLine(0)->GetValue(), "new");
    EXPECT_STREQ(s.GetLine(0)->GetKey(), "A");

    s.SetString("D", "4");
    ASSERT_EQ(s.GetNumLines(), 4);
    EXPECT_STREQ(s.GetLine(3)->GetKey(), "D");

    s.SetString("b", "");
    ASSERT_EQ(s.GetNumLines(), 3);
    EXPECT_EQ(s.FindKey("B"), -1);
    EXPECT_STREQ(s.GetLine(1)->GetKey(), "C");
    // The removed line's comment stays, before the line that took its place.
    ASSERT_EQ(s.GetComments(1).size(), 1u);
    EXPECT_STREQ(s.GetComments(1)[0], "before B");

    s.SetString("Missing", "");
    s.SetString(nullptr, "x");
    s.SetString("A", nullptr);
    EXPECT_EQ(s.GetNumLines(), 3);
    EXPECT_STREQ(s.GetString("A", ""), "new");

    s.SetInt("N", -12);
    s.SetBool("T", true);
    EXPECT_STREQ(s.GetString("N", ""), "-12");
    EXPECT_STREQ(s.GetString("T", ""), "true");
}

TEST(KxIniSectionValues, SetNameAddsBrackets) {
    KxIniSection s;
    EXPECT_EQ(s.GetName(), nullptr);
    s.SetName("Main");
    EXPECT_STREQ(s.GetName(), "[Main]");
    s.SetName(nullptr);
    EXPECT_STREQ(s.GetName(), "[Main]");
    s.SetName("[Other]");
    EXPECT_STREQ(s.GetName(), "[Other]");
}

TEST(KxIniSectionValues, LinesSplitAsGiven) {
    KxIniLine raw("  Key  =  value with blanks  ");
    EXPECT_STREQ(raw.GetKey(), "Key");
    EXPECT_STREQ(raw.GetValue(), "  value with blanks  ");
    KxIniLine noValue("Key only");
    EXPECT_EQ(noValue.GetValue(), nullptr);

    KxString key, value;
    KxIniSection::SplitLine(" K = \"a=b\" ", key, value);
    EXPECT_STREQ(key, "K");
    EXPECT_STREQ(value, "a=b");
    KxIniSection::SplitLine("K=\"", key, value);
    EXPECT_STREQ(value, "\"");
}

TEST(KxIniSectionValues, CopiesAreIndependent) {
    KxIniSection s("S");
    s.AddLine("A", "1");
    KxIniSection copy(s);
    copy.SetString("A", "2");
    EXPECT_STREQ(s.GetString("A", ""), "1");
    EXPECT_STREQ(copy.GetString("A", ""), "2");
    EXPECT_STREQ(copy.GetName(), "[S]");
}

TEST(KxIniSectionValues, BinaryStrings) {
    KxIniSection s("S");
    const unsigned char bytes[] = {0x01, 0xAB};
    s.SetBinaryString("Bin", bytes, 2);
    EXPECT_STREQ(s.GetString("Bin", ""), "01AB");

    char out[4];
    s.GetBinaryString("Bin", out, 4, '*');
    EXPECT_EQ(std::string(out, 4), std::string("\x01\xAB\0\0", 4));

    // An empty value: length - 1 fill bytes and a 0.
    s.GetBinaryString("Missing", out, 4, '*');
    EXPECT_EQ(std::string(out, 4), std::string("***\0", 4));

    // An odd last digit is dropped.
    s.SetString("Odd", "01A");
    s.GetBinaryString("Odd", out, 4, '*');
    EXPECT_EQ(std::string(out, 4), std::string("\x01\0\0\0", 4));

    s.SetString("Lower", "01ab");
    EXPECT_EQ(Failure([&] { s.GetBinaryString("Lower", out, 4, 0); }),
              "Invalid binary string | GetBinaryString() of KxIniSection");
    EXPECT_STREQ(Caught([&] { s.GetBinaryString("Lower", out, 4, 0); }).GetSource(),
                 "KxIniSection");
    EXPECT_EQ(Failure([&] { s.GetBinaryString("Bin", out, 2, 0); }),
              "sReturn string not big enough | GetBinaryString() of KxIniSection");

    s.SetBinaryString("Bin", bytes, 0);
    EXPECT_EQ(s.FindKey("Bin"), -1);
}

TEST(KxIniSectionValues, NamelessSectionCannotBeWritten) {
    KxIniSection s;
    s.AddLine("A", "1");
    KxIO sink;
    EXPECT_EQ(Failure([&] { s.Write(sink); }),
              "Cannot write a section which does not have a name. | Write() of KxIniSection");
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST_F(IniTest, CanonicalFileRoundTripsByteForByte) {
    const std::string canonical =
        "[FileInfo]\r\nName=Drugs\r\n; the count\r\n;\r\nCount=3\r\n; trailing\r\n\r\n"
        "[Fields]\r\nF1=A,10\r\nEmpty=\r\nQuoted=\"  word  \"\r\n\r\n";
    std::string path = Make(canonical);
    {
        KxIniFile ini(path.c_str());
        ini.Write();
    }
    EXPECT_EQ(ReadFile(path), canonical);
    {
        KxIniFile lazy(path.c_str(), false);
        lazy.Write(true);
    }
    EXPECT_EQ(ReadFile(path), canonical);
}

TEST_F(IniTest, WrittenFormIsNormalised) {
    std::string path = Make("  [A]  \n  Key =  1  \n\n\n;c\n[Empty]\n; only a comment\n[B]\nX\n");
    KxIniFile ini(path.c_str());
    ini.Write();
    EXPECT_EQ(ReadFile(path), "[A]\r\nKey=1\r\n;c\r\n\r\n[B]\r\nX=\r\n\r\n");
}

TEST_F(IniTest, ValuesThatWouldChangeWhenReadBackAreQuoted) {
    std::string path = Make("");
    const char* values[] = {" lead", "trail ", "\ttab", "\"quoted\"", "in\"side", "\""};
    {
        KxIniFile ini(path.c_str());
        KxIniSection* s = ini.GetSection("S");
        for (size_t i = 0; i < std::size(values); ++i)
            s->SetString(("K" + std::to_string(i)).c_str(), values[i]);
        ini.Write();
    }
    EXPECT_EQ(ReadFile(path), "[S]\r\nK0=\" lead\"\r\nK1=\"trail \"\r\nK2=\"\ttab\"\r\n"
                              "K3=\"\"quoted\"\"\r\nK4=in\"side\r\nK5=\"\r\n\r\n");
    KxIniFile again(path.c_str());
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_STREQ(again.GetSection("S")->GetString(("K" + std::to_string(i)).c_str(), "?"),
                     values[i]);
}

TEST_F(IniTest, NewSectionsAreWrittenOnlyWithLines) {
    std::string path = Make("[A]\r\nK=1\r\n\r\n");
    KxIniFile ini(path.c_str());
    KxIniSection* fresh = ini.GetSection("New");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(ini.GetNumSections(), 2);
    ini.Write();
    EXPECT_EQ(ReadFile(path), "[A]\r\nK=1\r\n\r\n");

    ini.GetSection("New")->SetString("X", "y");
    ini.GetSection("A")->SetString("L", "2");
    ini.Write();
    EXPECT_EQ(ReadFile(path), "[A]\r\nK=1\r\nL=2\r\n\r\n[New]\r\nX=y\r\n\r\n");
}

TEST_F(IniTest, WriteKeepsSectionsNeverRead) {
    std::string path = Make("[A]\nK=1\n  [B]  \nL=2\n[C]\nM=3\n");
    KxIniFile ini(path.c_str(), false);
    EXPECT_FALSE(ini.GetSection("A")->GetModified());
    ini.GetSection("A")->SetString("K", "changed");
    EXPECT_TRUE(ini.GetSection("A")->GetModified());
    ini.Write(true);
    EXPECT_FALSE(ini.GetSection("A")->GetModified());
    EXPECT_EQ(ReadFile(path), "[A]\r\nK=changed\r\n\r\n[B]\r\nL=2\r\n\r\n[C]\r\nM=3\r\n\r\n");
    // Reopened: the object goes on reading the new file.
    EXPECT_STREQ(ini.GetSection("A")->GetString("K", ""), "changed");
}

TEST_F(IniTest, WriteKeepsPermissionsAndLeavesNoFilesBehind) {
    std::string path = Make("[A]\r\nK=1\r\n\r\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    KxIniFile ini(path.c_str());
    ini.GetSection("A")->SetString("K", "2");
    ini.Write();
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"test.ini"});
}

// Every failing write must leave the INI file as it was, no temporary file behind, and the
// object still working on the file.
class IniWriteFailure : public IniTest {
protected:
    void SetUp() override { path = Make(original); }

    void ExpectOriginalIntact() {
        EXPECT_EQ(ReadFile(path), original);
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"test.ini"});
    }

    const std::string original = "[A]\r\nK=1\r\n\r\n[B]\r\nL=2\r\n\r\n";
    std::string path;
};

TEST_F(IniWriteFailure, SectionFailingHalfWay) {
    KxIniFile ini(path.c_str(), false);
    ini.GetSection("A")->SetString("K", "changed");
    ini.AddSection(new KxIniSection())->AddLine("X", "1");
    EXPECT_EQ(Failure([&] { ini.Write(true); }),
              "Cannot write a section which does not have a name. | Write() of KxIniSection\r\n"
              "Write() of KxIniFile");
    ExpectOriginalIntact();
    EXPECT_TRUE(ini.GetSection("A")->GetModified());
    // Still open on the file: B has not been read yet.
    EXPECT_EQ(ini.GetSection("B")->GetInt("L", 0), 2);
}

TEST_F(IniWriteFailure, LineBreakInAValue) {
    for (const char* value : {"a\rb", "a\r\nb", "a\n[B]"}) {
        KxIniFile ini(path.c_str());
        ini.GetSection("A")->SetString("K", value);
        KxException e = Caught([&] { ini.Write(); });
        EXPECT_STREQ(e.GetErrorMessage(), "Cannot write key \"K\" of section [A]: it holds a line break");
        ExpectOriginalIntact();
    }
}

TEST_F(IniWriteFailure, ReadOnlyFile) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    KxIniFile ini(path.c_str());
    ini.GetSection("A")->SetString("K", "changed");
    EXPECT_THROW(ini.Write(), KxFileOpenFailedException);
    KxException e = Caught([&] { ini.Write(); });
    EXPECT_EQ(std::string(e.GetErrorMessage()),
              "Error in opening file '" + path + "'.  Permission denied.");
    EXPECT_STREQ(e.GetCallpath(), "Write() of KxIniFile");
    ExpectOriginalIntact();
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::group_read);
}

TEST_F(IniWriteFailure, UnwritableDirectory) {
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    {
        std::ofstream probe(dir / "probe");
        if (probe) {
            probe.close();
            fs::remove(dir / "probe");
            GTEST_SKIP() << "a privileged user writes into any directory";
        }
    }
    KxIniFile ini(path.c_str());
    ini.GetSection("A")->SetString("K", "changed");
    KxException e = Caught([&] { ini.Write(); });
    EXPECT_EQ(std::string(e.GetErrorMessage()).rfind("Could not get temporary file name -- WIN32 : ", 0), 0u)
        << e.GetErrorMessage();
    fs::permissions(dir.path(), fs::perms::owner_all);
    ExpectOriginalIntact();
}

// A full disk, simulated by a file size limit in a child process (ulimit -f, with the signal
// it raises ignored, so that writes fail with an error as on a full disk).
TEST_F(IniWriteFailure, FileSizeLimitReached) {
    std::optional<std::string> self = kxplatform::ExecutablePath();
    ASSERT_TRUE(self);
    std::optional<int> code = kxplatform::RunProgram(
        "/bin/sh",
        {"-c",
         "trap '' XFSZ; ulimit -f 64 || exit 3; KXINI_CHILD_FILE=\"$1\" exec \"$0\" "
         "--gtest_filter=IniChild.DISABLED_WriteUnderSizeLimit --gtest_also_run_disabled_tests "
         ">/dev/null 2>&1",
         *self, path});
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 0);
    std::string failure = ReadFile(dir / "result.txt");
    EXPECT_NE(failure.find("Write() of KxIniFile"), std::string::npos) << failure;
    fs::remove(dir / "result.txt");
    ExpectOriginalIntact();
}

// Run only by the test above, in a child process whose file size is limited.
TEST(IniChild, DISABLED_WriteUnderSizeLimit) {
    const char* file = std::getenv("KXINI_CHILD_FILE");
    if (file == nullptr) GTEST_SKIP();
    std::string path = file;
    KxIniFile ini(path.c_str());
    ini.GetSection("A")->SetString("K", std::string(1 << 20, 'v').c_str());
    KxException e = Caught([&] { ini.Write(); });
    std::ofstream(fs::path(path).parent_path() / "result.txt")
        << e.GetErrorMessage() << "\n" << e.GetCallpath();
    // The file is still usable after the failure.
    EXPECT_EQ(ini.GetSection("B")->GetInt("L", 0), 2);
}

// ---------------------------------------------------------------------------------------------
// Bad input

TEST_F(IniTest, LoneCarriageReturn) {
    std::string path = Make("[A]\r\nK=1\rX\r\n");
    EXPECT_EQ(Failure([&] { KxIniFile ini(path.c_str()); }),
              "Return character not followed by newline; unknown end of line type | "
              "ReadLine() of KxInputStreamInterface\r\nLoadSection() of KxIniSection\r\n"
              "LoadSectionNames() of KxIniFile\r\nConstructor() of KxIniFile");
    EXPECT_EQ(Failure([&] { KxIniFile ini(Make("[A]\r\nK=1\r").c_str()); }),
              "Return character not followed by newline; unknown end of line type | "
              "ReadLine() of KxInputStreamInterface\r\nLoadSection() of KxIniSection\r\n"
              "LoadSectionNames() of KxIniFile\r\nConstructor() of KxIniFile");
}

TEST_F(IniTest, FailedLazyLoadReleasesTheLock) {
    std::string path = Make("[A]\r\nK=1\r\n");
    KxIniFile ini(path.c_str(), false);
    WriteFile(path, "[A]\r\nK=1\rX\r\n");
    KxException e = Caught([&] { ini.GetSection("A"); });
    EXPECT_STREQ(e.GetCallpath(),
                 "ReadLine() of KxInputStreamInterface\r\nLoadSection() of KxIniSection\r\n"
                 "LoadSection() of KxIniFile\r\nGetSection(long lIndex) of KxIniFile\r\n"
                 "GetSection(char *sSectionName) of KxIniFile");
    KxIO other(path.c_str(), kxIOOpenReadShared);
    EXPECT_TRUE(other.TryLock(WRITE, 0, 0));
    other.UnLock(WRITE, 0, 0);
    // Mended, the section loads on the next request.
    WriteFile(path, "[A]\r\nK=2\r\n");
    EXPECT_EQ(ini.GetSection("A")->GetInt("K", 0), 2);
}

TEST_F(IniTest, BinaryGarbage) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(4096, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        if (round % 2 == 0) {
            // Without CR every byte sequence is valid text of some kind.
            for (char& c : bytes)
                if (c == '\r') c = '[';
        }
        std::string path = Make(bytes, "garbage" + std::to_string(round) + ".ini");
        try {
            KxIniFile ini(path.c_str());
            for (int32_t i = 0; i < ini.GetNumSections(); ++i) ini.GetSection(i)->GetInt("x", 0);
            ini.Write();
            KxIniFile again(path.c_str());
        } catch (KxException& e) {
            EXPECT_STREQ(e.GetErrorMessage(),
                         "Return character not followed by newline; unknown end of line type");
            EXPECT_EQ(ReadFile(path), bytes);
        }
    }
}

TEST_F(IniTest, TenMegabyteLine) {
    const std::string big(10 * 1024 * 1024, 'v');
    std::string path = Make(big + "\r\n[A]\r\nK=" + big + "\r\nL=1\r\n");
    {
        KxIniFile ini(path.c_str());
        KxIniSection* a = ini.GetSection("A");
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(strlen(a->GetString("K", "")), big.size());
        EXPECT_EQ(a->GetInt("L", 0), 1);
        ini.Write();
    }
    EXPECT_EQ(ReadFile(path), "[A]\r\nK=" + big + "\r\nL=1\r\n\r\n");
}

TEST_F(IniTest, EmptyFile) {
    KxIniFile ini(Make("").c_str());
    EXPECT_EQ(ini.GetNumSections(), 0);
}
