#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "foundation/kxcatch.h"
#include "kxio.h"
#include "kxplatform_lock.h"
#include "platform/platform_fixture.h"

using kxtest::ReadFile;
using kxtest::WriteFile;

namespace {

constexpr uint32_t kReadWrite = kxIORead | kxIOWrite;

// Bytes that differ from their neighbours and repeat only every 251, so a shifted or stale
// block shows.
std::string Pattern(size_t n, unsigned seed = 0) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i + seed) % 251);
    return s;
}

std::string ReadAll(KxIOInterface& f, uint32_t n) {
    std::string s(n, '\0');
    s.resize(f.Read(s.data(), n, false));
    return s;
}

class KxIOTest : public ::testing::Test {
protected:
    void SetUp() override { kxplatform::SetLockDirectory(dir_ / "kxlocks"); }
    void TearDown() override { kxplatform::SetLockDirectory("/tmp/kxlocks"); }

    std::string Make(const std::string& name, const std::string& contents, mode_t mode = 0644) {
        std::string path = dir_ / name;
        WriteFile(path, contents, mode);
        return path;
    }

    kxtest::TempDir dir_;
};

} // namespace

// ---- opening ----

TEST_F(KxIOTest, OpenRefusesFlagsWithoutReadOrWrite) {
    std::string path = Make("a.txt", "abc");
    for (uint32_t flags : {0u, 0x300u, kxIOCreate | kxIOTruncate}) {
        KxIO f;
        EXPECT_KX(CatchKx([&] { f.Open(path.c_str(), flags); }), "Invalid file flags", "KxIO",
                  "Open of KxIO");
        EXPECT_FALSE(f.GetIsOpen());
    }
    EXPECT_KX(CatchKx([&] { KxIO f(path.c_str(), 0); }), "Invalid file flags", "KxIO",
              "Open of KxIO\r\nConstructor(char * sFile...) of KxIO");
    EXPECT_KX(CatchKx([&] { KxIO f(nullptr, kxIORead); }), "Null pointer to filename", "KxIO",
              "Open of KxIO\r\nConstructor(char * sFile...) of KxIO");
    EXPECT_EQ(ReadFile(path), "abc");
}

TEST_F(KxIOTest, OpenFailuresNameTheReason) {
    std::string missing = dir_ / "missing.txd";
    std::string present = Make("present.txd", "data");
    struct Case {
        std::string name;
        uint32_t flags;
        const char* reason;
    } cases[] = {
        {missing, kxIORead, "No such file or directory."},
        {dir_ / "no/such/dir/x.txd", kxIOOpenCopyTarget, "No such file or directory."},
        {present + "/x", kxIORead, "No such file or directory."},
        {dir_.path(), kxIORead, "Permission denied."},
        {present, kxIORead | kxIOTruncate, "Invalid access code."},
        {dir_ / std::string(5000, 'n'), kxIORead, "Unknown error."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 80));
        KxCaught caught = CatchKx<KxFileOpenFailedException>([&] {
            KxIO f(c.name.c_str(), c.flags);
        });
        EXPECT_KX(caught, "Error in opening file '" + c.name + "'.  " + c.reason, "KxIO",
                  "Open of KxIO\r\nConstructor(char * sFile...) of KxIO");
    }
    try {
        KxIO f(missing.c_str(), kxIORead);
    } catch (KxFileException& e) {
        EXPECT_STREQ(e.GetFileName(), missing.c_str());
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(ReadFile(present), "data");
}

TEST_F(KxIOTest, OpenFailureForAnUnreadableFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    std::string path = Make("locked.txd", "secret", 0);
    EXPECT_KX(CatchKx<KxFileOpenFailedException>([&] { KxIO f(path.c_str(), kxIORead); }),
              "Error in opening file '" + path + "'.  Permission denied.", "KxIO",
              "Open of KxIO\r\nConstructor(char * sFile...) of KxIO");
}

TEST_F(KxIOTest, OpenFailureWhenNoDescriptorIsLeft) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' runtime needs descriptors of its own to inspect memory; without any left
    // it reports errors that are not there.
    GTEST_SKIP() << "needs free descriptors under the sanitizers";
#endif
    std::string path = Make("a.txt", "x");
    int next = ::dup(0);
    ASSERT_GE(next, 0);
    ::close(next);
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    struct rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(next);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    KxCaught caught = CatchKx<KxFileOpenFailedException>([&] { KxIO f(path.c_str(), kxIORead); });
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_KX(caught, "Error in opening file '" + path + "'.  Too many open files.", "KxIO",
              "Open of KxIO\r\nConstructor(char * sFile...) of KxIO");
}

