#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kxblob.h"
#include "kxengine.h"
#include "platform/platform_fixture.h"
#include "foundation/kxcatch.h"
#include "tvcli.h"
#include "tvdataset.h"
#include "tvgenerate.h"
#include "txdfile.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using kxtest::ReadFile;
using kxtest::TempDir;
using kxtest::WriteFile;

class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { KxEngineStartup(); }
    void TearDown() override { KxEngineShutdown(); }
};
[[maybe_unused]] ::testing::Environment* const kEngine =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

const std::string kSourceDir = TARVIO_DATA_SOURCE_DIR;
const char* const kDataSetFiles[] = {"DrugData.klg", "DrugData.kxb", "DrugData.kxs",
                                     "DrugData.txd", "Regimens.klg", "Regimens.kxb",
                                     "Regimens.kxs", "Regimens.txd"};

struct Outcome {
    int status;
    std::string out, err;
};

// The commands in this process.
Outcome Cli(std::vector<std::string> arguments) {
    std::ostringstream out, err;
    int status = RunTarvioCli(arguments, out, err);
    return {status, out.str(), err.str()};
}

// The built program in a process of its own, its output caught in files of the directory.
Outcome Spawn(const std::string& program, const std::vector<std::string>& arguments,
          const TempDir& scratch) {
    std::string outFile = scratch / "stdout", errFile = scratch / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {-1, "", "cannot start " + program};
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, ReadFile(outFile), ReadFile(errFile)};
}

std::set<std::string> Entries(const std::string& directory) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

const std::set<std::string> kEightFiles(std::begin(kDataSetFiles), std::end(kDataSetFiles));

class CliTest : public ::testing::Test {
protected:
    std::string Data() const { return dir_ / "Data"; }
    Outcome Build(const std::string& drugs, const std::string& regimens) {
        return Cli({"build", "--drugs", drugs, "--regimens", regimens, "--out", Data()});
    }
    Outcome BuildShipped() { return Build(kSourceDir + "/drugs.tsv", kSourceDir + "/regimens.tsv"); }
    // The shipped table with one field of its version record changed.
    std::string ShippedWithVersion(const std::string& table, const std::string& version) {
        std::string text = ReadFile(kSourceDir + "/" + table);
        size_t start = text.find('\t', text.find('\n') + 1) + 1;
        text.replace(start, text.find('\t', start) - start, version);
        std::string path = dir_ / ("changed-" + table);
        WriteFile(path, text);
        return path;
    }

    TempDir dir_;
};

