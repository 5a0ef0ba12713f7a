#include <gtest/gtest.h>

#include <string>

#include "foundation/kxcatch.h"
#include "kxfilename.h"
#include "platform/platform_fixture.h"

namespace {

struct Split {
    const char* path;
    const char* drive;
    const char* directory;
    const char* name;
    const char* extension;
};

void ExpectParts(const KxFileName& f, const Split& s) {
    EXPECT_STREQ(f.GetDrive(), s.drive) << s.path;
    EXPECT_STREQ(f.GetDirectory(), s.directory) << s.path;
    EXPECT_STREQ(f.GetFileName(), s.name) << s.path;
    EXPECT_STREQ(f.GetExtension(), s.extension) << s.path;
}

const KxFileNameRules& Win = KxFileNameRules::Windows();

} // namespace

TEST(KxFileName, WindowsFormsSplitIntoDriveDirectoryNameAndExtension) {
    const Split cases[] = {
        {"C:\\data\\drug.txd", "C:", "\\data\\", "drug", ".txd"},
        {"C:\\data.old\\readme", "C:", "\\data.old\\", "readme", ""},
        {"\\\\srv\\share\\dir\\f.ini", "\\\\srv\\share", "\\dir\\", "f", ".ini"},
        {"\\\\srv\\share\\f", "\\\\srv\\share", "\\", "f", ""},
        {"C:drug.txd", "C:", "", "drug", ".txd"},
        {"drug.txd", "", "", "drug", ".txd"},
        {"\\data\\sets\\", "", "\\data\\sets\\", "", ""},
        {"  D:\\a b\\c.d.e  ", "D:", "\\a b\\", "c.d", ".e"},
        {"C:\\x\\a.b|c", "C:", "\\x\\", "a.b|c", ""},
        {"", "", "", "", ""},
    };
    for (const Split& s : cases) {
        KxFileName f(s.path, Win);
        ExpectParts(f, s);
        std::string trimmed = s.path;
        trimmed.erase(0, trimmed.find_first_not_of(' '));
        trimmed.erase(trimmed.find_last_not_of(' ') + 1);
        EXPECT_EQ(f.GetFullPath(), trimmed);
    }
}

TEST(KxFileName, ChangingTheExtensionNamesTheCompanionFile) {
    KxFileName f("C:\\data\\drug.txd", Win);
    f.SetExtension(".kxs");
    EXPECT_STREQ(f.GetFullPath(), "C:\\data\\drug.kxs");
    EXPECT_STREQ(f.GetLocation(), "C:\\data\\");
    EXPECT_STREQ(f.GetNameWithExtension(), "drug.kxs");

    KxFileName native("/srv/tarvio/Data/DrugData.txd");
    native.SetExtension("kxb");
    EXPECT_STREQ(native.GetFullPath(), "/srv/tarvio/Data/DrugData.kxb");
}

TEST(KxFileName, SettersCompleteTheirPart) {
    KxFileName w(nullptr, Win);
    w.SetExtension("kxb");
    EXPECT_STREQ(w.GetExtension(), ".kxb");
    w.SetExtension(".kxs");
    EXPECT_STREQ(w.GetExtension(), ".kxs");
    w.SetDirectory("\\x");
    EXPECT_STREQ(w.GetDirectory(), "\\x\\");
    w.SetDirectory("\\y\\");
    EXPECT_STREQ(w.GetDirectory(), "\\y\\");
    w.SetDrive("D");
    EXPECT_STREQ(w.GetDrive(), "D:");
    w.SetDrive("E:");
    EXPECT_STREQ(w.GetDrive(), "E:");
    w.SetDrive("\\\\srv\\share");
    EXPECT_STREQ(w.GetDrive(), "\\\\srv\\share");
    w.SetFileName("f");
    EXPECT_STREQ(w.GetFullPath(), "\\\\srv\\share\\y\\f.kxs");
    w.SetExtension("");
    w.SetDirectory("");
    w.SetDrive("");
    EXPECT_STREQ(w.GetFullPath(), "f");

    KxFileName n;
    n.SetDirectory("/x");
    EXPECT_STREQ(n.GetDirectory(), "/x/");
}

TEST(KxFileName, InvalidUncNamesAreRefused) {
    for (const char* path : {"\\\\srv\\share", "\\\\\\share\\dir\\f.ini", "\\\\srv\\\\dir\\f.ini",
                             "\\\\srv"}) {
        SCOPED_TRACE(path);
        EXPECT_KX(CatchKx([&] { KxFileName f(path, Win); }), "Invalid UNC name", "KxFileName",
                  "Set() of KxFileName\r\nConstructor of KxFileName");
    }
    KxFileName f(nullptr, Win);
    EXPECT_KX(CatchKx([&] { f.SetLocation("\\\\srv\\"); }), "Invalid UNC name", "KxFileName",
              "SetLocation() of KxFileName");
}

