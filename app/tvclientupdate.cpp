#include "tvclientupdate.h"

#include <string>

#include "kxengine.h"
#include "kxini.h"
#include "kxio.h"
#include "kxplatform_file.h"
#include "kxplatform_path.h"
#include "kxplatform_process.h"
#include "tvasciitext.h"

namespace {

constexpr const char* kClass = "BClientUpdate";
constexpr const char* kSection = "Update";
constexpr const char* kSupportLine =
    "\nIf this problem persists please contact Quillon technical support.";

// In the order they are tested for.
constexpr const char* kRequiredKeys[] = {"UpdateURL", "WebServer", "RunIfNotUpdated",
                                         "Application", "ClientURL", "Developer"};
// In the order they are passed; the update program's size follows them.
constexpr const char* kArgumentKeys[] = {"Application", "WebServer", "UpdateURL", "ClientURL",
                                         "RunIfNotUpdated"};

} // namespace

BClientUpdate::BClientUpdate(KxString sSystemIniFile, KxString sDeveloperTag) {
    KX_TRY
        m_systemIniFile = sSystemIniFile;
        Setup(sDeveloperTag);
    KX_CATCH("Constructor(KxString, KxString)", kClass)
}

BClientUpdate::~BClientUpdate() {
    if (m_launchedProcess) kxplatform::ReleaseProcess(*m_launchedProcess);
}

void BClientUpdate::Setup(const KxString& sDeveloperTag) {
    KX_TRY
        m_developerMode = TvLowercased(sDeveloperTag).BeginsWith("dev");
    KX_CATCH("Setup()", kClass)
}

void BClientUpdate::SetProgramDirectory(const char* sDirectory) {
    m_programDirectory = sDirectory;
    if (!m_programDirectory.IsEmpty() && !m_programDirectory.EndsWith(kxplatform::kPathSeparator))
        m_programDirectory << kxplatform::kPathSeparator;
}

KxString BClientUpdate::GetProgramDirectory() const {
    if (!m_programDirectory.IsEmpty()) return m_programDirectory;
    std::optional<std::string> directory = kxplatform::ExecutableDirectory();
    if (!directory)
        KxGenerateSystemException("Could not find the program's own directory -- ", false,
                                  "GetProgramDirectory()");
    return KxString(directory->c_str());
}

KxString BClientUpdate::GetParameters() const {
    KxString parameters;
    for (const KxString& argument : m_arguments) {
        if (!parameters.IsEmpty()) parameters << " ";
        parameters << argument;
    }
    return parameters;
}

std::optional<int> BClientUpdate::TakeLaunchedProcess() {
    std::optional<int> process = m_launchedProcess;
    m_launchedProcess.reset();
    return process;
}

TvUpdateResult BClientUpdate::CheckForUpdates() {
    KX_TRY
        if (m_developerMode) return TvUpdateResult::DeveloperMode;
        KxString updateProgram;
        DeleteOldUpdateIfFound(updateProgram);

        if (m_systemIniFile.IsEmpty())
            KxGenerateException("System ini file not specified.", "CheckForUpdates()");
        KxString path = GetProgramDirectory();
        path << m_systemIniFile;
        KxIniFile ini(path);
        int32_t index = ini.GetSectionIndex(kSection);
        if (index < 0)
            KxGenerateException("The file %s appears to be corrupt.  No Update ini section.%s",
                                "CheckForUpdates()", path.GetCString(), kSupportLine);
        KxIniSection* section = ini.GetSection(index);
        for (const char* key : kRequiredKeys)
            if (section->FindKey(key) < 0)
                KxGenerateException(
                    "The file %s appears to be corrupt.  Please check ini file settings.%s",
                    "CheckForUpdates()", path.GetCString(), kSupportLine);

        std::vector<KxString> arguments;
        for (const char* key : kArgumentKeys) arguments.emplace_back(section->GetString(key, ""));
        int32_t developer = section->GetInt("Developer", 0);
        KxString size;
        size << GetQuillonUpdateFileSize(updateProgram);
        arguments.push_back(size);
        m_arguments = arguments;

        if (developer != 0) return TvUpdateResult::NotStarted;
        LaunchUpdateProgram(updateProgram, m_arguments);
        return TvUpdateResult::Started;
    KX_CATCH_STD("CheckForUpdates()", kClass)
}

void BClientUpdate::DeleteOldUpdateIfFound(KxString& sPath) {
    KX_TRY
        KxString directory = GetProgramDirectory();
        KxString current(directory);
        current << kUpdateProgramName;
        KxString delivered(directory);
        delivered << kNewUpdateProgramName;
        if (!KxIO::Exists(current))
            KxGenerateException("The update program could not be found. Please contact your "
                                "system administrator for assistance.",
                                "Warning!");
        if (!kxplatform::SetReadOnly(current.GetCString(), false))
            KxGenerateException("Error turning off file lock on update program.", "Error!");
        // Moved over the old one rather than after deleting it, so a failed move leaves the
        // old update program in place.
        if (KxIO::Exists(delivered)) KxIO::Rename(current, delivered);
        sPath = current;
    KX_CATCH("DeleteOldUpdateIfFound()", kClass)
}

int32_t BClientUpdate::GetQuillonUpdateFileSize(const char* sPath) {
    KX_TRY
        KxIO file(sPath, kxIORead);
        int32_t size = file.GetFileSize();
        file.Close();
        return size;
    KX_CATCH("GetQuillonUpdateFileSize()", kClass)
}

void BClientUpdate::LaunchUpdateProgram(const KxString& sPath,
                                        const std::vector<KxString>& arguments) {
    KX_TRY
        std::vector<std::string> argv;
        for (const KxString& argument : arguments) argv.emplace_back(argument.GetCString());
        std::optional<kxplatform::ProcessId> process =
            kxplatform::StartProgram(sPath.GetCString(), argv);
        if (!process)
            KxGenerateException("Error creating executable update %s", sPath, kUpdateProgramName);
        if (m_launchedProcess) kxplatform::ReleaseProcess(*m_launchedProcess);
        m_launchedProcess = *process;
    KX_CATCH_STD("LaunchUpdateProgram()", kClass)
}

bool TvRunUpdateCheck(TvErrorReporter* pReporter) {
    try {
        BClientUpdate update(kSystemIniFileName, kDeveloperTag);
        if (update.CheckForUpdates() != TvUpdateResult::Started) return false;
        // The program ends at once; the update program outlives it.
        update.TakeLaunchedProcess();
        KxEngineShutdown();
        return true;
    } catch (KxException& e) {
        if (pReporter != nullptr) pReporter->ShowError(e);
    } catch (...) {
    }
    return false;
}