TEST_F(KxIOTest, CreateAndTruncateFlags) {
    std::string path = dir_ / "new.txd";
    {
        KxIO f(path.c_str(), kxIOOpenCopyTarget);
        f.Write("hello", 5);
    }
    EXPECT_EQ(ReadFile(path), "hello");
    {
        KxIO f(path.c_str(), kReadWrite);  // neither creating nor truncating keeps the contents
        EXPECT_EQ(ReadAll(f, 100), "hello");
    }
    KxIOInterface::Create(path.c_str());
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(kxtest::ModeOf(path) & 0200, 0200u);
}

TEST_F(KxIOTest, AppendWritesGoToTheEndWhereverThePositionIs) {
    std::string path = Make("h.txt", "abc");
    KxIO f(path.c_str(), kReadWrite | kxIOAppend);
    EXPECT_EQ(f.Tell64(), 3);
    f.Write("de", 2);
    f.Seek64Absolute(0);
    EXPECT_EQ(ReadAll(f, 2), "ab");
    f.Write("X", 1);
    EXPECT_EQ(f.Tell64(), 6);
    f.Close();
    EXPECT_EQ(ReadFile(path), "abcdeX");
}

// ---- reading and writing through the buffer ----

TEST_F(KxIOTest, ReadAtTheEndReturnsWhatIsThereOrRaisesWhenAllIsRequired) {
    std::string path = Make("a.txd", Pattern(100));
    KxIO f(path.c_str(), kxIOOpenReadShared);
    f.Seek64Absolute(90);
    char buffer[100];
    EXPECT_EQ(f.Read(buffer, 100, false), 10u);
    EXPECT_EQ(std::string(buffer, 10), Pattern(100).substr(90));
    EXPECT_EQ(f.Read(buffer, 0, true), 0u);
    EXPECT_TRUE(f.GetIsEOF());
    f.Seek64Absolute(90);
    EXPECT_KX(CatchKx([&] { f.Read(buffer, 100, true); }),
              "Unable to perform a required read at offset 100 of \"" + path + "\"", "KxIO",
              "Read of KxIO");
}

TEST_F(KxIOTest, WrittenBytesAreReadBackBeforeAndAfterClose) {
    std::string path = Make("e.txd", "ABCDEFGH");
    KxIO f(path.c_str(), kReadWrite);
    f.Write("12345", 5);
    EXPECT_EQ(ReadAll(f, 100), "FGH");
    f.Close();
    EXPECT_EQ(ReadFile(path), "12345FGH");
}

TEST_F(KxIOTest, WrongDirectionIsRefusedAndTheFileStaysWhole) {
    std::string path = Make("a.txd", "ABCDEFGH", 0444);
    KxIO r(path.c_str(), kxIOOpenReadShared);
    EXPECT_KX(CatchKx([&] { r.Write("x", 1); }), "Attempt to write to a read-only file", "KxIO",
              "Write() of KxIO");
    EXPECT_KX(CatchKx([&] { r.WriteTo(0, "x", 1); }), "Attempt to write to a read-only file",
              "KxIO", "WriteTo() of KxIO");
    EXPECT_KX(CatchKx([&] { r.Truncate64(2); }),
              "Attempt to truncate file \"" + path + "\" without write permission.", "KxIO",
              "Truncate64(nativeint) of KxIO");
    r.Close();
    EXPECT_EQ(ReadFile(path), "ABCDEFGH");

    std::string out = Make("b.txd", "ABCDEFGH");
    KxIO w(out.c_str(), kxIOOpenCopyTarget);
    char c;
    EXPECT_KX(CatchKx([&] { w.Read(&c, 1, false); }), "Attempt to read from a write-only file",
              "KxIO", "Read of KxIO");
    EXPECT_KX(CatchKx([&] { w.ReadFrom(0, &c, 1, false); }),
              "Attempt to read from a write-only file", "KxIO", "ReadFrom() of KxIO");
}

TEST_F(KxIOTest, AClosedFileRefusesWork) {
    KxIO f;
    char c;
    EXPECT_KX(CatchKx([&] { f.Read(&c, 1, false); }), "File is not open", "KxIO", "Read of KxIO");
    EXPECT_KX(CatchKx([&] { f.Write(&c, 1); }), "File is not open", "KxIO", "Write() of KxIO");
    EXPECT_KX(CatchKx([&] { f.Seek64Absolute(0); }), "File is not open", "KxIO",
              "Seek64Absolute(nativeint) of KxIO");
    f.Close();
    f.Flush();
    EXPECT_TRUE(f.GetIsEOF());
    EXPECT_STREQ(f.GetFileName(), "");
}

