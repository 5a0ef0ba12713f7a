#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "kxplatform_error.h"
#include "kxplatform_file.h"
#include "kxplatform_path.h"
#include "platform/platform_fixture.h"

using namespace kxplatform;

namespace {

struct PathCase {
    const char* input;
    const char* expected;
};

TEST(FullPath, CollapsesAbsolutePathsLexically) {
    const PathCase cases[] = {
        {"/a/b/c", "/a/b/c"},
        {"/a//b///c", "/a/b/c"},
        {"//a", "/a"},
        {"/a/./b/.", "/a/b"},
        {"/a/b/../c", "/a/c"},
        {"/a/b/../../..", "/"},
        {"/../../x", "/x"},
        {"/", "/"},
        {"/a/b/", "/a/b/"},
        {"/a/b//", "/a/b/"},
        {"/a/../", "/"},
        {"/a/.../b", "/a/.../b"},
        {"/a/..b/c.", "/a/..b/c."},
        {"/data\\sets/x", "/data\\sets/x"},
    };
    for (const PathCase& c : cases) {
        std::optional<std::string> full = FullPath(c.input);
        ASSERT_TRUE(full) << c.input;
        EXPECT_EQ(*full, c.expected) << c.input;
    }
}

TEST(FullPath, ResolvesRelativeNamesAgainstTheCurrentDirectory) {
    kxtest::TempDir dir;
    kxtest::CwdGuard cwd(dir.path());
    std::optional<std::string> current = CurrentDirectory();
    ASSERT_TRUE(current);
    ASSERT_EQ(current->back(), '/');
    const std::string here = *current;                            // ends with '/'
    const std::string bare = here.substr(0, here.size() - 1);     // without it
    const std::string parent = bare.substr(0, bare.find_last_of('/') + 1);

    const struct {
        std::string input;
        std::string expected;
    } cases[] = {
        {"missing.txd", here + "missing.txd"},
        {"./x/../y", here + "y"},
        {"sub//deeper/", here + "sub/deeper/"},
        {".", bare},
        {"..", parent.size() > 1 ? parent.substr(0, parent.size() - 1) : parent},
        {"../../../../../../../../../../../../..", "/"},
    };
    for (const auto& c : cases) {
        std::optional<std::string> full = FullPath(c.input);
        ASSERT_TRUE(full) << c.input;
        EXPECT_EQ(*full, c.expected) << c.input;
    }
    EXPECT_FALSE(FileExists(here + "missing.txd"));
}

TEST(FullPath, ResolvesAgainstAGivenBase) {
    EXPECT_EQ(FullPathFrom("/srv/data", "../help/x.htm").value_or("?"), "/srv/help/x.htm");
    EXPECT_EQ(FullPathFrom("/srv/data/", "Data/").value_or("?"), "/srv/data/Data/");
    EXPECT_EQ(FullPathFrom("/srv/data", "/abs/./f").value_or("?"), "/abs/f");
    EXPECT_FALSE(FullPathFrom("relative/base", "x"));
    EXPECT_EQ(GetLastError(), EINVAL);
}

TEST(FullPath, RefusesEmptyNamesAndEmbeddedNul) {
    for (const std::string& bad : {std::string(), std::string("/a\0b", 4), std::string("x\0", 2)}) {
        SetLastError(0);
        EXPECT_FALSE(FullPath(bad));
        EXPECT_EQ(GetLastError(), EINVAL);
    }
}

TEST(ExecutablePath, NamesThisTestProgramAndItsDirectory) {
    std::optional<std::string> exe = ExecutablePath();
    std::optional<std::string> dir = ExecutableDirectory();
    ASSERT_TRUE(exe);
    ASSERT_TRUE(dir);
    EXPECT_TRUE(IsAbsolutePath(*exe));
    EXPECT_EQ(*dir + "test_platform", *exe);
    EXPECT_TRUE(FileExists(*exe));
    EXPECT_TRUE(DirectoryExists(*dir));
}

} // namespace
