#include "kxplatform_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

#include "kxplatform_error.h"
#include "kxplatform_internal.h"

namespace kxplatform {

using detail::CheckPath;
using detail::Fail;

namespace {

// Larger single transfers are split; Linux moves at most about 2 GiB per call anyway.
constexpr size_t kMaxChunk = size_t{1} << 30;

int64_t FailedCount(int code) {
    SetLastError(code);
    return -1;
}

bool CloseDescriptor(int fd) {
    // On Linux the descriptor is gone even when close reports EINTR; retrying could close a
    // descriptor another thread has just been given.
    if (::close(fd) != 0 && errno != EINTR) return Fail(errno);
    return true;
}

// Copies everything from in (at its position) to out (at its position).
bool CopyContents(int in, int out) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        if (got == 0) return true;
        const char* p = buffer.data();
        size_t left = static_cast<size_t>(got);
        while (left > 0) {
            ssize_t put = ::write(out, p, left);
            if (put < 0) {
                if (errno == EINTR) continue;
                return Fail(errno);
            }
            if (put == 0) return Fail(EIO);
            p += put;
            left -= static_cast<size_t>(put);
        }
    }
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "./";
    return path.substr(0, slash + 1);
}

std::string BaseNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The cross-device half of RenameFile: copy beside the destination under a temporary name and
// move that into place, so the destination is never seen half-written.
bool MoveAcrossDevices(const std::string& oldPath, const std::string& newPath) {
    struct stat st;
    if (::lstat(oldPath.c_str(), &st) != 0) return Fail(errno);
    if (!S_ISREG(st.st_mode)) return Fail(EXDEV);
    int in = ::open(oldPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (in < 0) return Fail(errno);

    std::string temp = DirectoryOf(newPath) + "." + BaseNameOf(newPath) + ".XXXXXX";
    int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        int code = errno;
        ::close(in);
        return Fail(code);
    }
    bool ok = CopyContents(in, out);
    int code = ok ? 0 : GetLastError();
    if (ok && ::fchmod(out, st.st_mode & 07777) != 0) ok = false, code = errno;
    if (ok && ::fsync(out) != 0) ok = false, code = errno;
    ::close(in);
    if (!CloseDescriptor(out) && ok) ok = false, code = GetLastError();
    if (ok && ::rename(temp.c_str(), newPath.c_str()) != 0) ok = false, code = errno;
    if (!ok) {
        ::unlink(temp.c_str());
        return Fail(code);
    }
    if (::unlink(oldPath.c_str()) != 0) return Fail(errno);
    return true;
}

} // namespace

File::File() = default;

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      flags_(other.flags_),
      locks_(std::move(other.locks_)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        flags_ = other.flags_;
        locks_ = std::move(other.locks_);
    }
    return *this;
}

bool File::CanRead() const { return fd_ >= 0 && flags_.access != Access::Write; }

bool File::CanWrite() const { return fd_ >= 0 && flags_.access != Access::Read; }

bool File::Open(const std::string& path, const OpenFlags& flags) {
    Close();
    if (!CheckPath(path)) return false;

    int oflags = O_CLOEXEC | O_NOCTTY;
    switch (flags.access) {
        case Access::Read: oflags |= O_RDONLY; break;
        case Access::Write: oflags |= O_WRONLY; break;
        case Access::ReadWrite: oflags |= O_RDWR; break;
    }
    switch (flags.disposition) {
        case Disposition::OpenExisting: break;
        case Disposition::OpenOrCreate: oflags |= O_CREAT; break;
        case Disposition::CreateOrTruncate: oflags |= O_CREAT | O_TRUNC; break;
        case Disposition::CreateNew: oflags |= O_CREAT | O_EXCL; break;
        case Disposition::TruncateExisting: oflags |= O_TRUNC; break;
    }
    const bool writable = flags.access != Access::Read;
    // O_TRUNC on a read-only descriptor is undefined; refuse rather than empty a file by accident.
    if ((oflags & O_TRUNC) && !writable) return Fail(EINVAL);
    if (flags.append) {
        if (!writable) return Fail(EINVAL);
        oflags |= O_APPEND;
    }

    int fd;
    do {
        fd = ::open(path.c_str(), oflags, static_cast<mode_t>(flags.createMode & 07777));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Fail(errno);

    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int code = errno;
        ::close(fd);
        return Fail(code);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Fail(EISDIR);
    }
    fd_ = fd;
    path_ = path;
    flags_ = flags;
    return true;
}

