#include "tvdirectorydialog.h"

#include <optional>
#include <string>

#include "kxio.h"
#include "kxplatform_file.h"
#include "kxplatform_path.h"
#include "tvappstate.h"
#include "tvhistory.h"

namespace {

constexpr const char* kClass = "TdlgDataDirectory";

constexpr const char* kNoDirectory = "The  directory does not exist.";
constexpr const char* kNoPermission =
    "You do not have permission to write to this directory.  Please specify another one.";
constexpr const char* kWriteProbe = "CheckWrite.txt";

// Typed on another system, a directory may use the other separator.
constexpr char kForeignSeparator = kxplatform::kPathSeparator == '/' ? '\\' : '/';

KxString ProgramDirectory() {
    std::optional<std::string> directory = kxplatform::ExecutableDirectory();
    if (!directory)
        KxGenerateSystemException("Could not find the program's own directory -- ", false,
                                  "TvDefaultUserDataPath()");
    return KxString(directory->c_str());
}

// The probe shows whether files can be created in the directory. A file of that name that was
// there before is somebody's and stays.
void ProbeWriting(const KxString& sDirectory) {
    KxString probe(sDirectory);
    probe << kWriteProbe;
    bool existed = KxIO::Exists(probe);
    KxIO file(probe, kxIOWrite | kxIOCreate);
    file.Close();
    if (!existed && KxIO::Exists(probe)) KxIO::Delete(probe);
}

} // namespace

bool PathIsDirectory(const char* sPath) {
    return sPath != nullptr && *sPath != '\0' && kxplatform::DirectoryExists(sPath);
}

KxString TvDefaultUserDataPath(uint8_t uMode) {
    KX_TRY
        KxString path = ProgramDirectory();
        if (uMode == kDataDirectoryMode) path << DefaultDataSubdirectory;
        return path;
    KX_CATCH("TvDefaultUserDataPath()", kClass)
}

TvDirectoryDialog::TvDirectoryDialog(uint8_t uMode) : m_mode(uMode) {
    KX_TRY
        if (IsHistoryMode())
            m_useHistoryTicked = tvRegistry::GetOption(tvRegistry::kHistoryOption) != 0;
    KX_CATCH("Constructor", kClass)
}

const char* TvDirectoryDialog::GetCaption() const {
    return IsHistoryMode() ? "History File Options" : "Set Data Files Directory";
}

const char* TvDirectoryDialog::GetLabel() const {
    return IsHistoryMode() ? "History File Directory" : "Data Directory";
}

KxString TvDirectoryDialog::GetInitialText() const {
    KX_TRY
        KxString path;
        if (tvRegistry::GetUserDataPath(path, m_mode)) return path;
        return GetDefaultText();
    KX_CATCH("FormShow()", kClass)
}

KxString TvDirectoryDialog::GetDefaultText() const {
    KX_TRY
        return TvDefaultUserDataPath(m_mode);
    KX_CATCH("OnDefaultClick()", kClass)
}

TvDirectoryOkOutcome TvDirectoryDialog::Ok(const KxString& sBoxText, bool useHistoryTicked) {
    KX_TRY
        TvDirectoryOkOutcome outcome;
        KxString text(sBoxText);
        text.Deblank();
        std::string directory = text.GetCString();
        for (char& c : directory)
            if (c == kForeignSeparator) c = kxplatform::kPathSeparator;
        while (!directory.empty() && directory.back() == kxplatform::kPathSeparator)
            directory.pop_back();
        outcome.boxText = directory.c_str();

        // An empty box passes: it stands for the root.
        if (!directory.empty() && !PathIsDirectory(directory.c_str())) {
            outcome.messageText = kNoDirectory;
            outcome.messageCaption = "Error";
            return outcome;
        }
        if (!IsHistoryMode()) {
            KxString missing;
            if (CheckMissingFiles(directory.c_str(), missing)) {
                outcome.messageText << "The following files are missing: \n"
                                    << missing << "\nPlease put them the specified directory.";
                outcome.messageCaption = "Missing Files";
                return outcome;
            }
        }

        KxString chosen(directory.c_str());
        chosen << kxplatform::kPathSeparator;
        if (!IsHistoryMode()) {
            DataDirectory = chosen;
        } else {
            // A refused directory must not stay in effect for the rest of the session while the
            // registry still names the old one.
            KxString previous(HistoryDirectory);
            try {
                ProbeWriting(chosen);
                HistoryDirectory = chosen;
                KxString history(chosen);
                history << HistoryFileName;
                // Creates the file when missing and keeps what an existing one holds.
                KxIO file(history, kxIOWrite | kxIOCreate);
                file.Close();
                bool useHistory = useHistoryTicked && FileIsWritable(history);
                tvRegistry::SetOption(useHistory ? 1 : 0, tvRegistry::kHistoryOption);
            } catch (KxException&) {
                HistoryDirectory = previous;
                outcome.messageText = kNoPermission;
                outcome.messageCaption = "Error";
                return outcome;
            }
        }
        if (!tvRegistry::SetUserDataPath(chosen, m_mode))
            KxGenerateException("The directory %s could not be stored in the settings.",
                                kClass, chosen.GetCString());
        outcome.accepted = true;
        return outcome;
    KX_CATCH_STD("OnOkClick()", kClass)
}

void TvDirectoryDialog::ClearHistory() {
    KX_TRY
        KxString history(HistoryDirectory);
        history << kxplatform::kPathSeparator << HistoryFileName;
        if (KxIO::Exists(history)) KxIO::Delete(history);
    KX_CATCH("OnClearHistoryClick()", kClass)
}