TEST_F(KxIOTest, SequentialReadsAndWritesAcrossManyRefills) {
    const std::string data = Pattern(100000, 7);
    std::string path = Make("big.txd", data);
    {
        KxIO f(path.c_str(), kxIOOpenReadShared);
        std::string got;
        char piece[777];
        uint32_t n;
        while ((n = f.Read(piece, sizeof piece, false)) > 0) got.append(piece, n);
        EXPECT_EQ(got, data);
        EXPECT_TRUE(f.GetIsEOF());
    }
    std::string out = dir_ / "out.txd";
    {
        KxIO f(out.c_str(), kxIOOpenCopyTarget);
        for (size_t at = 0; at < data.size(); at += 3001)
            f.Write(data.data() + at, static_cast<uint32_t>(std::min<size_t>(3001, data.size() - at)));
        // One write larger than the whole buffer.
        f.Write(data.data(), 20000);
    }
    EXPECT_EQ(ReadFile(out), data + data.substr(0, 20000));
}

TEST_F(KxIOTest, SeeksInsideTheWindowAndBeyondIt) {
    const std::string data = Pattern(50000);
    std::string path = Make("s.txd", data);
    KxIO f(path.c_str(), kxIOOpenReadShared);
    char c = 0;
    for (int64_t at : {int64_t{7999}, int64_t{0}, int64_t{8000}, int64_t{49999}, int64_t{123},
                       int64_t{30000}, int64_t{29999}}) {
        EXPECT_EQ(f.Seek64Absolute(at), at);
        ASSERT_EQ(f.Read(&c, 1, true), 1u);
        EXPECT_EQ(c, data[static_cast<size_t>(at)]) << at;
        EXPECT_EQ(f.Tell64(), at + 1);
    }
    EXPECT_EQ(f.Seek64FromCurrent(-5), 29995);
    EXPECT_EQ(f.Seek64FromCurrent(0), 29995);
    EXPECT_EQ(f.Seek64FromEnd(-10), 49990);
    EXPECT_EQ(ReadAll(f, 100), data.substr(49990));
    EXPECT_EQ(f.Seek64FromEnd(10), 50010);  // beyond the end: nothing to read
    EXPECT_EQ(f.Read(&c, 1, false), 0u);

    f.Seek64Absolute(2);
    EXPECT_KX(CatchKx([&] { f.Seek64FromCurrent(-5); }),
              "Cannot seek -5 bytes from current position, 2.", "KxIOInterface",
              "Seek64FromCurrent(nativeint) of KxIO");
    EXPECT_EQ(f.Tell64(), 2);
    KxCaught c1 = CatchKx([&] { f.Seek64Absolute(-1); });
    EXPECT_EQ(c1.message, "Unable to position file pointer of \"" + path + "\" to byte -1 -- " +
                              std::strerror(EINVAL));
    EXPECT_EQ(c1.callpath, "SysFileSeek(nativeint,int) of KxIO\r\nSeek64Absolute(nativeint) of KxIO");
    KxCaught c2 = CatchKx([&] { f.Seek64FromEnd(-50001); });
    EXPECT_EQ(c2.callpath, "SysFileSeek(nativeint,int) of KxIO\r\nSeek64FromEnd(nativeint) of KxIO");
    EXPECT_EQ(ReadAll(f, 3), data.substr(2, 3)) << "a refused seek leaves the position";
}

TEST_F(KxIOTest, WritingPastTheEndLeavesZerosInTheGap) {
    std::string path = Make("g.txd", "abc");
    {
        KxIO f(path.c_str(), kReadWrite);
        f.Write("Z", 1);                  // the buffer is not clean now
        f.Seek64Absolute(10);             // inside the buffer, past the data
        f.Write("end", 3);
        f.Seek64Absolute(1);
        EXPECT_EQ(ReadAll(f, 100), std::string("bc\0\0\0\0\0\0\0end", 12));
    }
    EXPECT_EQ(ReadFile(path), std::string("Zbc\0\0\0\0\0\0\0end", 13));
}