bool File::Close() {
    if (fd_ < 0) return true;
    locks_.reset();
    int fd = std::exchange(fd_, -1);
    path_.clear();
    return CloseDescriptor(fd);
}

int64_t File::ReadAt(int64_t offset, void* buffer, size_t count) {
    if (fd_ < 0) return FailedCount(EBADF);
    if (offset < 0) return FailedCount(EINVAL);
    char* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        size_t chunk = std::min(count - done, kMaxChunk);
        ssize_t got = ::pread(fd_, p + done, chunk, static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) continue;
            return FailedCount(errno);
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

int64_t File::WriteAt(int64_t offset, const void* buffer, size_t count) {
    if (fd_ < 0) return FailedCount(EBADF);
    if (offset < 0) return FailedCount(EINVAL);
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        size_t chunk = std::min(count - done, kMaxChunk);
        ssize_t put = ::pwrite(fd_, p + done, chunk, static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (put < 0) {
            if (errno == EINTR) continue;
            return FailedCount(errno);
        }
        if (put == 0) return FailedCount(EIO);
        done += static_cast<size_t>(put);
    }
    return static_cast<int64_t>(done);
}

int64_t File::Read(void* buffer, size_t count) {
    if (fd_ < 0) return FailedCount(EBADF);
    char* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t got = ::read(fd_, p + done, std::min(count - done, kMaxChunk));
        if (got < 0) {
            if (errno == EINTR) continue;
            return FailedCount(errno);
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

int64_t File::Write(const void* buffer, size_t count) {
    if (fd_ < 0) return FailedCount(EBADF);
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t put = ::write(fd_, p + done, std::min(count - done, kMaxChunk));
        if (put < 0) {
            if (errno == EINTR) continue;
            return FailedCount(errno);
        }
        if (put == 0) return FailedCount(EIO);
        done += static_cast<size_t>(put);
    }
    return static_cast<int64_t>(done);
}

int64_t File::Seek(int64_t offset, Whence whence) {
    if (fd_ < 0) return FailedCount(EBADF);
    int how = whence == Whence::Begin ? SEEK_SET : whence == Whence::Current ? SEEK_CUR : SEEK_END;
    off_t result = ::lseek(fd_, static_cast<off_t>(offset), how);
    if (result < 0) return FailedCount(errno);
    return static_cast<int64_t>(result);
}

int64_t File::Tell() { return Seek(0, Whence::Current); }

int64_t File::Size() {
    if (fd_ < 0) return FailedCount(EBADF);
    struct stat st;
    if (::fstat(fd_, &st) != 0) return FailedCount(errno);
    return static_cast<int64_t>(st.st_size);
}

bool File::Truncate(int64_t newSize) {
    if (fd_ < 0) return Fail(EBADF);
    if (newSize < 0) return Fail(EINVAL);
    int rc;
    do {
        rc = ::ftruncate(fd_, static_cast<off_t>(newSize));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return Fail(errno);
    return true;
}

bool File::Sync() {
    if (fd_ < 0) return Fail(EBADF);
    if (::fsync(fd_) != 0) return Fail(errno);
    return true;
}

bool FileExists(const std::string& path) {
    if (!CheckPath(path)) return false;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Fail(errno);
    if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
    return true;
}

bool DirectoryExists(const std::string& path) {
    if (!CheckPath(path)) return false;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Fail(errno);
    if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
    return true;
}

std::optional<bool> IsReadOnly(const std::string& path) {
    if (!CheckPath(path)) return std::nullopt;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        Fail(errno);
        return std::nullopt;
    }
    // A privileged user passes the access test for any file; the permission bits still say
    // whether the file is meant to be written.
    if ((st.st_mode & 0222) == 0) return true;
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) return false;
    if (errno == EACCES || errno == EROFS || errno == ETXTBSY) return true;
    Fail(errno);
    return std::nullopt;
}

bool SetReadOnly(const std::string& path, bool readOnly) {
    if (!CheckPath(path)) return false;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Fail(errno);
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
    if (::chmod(path.c_str(), mode) != 0) return Fail(errno);
    return true;
}

bool DeleteFile(const std::string& path) {
    if (!CheckPath(path)) return false;
    if (::unlink(path.c_str()) != 0) return Fail(errno);
    return true;
}

bool RenameFile(const std::string& oldPath, const std::string& newPath) {
    if (!CheckPath(oldPath) || !CheckPath(newPath)) return false;
    if (::rename(oldPath.c_str(), newPath.c_str()) == 0) return true;
    if (errno != EXDEV) return Fail(errno);
    return MoveAcrossDevices(oldPath, newPath);
}

bool CopyFile(const std::string& source, const std::string& destination) {
    if (!CheckPath(source) || !CheckPath(destination)) return false;
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (in < 0) return Fail(errno);
    struct stat from;
    int code = 0;
    if (::fstat(in, &from) != 0) code = errno;
    else if (S_ISDIR(from.st_mode)) code = EISDIR;
    else if (!S_ISREG(from.st_mode)) code = EINVAL;
    if (code != 0) {
        ::close(in);
        return Fail(code);
    }
    // Opened without O_TRUNC first: if it is the source itself, emptying it would lose the data.
    int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, from.st_mode & 0777);
    if (out < 0) {
        code = errno;
        ::close(in);
        return Fail(code);
    }
    struct stat to;
    if (::fstat(out, &to) != 0) {
        code = errno;
    } else if (to.st_dev == from.st_dev && to.st_ino == from.st_ino) {
        code = EINVAL;
    } else if (::ftruncate(out, 0) != 0) {
        code = errno;
    } else if (!CopyContents(in, out)) {
        code = GetLastError();
    } else if (::fchmod(out, from.st_mode & 0777) != 0) {
        code = errno;
    }
    ::close(in);
    if (!CloseDescriptor(out) && code == 0) code = GetLastError();
    if (code != 0) return Fail(code);
    return true;
}