TEST(KxFileName, NullTextsAreRefused) {
    KxFileName f;
    EXPECT_KX(CatchKx([&] { f.Set(nullptr); }), "Null pointer", "KxFileName", "Set() of KxFileName");
    EXPECT_KX(CatchKx([&] { f.SetLocation(nullptr); }), "Null pointer", "KxFileName",
              "SetLocation() of KxFileName");
    EXPECT_KX(CatchKx([&] { f.SetDrive(nullptr); }), "Null parameter", "KxFileName",
              "SetDrive() of KxFileName");
    EXPECT_KX(CatchKx([&] { f.SetDirectory(nullptr); }), "Null parameter", "KxFileName",
              "SetDirectory() of KxFileName");
    EXPECT_KX(CatchKx([&] { f.SetFileName(nullptr); }), "Null parameter", "KxFileName",
              "SetFileName() of KxFileName");
    EXPECT_KX(CatchKx([&] { f.SetExtension(nullptr); }), "Null parameter", "KxFileName",
              "SetExtension() of KxFileName");
}

TEST(KxFileName, NativeNamesHaveNoDriveAndAreAbsolute) {
    kxtest::TempDir dir;
    kxtest::CwdGuard cwd(dir.path());
    const std::string here = dir.path() + "/";
    const std::string cases[][5] = {
        {"/data/drug.txd", "", "/data/", "drug", ".txd"},
        {"/data.old/readme", "", "/data.old/", "readme", ""},
        {"//data/./sets/../drug.txd", "", "/data/", "drug", ".txd"},
        {"/", "", "/", "", ""},
        {"drug.txd", "", here, "drug", ".txd"},
        {"  sub/../Data/History.txt ", "", here + "Data/", "History", ".txt"},
        {"Data/", "", here + "Data/", "", ""},
        {"C:\\data\\drug.txd", "", here, "C:\\data\\drug", ".txd"},
        {"", "", "", "", ""},
    };
    for (const auto& c : cases) {
        KxFileName f(c[0].c_str());
        ExpectParts(f, {c[0].c_str(), c[1].c_str(), c[2].c_str(), c[3].c_str(), c[4].c_str()});
        EXPECT_EQ(f.GetFullPath(), c[2] + c[3] + c[4]);
    }
}

TEST(KxFileName, LocationIsSplitWithoutResolving) {
    KxFileName w("C:\\old\\f.ini", Win);
    w.SetLocation("  \\\\srv\\share\\new\\dir ");
    EXPECT_STREQ(w.GetDrive(), "\\\\srv\\share");
    EXPECT_STREQ(w.GetDirectory(), "\\new\\dir\\");
    EXPECT_STREQ(w.GetFullPath(), "\\\\srv\\share\\new\\dir\\f.ini");
    w.SetLocation("E:\\x");
    EXPECT_STREQ(w.GetLocation(), "E:\\x\\");

    KxFileName n("/old/f.ini");
    n.SetLocation(" /srv/data ");
    EXPECT_STREQ(n.GetFullPath(), "/srv/data/f.ini");
}

TEST(KxFileName, ConvertToAbsolutePathResolvesAgainstTheCurrentDirectory) {
    kxtest::TempDir dir;
    kxtest::CwdGuard cwd(dir.path());
    KxFileName f("/x/y.z");
    f.SetDirectory("rel/./sub/..");
    EXPECT_STREQ(f.GetFullPath(), "rel/./sub/../y.z");
    f.ConvertToAbsolutePath();
    EXPECT_EQ(std::string(f.GetFullPath()), dir.path() + "/rel/y.z");
    EXPECT_EQ(std::string(f.GetDirectory()), dir.path() + "/rel/");

    KxFileName empty;
    KxCaught c = CatchKx([&] { empty.ConvertToAbsolutePath(); });
    EXPECT_TRUE(c.thrown);
    EXPECT_EQ(c.message.rfind("Could not convert \"\" into an absolute name -- ", 0), 0u)
        << c.message;
    EXPECT_EQ(c.callpath, "ConvertToAbsolutePath() of KxFileName");
}

TEST(KxFileName, CopiesAreIndependentAndKeepTheirRules) {
    KxFileName a("\\\\srv\\share\\dir\\f.ini", Win);
    KxFileName b(a);
    a.SetExtension(".bak");
    EXPECT_STREQ(b.GetFullPath(), "\\\\srv\\share\\dir\\f.ini");
    b.SetDirectory("\\other");
    EXPECT_STREQ(b.GetDirectory(), "\\other\\");

    KxFileName c("/n/m.k");
    c = a;
    EXPECT_STREQ(c.GetFullPath(), "\\\\srv\\share\\dir\\f.bak");
    c.Set("C:\\q\\r.s");
    EXPECT_STREQ(c.GetDrive(), "C:");
    c = c;
    EXPECT_STREQ(c.GetFullPath(), "C:\\q\\r.s");
}

TEST(KxFileName, IllegalCharacters) {
    for (char ch : std::string("\"/:<>\\|")) EXPECT_TRUE(KxFileName::IsIllegalCharacter(ch)) << ch;
    for (char ch : std::string("aZ09._- ~*?\t")) EXPECT_FALSE(KxFileName::IsIllegalCharacter(ch)) << ch;
}