TEST_F(KxIOTest, ReadFromAndWriteToAroundTheBufferWindow) {
    std::string model = Pattern(40000, 3);
    std::string path = Make("w.txd", model);
    KxIO f(path.c_str(), kReadWrite);
    f.Seek64Absolute(20000);  // the window now covers 20000 ... 27999
    char c;
    f.Read(&c, 1, true);

    std::string got(20000, '\0');
    EXPECT_EQ(f.ReadFrom(15000, got.data(), 20000, true), 20000u);
    EXPECT_EQ(got, model.substr(15000, 20000));
    EXPECT_EQ(f.Tell64(), 20001);

    std::string fresh = Pattern(20000, 100);
    f.WriteTo(15000, fresh.data(), 20000);
    model.replace(15000, 20000, fresh);
    EXPECT_EQ(f.Tell64(), 20001);
    EXPECT_EQ(f.ReadFrom(0, got.data(), 20000, true), 20000u);
    EXPECT_EQ(got, model.substr(0, 20000));
    EXPECT_EQ(ReadAll(f, 10), model.substr(20001, 10));
    f.WriteTo(39995, "0123456789", 10);  // extends the file
    model.replace(39995, 5, "0123456789");

    EXPECT_EQ(f.ReadFrom(39990, got.data(), 100, false), 15u);
    EXPECT_KX(CatchKx([&] { f.ReadFrom(39990, got.data(), 100, true); }),
              "Unable to read 100 bytes from position 39990 of file \"" + path +
                  "\"; file length is 40005",
              "KxIO", "ReadFrom() of KxIO");
    f.Close();
    EXPECT_EQ(ReadFile(path), model);
}

TEST_F(KxIOTest, BufferedBehaviourMatchesAPlainModel) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 20; ++round) {
        std::string model = Pattern(random() % 30000, round);
        std::string path = Make("m" + std::to_string(round) + ".txd", model);
        KxIO f(path.c_str(), kReadWrite);
        int64_t position = 0;
        for (int step = 0; step < 300; ++step) {
            uint32_t n = random() % 12000;
            int64_t at = static_cast<int64_t>(random() % (model.size() + 9000));
            std::string bytes = Pattern(n, static_cast<unsigned>(step));
            std::string got(n, '\0');
            switch (random() % 8) {
                case 0:
                    f.Seek64Absolute(at);
                    position = at;
                    break;
                case 1: {
                    uint32_t r = f.Read(got.data(), n, false);
                    std::string expected =
                        position < static_cast<int64_t>(model.size())
                            ? model.substr(static_cast<size_t>(position), n) : "";
                    ASSERT_EQ(got.substr(0, r), expected) << round << "/" << step;
                    position += r;
                    break;
                }
                case 2:
                case 3:
                    f.Write(bytes.data(), n);
                    if (model.size() < static_cast<size_t>(position) + n)
                        model.resize(static_cast<size_t>(position) + n, '\0');
                    model.replace(static_cast<size_t>(position), n, bytes);
                    position += n;
                    break;
                case 4: {
                    uint32_t r = f.ReadFrom(at, got.data(), n, false);
                    std::string expected = at < static_cast<int64_t>(model.size())
                                               ? model.substr(static_cast<size_t>(at), n) : "";
                    ASSERT_EQ(got.substr(0, r), expected) << round << "/" << step;
                    break;
                }
                case 5:
                    f.WriteTo(at, bytes.data(), n);
                    if (model.size() < static_cast<size_t>(at) + n)
                        model.resize(static_cast<size_t>(at) + n, '\0');
                    model.replace(static_cast<size_t>(at), n, bytes);
                    break;
                case 6:
                    f.SetBufferSize(static_cast<int32_t>(8000 + random() % 20000));
                    break;
                case 7:
                    f.Flush();
                    break;
            }
            ASSERT_EQ(f.Tell64(), position) << round << "/" << step;
        }
        f.Close();
        ASSERT_EQ(ReadFile(path), model) << round;
    }
}

TEST_F(KxIOTest, BufferSizeIsClampedAndChangingItKeepsData) {
    struct {
        int32_t asked, given;
    } sizes[] = {{100, 8000},         {-5, 8000},          {5000000, 1024000},
                 {131072, 131072},    {1024000, 1024000},  {8000, 8000}};
    for (auto s : sizes) {
        KxIO f;
        f.SetBufferSize(s.asked);
        EXPECT_EQ(f.GetBufferSize(), s.given) << s.asked;
    }

    std::string data = Pattern(300000);
    std::string path = Make("b.txd", data);
    KxIO f(path.c_str(), kReadWrite);
    f.Seek64Absolute(5000);
    f.Write("NEW", 3);  // not yet written out
    f.SetBufferSize(131072);
    EXPECT_EQ(f.Tell64(), 5003);
    EXPECT_EQ(ReadAll(f, 200000), data.substr(5003, 200000));
    f.Seek64Absolute(4999);
    f.SetBufferSize(8000);
    EXPECT_EQ(f.Tell64(), 4999);
    EXPECT_EQ(ReadAll(f, 5), data.substr(4999, 1) + "NEW" + data.substr(5003, 1));
    f.Close();
    data.replace(5000, 3, "NEW");
    EXPECT_EQ(ReadFile(path), data);
}

