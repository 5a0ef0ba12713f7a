// Files: an open file object with positioned I/O, and the file-system operations on names.
//
// Every call that fails returns false, -1 or an empty optional and leaves the system's error
// code in GetLastError (kxplatform_error.h). Paths are byte strings; a path with an embedded NUL
// is refused with EINVAL rather than silently cut short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kxplatform {

enum class Access {
    Read,
    Write,      // write only
    ReadWrite,
};

// What to do about the file's existence when opening.
enum class Disposition {
    OpenExisting,      // fail with ENOENT when missing
    OpenOrCreate,      // create when missing, keep the contents otherwise
    CreateOrTruncate,  // create when missing, empty it otherwise
    CreateNew,         // fail with EEXIST when it exists
    TruncateExisting,  // fail with ENOENT when missing, empty it otherwise
};

// There is no sharing mode: POSIX has none, and every file is opened so that other processes
// may open, read and write it at the same time; they coordinate through region locks only.
struct OpenFlags {
    Access access = Access::Read;
    Disposition disposition = Disposition::OpenExisting;
    // Every write goes to the end of the file, whatever offset it names (O_APPEND).
    bool append = false;
    // Permission bits of a newly created file, before the umask.
    unsigned createMode = 0666;
};

enum class Whence { Begin, Current, End };

struct LockState;

// An open file. Not copyable; moving transfers the descriptor and the locks held through it.
// Descriptors are close-on-exec, so started programs never inherit them (nor their locks).
class File {
public:
    File();
    ~File();  // closes, ignoring errors
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Closes any open file first. Truncating or appending needs write access (EINVAL otherwise);
    // a directory is refused with EISDIR. On failure the errno of the failing step is kept, so
    // callers can tell ENOENT, EACCES, EMFILE, EEXIST, ... apart.
    bool Open(const std::string& path, const OpenFlags& flags);
    // Releases every region lock of this object and closes. Closing a closed file succeeds.
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    const OpenFlags& Flags() const { return flags_; }
    bool CanRead() const;
    bool CanWrite() const;

    // Read up to count bytes at the offset without moving the file position; the result is less
    // than count only at the end of the file. -1 on error.
    int64_t ReadAt(int64_t offset, void* buffer, size_t count);
    // Write all count bytes at the offset without moving the file position; count or -1.
    int64_t WriteAt(int64_t offset, const void* buffer, size_t count);
    // The same at the file position, which they advance.
    int64_t Read(void* buffer, size_t count);
    int64_t Write(const void* buffer, size_t count);

    // Moves the file position; returns the new position or -1. Seeking beyond the end is allowed.
    int64_t Seek(int64_t offset, Whence whence);
    int64_t Tell();
    // The size as the file system reports it; -1 on error.
    int64_t Size();
    // Sets the end of the file at newSize (shortening or extending with zeros).
    bool Truncate(int64_t newSize);
    // Forces written data to the storage device.
    bool Sync();

private:
    friend struct LockAccess;
    int fd_ = -1;
    std::string path_;
    OpenFlags flags_;
    std::unique_ptr<LockState> locks_;  // created on the first region lock
};

// True when the path names an existing entry that is not a directory (symbolic links followed).
bool FileExists(const std::string& path);
// True when the path names an existing directory (symbolic links followed).
bool DirectoryExists(const std::string& path);

// Whether the file is read-only: the user cannot write it, or it carries no write permission for
// anybody (so that it counts as read-only for a privileged user too, as the attribute would).
// Empty when the file cannot be examined (missing: ENOENT).
std::optional<bool> IsReadOnly(const std::string& path);
// Read-only removes every write permission bit; clearing it gives the owner write permission.
bool SetReadOnly(const std::string& path, bool readOnly);

bool DeleteFile(const std::string& path);
// Moves oldPath to newPath, replacing newPath if it exists. Across file systems (EXDEV) a regular
// file is copied next to newPath under a temporary name, moved into place and then oldPath is
// deleted; if only that deletion fails, the result is false but newPath holds the complete copy.
bool RenameFile(const std::string& oldPath, const std::string& newPath);
// Copies the contents and permission bits of source over destination (created when missing).
// Copying a file onto itself is refused with EINVAL, since it would empty it.
bool CopyFile(const std::string& source, const std::string& destination);

bool CreateDirectory(const std::string& path, unsigned mode = 0777);
// Creates the directory and every missing parent; an existing directory is success.
bool CreateDirectories(const std::string& path, unsigned mode = 0777);
// Removes an empty directory.
bool RemoveDirectory(const std::string& path);

// $TMPDIR when set and not empty, else /tmp; always ends with '/'.
std::string TempDirectory();
// Creates a new empty file, mode 0600, named directory + prefix + six unique characters, and
// returns its name. An empty directory means TempDirectory(). The prefix may not contain '/'.
std::optional<std::string> CreateTempFile(const std::string& directory, const std::string& prefix);

} // namespace kxplatform
