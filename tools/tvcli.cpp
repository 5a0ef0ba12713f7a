#include "tvcli.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>

#include "kxexception.h"
#include "kxplatform_path.h"
#include "kxstring.h"
#include "tvappstate.h"
#include "tvclisearch.h"
#include "tvdataset.h"
#include "tvgenerate.h"
#include "tvtable.h"

namespace {

constexpr const char* kClass = "tarvio-cli";

// A command line that does not say what to do; answered with the usage text.
KX_DECLARE_EXCEPTION(TvUsageException, virtual KxException)

[[noreturn]] void UsageError(const std::string& message) {
    throw TvUsageException(message.c_str(), kClass);
}

// The source tables: a drug record has 17 fields; the regimen window reads fields 0 to 2.
constexpr TvTableShape kDrugShape = {17, 17};
constexpr TvTableShape kRegimenShape = {3, 64};

class CliArguments {
public:
    std::optional<std::string> Get(const std::string& option) const {
        auto it = m_values.find(option);
        if (it == m_values.end()) return std::nullopt;
        return it->second;
    }
    std::string Require(const std::string& option) const {
        std::optional<std::string> value = Get(option);
        if (!value) UsageError("the option --" + option + " is required");
        return *value;
    }
    const std::vector<std::string>& Positionals() const { return m_positionals; }

    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_positionals;
};

struct CliCommand {
    const char* name;
    // The arguments as the usage text shows them.
    const char* synopsis;
    const char* summary;
    // Options that take a value, without their "--".
    std::vector<const char*> options;
    size_t minPositionals;
    size_t maxPositionals;
    int (*run)(const CliArguments& arguments, std::ostream& out, std::ostream& err);
    // Options that take no value, without their "--".
    std::vector<const char*> flags = {};
};

// The data directory of --data, or the program's own directory followed by Data/, as the
// desktop program's default; always ending with the separator.
std::string DataDirectoryOf(const CliArguments& arguments) {
    std::optional<std::string> directory = arguments.Get("data");
    if (!directory) {
        std::optional<std::string> own = kxplatform::ExecutableDirectory();
        if (!own) KxGenerateException("Cannot find the program's own directory", kClass);
        directory = *own + DefaultDataSubdirectory;
    }
    if (directory->empty()) UsageError("the data directory is empty");
    if (directory->back() != '/') *directory += '/';
    return *directory;
}

int32_t CountOf(const CliArguments& arguments, const char* option, int32_t lDefault) {
    std::optional<std::string> text = arguments.Get(option);
    if (!text) return lDefault;
    if (text->empty() || text->size() > 9 ||
        !std::all_of(text->begin(), text->end(), [](char c) { return std::isdigit(c) != 0; }))
        UsageError("--" + std::string(option) + " needs a number, not \"" + *text + "\"");
    return std::stoi(*text);
}

int CommandBuild(const CliArguments& arguments, std::ostream& out, std::ostream&) {
    KX_TRY
        std::string drugsFile = arguments.Require("drugs");
        std::string regimensFile = arguments.Require("regimens");
        std::string outDirectory = arguments.Require("out");
        TvTable drugs = ReadTable(drugsFile.c_str(), kDrugShape);
        TvTable regimens = ReadTable(regimensFile.c_str(), kRegimenShape);
        BuildDataSets(drugs, regimens, outDirectory.c_str());
        out << "Built " << DrugDataName << " (" << drugs.rows.size() << " records) and "
            << RegimenDataName << " (" << regimens.rows.size() << " records) in " << outDirectory
            << "\n";
        return kCliSuccess;
    KX_CATCH("CommandBuild()", kClass)
}

int CommandDump(const CliArguments& arguments, std::ostream& out, std::ostream&) {
    KX_TRY
        const std::string& which = arguments.Positionals()[0];
        const char* file = which == "drugs"      ? DrugDataFile
                           : which == "regimens" ? RegimenDataFile
                                                 : nullptr;
        if (file == nullptr) UsageError("dump drugs or regimens, not \"" + which + "\"");
        DumpDataSet((DataDirectoryOf(arguments) + file).c_str(), out);
        return kCliSuccess;
    KX_CATCH("CommandDump()", kClass)
}

int CommandCheck(const CliArguments& arguments, std::ostream& out, std::ostream&) {
    KX_TRY
        std::string directory = DataDirectoryOf(arguments);
        KxString missing;
        if (CheckMissingFiles(directory.c_str(), missing)) {
            out << "Tarvio cannot locate the following files in " << directory << ":\n"
                << missing.GetCString();
            return kCliCheckFailed;
        }
        if (DataFilesOutOfDate(directory.c_str())) {
            out << "Your data files are out of date: the data sets in " << directory
                << " do not both carry data version " << DataVersion << ".\n";
            return kCliCheckFailed;
        }
        out << "The data sets in " << directory << " are complete and carry data version "
            << DataVersion << ".\n";
        return kCliSuccess;
    KX_CATCH("CommandCheck()", kClass)
}

int CommandGenerate(const CliArguments& arguments, std::ostream& out, std::ostream&) {
    KX_TRY
        int32_t drugCount = CountOf(arguments, "drugs", kMaxDataSetRecords);
        int32_t regimenCount = CountOf(arguments, "regimens", 5000);
        std::optional<std::string> seedText = arguments.Get("seed");
        uint64_t seed = seedText ? static_cast<uint64_t>(CountOf(arguments, "seed", 0))
                                 : kDefaultGeneratorSeed;
        std::string outDirectory = arguments.Require("out");
        TvTable drugs = GenerateDrugTable(drugCount, seed);
        TvTable regimens = GenerateRegimenTable(drugs, regimenCount, seed);
        BuildDataSets(drugs, regimens, outDirectory.c_str());
        out << "Generated " << DrugDataName << " (" << drugs.rows.size() << " records) and "
            << RegimenDataName << " (" << regimens.rows.size() << " records) in " << outDirectory
            << "\n";
        return kCliSuccess;
    KX_CATCH("CommandGenerate()", kClass)
}

int CommandDrug(const CliArguments& arguments, std::ostream& out, std::ostream& err) {
    return RunDrugSearch(DataDirectoryOf(arguments), arguments.Get("json").has_value(),
                         arguments.Positionals()[0], out, err);
}

int CommandRegimen(const CliArguments& arguments, std::ostream& out, std::ostream& err) {
    return RunRegimenSearch(DataDirectoryOf(arguments), arguments.Get("json").has_value(),
                            arguments.Positionals()[0], out, err);
}

const std::vector<CliCommand>& Commands() {
    static const std::vector<CliCommand> commands = {
        {"build", "build --drugs FILE --regimens FILE --out DIR",
         "write both data sets from their UTF-8 source tables", {"drugs", "regimens", "out"}, 0,
         0, CommandBuild},
        {"dump", "dump [--data DIR] drugs|regimens",
         "print a data set as its source table, version record first", {"data"}, 1, 1,
         CommandDump},
        {"check", "check [--data DIR]",
         "test that both data sets are complete and carry data version 1.2.0", {"data"}, 0, 0,
         CommandCheck},
        {"generate", "generate [--drugs N] [--regimens M] [--seed S] --out DIR",
         "write synthetic data sets for benchmarks (default 32767 drug and 5000 regimen "
         "records, version records included)",
         {"drugs", "regimens", "seed", "out"}, 0, 0, CommandGenerate},
        {"drug", "drug [--data DIR] [--json] TEXT",
         "search the drugs as the main window does, best match first (exit 1: none)", {"data"},
         1, 1, CommandDrug, {"json"}},
        {"regimen", "regimen [--data DIR] [--json] TEXT",
         "search the regimens as the main window does, closest first (exit 1: none)", {"data"},
         1, 1, CommandRegimen, {"json"}},
    };
    return commands;
}

void PrintUsage(std::ostream& stream) {
    stream << "Usage:\n";
    for (const CliCommand& command : Commands())
        stream << "  tarvio-cli " << command.synopsis << "\n      " << command.summary << "\n";
    stream << "--data defaults to the program's own directory followed by "
           << DefaultDataSubdirectory << ".\n"
           << "Exit status: 0 success, 1 data sets incomplete or out of date, 2 failure.\n";
}

CliArguments ParseArguments(const CliCommand& command, const std::vector<std::string>& words) {
    CliArguments arguments;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
            arguments.m_positionals.push_back(word);
            continue;
        }
        std::string name = word.substr(2), value;
        size_t equals = name.find('=');
        bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = name.substr(equals + 1);
            name.erase(equals);
        }
        bool flag = false;
        for (const char* option : command.flags) flag = flag || name == option;
        if (flag && !inlineValue) {
            if (!arguments.m_values.emplace(name, "").second)
                UsageError("--" + name + " is given twice");
            continue;
        }
        bool known = false;
        for (const char* option : command.options) known = known || name == option;
        if (!known) UsageError(std::string(command.name) + " has no option --" + name);
        if (!inlineValue) {
            if (i + 1 >= words.size()) UsageError("--" + name + " needs a value");
            value = words[++i];
        }
        if (!arguments.m_values.emplace(name, value).second)
            UsageError("--" + name + " is given twice");
    }
    size_t count = arguments.m_positionals.size();
    if (count < command.minPositionals || count > command.maxPositionals)
        UsageError(std::string("usage: tarvio-cli ") + command.synopsis);
    return arguments;
}