TEST_F(KxIOTest, Truncate64CutsFromTheEnd) {
    struct {
        int64_t count;
        const char* left;
    } cases[] = {{3, "0123456"}, {0, ""}, {10, ""}, {1, "012345678"}};
    for (auto c : cases) {
        std::string path = Make("t.txd", "0123456789");
        KxIO f(path.c_str(), kReadWrite);
        f.Seek64Absolute(8);
        f.Truncate64(c.count);
        EXPECT_EQ(f.Tell64(), 0);
        EXPECT_EQ(ReadAll(f, 100), c.left);
        f.Close();
        EXPECT_EQ(ReadFile(path), c.left) << c.count;
    }
}

TEST_F(KxIOTest, Truncate64CountsBufferedBytes) {
    std::string path = dir_ / "t.txd";
    KxIO f(path.c_str(), kxIOOpenTemporary);
    f.Write("0123456789", 10);
    f.Seek64Absolute(0);
    EXPECT_FALSE(f.GetIsEOF()) << "buffered bytes are still to be read";
    f.Truncate64(3);
    f.Close();
    EXPECT_EQ(ReadFile(path), "0123456");
}

TEST_F(KxIOTest, Truncate64RefusesImpossibleCounts) {
    std::string path = Make("t.txd", "0123456789");
    KxIO f(path.c_str(), kReadWrite);
    EXPECT_KX(CatchKx([&] { f.Truncate64(11); }),
              "Attempt to truncate 11 bytes from a file which is 10 bytes long", "KxIO",
              "Truncate64(nativeint) of KxIO");
    EXPECT_KX(CatchKx([&] { f.Truncate64(-1); }),
              "Cannot truncate -1 bytes from file, " + path + ".", "KxIO",
              "Truncate64(nativeint) of KxIO");
    EXPECT_KX(CatchKx([&] { f.Truncate(-1); }),
              "Cannot truncate -1 bytes from file, " + path + ".", "KxIO",
              "Truncate64(nativeint) of KxIO\r\nTruncate() of KxIOInterface");
    f.Close();
    EXPECT_EQ(ReadFile(path), "0123456789");
}

TEST_F(KxIOTest, AFailedBufferWriteKeepsTheDataPending) {
    KxIO f("/dev/full", kReadWrite);
    f.Write("lost?", 5);
    std::string expected = "Unable to write " + std::to_string(f.GetBufferSize()) +
                           " bytes at offset 0 of file \"/dev/full\"";
    EXPECT_KX(CatchKx([&] { f.Flush(); }), expected, "KxIO", "Flush() of KxIO");
    EXPECT_KX(CatchKx([&] { f.Flush(); }), expected, "KxIO", "Flush() of KxIO");
    EXPECT_KX(CatchKx([&] { f.Close(); }), expected, "KxIO", "Close() of KxIO");
    EXPECT_TRUE(f.GetIsOpen()) << "a close that could not write keeps the file open";
}

TEST_F(KxIOTest, ThirtyTwoBitForms) {
    std::string path = Make("big.txd", "");
    std::filesystem::resize_file(path, 3000000000);  // sparse
    KxIO f(path.c_str(), kReadWrite);
    EXPECT_EQ(f.Seek(10, 0), 10);
    EXPECT_EQ(f.Seek(5, 1), 15);
    EXPECT_EQ(f.Tell(), 15);
    EXPECT_KX(CatchKx([&] { f.Seek(0, 3); }), "Invalid value for 'iWhence': 3", "KxIO",
              "Seek(long,int) of KxIOInterface");
    EXPECT_KX(CatchKx([&] { f.GetFileSize(); }),
              "File size, 3000000000, is not representable in 32 bits (signed long).", "KxIO",
              "GetFileSize() of KxIOInterface");
    EXPECT_KX(CatchKx([&] { f.Seek(0, 2); }),
              "The resulting position (3000000000) is not representable in a long int (32 bits, "
              "signed).  Use \"Seek64\"().",
              "KxIO", "Seek(long,int) of KxIOInterface");
    EXPECT_KX(CatchKx([&] { f.Tell(); }),
              "The file position is not representable in a long int (32 bits, signed).  Use "
              "\"Tell64()\".",
              "KxIO", "Tell() of KxIOInterface");
    f.Truncate64(3000000000 - 100);
    EXPECT_EQ(f.GetFileSize(), 100);

    EXPECT_EQ(KxIOInterface::GetLongRepresentationOfNativeint(-2147483648LL), INT32_MIN);
    EXPECT_KX(CatchKx([] { KxIOInterface::GetLongRepresentationOfNativeint(int64_t{1} << 31); }),
              "64-bit value 2147483648 is not representable in 32 bits (signed long).", "KxIO",
              "GetLongRepresentationOfNativeint(nativeint) of KxIOInterface");
}