TEST_F(CliTest, BuildThenDumpGivesBackTheShippedTablesByteForByte) {
    Outcome build = BuildShipped();
    ASSERT_EQ(build.status, 0) << build.err;
    EXPECT_EQ(Entries(Data()), kEightFiles);
    // Nothing else is left beside the data set directory.
    EXPECT_EQ(Entries(dir_.path()), std::set<std::string>{"Data"});
    EXPECT_EQ(fs::file_size(Data() + "/DrugData.klg"), 0u);
    EXPECT_EQ(fs::file_size(Data() + "/Regimens.klg"), 0u);

    for (const char* table : {"drugs", "regimens"}) {
        Outcome dump = Cli({"dump", "--data", Data(), table});
        ASSERT_EQ(dump.status, 0) << dump.err;
        EXPECT_TRUE(dump.out == ReadFile(kSourceDir + "/" + table + ".tsv")) << table;
    }
    Outcome check = Cli({"check", "--data", Data()});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

// Texts at every boundary of the line and the blob file, and characters beyond ASCII.
TEST_F(CliTest, EdgeTextsComeBackAndLongOnesLiveInTheBlobFile) {
    const std::string inlineLongest(94, 'i'), tooLongForALine(95, 'L');
    struct Text {
        std::string source;
        bool inBlobFile;
    } texts[] = {
        {"EMPTY", false},
        {"", false},
        {"  leading blanks", false},
        {inlineLongest, false},
        {tooLongForALine, true},
        {"first\\nsecond", true},
        {"ends with a blank ", true},
        {"caf\xC3\xA9 \xE2\x82\xAC \xE2\x84\xA2", true},
        {"back\\slash and back\\\\n", true},
    };
    std::string drugs, regimens = "regimen_name\tdrugs\tcodes\nV\t1.2.0\tEMPTY\n";
    for (int c = 0; c < 17; ++c) drugs += (c ? "\tcolumn" : "column") + std::to_string(c);
    drugs += "\n";
    for (int c = 0; c < 17; ++c) drugs += c == 0 ? "V" : c == 1 ? "\t1.2.0" : "\tEMPTY";
    drugs += "\n";
    for (const Text& t : texts) {
        for (int c = 0; c < 17; ++c) drugs += (c ? "\t" : "") + t.source;
        drugs += "\n";
        regimens += t.source + "\t" + t.source + "\t" + t.source + "\n";
    }
    WriteFile(dir_ / "drugs.tsv", drugs);
    WriteFile(dir_ / "regimens.tsv", regimens);
    Outcome build = Build(dir_ / "drugs.tsv", dir_ / "regimens.tsv");
    ASSERT_EQ(build.status, 0) << build.err;
    EXPECT_EQ(Cli({"dump", "--data", Data(), "drugs"}).out, drugs);
    EXPECT_EQ(Cli({"dump", "--data", Data(), "regimens"}).out, regimens);

    TXDFile file;
    file.Open((Data() + "/DrugData.txd").c_str(), kxIORead);
    for (size_t i = 0; i < std::size(texts); ++i) {
        file.GotoRecord(static_cast<int32_t>(i) + 2);
        KxFileRecord* record = file.GetCurrentRecord();
        for (uint16_t f = 0; f < 17; ++f) {
            int32_t number = record->GetBLOBIndex(f);
            EXPECT_EQ(number > 0, texts[i].inBlobFile) << texts[i].source;
            if (number <= 0) continue;
            KxBlob blob;
            file.GetBlobFile()->GetBlob(number, blob);
            ASSERT_GT(blob.GetSize(), 0u);
            EXPECT_EQ(static_cast<const char*>(blob.GetData())[blob.GetSize() - 1], '\0');
        }
    }
    EXPECT_STREQ(file.FieldGetInfo(16).GetName(), "column16");
}

TEST_F(CliTest, CheckReportsIncompleteAndOutdatedDataSets) {
    ASSERT_EQ(BuildShipped().status, 0);
    fs::remove(Data() + "/Regimens.klg");
    Outcome missing = Cli({"check", "--data", Data()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "Tarvio cannot locate the following files in " + Data() +
                               "/:\n\tRegimens.klg\n");

    struct Case {
        bool drugChanged;
        const char* version;
    } cases[] = {{true, "1.1.0"}, {false, "1.2.1"}};
    for (const Case& c : cases) {
        std::string drugs = c.drugChanged ? ShippedWithVersion("drugs.tsv", c.version)
                                          : kSourceDir + "/drugs.tsv";
        std::string regimens = c.drugChanged ? kSourceDir + "/regimens.tsv"
                                             : ShippedWithVersion("regimens.tsv", c.version);
        ASSERT_EQ(Build(drugs, regimens).status, 0);
        Outcome outdated = Cli({"check", "--data", Data()});
        EXPECT_EQ(outdated.status, 1) << c.version;
        EXPECT_NE(outdated.out.find("Your data files are out of date"), std::string::npos)
            << outdated.out;
    }
}

TEST_F(CliTest, CheckReportsAnUnreadableDataSetWithItsCallPath) {
    ASSERT_EQ(BuildShipped().status, 0);
    fs::remove(Data() + "/DrugData.txd");
    fs::create_directory(Data() + "/DrugData.txd");
    Outcome check = Cli({"check", "--data", Data()});
    EXPECT_EQ(check.status, 2);
    EXPECT_NE(check.err.find("DrugData.txd"), std::string::npos) << check.err;
    EXPECT_NE(check.err.find("Call path:\n"), std::string::npos) << check.err;
    EXPECT_NE(check.err.find("  DataFilesOutOfDate() of tvappstate\n  CommandCheck() of "
                             "tarvio-cli\n"),
              std::string::npos)
        << check.err;
}

TEST_F(CliTest, MalformedTableFailsNamingFileAndLineAndLeavesNoDataSet) {
    std::string shipped = ReadFile(kSourceDir + "/drugs.tsv");
    // Line 5 loses its last field; a Greek letter on line 7 of the regimens.
    std::string shortLine = shipped;
    size_t line5 = 0;
    for (int i = 0; i < 4; ++i) line5 = shortLine.find('\n', line5) + 1;
    size_t end5 = shortLine.find('\n', line5);
    shortLine.erase(shortLine.rfind('\t', end5), end5 - shortLine.rfind('\t', end5));
    WriteFile(dir_ / "short.tsv", shortLine);
    std::string greek = ReadFile(kSourceDir + "/regimens.tsv");
    size_t line7 = 0;
    for (int i = 0; i < 6; ++i) line7 = greek.find('\n', line7) + 1;
    greek.insert(line7, "\xCE\xB2");
    WriteFile(dir_ / "greek.tsv", greek);

    struct Case {
        std::string drugs, regimens, expected;
    } cases[] = {
        {dir_ / "short.tsv", kSourceDir + "/regimens.tsv", dir_ / "short.tsv:5: 16 fields"},
        {kSourceDir + "/drugs.tsv", dir_ / "greek.tsv",
         dir_ / "greek.tsv:7: column regimen_name: the character"},
    };
    for (const Case& c : cases) {
        Outcome build = Build(c.drugs, c.regimens);
        EXPECT_EQ(build.status, 2);
        EXPECT_NE(build.err.find(c.expected), std::string::npos) << build.err;
        EXPECT_FALSE(fs::exists(Data()));
        EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"greek.tsv", "short.tsv"}));
    }

    // A data set already in place stays as it was.
    ASSERT_EQ(BuildShipped().status, 0);
    std::string before = ReadFile(Data() + "/DrugData.txd");
    EXPECT_EQ(Build(dir_ / "short.tsv", kSourceDir + "/regimens.tsv").status, 2);
    EXPECT_TRUE(ReadFile(Data() + "/DrugData.txd") == before);
    EXPECT_EQ(Entries(Data()), kEightFiles);
    EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"Data", "greek.tsv", "short.tsv"}));
}

