#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

#include "kxengine.h"
#include "platform/platform_fixture.h"
#include "tvcli.h"
#include "tvdataset.h"
#include "tvtable.h"

extern char** environ;

namespace {

using kxtest::TempDir;

struct Result {
    int status;
    std::string out, err;
};

Result Cli(const std::vector<std::string>& arguments) {
    KxEngineStartup();
    std::ostringstream out, err;
    int status = RunTarvioCli(arguments, out, err);
    return {status, out.str(), err.str()};
}

// The built program in a process of its own, with its output caught in files.
Result RunProgram(const std::vector<std::string>& arguments, const TempDir& scratch) {
    std::string program = TARVIO_CLI_PATH, outFile = scratch / "out", errFile = scratch / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), flags, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), flags, 0644);
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copies(arguments);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {-1, "", "cannot start " + program};
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, kxtest::ReadFile(outFile),
            kxtest::ReadFile(errFile)};
}

std::string Line(const std::string& text, int index) {
    std::istringstream lines(text);
    std::string line;
    for (int i = 0; i <= index; ++i) std::getline(lines, line);
    return line;
}

TEST(CliSearchShippedTest, DrugSearchForCisplatinListsCisplatinFirst) {
    TempDir scratch;
    Result result = RunProgram({"drug", "cisplatin"}, scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    // The sentence, the column heads, then the best match.
    EXPECT_EQ(Line(result.out, 0).rfind("Your search for \"cisplatin\" found ", 0), 0u);
    std::istringstream best(Line(result.out, 2));
    std::string rank, record, score, strength, name;
    best >> rank >> record >> score >> strength >> name;
    EXPECT_EQ(rank, "1");
    EXPECT_EQ(name, "CISPLATIN");
}

// Two small data sets with texts beyond ASCII, a line break and quotes.
class CliSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        KxEngineStartup();
        std::string header = "c0";
        for (int i = 1; i < 17; ++i) header += "\tc" + std::to_string(i);
        auto drug = [](std::vector<std::string> fields) {
            fields.resize(17, "EMPTY");
            std::string line = fields[0];
            for (size_t i = 1; i < fields.size(); ++i) line += "\t" + fields[i];
            return line + "\n";
        };
        std::string drugs =
            header + "\n" + drug({"Tarvio drug data set", "1.2.0"}) +
            drug({"Monoclonal antibody", "Anti-CD20", "", "", "", "RITUXIMAB", "", "", "EMPTY",
                  "Rituximab\u00AE", "", "", "", "", "Anti-CD20\\nrituximab"}) +
            drug({"Monoclonal antibody", "Anti-CD20", "", "", "", "OBINUTUZUMAB", "", "", "", "",
                  "", "", "", "", "Used after rituximab"});
        std::string regimens = "name\tdrugs\tcodes\n"
                               "Tarvio regimen data set\t1.2.0\tEMPTY\n"
                               "R-CHOP\tRituximab; Cyclophosphamide\t"
                               "Immunotherapy; Code as \"chemo\"\n"
                               "CHOP\tCyclophosphamide; Doxorubicin\tChemotherapy; Chemotherapy\n";
        BuildDataSets(ParseTable(drugs, "drugs.tsv", {17, 17}),
                      ParseTable(regimens, "regimens.tsv", {3, 64}), data_.c_str());
    }

    TempDir dir_;
    std::string data_ = dir_ / "Data";
};

TEST_F(CliSearchTest, DrugJsonHoldsTheMatchesBestFirstInUtf8) {
    Result result = Cli({"drug", "--json", "--data", data_, "  rituximab "});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "{\"search\": \"rituximab\", \"matches\": ["
              "{\"record\": 2, \"fieldStrength\": 230, \"matchStrength\": 3, \"fields\": [5, 9, "
              "14], \"words\": [\"RITUXIMAB\", \"Rituximab\u00AE\", \"Anti-CD20\\nrituximab\"]}, "
              "{\"record\": 3, \"fieldStrength\": 4, \"matchStrength\": 3, \"fields\": [14], "
              "\"words\": [\"rituximab\"]}]}\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(CliSearchTest, RegimenJsonHoldsTheStoredTexts) {
    Result result = Cli({"regimen", "--data", data_, "--json", "chop"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "{\"search\": \"chop\", \"matches\": ["
              "{\"record\": 3, \"quality\": 1, \"name\": \"CHOP\", \"drugs\": \"Cyclophosphamide; "
              "Doxorubicin\", \"codes\": \"Chemotherapy; Chemotherapy\"}, "
              "{\"record\": 2, \"quality\": 3, \"name\": \"R-CHOP\", \"drugs\": \"Rituximab; "
              "Cyclophosphamide\", \"codes\": \"Immunotherapy; Code as \\\"chemo\\\"\"}]}\n");
}

TEST_F(CliSearchTest, TablesListBestFirst) {
    Result drug = Cli({"drug", "--data", data_, "rituximab"});
    ASSERT_EQ(drug.status, 0) << drug.err;
    EXPECT_EQ(Line(drug.out, 0), "Your search for \"rituximab\" found 2 results.");
    EXPECT_NE(Line(drug.out, 2).find("RITUXIMAB"), std::string::npos);
    EXPECT_NE(Line(drug.out, 3).find("OBINUTUZUMAB"), std::string::npos);
    Result regimen = Cli({"regimen", "--data", data_, "R CHOP"});
    ASSERT_EQ(regimen.status, 0) << regimen.err;
    EXPECT_EQ(Line(regimen.out, 0), "Your search for \"R CHOP\" found 1 result.");
    EXPECT_NE(Line(regimen.out, 2).find("R-CHOP"), std::string::npos);
}

TEST_F(CliSearchTest, ShortTextsAreRefusedAsTheMainWindowDoes) {
    // Two letters with blanks around them: too short for a drug, enough for a regimen.
    Result drug = Cli({"drug", "--data", data_, "  ch "});
    EXPECT_EQ(drug.status, 1);
    EXPECT_EQ(drug.out, "");
    EXPECT_EQ(drug.err, "Search String must be 3 or more characters!\n");
    Result regimen = Cli({"regimen", "--data", data_, " c"});
    EXPECT_EQ(regimen.status, 1);
    EXPECT_EQ(regimen.err, "Search String must be 2 or more characters!\n");
    EXPECT_EQ(Cli({"regimen", "--data", data_, " ch "}).status, 0);
}

TEST_F(CliSearchTest, NoMatchesExitsWithOne) {
    Result table = Cli({"drug", "--data", data_, "zzzz"});
    EXPECT_EQ(table.status, 1);
    EXPECT_EQ(table.out, "Your search for \"zzzz\" yielded no matches.\n");
    Result json = Cli({"regimen", "--json", "--data", data_, "zz"});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.out, "{\"search\": \"zz\", \"matches\": []}\n");
}

TEST_F(CliSearchTest, DataSetFailureExitsWithTwoAndTheCallPath) {
    for (const char* command : {"drug", "regimen"}) {
        Result result = Cli({command, "--json", "--data", dir_ / "Missing", "chop"});
        EXPECT_EQ(result.status, 2) << command;
        EXPECT_EQ(result.out, "") << command;
        EXPECT_NE(result.err.find("SearchData() of Tfrm"), std::string::npos) << result.err;
    }
}

} // namespace