TEST_F(KxIOTest, CloneIsOnTheSameFileAtTheSamePositionAndEmptiesNothing) {
    std::string path = dir_ / "c.txd";
    KxIO f(path.c_str(), kxIOOpenCreateEmpty | kxIORead);
    f.SetBufferSize(20000);
    f.Write("hello world", 11);
    f.Seek64Absolute(6);
    std::unique_ptr<KxIO> copy(f.Clone());
    EXPECT_EQ(copy->GetOpenFlags(), f.GetOpenFlags());
    EXPECT_EQ(copy->GetBufferSize(), 20000);
    EXPECT_EQ(copy->Tell64(), 6);
    EXPECT_EQ(ReadAll(*copy, 100), "world");
    EXPECT_EQ(ReadAll(f, 100), "world");
    std::unique_ptr<KxIOInterface> other(f.NewInstance(path.c_str(), kxIOOpenReadShared));
    EXPECT_EQ(ReadAll(*other, 100), "hello world");
    KxString name;
    other->GetStreamName(name);
    EXPECT_EQ(std::string(name), path);
}

TEST_F(KxIOTest, TypedStreamOperationsWorkOnAFile) {
    std::string path = dir_ / "s.txt";
    {
        KxIO f(path.c_str(), kxIOOpenCopyTarget);
        f.WriteLine("first");
        f.WriteLong(-7);
        f.WriteCString("counted");
    }
    KxIO f(path.c_str(), kxIOOpenReadShared);
    KxString line;
    f.ReadLine(line);
    EXPECT_EQ(std::string(line).substr(0, 5), "first");
    EXPECT_EQ(f.ReadLong(), -7);
    char* text = nullptr;
    f.ReadCString(&text);
    EXPECT_STREQ(text, "counted");
    delete[] text;
    EXPECT_TRUE(f.GetIsEOF());
}

// ---- the unbuffered file and the proxy ----

TEST_F(KxIOTest, UnbufferedFile) {
    std::string path = Make("u.txd", "0123456789");
    KxIOUnbuffered f(path.c_str(), kReadWrite | kxIOAppend);
    EXPECT_EQ(f.Tell64(), 10);
    f.Write("ab", 2);
    f.Seek64Absolute(3);
    EXPECT_EQ(ReadAll(f, 4), "3456");
    char buffer[20];
    EXPECT_KX(CatchKx([&] { f.Read(buffer, 20, true); }),
              "Unable to read 20 bytes from \"" + path + "\"", "KxIO", "Read of KxIOUnbuffered");
    EXPECT_KX(CatchKx([&] { f.Seek64FromCurrent(-100); }),
              "Cannot seek -100 bytes from current position, 7.", "KxIOInterface",
              "Seek64FromCurrent(nativeint) of KxIOUnbuffered");
    f.WriteTo(0, "Z", 1);
    f.Lock(WRITE, 0, 0);
    std::unique_ptr<KxIOUnbuffered> copy(f.Clone());
    EXPECT_EQ(copy->Tell64(), f.Tell64());
    EXPECT_FALSE(copy->TryLock(READ, 0, 1)) << "locks belong to the file object";
    f.Truncate64(2);
    f.Close();
    EXPECT_EQ(ReadFile(path), "Z123456789");
}

