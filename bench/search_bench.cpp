// The search benchmark: prints the median time and peak memory of the drug and regimen searches
// and of showing one drug record, on generated data sets of 32767 drugs and 5000 regimens, and
// compares the one-word drug search with what a user might do instead on the same data exported
// as text: grep -c -i over the table, and an sqlite3 scan with LIKE over the searched columns.
//
//   tarvio-bench [--runs N] [--keep DIR]
//
// Every measurement of ours runs in a fresh process of this program, so that its peak memory is
// its own. The external programs print their counts as they run; grep must write them somewhere
// real, since it stops at the first match when its output is /dev/null.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "kxblob.h"
#include "kxengine.h"
#include "kxexception.h"
#include "kxplatform_env.h"
#include "kxplatform_file.h"
#include "kxplatform_path.h"
#include "kxplatform_process.h"
#include "kxrecord.h"
#include "tvappstate.h"
#include "tvcodepage.h"
#include "tvdataset.h"
#include "tvdrugsearch.h"
#include "tverrorreport.h"
#include "tvgenerate.h"
#include "tvregimensearch.h"
#include "txdfile.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kDrugRecords = 32767;
constexpr int32_t kRegimenRecords = 5000;
constexpr const char* kOneWord = "platinum";
constexpr const char* kThreeWords = "platinum compound breast";
constexpr const char* kQuoted = "\"platinum compound\"";
constexpr const char* kRegimenText = "CA";
constexpr int32_t kShownRecord = kDrugRecords / 2;
// The searched fields of a drug record, as sqlite3 columns.
constexpr int kSearchedColumns[] = {0, 1, 5, 8, 9, 10, 11, 12, 13, 14, 15};

