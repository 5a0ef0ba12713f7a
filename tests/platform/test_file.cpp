#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kxplatform_error.h"
#include "kxplatform_file.h"
#include "platform/platform_fixture.h"

using namespace kxplatform;
using kxtest::ModeOf;
using kxtest::ReadFile;
using kxtest::TempDir;
using kxtest::WriteFile;

namespace {

OpenFlags Flags(Access access, Disposition disposition = Disposition::OpenExisting, bool append = false) {
    OpenFlags flags;
    flags.access = access;
    flags.disposition = disposition;
    flags.append = append;
    return flags;
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return s;
}

TEST(FileOpen, FailuresKeepTheSystemsErrorCode) {
    TempDir dir;
    WriteFile(dir / "data.txd", "keep me");
    std::filesystem::create_directory(dir / "sub");
    const struct {
        std::string path;
        OpenFlags flags;
        int error;
    } cases[] = {
        {dir / "missing.txd", Flags(Access::Read), ENOENT},
        {dir / "missing.txd", Flags(Access::ReadWrite, Disposition::TruncateExisting), ENOENT},
        {dir / "nodir/x.txd", Flags(Access::ReadWrite, Disposition::OpenOrCreate), ENOENT},
        {dir / "data.txd/x", Flags(Access::Read), ENOTDIR},
        {dir / "data.txd", Flags(Access::ReadWrite, Disposition::CreateNew), EEXIST},
        {dir / "sub", Flags(Access::Read), EISDIR},
        {dir / "sub", Flags(Access::ReadWrite), EISDIR},
        {dir / "data.txd", Flags(Access::Read, Disposition::CreateOrTruncate), EINVAL},
        {dir / "data.txd", Flags(Access::Read, Disposition::OpenExisting, true), EINVAL},
        {std::string(dir / "data.txd") + std::string("\0.bak", 5), Flags(Access::Read), EINVAL},
        {"", Flags(Access::Read), ENOENT},
    };
    for (const auto& c : cases) {
        File file;
        SetLastError(0);
        EXPECT_FALSE(file.Open(c.path, c.flags)) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path << ": " << ErrorText(GetLastError());
        EXPECT_FALSE(file.IsOpen());
    }
    // The refused truncating open must not have emptied the file.
    EXPECT_EQ(ReadFile(dir / "data.txd"), "keep me");
}

TEST(FileOpen, PermissionDeniedIsEacces) {
    if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not bind a privileged user";
    TempDir dir;
    WriteFile(dir / "locked.txd", "x", 0000);
    File file;
    EXPECT_FALSE(file.Open(dir / "locked.txd", Flags(Access::Read)));
    EXPECT_EQ(GetLastError(), EACCES);
}

TEST(FileOpen, TooManyOpenFilesIsEmfile) {
    TempDir dir;
    WriteFile(dir / "data.txd", "x");
    // In a child, so the lowered limit cannot disturb anything else.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = 0;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        File file;
        bool opened = file.Open(dir / "data.txd", Flags(Access::Read));
        ::_exit(!opened && GetLastError() == EMFILE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FileOpen, DispositionsCreateKeepOrEmpty) {
    TempDir dir;
    const std::string path = dir / "f.txd";
    const struct {
        Disposition disposition;
        bool existsBefore;
        bool opens;
        const char* after;
    } cases[] = {
        {Disposition::OpenExisting, true, true, "old"},
        {Disposition::OpenOrCreate, true, true, "old"},
        {Disposition::OpenOrCreate, false, true, ""},
        {Disposition::CreateOrTruncate, true, true, ""},
        {Disposition::CreateOrTruncate, false, true, ""},
        {Disposition::CreateNew, false, true, ""},
        {Disposition::TruncateExisting, true, true, ""},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.existsBefore) WriteFile(path, "old");
        File file;
        EXPECT_EQ(file.Open(path, Flags(Access::ReadWrite, c.disposition)), c.opens);
        file.Close();
        EXPECT_EQ(ReadFile(path), c.after) << static_cast<int>(c.disposition);
    }
}

TEST(FileOpen, CreatedFilesGetTheRequestedPermissionsUnderTheUmask) {
    TempDir dir;
    mode_t old = ::umask(022);
    OpenFlags flags = Flags(Access::ReadWrite, Disposition::CreateNew);
    File file;
    ASSERT_TRUE(file.Open(dir / "rw", flags));
    flags.createMode = 0444;
    File readOnly;
    ASSERT_TRUE(readOnly.Open(dir / "ro", flags));
    ::umask(old);
    EXPECT_EQ(ModeOf(dir / "rw"), 0644u);
    EXPECT_EQ(ModeOf(dir / "ro"), 0444u);
    // The descriptor keeps its write access although the new file is read-only.
    EXPECT_EQ(readOnly.WriteAt(0, "ok", 2), 2);
}

TEST(FileIo, PositionedReadsAndWritesLeaveThePositionAlone) {
    TempDir dir;
    File file;
    ASSERT_TRUE(file.Open(dir / "f", Flags(Access::ReadWrite, Disposition::CreateNew)));
    EXPECT_EQ(file.WriteAt(0, "hello", 5), 5);
    EXPECT_EQ(file.WriteAt(10, "world", 5), 5);
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_EQ(file.Size(), 15);

    char buffer[32] = {};
    EXPECT_EQ(file.ReadAt(3, buffer, 9), 9);
    EXPECT_EQ(std::string(buffer, 9), std::string("lo\0\0\0\0\0wo", 9));
    EXPECT_EQ(file.ReadAt(12, buffer, sizeof buffer), 3);  // short only at the end
    EXPECT_EQ(std::string(buffer, 3), "rld");
    EXPECT_EQ(file.ReadAt(15, buffer, 4), 0);
    EXPECT_EQ(file.ReadAt(1000, buffer, 4), 0);
    EXPECT_EQ(file.Tell(), 0);

    EXPECT_EQ(file.Read(buffer, 2), 2);
    EXPECT_EQ(file.Tell(), 2);
    EXPECT_EQ(file.Write("LL", 2), 2);
    EXPECT_EQ(file.Seek(-5, Whence::End), 10);
    EXPECT_EQ(file.Read(buffer, 100), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Seek(1, Whence::Current), 16);
    EXPECT_EQ(file.Seek(-20, Whence::Current), -1);
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_EQ(file.ReadAt(-1, buffer, 1), -1);
    EXPECT_EQ(GetLastError(), EINVAL);

    ASSERT_TRUE(file.Truncate(4));
    EXPECT_EQ(file.Size(), 4);
    ASSERT_TRUE(file.Truncate(6));
    EXPECT_EQ(file.ReadAt(0, buffer, 10), 6);
    EXPECT_EQ(std::string(buffer, 6), std::string("heLL\0\0", 6));
    EXPECT_TRUE(file.Sync());
}

TEST(FileIo, LargeTransfersArriveWhole) {
    TempDir dir;
    const std::string data = Pattern(3 * 1024 * 1024 + 17);
    File file;
    ASSERT_TRUE(file.Open(dir / "big", Flags(Access::ReadWrite, Disposition::CreateNew)));
    ASSERT_EQ(file.WriteAt(5, data.data(), data.size()), static_cast<int64_t>(data.size()));
    std::string back(data.size(), '\0');
    ASSERT_EQ(file.ReadAt(5, back.data(), back.size()), static_cast<int64_t>(data.size()));
    EXPECT_TRUE(back == data);
}

TEST(FileIo, AccessModeIsEnforced) {
    TempDir dir;
    WriteFile(dir / "f", "abc");
    char c;
    File reader;
    ASSERT_TRUE(reader.Open(dir / "f", Flags(Access::Read)));
    EXPECT_TRUE(reader.CanRead());
    EXPECT_FALSE(reader.CanWrite());
    EXPECT_EQ(reader.WriteAt(0, "x", 1), -1);
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_FALSE(reader.Truncate(0));
    File writer;
    ASSERT_TRUE(writer.Open(dir / "f", Flags(Access::Write)));
    EXPECT_EQ(writer.ReadAt(0, &c, 1), -1);
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_EQ(ReadFile(dir / "f"), "abc");
}

TEST(FileIo, AppendWritesAlwaysGoToTheEnd) {
    TempDir dir;
    WriteFile(dir / "log", "12345");
    File file;
    ASSERT_TRUE(file.Open(dir / "log", Flags(Access::ReadWrite, Disposition::OpenExisting, true)));
    EXPECT_EQ(file.Seek(0, Whence::Begin), 0);
    EXPECT_EQ(file.Write("ab", 2), 2);
    EXPECT_EQ(file.WriteAt(1, "cd", 2), 2);
    file.Close();
    EXPECT_EQ(ReadFile(dir / "log"), "12345abcd");
}

TEST(FileIo, ClosedAndMovedFiles) {
    TempDir dir;
    WriteFile(dir / "f", "abc");
    File a;
    char c;
    EXPECT_TRUE(a.Close());
    EXPECT_EQ(a.ReadAt(0, &c, 1), -1);
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_EQ(a.Size(), -1);
    ASSERT_TRUE(a.Open(dir / "f", Flags(Access::Read)));
    EXPECT_EQ(a.Path(), dir / "f");
    File b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(b.ReadAt(2, &c, 1), 1);
    EXPECT_EQ(c, 'c');
    File d;
    d = std::move(b);
    EXPECT_FALSE(b.IsOpen());
    EXPECT_EQ(d.Size(), 3);
    EXPECT_TRUE(d.Close());
    EXPECT_TRUE(d.Close());
}

TEST(FileNames, ExistenceOfFilesAndDirectories) {
    TempDir dir;
    WriteFile(dir / "f", "");
    std::filesystem::create_directory(dir / "d");
    std::filesystem::create_symlink(dir / "f", dir / "link");
    std::filesystem::create_symlink(dir / "gone", dir / "dangling");
    const struct {
        std::string path;
        bool file;
        bool directory;
    } cases[] = {
        {dir / "f", true, false},       {dir / "d", false, true},
        {dir / "link", true, false},    {dir / "dangling", false, false},
        {dir / "missing", false, false}, {dir / "f/x", false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(c.path), c.file) << c.path;
        EXPECT_EQ(DirectoryExists(c.path), c.directory) << c.path;
    }
}

TEST(FileNames, ReadOnlyMeansNotWritableByTheUser) {
    TempDir dir;
    const struct {
        mode_t mode;
        bool readOnly;
    } cases[] = {{0644, false}, {0600, false}, {0444, true}, {0400, true}, {0000, true}};
    for (const auto& c : cases) {
        std::filesystem::remove(dir / "f");
        WriteFile(dir / "f", "x", c.mode);
        std::optional<bool> readOnly = IsReadOnly(dir / "f");
        ASSERT_TRUE(readOnly) << std::oct << c.mode;
        EXPECT_EQ(*readOnly, c.readOnly) << std::oct << c.mode;
    }
    EXPECT_FALSE(IsReadOnly(dir / "missing"));
    EXPECT_EQ(GetLastError(), ENOENT);

    WriteFile(dir / "g", "x", 0664);
    ASSERT_TRUE(SetReadOnly(dir / "g", true));
    EXPECT_EQ(ModeOf(dir / "g"), 0444u);
    EXPECT_EQ(IsReadOnly(dir / "g"), std::optional<bool>(true));
    ASSERT_TRUE(SetReadOnly(dir / "g", false));
    EXPECT_EQ(ModeOf(dir / "g"), 0644u);
    EXPECT_EQ(IsReadOnly(dir / "g"), std::optional<bool>(false));
    EXPECT_FALSE(SetReadOnly(dir / "missing", false));
    EXPECT_EQ(GetLastError(), ENOENT);
}

TEST(FileNames, DeleteAndDirectories) {
    TempDir dir;
    WriteFile(dir / "f", "x");
    EXPECT_TRUE(DeleteFile(dir / "f"));
    EXPECT_FALSE(FileExists(dir / "f"));
    EXPECT_FALSE(DeleteFile(dir / "f"));
    EXPECT_EQ(GetLastError(), ENOENT);

    EXPECT_TRUE(CreateDirectories(dir / "a//b/c/"));
    EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
    EXPECT_TRUE(CreateDirectories(dir / "a/b/c"));  // already there
    EXPECT_FALSE(CreateDirectory(dir / "a"));
    EXPECT_EQ(GetLastError(), EEXIST);
    WriteFile(dir / "plain", "x");
    EXPECT_FALSE(CreateDirectories(dir / "plain/sub"));
    EXPECT_EQ(GetLastError(), ENOTDIR);
    EXPECT_FALSE(RemoveDirectory(dir / "a/b"));
    EXPECT_EQ(GetLastError(), ENOTEMPTY);
    EXPECT_TRUE(RemoveDirectory(dir / "a/b/c"));
    EXPECT_FALSE(DirectoryExists(dir / "a/b/c"));
}

TEST(FileRename, ReplacesTheTargetOnOneFileSystem) {
    TempDir dir;
    WriteFile(dir / "new", "fresh");
    WriteFile(dir / "old", "stale and longer");
    ASSERT_TRUE(RenameFile(dir / "new", dir / "old"));
    EXPECT_EQ(ReadFile(dir / "old"), "fresh");
    EXPECT_FALSE(FileExists(dir / "new"));
    EXPECT_FALSE(RenameFile(dir / "new", dir / "old"));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_EQ(ReadFile(dir / "old"), "fresh");
}

// A directory on another file system than the fixture, or none.
std::optional<std::string> OtherFileSystem(const std::string& than) {
    struct stat here {};
    ::stat(than.c_str(), &here);
    for (const char* candidate : {"/dev/shm", "/run/user", "/var/tmp", "/tmp"}) {
        struct stat there {};
        if (::stat(candidate, &there) == 0 && S_ISDIR(there.st_mode) && there.st_dev != here.st_dev &&
            ::access(candidate, W_OK) == 0)
            return std::string(candidate);
    }
    return std::nullopt;
}

TEST(FileRename, CopiesThenDeletesAcrossFileSystems) {
    TempDir dir;
    std::optional<std::string> other = OtherFileSystem(dir.path());
    if (!other) GTEST_SKIP() << "no second file system to rename across";
    std::string far = *other + "/kxplatform-XXXXXX";
    ASSERT_NE(::mkdtemp(far.data()), nullptr);
    struct Cleanup {
        std::string path;
        ~Cleanup() { std::filesystem::remove_all(path); }
    } cleanup{far};

    const std::string data = Pattern(200001);
    WriteFile(dir / "src.txd", data, 0640);
    WriteFile(far + "/dst.txd", "an older, different file");
    ASSERT_TRUE(RenameFile(dir / "src.txd", far + "/dst.txd")) << LastErrorText();
    EXPECT_TRUE(ReadFile(far + "/dst.txd") == data);
    EXPECT_EQ(ModeOf(far + "/dst.txd"), 0640u);
    EXPECT_FALSE(FileExists(dir / "src.txd"));
    // No temporary copy is left beside the target.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(far)) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"dst.txd"});

    // Into a missing directory: nothing moves, nothing is lost.
    WriteFile(dir / "again", "still here");
    EXPECT_FALSE(RenameFile(dir / "again", far + "/missing/dst"));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_EQ(ReadFile(dir / "again"), "still here");
    // A directory is not copied.
    std::filesystem::create_directory(dir / "tree");
    EXPECT_FALSE(RenameFile(dir / "tree", far + "/tree"));
    EXPECT_EQ(GetLastError(), EXDEV);
    EXPECT_TRUE(DirectoryExists(dir / "tree"));
}

TEST(FileCopy, CopiesContentsAndPermissionsOverAnExistingFile) {
    TempDir dir;
    const std::string data = Pattern(200001);  // several copy buffers
    WriteFile(dir / "src", data, 0751);
    WriteFile(dir / "dst", Pattern(300000) + "longer than the source", 0600);
    ASSERT_TRUE(CopyFile(dir / "src", dir / "dst"));
    EXPECT_TRUE(ReadFile(dir / "dst") == data);
    EXPECT_EQ(ModeOf(dir / "dst"), 0751u);
    ASSERT_TRUE(CopyFile(dir / "src", dir / "fresh"));
    EXPECT_TRUE(ReadFile(dir / "fresh") == data);
    WriteFile(dir / "empty", "");
    ASSERT_TRUE(CopyFile(dir / "empty", dir / "dst"));
    EXPECT_EQ(ReadFile(dir / "dst"), "");
}

TEST(FileCopy, RefusesToCopyAFileOntoItself) {
    TempDir dir;
    WriteFile(dir / "src", "precious");
    std::filesystem::create_hard_link(dir / "src", dir / "alias");
    std::filesystem::create_symlink(dir / "src", dir / "link");
    for (const std::string& target : {dir / "src", dir / "alias", dir / "link", dir / "./src"}) {
        EXPECT_FALSE(CopyFile(dir / "src", target)) << target;
        EXPECT_EQ(GetLastError(), EINVAL);
        EXPECT_EQ(ReadFile(dir / "src"), "precious");
    }
}

TEST(FileCopy, FailsWithoutASourceFile) {
    TempDir dir;
    EXPECT_FALSE(CopyFile(dir / "missing", dir / "dst"));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(FileExists(dir / "dst"));
    std::filesystem::create_directory(dir / "d");
    EXPECT_FALSE(CopyFile(dir / "d", dir / "dst"));
    EXPECT_EQ(GetLastError(), EISDIR);
    EXPECT_FALSE(FileExists(dir / "dst"));
}

TEST(TempFiles, AreNewEmptyPrivateFilesWithThePrefix) {
    TempDir dir;
    std::optional<std::string> a = CreateTempFile(dir.path(), "kx");
    std::optional<std::string> b = CreateTempFile(dir.path() + "/", "kx");
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_NE(*a, *b);
    for (const std::string& name : {*a, *b}) {
        EXPECT_EQ(name.rfind(dir.path() + "/kx", 0), 0u) << name;
        EXPECT_EQ(name.size(), dir.path().size() + 1 + 2 + 6);
        EXPECT_TRUE(FileExists(name));
        EXPECT_EQ(ReadFile(name), "");
        EXPECT_EQ(ModeOf(name), 0600u);
    }
    std::optional<std::string> bare = CreateTempFile(dir.path(), "");
    ASSERT_TRUE(bare);
    EXPECT_TRUE(FileExists(*bare));
}

TEST(TempFiles, DefaultDirectoryIsTmpdirElseTmp) {
    TempDir dir;
    {
        kxtest::EnvGuard tmpdir("TMPDIR", dir.path());
        EXPECT_EQ(TempDirectory(), dir.path() + "/");
        std::optional<std::string> name = CreateTempFile("", "t");
        ASSERT_TRUE(name);
        EXPECT_EQ(name->rfind(dir.path() + "/t", 0), 0u);
    }
    {
        kxtest::EnvGuard tmpdir("TMPDIR", std::nullopt);
        EXPECT_EQ(TempDirectory(), "/tmp/");
    }
    {
        kxtest::EnvGuard tmpdir("TMPDIR", std::string());
        EXPECT_EQ(TempDirectory(), "/tmp/");
    }
}

TEST(TempFiles, FailuresAreReported) {
    TempDir dir;
    EXPECT_FALSE(CreateTempFile(dir / "missing", "kx"));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(CreateTempFile(dir.path(), "../kx"));
    EXPECT_EQ(GetLastError(), EINVAL);
}

} // namespace