TEST_F(KxIOTest, ProxiesKeepPositionsOfTheirOwn) {
    std::string path = Make("p.txd", Pattern(30000));
    KxIO file(path.c_str(), kReadWrite);
    KxIOProxy a(file), b(file, 20000);
    EXPECT_EQ(ReadAll(a, 4), Pattern(30000).substr(0, 4));
    EXPECT_EQ(ReadAll(b, 4), Pattern(30000).substr(20000, 4));
    a.Write("AAAA", 4);
    EXPECT_EQ(a.Tell64(), 8);
    EXPECT_EQ(file.Tell64(), 0) << "the target's own position does not move";
    b.Seek64FromEnd(0);
    b.Write("tail", 4);
    EXPECT_EQ(b.GetFileSize64(), 30004);
    EXPECT_TRUE(b.GetIsEOF());
    EXPECT_KX(CatchKx([&] { a.Seek64FromCurrent(-9); }),
              "Cannot seek -9 bytes from current position, 8.", "KxIOInterface",
              "Seek64FromCurrent(nativeint) of KxIOProxy");
    a.Lock(WRITE, 0, 10);
    EXPECT_EQ(file.GetLockCount(), 1);
    EXPECT_TRUE(b.UnLock(WRITE, 0, 10));
    char c;
    EXPECT_KX(CatchKx([&] { a.Seek64Absolute(40000); a.Read(&c, 1, true); }),
              "Unable to read 1 bytes from position 40000 of file \"" + path +
                  "\"; file length is 30004",
              "KxIO", "ReadFrom() of KxIO\r\nRead of KxIOProxy");
    file.Close();
    std::string expected = Pattern(30000);
    expected.replace(4, 4, "AAAA");
    EXPECT_EQ(ReadFile(path), expected + "tail");
}

// ---- static file operations ----

namespace {

class RecordingReport : public KxProgressReport {
public:
    void SetTask(const char* s) override { task = s; }
    void SetDetail(const char* s) override { detail = s; }
    void SetRange(int32_t lo, int32_t hi) override { range = {lo, hi}; }
    void SetPosition(int32_t p) override { positions.push_back(p); }
    bool Continue() override { return --allowed > 0; }
    std::string task, detail;
    std::vector<int32_t> range, positions;
    int allowed = 1000;
};

} // namespace

TEST_F(KxIOTest, CopyReplacesTheDestinationAndReportsProgress) {
    std::string data = Pattern(20000);
    std::string source = Make("src.kxs", data);
    std::string destination = Make("dst.kxs", Pattern(50000, 9));
    RecordingReport report;
    KxIOInterface::Copy(destination.c_str(), source.c_str(), &report);
    EXPECT_EQ(ReadFile(destination), data);
    EXPECT_EQ(report.task, "Copying files...");
    EXPECT_EQ(report.detail, "\"" + source + "\" --> \"" + destination + "\"");
    EXPECT_EQ(report.range, (std::vector<int32_t>{0, 100000}));
    EXPECT_EQ(report.positions, (std::vector<int32_t>{0, 33333, 66666, 100000, 100000}));

    std::string created = dir_ / "created.kxs";
    KxIOInterface::Copy(created.c_str(), source.c_str());
    EXPECT_EQ(ReadFile(created), data);
}

TEST_F(KxIOTest, CopyCanBeCanceledAndFailsCleanly) {
    std::string source = Make("src.kxs", Pattern(20000));
    std::string destination = dir_ / "dst.kxs";
    RecordingReport report;
    report.allowed = 2;
    KxCaught c = CatchKx<KxIOCanceledException>(
        [&] { KxIOInterface::Copy(destination.c_str(), source.c_str(), &report); });
    EXPECT_KX(c, "Block copy canceled; 3616 bytes remained to be copied", "KxIOInterface",
              "CopyBlockToFile() of KxIOInterface\r\nCopy() of KxIOInterface");

    std::string missing = dir_ / "missing.kxs";
    EXPECT_KX(CatchKx([&] { KxIOInterface::Copy(destination.c_str(), missing.c_str()); }),
              "Error in opening file '" + missing + "'.  No such file or directory.", "KxIO",
              "Open of KxIO\r\nConstructor(char * sFile...) of KxIO\r\nCopy() of KxIOInterface");
}

TEST_F(KxIOTest, CopyOntoItselfIsRefusedAndLeavesTheFileWhole) {
    std::string path = Make("self.kxs", "precious");
    std::filesystem::create_hard_link(path, dir_ / "link.kxs");
    for (std::string other : {path, dir_.path() + "/./self.kxs", dir_ / "link.kxs"}) {
        EXPECT_KX(CatchKx([&] { KxIOInterface::Copy(other.c_str(), path.c_str()); }),
                  "Cannot copy file \"" + path + "\" onto itself", "KxIO",
                  "Copy() of KxIOInterface");
    }
    EXPECT_EQ(ReadFile(path), "precious");
}

