// The hand-over to the separate update program at start, before any window exists: a newly
// delivered copy of the update program replaces the old one, the "Update" section of the system
// ini file beside the executable gives the update program's arguments, and the update program
// is started. The program entry then ends at once. A developer tag beginning with "dev" (as the
// shipped program passes) turns all of it off.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "kxstring.h"
#include "tverrorreport.h"

inline constexpr const char* kUpdateProgramName = "quillonupdate.exe";
// The name under which a new copy of the update program is delivered.
inline constexpr const char* kNewUpdateProgramName = "quillonupdatenew.exe";
// What the program entry passes.
inline constexpr const char* kSystemIniFileName = "tarvio.ini";
inline constexpr const char* kDeveloperTag = "dev";

enum class TvUpdateResult {
    DeveloperMode,  // nothing was read, moved or started
    NotStarted,     // everything checked; the ini file's "Developer" value held the start back
    // The update program runs: the caller releases the engine's registries and ends the program
    // with status 0 at once.
    Started,
};

class BClientUpdate {
public:
    // sSystemIniFile is a bare file name, looked for in the program's directory.
    BClientUpdate(KxString sSystemIniFile, KxString sDeveloperTag);
    BClientUpdate(const BClientUpdate&) = delete;
    BClientUpdate& operator=(const BClientUpdate&) = delete;
    // Lets go of a started update program that nobody took.
    virtual ~BClientUpdate();

    // The whole check. Every failure is thrown: a missing update program, a missing or damaged
    // ini file, a program that cannot be started.
    TvUpdateResult CheckForUpdates();
    // Puts a newly delivered update program in place of the old one and gives the update
    // program's full path.
    void DeleteOldUpdateIfFound(KxString& sPath);
    int32_t GetQuillonUpdateFileSize(const char* sPath);
    // Starts the update program with the arguments as they are (no shell splits them) and does
    // not wait for it.
    virtual void LaunchUpdateProgram(const KxString& sPath, const std::vector<KxString>& arguments);

    bool GetDeveloperMode() const { return m_developerMode; }
    const KxString& GetSystemIniFile() const { return m_systemIniFile; }
    // The arguments of the last check, and the same joined by single blanks.
    const std::vector<KxString>& GetArguments() const { return m_arguments; }
    KxString GetParameters() const;
    // Where the update program and the system ini file are looked for: the executable's own
    // directory unless set; ends with the path separator.
    void SetProgramDirectory(const char* sDirectory);
    KxString GetProgramDirectory() const;
    // The process of a started update program, handed over to the caller (once).
    std::optional<int> TakeLaunchedProcess();

private:
    void Setup(const KxString& sDeveloperTag);

    KxString m_systemIniFile;
    bool m_developerMode = false;
    KxString m_programDirectory;
    std::vector<KxString> m_arguments;
    std::optional<int> m_launchedProcess;
};

// The program entry's update step: BClientUpdate with kSystemIniFileName and kDeveloperTag.
// True when the update program was started and the engine's registries are released: the
// program must end now with status 0. Failures are ignored, or given to the reporter when there
// is one; they never stop the program.
bool TvRunUpdateCheck(TvErrorReporter* pReporter = nullptr);
