#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kxcatch.h"
#include "platform/platform_fixture.h"
#include "tvregistry.h"
#include "tvregstore.h"

namespace {

namespace fs = std::filesystem;
using kxtest::ReadFile;
using kxtest::WriteFile;

const char* const kFirstRun =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Quillon, Inc.]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Quillon, Inc.\\Tarvio]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Quillon, Inc.\\Tarvio\\Colors]\r\n"
    "\"0\"=hex:00,00,00,e0,72,fb,6f,41\r\n"
    "\"1\"=hex:00,00,00,00,00,00,00,00\r\n"
    "\"2\"=hex:00,00,00,00,00,00,00,00\r\n"
    "\"3\"=hex:00,00,00,00,00,e0,6f,40\r\n"
    "\"4\"=hex:00,00,00,e0,ff,ff,6f,41\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Quillon, Inc.\\Tarvio\\Options]\r\n"
    "\"0\"=hex:00,00,00,00,00,00,00,00\r\n"
    "\r\n";

// The settings go to a fresh directory through XDG_CONFIG_HOME.
class RegistryTest : public ::testing::Test {
protected:
    std::string Directory() const { return dir_ / "tarvio"; }
    std::string File() const { return Directory() + "/registry.reg"; }
    void Install(const std::string& text) {
        fs::create_directories(Directory());
        WriteFile(File(), text);
    }
    // A file holding one colour value with the given data.
    void InstallColor(const std::string& name, const std::string& data) {
        Install("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quillon, Inc.\\Tarvio\\Colors]\n\"" +
                name + "\"=" + data + "\n");
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Directory()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    kxtest::TempDir dir_;
    kxtest::EnvGuard config_{"XDG_CONFIG_HOME", dir_.path()};
};

TEST_F(RegistryTest, FirstRunWritesTheDefaultsAsEightByteDoubles) {
    tvRegistry registry;
    EXPECT_EQ(ReadFile(File()), kFirstRun);
    EXPECT_EQ(Entries(), std::vector<std::string>{"registry.reg"});
    for (int32_t role = 0; role < kColorRoleCount; ++role)
        EXPECT_EQ(tvRegistry::GetColor(role), tvRegistry::DefaultColors[role]);
    EXPECT_EQ(tvRegistry::GetOption(0), 0);
    KxString path;
    EXPECT_FALSE(tvRegistry::GetUserDataPath(path, tvRegistry::kDataDirectory));
    EXPECT_FALSE(tvRegistry::GetUserDataPath(path, tvRegistry::kHistoryDirectory));
    // Constructing again changes nothing.
    tvRegistry again;
    EXPECT_EQ(ReadFile(File()), kFirstRun);
}

TEST_F(RegistryTest, SettingsSurviveARestart) {
    {
        tvRegistry registry;
        tvRegistry::SetColor(0x80000008, ColorRole::Text);
        tvRegistry::SetColor(INT32_MIN, ColorRole::Label);
        tvRegistry::SetColor(INT32_MAX, ColorRole::Highlight);
        tvRegistry::SetOption(1, tvRegistry::kHistoryOption);
        EXPECT_TRUE(tvRegistry::SetUserDataPath("/srv/tarvio data", tvRegistry::kDataDirectory));
        EXPECT_TRUE(tvRegistry::SetUserDataPath("/home/u/", tvRegistry::kHistoryDirectory));
    }
    tvRegistry restarted;
    EXPECT_EQ(tvRegistry::GetColor(ColorRole::Background), 0xFFDB97);
    EXPECT_EQ(tvRegistry::GetColor(ColorRole::Text), static_cast<int32_t>(0x80000008));
    EXPECT_EQ(tvRegistry::GetColor(ColorRole::Label), INT32_MIN);
    EXPECT_EQ(tvRegistry::GetColor(ColorRole::Highlight), INT32_MAX);
    EXPECT_EQ(tvRegistry::GetOption(0), 1);
    KxString path;
    EXPECT_TRUE(tvRegistry::GetUserDataPath(path, tvRegistry::kDataDirectory));
    EXPECT_STREQ(path, "/srv/tarvio data/");
    path.Clear();
    EXPECT_TRUE(tvRegistry::GetUserDataPath(path, tvRegistry::kHistoryDirectory));
    EXPECT_STREQ(path, "/home/u/");
    // 0x80000008 is stored as the double -2147483640.
    EXPECT_NE(ReadFile(File()).find("\"1\"=hex:00,00,00,fe,ff,ff,df,c1\r\n"), std::string::npos);
}

TEST_F(RegistryTest, DirectoryTextsAreTrimmedAndEndWithTheSeparator) {
    struct Case {
        const char* stored;
        bool found;
        const char* path;
    } cases[] = {
        {"  /data/Tarvio  ", true, "/data/Tarvio/"},
        {"/data/", true, "/data/"},
        {"", false, ""},
        {"   ", false, ""},
    };
    tvRegistry registry;
    for (const Case& c : cases) {
        ASSERT_TRUE(tvRegistry::SetUserDataPath(c.stored, tvRegistry::kDataDirectory));
        KxString path;
        EXPECT_EQ(tvRegistry::GetUserDataPath(path, tvRegistry::kDataDirectory), c.found)
            << c.stored;
        EXPECT_STREQ(path, c.path) << c.stored;
    }
    // The text is stored as given.
    EXPECT_NE(ReadFile(File()).find("\"DefaultDataDirectory\"=\"   \"\r\n"), std::string::npos);
}

TEST_F(RegistryTest, DirectoryValuesNeedTheProgramKey) {
    // Nothing creates the key but a constructed registry object.
    EXPECT_FALSE(tvRegistry::SetUserDataPath("/data/", tvRegistry::kDataDirectory));
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(RegistryTest, StoredDoublesTruncateTowardZero) {
    struct Case {
        const char* bytes;
        int32_t value;
    } cases[] = {
        {"cd,cc,cc,cc,cc,fc,6f,40", 255},            // 255.9
        {"cd,cc,cc,cc,cc,fc,6f,c0", -255},           // -255.9
        {"00,00,e0,ff,ff,ff,ef,41", -1},             // 4294967295, a colour written unsigned
        {"00,00,00,00,00,e0,6f,40", 255},
    };
    for (const Case& c : cases) {
        InstallColor("3", std::string("hex:") + c.bytes);
        EXPECT_EQ(tvRegistry::GetColor(ColorRole::Highlight), c.value) << c.bytes;
    }
    for (const char* bytes : {"9c,75,00,88,3c,e4,37,7e", "00,00,00,00,00,00,f8,7f",
                              "00,00,00,00,00,00,f0,41"}) {  // 1e300, not a number, 2^32
        InstallColor("3", std::string("hex:") + bytes);
        KxCaught caught = CatchKx<TvRegistryException>([] { tvRegistry::GetColor(3); });
        EXPECT_TRUE(caught.thrown) << bytes;
        EXPECT_EQ(caught.message.rfind("The registry value '3' holds ", 0), 0u) << caught.message;
        EXPECT_EQ(caught.callpath, "GetColor() of tvRegistry");
    }
}

TEST_F(RegistryTest, ValuesOfAnotherTypeOrSizeAreRefused) {
    for (const char* data : {"dword:000000ff", "hex:ff,00,00,00", "\"255\"", "hex:", "hex(4):ff,00,00,00",
                             "hex:00,00,00,00,00,e0,6f,40,00"}) {
        InstallColor("3", data);
        KxCaught caught = CatchKx<TvRegistryDataTypeException>([] { tvRegistry::GetColor(3); });
        EXPECT_TRUE(caught.thrown) << data;
        EXPECT_EQ(caught.message, "Invalid data type for '3'") << data;
        EXPECT_TRUE(caught.callpath.ends_with("ReadFloat() of TvRegStore\r\nGetColor() of tvRegistry"))
            << caught.callpath;
    }
    Install("REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Quillon, Inc.\\Tarvio]\r\n"
            "\"HistoryFileDirectory\"=hex:2f,00\r\n");
    KxString path;
    KxCaught caught = CatchKx([&] { tvRegistry::GetUserDataPath(path, 1); });
    EXPECT_EQ(caught.message, "Invalid data type for 'HistoryFileDirectory'");
    EXPECT_EQ(caught.callpath, "ReadString() of TvRegStore\r\nGetRegEntryStr() of BaseRegistry\r\n"
                               "GetUserDataPath() of tvRegistry");
}

TEST_F(RegistryTest, ADamagedFileIsReportedKeptAsideAndTheDefaultsServe) {
    const std::string key = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software]\r\n";
    struct Case {
        std::string text;
        std::string fault;
    } cases[] = {
        {"\x7f" "ELF\x02\x01garbage", "line 1: the first line is not REGEDIT4"},
        {"", "line 1: the first line is not REGEDIT4"},
        {key + "\"a\"=hex:00,0", "line 3: a byte of a hex value is not two hex digits"},
        {key + "\"a\"=hex:00,01,\r\n", "line 3: a hex value ends with a comma"},
        {key + "\"a\"=hex:00,\\\r\n", "line 3: a hex value continues past the end of the file"},
        {key + "\"a\"=dword:ff", "line 3: a dword value is not 8 hex digits"},
        {key + "\"a\"=\"text", "line 3: a quoted text has no closing quotation mark"},
        {key + "\"a\"=\"C:\\dir\"", "line 3: unknown escape \\d"},
        {key + "\"a\"=\"x\" y", "line 3: text follows the closing quotation mark of a value"},
        {key + "\"a\"=1", "line 3: the value is neither a quoted text, nor hex:, nor dword:"},
        {key + "\"a\"=\"1\"\n\"A\"=\"2\"", "line 4: the value \"A\" appears twice in its key"},
        {key + "[hkey_current_user\\SOFTWARE]", "line 3: the key [hkey_current_user\\SOFTWARE] appears twice"},
        {key + "[HKEY_CURRENT_USER\\a\\\\b]", "line 3: a key has an empty part"},
        {key + "[Software]", "line 3: a key does not begin with a root key (HKEY_...)"},
        {"REGEDIT4\n\"a\"=\"1\"", "line 2: a value comes before the first key"},
        {key + "junk", "line 3: the line is neither a key, nor a value, nor a comment"},
        {key + "\"a\"=\"x" + std::string(1, '\0') + "y\"", "line 3: it holds a NUL byte"},
        {key + "\"a\"=\"" + std::string(2 << 20, 'x') + "\"", "it is larger than 1048576 bytes"},
    };
    for (const Case& c : cases) {
        Install(c.text);
        KxCaught caught = CatchKx<TvRegistryException>([] { tvRegistry registry; });
        ASSERT_TRUE(caught.thrown) << c.fault;
        EXPECT_EQ(caught.message, "The settings file \"" + File() + "\" is damaged: " + c.fault +
                                      ".  It has been kept as \"" + File() +
                                      ".damaged\", and the settings start again from their "
                                      "defaults.");
        EXPECT_EQ(caught.callpath,
                  "Load() of TvRegStore\r\nConstructor of TvRegStore\r\nSetupMRUList() of "
                  "BaseRegistry\r\nSetup() of BaseRegistry\r\nBaseRegistry() of BaseRegistry\r\n"
                  "tvRegistry() of tvRegistry");
        EXPECT_EQ(ReadFile(File() + ".damaged"), c.text) << c.fault;
        EXPECT_EQ(tvRegistry::GetColor(ColorRole::Background), 0xFFDB97);
        tvRegistry registry;
        EXPECT_EQ(ReadFile(File()), kFirstRun);
    }
}

TEST_F(RegistryTest, ADirectoryThatCannotBeMadeFailsWritesAndReadsGiveDefaults) {
    // "tarvio" is a file, so the settings directory cannot be created, even by the superuser.
    WriteFile(dir_ / "tarvio", "not a directory");
    KxCaught caught = CatchKx([] { tvRegistry registry; });
    EXPECT_EQ(caught.message.rfind("Could not create the settings directory \"" + dir_.path() +
                                       "/tarvio/\" -- ",
                                   0),
              0u)
        << caught.message;
    EXPECT_EQ(caught.source, "TvRegStore");
    EXPECT_EQ(tvRegistry::GetColor(ColorRole::Window), 0xFFFFFF);
    EXPECT_EQ(tvRegistry::GetOption(0), 0);
    EXPECT_TRUE(CatchKx([] { tvRegistry::SetColor(1, 0); }).thrown);
    EXPECT_EQ(ReadFile(dir_ / "tarvio"), "not a directory");
}

TEST_F(RegistryTest, AReadOnlyDirectoryFailsWritesAndKeepsTheFile) {
    { tvRegistry registry; }
    fs::permissions(Directory(), fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(Directory() + "/probe")) {
        fs::remove(Directory() + "/probe");
        fs::permissions(Directory(), fs::perms::owner_all);
        GTEST_SKIP() << "a privileged user writes into any directory";
    }
    KxCaught caught = CatchKx([] { tvRegistry::SetColor(7, ColorRole::Text); });
    fs::permissions(Directory(), fs::perms::owner_all);
    EXPECT_EQ(caught.message.rfind("Could not write the settings file \"" + File() + "\": ", 0),
              0u)
        << caught.message;
    EXPECT_EQ(ReadFile(File()), kFirstRun);
}

// A full disk: a file size limit, with the signal it raises ignored so that writes fail.
TEST_F(RegistryTest, AFailedWriteLeavesTheOldFileWholeAndTheValueAsItWas) {
    { tvRegistry registry; }
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old;
    limit.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    KxCaught caught = CatchKx([] { tvRegistry::SetColor(7, ColorRole::Text); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(caught.thrown);
    EXPECT_NE(caught.callpath.find("Save() of TvRegStore"), std::string::npos) << caught.callpath;
    EXPECT_EQ(ReadFile(File()), kFirstRun);
    EXPECT_EQ(Entries(), std::vector<std::string>{"registry.reg"});
    EXPECT_EQ(tvRegistry::GetColor(ColorRole::Text), 0);
}

TEST_F(RegistryTest, StoreQuotesTextsAndKeepsWhatItDoesNotKnow) {
    Install("REGEDIT4\n"
            "; written by hand\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
            "@=\"default\"\n"
            "\"Count\"=dword:0000002a\n"
            "\"Path\"=hex(2):25,48,4f,4d,45,25,00\n"
            "\"Long\"=hex:01,02,\\\n"
            "  03,04\n");
    {
        TvRegStore store;
        ASSERT_TRUE(store.OpenKey("Software\\Program", true));
        store.WriteString("a \"quoted\" \\ name", "C:\\dir \"x\"");
        store.WriteString("Lines", "one\r\ntwo");
        uint8_t bytes[] = {0x00, 0xff, 0x10};
        store.WriteBinaryData("Bytes", bytes, sizeof bytes);
    }
    EXPECT_EQ(ReadFile(File()),
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
              "@=\"default\"\r\n"
              "\"Count\"=dword:0000002a\r\n"
              "\"Path\"=hex(2):25,48,4f,4d,45,25,00\r\n"
              "\"Long\"=hex:01,02,03,04\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Program]\r\n"
              "\"a \\\"quoted\\\" \\\\ name\"=\"C:\\\\dir \\\"x\\\"\"\r\n"
              "\"Lines\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00\r\n"
              "\"Bytes\"=hex:00,ff,10\r\n\r\n");
    TvRegStore store;
    // Key and value names ignore letter case.
    ASSERT_TRUE(store.OpenKey("SOFTWARE\\program", false));
    EXPECT_STREQ(store.ReadString("A \"QUOTED\" \\ NAME"), "C:\\dir \"x\"");
    EXPECT_STREQ(store.ReadString("Lines"), "one\r\ntwo");
    EXPECT_STREQ(store.ReadString("missing"), "");
    EXPECT_EQ(store.ReadBinaryData("bytes"), (KxVector<uint8_t>{0x00, 0xff, 0x10}));
    EXPECT_TRUE(store.KeyExists("Software"));
    EXPECT_FALSE(store.KeyExists("Soft"));
    EXPECT_FALSE(store.OpenKey("Software\\Other", false));
}

} // namespace