TEST_F(KxIOTest, ExistsDeleteRename) {
    std::string path = Make("a.txt", "contents");
    std::string renamed = dir_ / "b.txt";
    EXPECT_TRUE(KxIOInterface::Exists(path.c_str()));
    EXPECT_FALSE(KxIOInterface::Exists(renamed.c_str()));
    EXPECT_FALSE(KxIOInterface::Exists(nullptr));
    KxIOInterface::Rename(renamed.c_str(), path.c_str());
    EXPECT_FALSE(KxIOInterface::Exists(path.c_str()));
    EXPECT_EQ(ReadFile(renamed), "contents");

    EXPECT_KX(CatchKx([&] { KxIOInterface::Rename(renamed.c_str(), path.c_str()); }),
              "Error in opening file '" + path + "'.  No such file or directory.", "KxIO",
              "Open of KxIO\r\nConstructor(char * sFile...) of KxIO\r\nCopy() of "
              "KxIOInterface\r\nRename() of KxIOInterface");
    EXPECT_EQ(ReadFile(renamed), "contents");

    KxIOInterface::Delete(renamed.c_str());
    EXPECT_FALSE(KxIOInterface::Exists(renamed.c_str()));
    KxIOInterface::Delete(renamed.c_str());  // already gone: nothing to report

    std::filesystem::create_directory(dir_ / "sub");
    std::string inside = Make("sub/x", "x");
    std::string dirName = dir_ / "sub";
    EXPECT_KX(CatchKx<KxFileOpenFailedException>([&] { KxIOInterface::Delete(dirName.c_str()); }),
              "Error in deleting file '" + dirName + "'.  Permission denied.", "KxIO",
              "Delete() of KxIOInterface");
    EXPECT_TRUE(KxIOInterface::Exists(inside.c_str()));
}

TEST_F(KxIOTest, CopyBlockMovesOverlappingRangesBothWays) {
    struct {
        int64_t from, to, count;
    } cases[] = {{0, 100, 30000}, {100, 0, 30000}, {5000, 5000, 10}, {10, 20, 0},
                 {20000, 39000, 9000}};
    for (auto c : cases) {
        std::string model = Pattern(50000);
        std::string path = Make("cb.txd", model);
        KxIO f(path.c_str(), kReadWrite);
        f.Seek64Absolute(12345);
        f.Write("dirty", 5);
        model.replace(12345, 5, "dirty");
        KxIOInterface::CopyBlock(f, c.from, c.to, c.count);
        std::string moved = model.substr(static_cast<size_t>(c.from), static_cast<size_t>(c.count));
        if (model.size() < static_cast<size_t>(c.to + c.count))
            model.resize(static_cast<size_t>(c.to + c.count));
        model.replace(static_cast<size_t>(c.to), moved.size(), moved);
        f.Close();
        EXPECT_EQ(ReadFile(path), model) << c.from << "->" << c.to;
    }
    std::string path = Make("short.txd", "0123456789");
    KxIO f(path.c_str(), kReadWrite);
    KxCaught c = CatchKx([&] { KxIOInterface::CopyBlock(f, 5, 0, 10); });
    EXPECT_EQ(c.message, "Unable to read 10 bytes from position 5 of file \"" + path +
                             "\"; file length is 10");
    EXPECT_EQ(c.callpath, "ReadFrom() of KxIO\r\nCopyBlock() of KxIOInterface");
    f.Close();
    EXPECT_EQ(ReadFile(path), "0123456789");
}

TEST_F(KxIOTest, TemporaryFileNames) {
    KxString name;
    KxIOInterface::GetTempFileName(name, dir_.path().c_str(), "kx");
    std::string made = std::string(name);
    EXPECT_EQ(made.rfind(dir_.path() + "/kx", 0), 0u) << made;
    EXPECT_TRUE(KxIOInterface::Exists(made.c_str()));
    KxString second;
    KxIOInterface::GetTempFileName(second, dir_.path().c_str(), "kx");
    EXPECT_NE(std::string(second), made);

    kxtest::EnvGuard tmp("TMPDIR", dir_.path());
    KxString inTemp;
    KxIOInterface::GetTempFileName(inTemp);
    EXPECT_EQ(std::string(inTemp).rfind(dir_.path() + "/", 0), 0u);

    EXPECT_KX(CatchKx([&] { KxIOInterface::GetTempFileName(name, dir_.path().c_str(), "a/b"); }),
              std::string("Could not get temporary file name -- WIN32 : ") + std::strerror(EINVAL),
              "KxIO", "GetTempFileName of KxIOInterface");
    kxtest::EnvGuard gone("TMPDIR", dir_ / "no-such-dir");
    KxCaught c = CatchKx([&] { KxIOInterface::GetTempFileName(name); });
    EXPECT_EQ(c.message.rfind("Could not get temporary path name -- WIN32 : ", 0), 0u) << c.message;
}