bool CreateDirectory(const std::string& path, unsigned mode) {
    if (!CheckPath(path)) return false;
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode & 07777)) != 0) return Fail(errno);
    return true;
}

bool CreateDirectories(const std::string& path, unsigned mode) {
    if (!CheckPath(path)) return false;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        std::string prefix = path.substr(0, pos);
        if (prefix.empty() || prefix.back() == '/') continue;
        if (::mkdir(prefix.c_str(), static_cast<mode_t>(mode & 07777)) != 0 && errno != EEXIST)
            return Fail(errno);
    }
    return DirectoryExists(path);
}

bool RemoveDirectory(const std::string& path) {
    if (!CheckPath(path)) return false;
    if (::rmdir(path.c_str()) != 0) return Fail(errno);
    return true;
}

std::string TempDirectory() {
    const char* dir = ::getenv("TMPDIR");
    if (dir != nullptr && *dir != '\0') return detail::WithTrailingSeparator(dir);
    return "/tmp/";
}

std::optional<std::string> CreateTempFile(const std::string& directory, const std::string& prefix) {
    if (prefix.find('/') != std::string::npos || prefix.find('\0') != std::string::npos) {
        Fail(EINVAL);
        return std::nullopt;
    }
    std::string dir = directory.empty() ? TempDirectory() : detail::WithTrailingSeparator(directory);
    if (!CheckPath(dir)) return std::nullopt;
    std::string name = dir + prefix + "XXXXXX";
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        Fail(errno);
        return std::nullopt;
    }
    if (!CloseDescriptor(fd)) {
        ::unlink(name.c_str());
        return std::nullopt;
    }
    return name;
}

} // namespace kxplatform