TEST_F(CliTest, GeneratedDataSetsAreDeterministicAndCurrent) {
    for (const char* out : {"one", "two"}) {
        Outcome generate =
            Cli({"generate", "--drugs", "300", "--regimens", "40", "--out", dir_ / out});
        ASSERT_EQ(generate.status, 0) << generate.err;
    }
    for (const char* file : kDataSetFiles)
        EXPECT_TRUE(ReadFile(dir_ / ("one/" + std::string(file))) ==
                    ReadFile(dir_ / ("two/" + std::string(file))))
            << file;
    EXPECT_EQ(Cli({"check", "--data", dir_ / "one"}).status, 0);
    std::string dump = Cli({"dump", "--data", dir_ / "one", "drugs"}).out;
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 301);
    EXPECT_GT(fs::file_size(dir_ / "one/DrugData.kxb"), 300u * 100u);

    EXPECT_EQ(Cli({"generate", "--drugs", "32768", "--out", dir_ / "three"}).status, 2);
    EXPECT_FALSE(fs::exists(dir_ / "three"));
}

TEST_F(CliTest, UsageErrorsFailWithTheUsage) {
    const std::vector<std::string> cases[] = {
        {},
        {"frobnicate"},
        {"check", "--color", "x"},
        {"check", "extra"},
        {"dump", "--data", "x"},
        {"dump", "--data", "x", "patients"},
        {"build", "--drugs", "a.tsv"},
        {"check", "--data"},
        {"generate", "--drugs", "many", "--out", "x"},
    };
    for (const std::vector<std::string>& arguments : cases) {
        Outcome run = Cli(arguments);
        EXPECT_EQ(run.status, 2) << (arguments.empty() ? "" : arguments[0]);
        EXPECT_NE(run.err.find("Usage:"), std::string::npos) << run.err;
    }
    Outcome help = Cli({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("tarvio-cli check [--data DIR]"), std::string::npos);
}

// A failure while the data sets are written, after the drug data set is complete, removes
// everything written so far.
TEST_F(CliTest, FailureWhileWritingRemovesTheHalfBuiltDataSets) {
    TvTable drugs = GenerateDrugTable(20, 1);
    TvTable wide;
    wide.fileName = "wide.tsv";
    for (int c = 0; c < 400; ++c) wide.columns.push_back("c" + std::to_string(c));
    wide.rows = {std::vector<std::string>(400, "1.2.0"),
                 std::vector<std::string>(400, std::string(94, 'w'))};
    wide.lines = {2, 3};
    KxCaught caught = CatchKx([&] { BuildDataSets(drugs, wide, Data().c_str()); });
    EXPECT_EQ(caught.message.substr(0, 45), "wide.tsv:1: the 400 columns need records of 4");
    EXPECT_TRUE(Entries(dir_.path()).empty());
}

// The program finds Data/ beside itself, as the desktop program does.
TEST_F(CliTest, TheProgramChecksTheDataBesideItselfByDefault) {
    std::string program = dir_ / "tarvio-cli";
    fs::copy_file(TARVIO_CLI_PATH, program);
    fs::permissions(program, fs::perms::owner_all);
    ASSERT_EQ(BuildShipped().status, 0);

    TempDir scratch;
    Outcome current = Spawn(program, {"check"}, scratch);
    EXPECT_EQ(current.status, 0) << current.err;
    EXPECT_EQ(current.out, "The data sets in " + Data() +
                               "/ are complete and carry data version 1.2.0.\n");

    fs::remove(Data() + "/Regimens.klg");
    Outcome missing = Spawn(program, {"check"}, scratch);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("\tRegimens.klg\n"), std::string::npos) << missing.out;

    EXPECT_EQ(Spawn(program, {"dump", "nothing"}, scratch).status, 2);
}

} // namespace
