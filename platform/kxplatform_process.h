// Starting programs, and handing links and mail to the desktop.
//
// Programs are always started with an argument vector, never through a shell: no argument is
// ever split, expanded or interpreted.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kxplatform {

using ProcessId = int;

// The full path of an executable program: a name with a '/' is taken as it stands, a bare name
// is looked up in the directories of $PATH (empty entries, meaning the current directory, are
// skipped). ENOENT when there is none.
std::optional<std::string> FindProgram(const std::string& name);

// Starts the program (found with FindProgram) with these arguments after argument 0, which is
// the program as given. It inherits the environment and standard streams, with every signal at
// its default and none blocked. Fails when the program cannot be started (ENOENT, EACCES, ...).
std::optional<ProcessId> StartProgram(const std::string& program,
                                      const std::vector<std::string>& arguments);
// Waits for a started program to end: its exit code, or 128 + the signal that ended it.
std::optional<int> WaitForExit(ProcessId process);
// Gives up interest in a started program; it is reaped in the background when it ends, so it
// never stays behind as a zombie.
void ReleaseProcess(ProcessId process);
// StartProgram and WaitForExit.
std::optional<int> RunProgram(const std::string& program,
                              const std::vector<std::string>& arguments);

// Opens a URL or mailto link in the user's preferred application: "xdg-open URL". Fails when
// xdg-open cannot be started, or reports failure within a short time (helpers that stay running
// count as success). A URL beginning with '-' is refused (EINVAL), since xdg-open would take it
// for an option.
bool OpenUrl(const std::string& url);

enum class MailResult {
    Started,       // the user's mail composer has the message
    NotAvailable,  // there is no mail service: xdg-email is missing or found no mail program
    Failed,        // it could not be handed over; GetLastError tells why
};
// "xdg-email --subject SUBJECT --body BODY ADDRESS". An address beginning with '-' is refused.
MailResult ComposeMail(const std::string& address, const std::string& subject,
                       const std::string& body);

} // namespace kxplatform