struct Operation {
    const char* name;
    const char* label;
    // Runs of a fast operation are many, so that its median means something.
    int runsFactor;
};
const Operation kOperations[] = {
    {"drug1", "drug search, one word (platinum)", 1},
    {"drug3", "drug search, three words (platinum compound breast)", 1},
    {"quoted", "drug search, quoted (\"platinum compound\")", 1},
    {"all", "drug search, GETALLRECORDS", 1},
    {"regimen", "regimen search (CA)", 5},
    {"show", "show one drug record (open, 11 fields, close)", 200},
    // Where the search's time goes: its reads alone, without any matching.
    {"read", "read every searched drug field, no matching", 1},
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The process's peak resident set (VmHWM). Not the resource usage's maximum, which Linux carries
// over from the parent across the exec that started this process.
long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

[[noreturn]] void Fail(const std::string& message) {
    std::cerr << "tarvio-bench: " << message << "\n";
    std::exit(2);
}

// ---- the measured operations, in the child process --------------------------------------------

// Runs the operation once and answers how many matches it found (fields shown, bytes read).
size_t RunOnce(const std::string& op, const std::string& data) {
    TvRecordingReporter reporter;
    std::string drugs = data + DrugDataFile, regimens = data + RegimenDataFile;
    size_t count = 0;
    if (op == "regimen") {
        TvRegimenSearch search(kRegimenText, regimens.c_str(), reporter);
        search.BuildIgnoreVector();
        search.SearchData();
        count = search.GetMatches().size();
    } else if (op == "read") {
        TXDFile file;
        file.Open(drugs.c_str(), kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        KxBlob blob;
        for (int32_t r = 2; r <= file.GetNumberOfRecords(); ++r) {
            file.GotoRecord(r);
            for (int16_t f = 0; f < kDrugFieldCount; ++f) {
                if (!SearchedFields[f]) continue;
                file.GetCurrentRecord()->GetBLOB(static_cast<uint16_t>(f), blob);
                count += blob.GetSize();
            }
        }
        file.EndTransaction(transaction);
        file.Close();
    } else if (op == "show") {
        TXDFile file;
        file.Open(drugs.c_str(), kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        file.GotoRecord(kShownRecord);
        KxBlob blob;
        for (int16_t f = 0; f < kDrugFieldCount; ++f) {
            if (!SearchedFields[f]) continue;
            file.GetCurrentRecord()->GetBLOB(static_cast<uint16_t>(f), blob);
            count += blob.GetSize() > 0 ? 1 : 0;
        }
        file.EndTransaction(transaction);
        file.Close();
    } else {
        const char* text = op == "drug1"    ? kOneWord
                           : op == "drug3"  ? kThreeWords
                           : op == "quoted" ? kQuoted
                                            : kGetAllRecords;
        TvDrugSearch search(text, drugs.c_str(), reporter);
        search.SearchData();
        count = search.GetMatches().size();
    }
    if (reporter.GetFirstError() != nullptr)
        Fail(std::string(op) + ": " + reporter.GetFirstError()->message.GetCString() + "\n" +
             reporter.GetFirstError()->callpath.GetCString());
    return count;
}

// Child: one warm-up run, then the timed runs; writes "median peak count" to the result file.
int Measure(const std::string& op, const std::string& data, int runs, const std::string& result) {
    KxEngineStartup();
    size_t count = RunOnce(op, data);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point start = Clock::now();
        RunOnce(op, data);
        times.push_back(Seconds(Clock::now() - start));
    }
    KxEngineShutdown();
    std::ofstream out(result);
    out << std::setprecision(9) << Median(times) << " " << PeakKilobytes() << " " << count << "\n";
    return out ? 0 : 2;
}

// ---- preparation, in the parent ---------------------------------------------------------------

std::string MakeWorkDirectory() {
    std::string base = kxplatform::TempDirectory() + "tarvio-bench-";
    for (int i = 0; i < 1000; ++i) {
        std::string name = base + std::to_string(i) + "/";
        if (kxplatform::CreateDirectory(name)) return name;
    }
    Fail("cannot create a work directory under " + kxplatform::TempDirectory());
}

std::string SqlText(const std::string& sCp1252) {
    std::string utf8 = Cp1252ToUtf8(sCp1252), out = "'";
    for (char c : utf8) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

void WriteSql(const TvTable& drugs, const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    out << "CREATE TABLE drugs (";
    for (size_t c = 0; c < drugs.columns.size(); ++c) out << (c > 0 ? ", " : "") << "c" << c;
    out << ");\nBEGIN;\n";
    // Record 1, the version record, is not a drug.
    for (size_t r = 1; r < drugs.rows.size(); ++r) {
        out << "INSERT INTO drugs VALUES (";
        for (size_t c = 0; c < drugs.rows[r].size(); ++c)
            out << (c > 0 ? ", " : "") << SqlText(drugs.rows[r][c]);
        out << ");\n";
    }
    out << "COMMIT;\n";
    if (!out) Fail("cannot write " + file);
}

std::string LikeQuery(const std::string& word) {
    std::string query = "SELECT count(*) FROM drugs WHERE ";
    for (size_t i = 0; i < std::size(kSearchedColumns); ++i)
        query += std::string(i > 0 ? " OR " : "") + "c" + std::to_string(kSearchedColumns[i]) +
                 " LIKE '%" + word + "%'";
    return query + ";";
}

// Runs a program with its arguments and answers its wall time; its output goes to ours.
double TimeProgram(const std::string& program, const std::vector<std::string>& arguments) {
    Clock::time_point start = Clock::now();
    std::optional<int> status = kxplatform::RunProgram(program, arguments);
    double seconds = Seconds(Clock::now() - start);
    if (!status) Fail("cannot start " + program);
    // grep answers 1 for no match, which is a result too.
    if (*status != 0 && !(program == "grep" && *status == 1))
        Fail(program + " failed with status " + std::to_string(*status));
    return seconds;
}

double MedianOfProgram(const std::string& program, const std::vector<std::string>& arguments,
                       int runs) {
    TimeProgram(program, arguments);  // warm-up: the file in the page cache, like ours
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(TimeProgram(program, arguments));
    return Median(times);
}

struct Figures {
    double seconds = 0;
    long peakKilobytes = 0;
    long count = 0;
};

Figures MeasureInChild(const std::string& self, const Operation& op, const std::string& work,
                       int runs) {
    std::string result = work + "result-" + op.name;
    std::optional<int> status =
        kxplatform::RunProgram(self, {"--measure", op.name, work + "Data/",
                                      std::to_string(runs * op.runsFactor), result});
    if (!status || *status != 0) Fail(std::string("the measurement of ") + op.name + " failed");
    Figures figures;
    std::ifstream in(result);
    in >> figures.seconds >> figures.peakKilobytes >> figures.count;
    if (!in) Fail("no result from the measurement of " + std::string(op.name));
    kxplatform::DeleteFile(result);
    return figures;
}

std::string Milliseconds(double seconds) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(seconds < 0.01 ? 3 : 1) << seconds * 1000 << " ms";
    return text.str();
}

void RemoveWorkDirectory(const std::string& work) {
    for (const char* name : {DrugDataName, RegimenDataName})
        for (const char* extension : DataSetExtensions)
            kxplatform::DeleteFile(work + "Data/" + name + extension);
    kxplatform::RemoveDirectory(work + "Data");
    for (const char* file : {"drugs.tsv", "drugs.sql", "drugs.db"})
        kxplatform::DeleteFile(work + file);
    kxplatform::RemoveDirectory(work);
}

int Bench(int runs, const std::optional<std::string>& keep) {
    std::optional<std::string> self = kxplatform::ExecutablePath();
    if (!self) Fail("cannot find this program's own file");
    for (const char* tool : {"grep", "sqlite3"})
        if (!kxplatform::FindProgram(tool)) Fail(std::string(tool) + " is not installed");
    std::string work = keep ? *keep : MakeWorkDirectory();
    if (work.back() != '/') work += '/';
    if (!kxplatform::CreateDirectories(work)) Fail("cannot create " + work);

    std::cout << "Preparing " << kDrugRecords << " drug and " << kRegimenRecords
              << " regimen records in " << work << " ..." << std::endl;
    KxEngineStartup();
    try {
        if (!kxplatform::FileExists(work + "Data/" + DrugDataFile)) {
            TvTable drugs = GenerateDrugTable(kDrugRecords, kDefaultGeneratorSeed);
            TvTable regimens = GenerateRegimenTable(drugs, kRegimenRecords, kDefaultGeneratorSeed);
            BuildDataSets(drugs, regimens, (work + "Data").c_str());
            WriteSql(drugs, work + "drugs.sql");
            std::ofstream tsv(work + "drugs.tsv", std::ios::binary);
            DumpDataSet((work + "Data/" + DrugDataFile).c_str(), tsv);
            kxplatform::DeleteFile(work + "drugs.db");
            std::vector<std::string> load{work + "drugs.db", ".read '" + work + "drugs.sql'"};
            if (kxplatform::RunProgram("sqlite3", load).value_or(-1) != 0)
                Fail("sqlite3 could not load " + work + "drugs.sql");
        }
    } catch (KxException& e) {
        Fail(std::string(e.GetErrorMessage()) + "\n" + e.GetCallpath());
    }
    KxEngineShutdown();
    std::optional<std::string> lang = kxplatform::GetEnv("LC_ALL");
    if (!lang || lang->empty()) lang = kxplatform::GetEnv("LANG");
    std::ifstream tsv(work + "drugs.tsv", std::ios::binary | std::ios::ate);
    std::cout << "Text export: " << work << "drugs.tsv, " << std::fixed << std::setprecision(1)
              << static_cast<double>(tsv.tellg()) / (1024 * 1024) << " MB; locale "
              << (lang && !lang->empty() ? *lang : "C") << "; median of " << runs << " runs\n\n";

    std::vector<Figures> ours;
    for (const Operation& op : kOperations) ours.push_back(MeasureInChild(*self, op, work, runs));

    std::cout << "grep -c -i " << kOneWord << " drugs.tsv (each run prints its count):"
              << std::endl;
    double grep = MedianOfProgram("grep", {"-c", "-i", kOneWord, work + "drugs.tsv"}, runs);
    std::cout << "sqlite3 drugs.db, LIKE '%" << kOneWord
              << "%' over the 11 searched columns (each run prints its count):" << std::endl;
    double sqlite = MedianOfProgram("sqlite3", {work + "drugs.db", LikeQuery(kOneWord)}, runs);

    std::cout << "\n" << std::left << std::setw(54) << "operation" << std::right << std::setw(12)
              << "median" << std::setw(14) << "peak memory" << std::setw(10) << "count"
              << "\n";
    for (size_t i = 0; i < std::size(kOperations); ++i)
        std::cout << std::left << std::setw(54) << kOperations[i].label << std::right
                  << std::setw(12) << Milliseconds(ours[i].seconds) << std::setw(11)
                  << std::fixed << std::setprecision(1) << ours[i].peakKilobytes / 1024.0 << " MB"
                  << std::setw(10) << ours[i].count << "\n";
    std::cout << std::left << std::setw(54) << "grep -c -i (a process)" << std::right
              << std::setw(12) << Milliseconds(grep) << "\n"
              << std::left << std::setw(54) << "sqlite3 LIKE scan (a process)" << std::right
              << std::setw(12) << Milliseconds(sqlite) << "\n\n";

    const Figures& oneWord = ours[0];
    long peak = 0;
    for (const Figures& f : ours) peak = std::max(peak, f.peakKilobytes);
    std::cout << std::fixed << std::setprecision(2) << "one-word search / grep -c -i:   "
              << oneWord.seconds / grep << "  (target: at most 3)\n"
              << "one-word search / sqlite3 scan: " << oneWord.seconds / sqlite
              << "  (target: below 1)\n"
              << "largest peak memory:            " << std::setprecision(1) << peak / 1024.0
              << " MB  (target: below 64)\n"
              << "showing one record:             " << Milliseconds(ours[5].seconds)
              << "  (target: below 1 ms)\n";
    if (!keep) RemoveWorkDirectory(work);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "--measure")
        return Measure(args[1], args[2], std::atoi(args[3].c_str()), args[4]);
    int runs = 7;
    std::optional<std::string> keep;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, std::atoi(args[++i].c_str()));
        else if (args[i] == "--keep" && i + 1 < args.size())
            keep = args[++i];
        else
            Fail("usage: tarvio-bench [--runs N] [--keep DIR]");
    }
    return Bench(runs, keep);
}
