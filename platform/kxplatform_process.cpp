#include "kxplatform_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "kxplatform_error.h"
#include "kxplatform_internal.h"

extern char** environ;

namespace kxplatform {

namespace {

// How long the desktop helpers get to report a failure before we take them as started; some
// of them stay running as long as the application they opened.
constexpr std::chrono::milliseconds kHelperGrace{1500};

std::optional<std::string> Failed(int code) {
    SetLastError(code);
    return std::nullopt;
}

// 0 when path is an executable regular file, else the error to report for it: ENOENT and the
// like when there is nothing usable there, EACCES when there is a file we may not run.
int CheckExecutable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode) || ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) != 0) return EACCES;
    return 0;
}

int StatusCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 255;
}

enum class HelperOutcome { Succeeded, Failed, StartFailed };

// Runs a desktop helper; exitCode is set when it ended with a failure in time.
HelperOutcome RunHelper(const std::string& program, const std::vector<std::string>& arguments, int& exitCode) {
    std::optional<ProcessId> process = StartProgram(program, arguments);
    if (!process) return HelperOutcome::StartFailed;
    const auto deadline = std::chrono::steady_clock::now() + kHelperGrace;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(*process, &status, WNOHANG);
        if (done == *process) {
            exitCode = StatusCode(status);
            if (exitCode == 0) return HelperOutcome::Succeeded;
            SetLastError(EIO);
            return HelperOutcome::Failed;
        }
        if (done < 0 && errno != EINTR) {
            SetLastError(errno);
            return HelperOutcome::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ReleaseProcess(*process);
            return HelperOutcome::Succeeded;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

std::optional<std::string> FindProgram(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) return Failed(EINVAL);
    if (name.find('/') != std::string::npos) {
        int code = CheckExecutable(name);
        if (code == 0) return name;
        return Failed(code);
    }
    const char* path = ::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    int found = ENOENT;
    size_t pos = 0;
    while (pos <= directories.size()) {
        size_t next = directories.find(':', pos);
        if (next == std::string::npos) next = directories.size();
        std::string directory = directories.substr(pos, next - pos);
        pos = next + 1;
        // Relative entries would make the program depend on the current directory.
        if (directory.empty() || directory[0] != '/') continue;
        std::string candidate = detail::WithTrailingSeparator(directory) + name;
        int code = CheckExecutable(candidate);
        if (code == 0) return candidate;
        // A directory we may not search hides nothing we could run.
        struct stat st;
        if (code == EACCES && ::stat(candidate.c_str(), &st) == 0) found = EACCES;
    }
    return Failed(found);
}

std::optional<ProcessId> StartProgram(const std::string& program, const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        if (argument.find('\0') != std::string::npos) {
            SetLastError(EINVAL);
            return std::nullopt;
        }
    std::optional<std::string> path = FindProgram(program);
    if (!path) return std::nullopt;

    std::vector<std::string> strings;
    strings.reserve(arguments.size() + 1);
    strings.push_back(program);
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    int rc = ::posix_spawnattr_init(&attributes);
    if (rc != 0) {
        SetLastError(rc);
        return std::nullopt;
    }
    // Ignored or blocked signals would otherwise carry over into the new program.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    rc = ::posix_spawn(&pid, path->c_str(), nullptr, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        SetLastError(rc);
        return std::nullopt;
    }
    return pid;
}

std::optional<int> WaitForExit(ProcessId process) {
    int status = 0;
    for (;;) {
        if (::waitpid(process, &status, 0) == process) return StatusCode(status);
        if (errno != EINTR) {
            SetLastError(errno);
            return std::nullopt;
        }
    }
}

void ReleaseProcess(ProcessId process) {
    try {
        std::thread([process] {
            int status;
            while (::waitpid(process, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // Without a thread the process stays a zombie until we exit; nothing worse.
    }
}

std::optional<int> RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::optional<ProcessId> process = StartProgram(program, arguments);
    if (!process) return std::nullopt;
    return WaitForExit(*process);
}

bool OpenUrl(const std::string& url) {
    if (url.empty() || url[0] == '-') return detail::Fail(EINVAL);
    int exitCode = 0;
    return RunHelper("xdg-open", {url}, exitCode) == HelperOutcome::Succeeded;
}

MailResult ComposeMail(const std::string& address, const std::string& subject, const std::string& body) {
    if (address.empty() || address[0] == '-') {
        SetLastError(EINVAL);
        return MailResult::Failed;
    }
    if (!FindProgram("xdg-email")) return MailResult::NotAvailable;
    int exitCode = 0;
    switch (RunHelper("xdg-email", {"--subject", subject, "--body", body, address}, exitCode)) {
        case HelperOutcome::Succeeded: return MailResult::Started;
        // Exit status 3: xdg-email found no mail program to hand the message to.
        case HelperOutcome::Failed: return exitCode == 3 ? MailResult::NotAvailable : MailResult::Failed;
        case HelperOutcome::StartFailed: break;
    }
    return MailResult::Failed;
}

} // namespace kxplatform