void PrintException(std::ostream& err, const KxException& e) {
    err << "tarvio-cli: " << e.GetErrorMessage() << "\n";
    if (e.GetSource() != nullptr && *e.GetSource() != '\0')
        err << "Source: " << e.GetSource() << "\n";
    std::string path = e.GetCallpath() != nullptr ? e.GetCallpath() : "";
    if (path.empty()) return;
    err << "Call path:\n";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find("\r\n", start);
        if (end == std::string::npos) end = path.size();
        err << "  " << path.substr(start, end - start) << "\n";
        start = end + 2;
    }
}

} // namespace

int RunTarvioCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.empty()) {
        PrintUsage(err);
        return kCliFailure;
    }
    if (arguments[0] == "help" || arguments[0] == "--help" || arguments[0] == "-h") {
        PrintUsage(out);
        return kCliSuccess;
    }
    const CliCommand* command = nullptr;
    for (const CliCommand& candidate : Commands())
        if (arguments[0] == candidate.name) command = &candidate;
    if (command == nullptr) {
        err << "tarvio-cli: unknown command \"" << arguments[0] << "\"\n";
        PrintUsage(err);
        return kCliFailure;
    }
    try {
        CliArguments parsed = ParseArguments(*command, arguments);
        return command->run(parsed, out, err);
    } catch (TvUsageException& e) {
        err << "tarvio-cli: " << e.GetErrorMessage() << "\n";
        PrintUsage(err);
        return kCliFailure;
    } catch (KxException& e) {
        out.flush();
        PrintException(err, e);
        return kCliFailure;
    }
}
