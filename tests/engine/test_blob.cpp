#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kxcatch.h"
#include "kxblob.h"
#include "kxfield.h"
#include "kxio.h"
#include "kxmemstream.h"
#include "platform/platform_fixture.h"

namespace {

using kxtest::ReadFile;
using kxtest::TempDir;
using kxtest::WriteFile;

std::string Bytes(const KxBlob& blob) {
    return std::string(static_cast<const char*>(blob.GetData()), blob.GetSize());
}

// The test's own encoder of the .kxb layout, so that the reader and the writer are each checked
// against bytes neither of them produced.
std::string LE(std::initializer_list<int32_t> values) {
    std::string out;
    for (int32_t v : values) {
        uint32_t u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i) out += static_cast<char>((u >> (8 * i)) & 0xFF);
    }
    return out;
}

struct Desc {
    int32_t link, offset, length, disk;
};

// D at 0, the data area as given (it must be D - 4 bytes long), then the table.
std::string Kxb(const std::string& data, int32_t firstFree, int32_t firstUnused,
                const std::vector<Desc>& descriptors) {
    std::string out = LE({static_cast<int32_t>(4 + data.size())}) + data +
                      LE({firstFree, firstUnused, static_cast<int32_t>(descriptors.size())});
    for (const Desc& d : descriptors) out += LE({d.link, d.offset, d.length, d.disk});
    return out;
}

class BlobFileTest : public ::testing::Test {
protected:
    std::string DataFile() const { return dir_ / "set.txd"; }
    std::string BlobPath() const { return dir_ / "set.kxb"; }
    void WriteBlobFile(const std::string& bytes) const { WriteFile(BlobPath(), bytes); }
    std::string BlobFileBytes() const { return ReadFile(BlobPath()); }

    // Adds a blob and refers to it once, as appending a record does.
    static int32_t Store(KxBlobFile& file, const std::string& bytes) {
        int32_t n = file.AddBlob(new KxBlob(bytes.data(), static_cast<uint32_t>(bytes.size())));
        file.IncrementReferenceCount(n);
        return n;
    }
    static std::string Fetch(KxBlobFile& file, int32_t n) {
        KxBlob blob;
        file.GetBlob(n, blob);
        return Bytes(blob);
    }

    TempDir dir_;
};

// ---------------------------------------------------------------------------------------------
// KxBlob

TEST(Blob, ReadWithMustReadAllFailsOnAShortBlobAndOtherwiseAnswersWhatThereIs) {
    KxBlob blob("abcd", 4);
    char buffer[10];
    EXPECT_KX(CatchKx([&] { blob.Read(buffer, 10, true); }),
              "Could not read 10 bytes at position 0; only 4 bytes in the buffer at that point",
              "KxBlob", "Read() of KxBlob");
    EXPECT_EQ(blob.GetPosition(), 0u);
    EXPECT_EQ(blob.Read(buffer, 10, false), 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_TRUE(blob.GetIsEOF());
    EXPECT_EQ(blob.Read(buffer, 10, false), 0u);
}

TEST(Blob, SeekPastTheEndReadsNothingAndWritingThereZeroFillsTheGap) {
    KxBlob blob("abcd", 4);
    EXPECT_KX(CatchKx([&] { blob.Seek64FromEnd(-5); }),
              "Cannot seek to -5 from end of the chunk, only 4 bytes available", "KxBlob",
              "Seek64FromEnd(nativeint) of KxBlob");
    EXPECT_EQ(blob.Seek64FromEnd(2), 6);
    EXPECT_EQ(blob.Tell64(), 6);
    char c;
    EXPECT_EQ(blob.Read(&c, 1, false), 0u);
    blob.Write("z", 1);
    EXPECT_EQ(Bytes(blob), std::string("abcd\0\0z", 7));
}

TEST(Blob, SeekErrors) {
    struct Case {
        const char* name;
        std::function<void(KxBlob&)> seek;
        const char* message;
        const char* path;
    } cases[] = {
        {"absolute negative", [](KxBlob& b) { b.Seek64Absolute(-1); },
         "Cannot seek to -1 from the beginning of the chunk",
         "Seek64Absolute(nativeint) of KxBlob"},
        {"absolute beyond 32 bits", [](KxBlob& b) { b.Seek64Absolute(int64_t(1) << 33); },
         "64-bit value 8589934592 is not representable in 32 bits (signed long).", nullptr},
        {"before the start", [](KxBlob& b) {
             b.Seek64Absolute(2);
             b.Seek64FromCurrent(-3);
         },
         "Cannot seek to -3 from offset 2, before beginning of the chunk",
         "Seek64FromCurrent(nativeint) of KxBlob"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KxBlob blob("abcd", 4);
        KxCaught caught = CatchKx([&] { c.seek(blob); });
        EXPECT_TRUE(caught.thrown);
        EXPECT_EQ(caught.message, c.message);
        if (c.path != nullptr) {
            EXPECT_EQ(caught.callpath, c.path);
        }
    }
    KxBlob blob("abcd", 4);
    blob.Seek64Absolute(3);
    EXPECT_EQ(blob.Seek64FromCurrent(0), 3);
    EXPECT_EQ(blob.Seek64FromCurrent(-3), 0);
}

TEST(Blob, ReadFromAndWriteToLeaveThePositionAndCheckTheirOffsets) {
    KxBlob blob("abcdef", 6);
    blob.Seek64Absolute(1);
    char buffer[8] = {};
    EXPECT_EQ(blob.ReadFrom(4, buffer, 8, false), 2u);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_EQ(blob.ReadFrom(6, buffer, 8, false), 0u);
    EXPECT_EQ(blob.Tell64(), 1);
    EXPECT_KX(CatchKx([&] { blob.ReadFrom(4, buffer, 3, true); }),
              "Could not read 3 bytes at position 4; only 2 bytes in the buffer at that point",
              "KxBlob", "ReadFrom() of KxBlob");
    EXPECT_KX(CatchKx([&] { blob.ReadFrom(7, buffer, 1, false); }),
              "Offset is past the end of allocated memory", "KxBlob", "ReadFrom() of KxBlob");
    EXPECT_KX(CatchKx([&] { blob.ReadFrom(-1, buffer, 1, false); }), "invalid position: -1",
              "KxBlob", "ReadFrom() of KxBlob");

    blob.WriteTo(8, "XY", 2);
    EXPECT_EQ(Bytes(blob), std::string("abcdef\0\0XY", 10));
    EXPECT_EQ(blob.Tell64(), 1);
    EXPECT_KX(CatchKx([&] { blob.WriteTo(-2, "X", 1); }), "invalid position: -2", "KxBlob",
              "WriteTo() of KxBlob");
    EXPECT_KX(CatchKx([&] { blob.WriteTo(int64_t(1) << 32, "X", 1); }),
              "KxResizableChunk only supports 32-bit offsets", "KxBlob", "WriteTo() of KxBlob");
}

TEST(Blob, TruncateRemovesFromTheEndAndGrowingAgainShowsNoStaleBytes) {
    KxBlob blob("abcdefghij", 10);
    blob.Seek64Absolute(5);
    blob.Truncate64(3);
    EXPECT_EQ(Bytes(blob), "abcdefg");
    EXPECT_EQ(blob.GetPosition(), 0u);
    blob.Truncate64(4);
    EXPECT_EQ(Bytes(blob), "abc");
    blob.Seek64Absolute(4);
    blob.Write("z", 1);
    EXPECT_EQ(Bytes(blob), std::string("abc\0z", 5));
    EXPECT_KX(CatchKx([&] { blob.Truncate64(6); }),
              "Cannot truncate 6 bytes from a blob of 5 bytes",
              "KxBlob", "Truncate64(nativeint) of KxBlob");
    EXPECT_KX(CatchKx([&] { blob.Truncate64(int64_t(1) << 40); }),
              "Blob cannot be more than 2147483646 bytes", "KxBlob",
              "Truncate64(nativeint) of KxBlob");
    blob.Truncate64(0);
    EXPECT_EQ(blob.GetSize(), 0u);
}

TEST(Blob, SetBlobCloneAndTextAccess) {
    KxBlob blob;
    EXPECT_STREQ(blob.GetFileName(), "BLOB()");
    blob.SetBlob(nullptr, 3);
    EXPECT_EQ(Bytes(blob), std::string(3, '\0'));
    // Bytes without a NUL of their own still read as a terminated text.
    blob.SetBlob("text", 4);
    EXPECT_STREQ(blob.GetText(), "text");
    blob.Seek64Absolute(2);
    blob.SetBlob(blob.GetText() + 1, 2);  // from its own bytes
    EXPECT_EQ(Bytes(blob), "ex");
    EXPECT_EQ(blob.GetPosition(), 0u);

    blob.Seek64Absolute(1);
    std::unique_ptr<KxBlob> copy(blob.Clone());
    EXPECT_EQ(Bytes(*copy), "ex");
    EXPECT_EQ(copy->GetPosition(), 1u);
    copy->Write("Q", 1);
    EXPECT_EQ(Bytes(*copy), "eQ");
    EXPECT_EQ(Bytes(blob), "ex");
    std::unique_ptr<KxBlob> fresh(blob.NewInstance(nullptr, 0));
    EXPECT_EQ(fresh->GetSize(), 0u);
}

TEST(Blob, StreamsItsBytesAndRefusesALengthTheStreamCannotHold) {
    KxBlob blob("ab\0c", 4);
    KxMemoryStream out;
    blob.Write(out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.GetData()), out.GetSize()),
              std::string("ab\0c", 4));

    KxMemoryStream in("xyz", 3);
    KxBlob read;
    EXPECT_KX(CatchKx([&] { read.Read(in, 0x7FFFFF00u); }),
              "Blob length (value=2147483392) in stream \"memory stream\" is more than the 3 bytes "
              "left",
              "KxBlob", "Read() of KxBlob");
    read.Read(in, 2);
    EXPECT_EQ(Bytes(read), "xy");
}

TEST(Blob, OpenReadsAWholeFileAndNamesTheBlobAfterIt) {
    TempDir dir;
    std::string path = dir / "note.bin";
    WriteFile(path, std::string("one\0two", 7));
    KxBlob blob;
    blob.Open(path.c_str());
    EXPECT_EQ(Bytes(blob), std::string("one\0two", 7));
    EXPECT_EQ(std::string(blob.GetFileName()), "BLOB(" + path + ")");
    KxString name;
    blob.GetStreamName(name);
    EXPECT_EQ(std::string(name.GetCString()), "BLOB(" + path + ")");

    KxCaught missing = CatchKx([&] { blob.Open((dir / "missing").c_str()); });
    EXPECT_TRUE(missing.thrown);
    EXPECT_EQ(missing.callpath.substr(missing.callpath.rfind('\n') + 1), "Open() of KxBlob");
    EXPECT_EQ(Bytes(blob), std::string("one\0two", 7));
}

// ---------------------------------------------------------------------------------------------
// KxBlobFile: the layout

TEST_F(BlobFileTest, OneReferencedTenByteBlobGivesTheNinetySixByteFile) {
    {
        KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
        EXPECT_EQ(Store(file, "0123456789"), 1);
        EXPECT_EQ(file.GetDescriptorTableOffset(), 68);
        file.Close();
    }
    std::string expected = LE({68}) + "0123456789" + std::string(54, '\0') + LE({-1, -1, 1}) +
                           LE({1, 4, 10, 64});
    ASSERT_EQ(expected.size(), 96u);
    EXPECT_EQ(BlobFileBytes(), expected);

    // Freeing it gives back the data area and the descriptor.
    KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
    EXPECT_EQ(Fetch(file, 1), "0123456789");
    file.DecrementReferenceCount(1);
    EXPECT_EQ(file.GetNumberOfDescriptors(), 0);
    file.Close();
    EXPECT_EQ(BlobFileBytes(), LE({4, -1, -1, 0}));
}

TEST_F(BlobFileTest, AMissingOrEmptyFileHoldsNoBlobs) {
    {
        KxBlobFile file(DataFile().c_str(), kxIORead);
        EXPECT_EQ(file.GetNumberOfDescriptors(), 0);
        KxBlob blob;
        EXPECT_KX(CatchKx([&] { file.GetBlob(1, blob); }),
                  "BLOB 1 does not exist; the number of BLOB descriptors is 0.", "KxBlobFile",
                  "GetBlob() of KxBlobFile");
    }
    // Created empty, and left so: nothing was written.
    EXPECT_EQ(BlobFileBytes(), "");
    KxBlobFile again(DataFile().c_str(), kxIORead);
    EXPECT_EQ(again.GetDescriptorTableOffset(), 4);
}

// A free block below a referenced blob, then a 30-byte blob: the first fit reserves the whole
// block unless at least 64 bytes would remain beside the 64 it needs.
TEST_F(BlobFileTest, AFreeBlockIsReusedWholeOrSplit) {
    struct Case {
        int32_t block;
        int32_t reserved;  // the new blob's disk size
        bool split;
    } cases[] = {{100, 100, false}, {127, 127, false}, {128, 64, true}, {200, 64, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block);
        std::string data = std::string(c.block, 'x') + "kept!" + std::string(59, '\0');
        int32_t kept = 4 + c.block;
        WriteBlobFile(Kxb(data, 1, -1, {{-1, 4, -1, c.block}, {1, kept, 5, 64}}));
        {
            KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
            std::string thirty(30, 'n');
            EXPECT_EQ(Store(file, thirty), 3);
            EXPECT_EQ(Fetch(file, 3), thirty);
            EXPECT_EQ(Fetch(file, 2), "kept!");
            file.Close();
        }
        std::string expectedData = std::string(30, 'n') + data.substr(30);
        std::string expected =
            c.split ? Kxb(expectedData, 1, -1,
                          {{-1, 4 + 64, -1, c.block - 64}, {1, kept, 5, 64}, {1, 4, 30, 64}})
                    : Kxb(expectedData, -1, 1,
                          {{-1, -1, -1, -1}, {1, kept, 5, 64}, {1, 4, 30, c.reserved}});
        EXPECT_EQ(BlobFileBytes(), expected);
    }
}

TEST_F(BlobFileTest, FirstFitPassesOverBlocksTooSmallAndTakesTheFirstLargeEnough) {
    // Free blocks of 20 and 40 bytes (hand-made: the writer never leaves blocks that small).
    std::string data = std::string(20, 'a') + "used" + std::string(60, '\0') +
                       std::string(40, 'b') +
                       std::string(64, 'c');
    WriteBlobFile(Kxb(data, 1, -1,
                      {{3, 4, -1, 20}, {1, 24, 4, 64}, {-1, 88, -1, 40}, {1, 128, 0, 64}}));
    KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
    int32_t n = Store(file, std::string(30, 'z'));
    EXPECT_EQ(n, 5);
    const KxBlobDescriptor& d = file.GetDescriptor(n);
    EXPECT_EQ(d.GetOffset(), 88);
    EXPECT_EQ(d.GetDiskSize(), 40);
    EXPECT_EQ(file.GetFirstFreeDescriptor(), 1);
    EXPECT_EQ(file.GetDescriptor(1).GetLink(), -1);
    EXPECT_TRUE(file.GetDescriptor(3).IsUnused());
    EXPECT_EQ(file.GetFirstUnusedDescriptor(), 3);
    EXPECT_EQ(Fetch(file, 4), "");
}

TEST_F(BlobFileTest, FreedNeighboursMergeIntoOneBlock) {
    KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
    for (char c : std::string("ABCD")) Store(file, std::string(10, c));
    EXPECT_EQ(file.GetDescriptorTableOffset(), 4 + 4 * 64);
    file.DecrementReferenceCount(1);
    file.DecrementReferenceCount(3);
    EXPECT_EQ(file.GetFirstFreeDescriptor(), 1);
    EXPECT_EQ(file.GetDescriptor(1).GetLink(), 3);
    file.DecrementReferenceCount(2);  // joins the block below and the block above
    EXPECT_EQ(file.GetFirstFreeDescriptor(), 1);
    const KxBlobDescriptor& merged = file.GetDescriptor(1);
    EXPECT_EQ(merged.GetOffset(), 4);
    EXPECT_EQ(merged.GetDiskSize(), 192);
    EXPECT_EQ(merged.GetLink(), -1);
    EXPECT_EQ(file.GetFirstUnusedDescriptor(), 2);
    EXPECT_EQ(file.GetDescriptor(2).GetLink(), 3);
    KxBlob blob;
    EXPECT_KX(CatchKx([&] { file.GetBlob(2, blob); }), "BLOB 2 is not in use.", "KxBlobFile",
              "GetBlob() of KxBlobFile");
    // The freed numbers are reused lowest first.
    EXPECT_EQ(file.AddBlob(new KxBlob("m", 1)), 2);
    EXPECT_EQ(Fetch(file, 2), "m");  // a memory blob reads back before it is stored
    file.Close();
    std::string bytes = BlobFileBytes();
    EXPECT_EQ(bytes.substr(0, 4), LE({4 + 4 * 64}));
    // The unreferenced memory blob was dropped at closing: its number is unused again.
    EXPECT_EQ(bytes.substr(4 + 4 * 64), LE({1, 2, 4}) + LE({-1, 4, -1, 192}) +
                                            LE({3, -1, -1, -1}) + LE({-1, -1, -1, -1}) +
                                            LE({1, 196, 10, 64}));
}

TEST_F(BlobFileTest, FreeingTheLastBlockGivesBackEveryFreeBlockBelowIt) {
    KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
    Store(file, "first");
    Store(file, "second");
    Store(file, "third");
    file.DecrementReferenceCount(2);
    file.DecrementReferenceCount(1);  // merges with 2: one block of 128 below blob 3
    file.DecrementReferenceCount(3);
    EXPECT_EQ(file.GetDescriptorTableOffset(), 4);
    EXPECT_EQ(file.GetNumberOfDescriptors(), 0);
    EXPECT_EQ(file.GetFirstFreeDescriptor(), -1);
    EXPECT_EQ(file.GetFirstUnusedDescriptor(), -1);
    file.Close();
    EXPECT_EQ(BlobFileBytes(), LE({4, -1, -1, 0}));
}

TEST_F(BlobFileTest, ReferenceCountsAreKeptAndWrittenEvenWhenNoBlockMoves) {
    {
        KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
        int32_t n = Store(file, "shared");
        file.IncrementReferenceCount(n);
        file.DecrementReferenceCount(n);
        file.IncrementReferenceCount(0);   // no blob
        file.DecrementReferenceCount(-3);  // no blob
        EXPECT_EQ(file.GetDescriptor(n).GetReferenceCount(), 1);
    }
    {
        // A second record refers to the stored blob in a later session.
        KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
        file.IncrementReferenceCount(1);
    }
    KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
    EXPECT_EQ(file.GetDescriptor(1).GetReferenceCount(), 2);
    file.DecrementReferenceCount(1);
    EXPECT_EQ(Fetch(file, 1), "shared");

    EXPECT_KX(CatchKx([&] { file.IncrementReferenceCount(7); }),
              "BLOB 7 does not exist; the number of BLOB descriptors is 1.", "KxBlobFile",
              "IncrementReferenceCount() of KxBlobFile");
    file.DecrementReferenceCount(1);
    Store(file, "again");
    Store(file, "other");
    file.DecrementReferenceCount(1);
    EXPECT_KX(CatchKx([&] { file.DecrementReferenceCount(1); }), "Cannot reference an unused BLOB.",
              "KxBlobFile", "DecrementReferenceCount() of KxBlobFile");
}

TEST_F(BlobFileTest, DelayedFreeKeepsUnreferencedBlobsUntilClosing) {
    KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
    Store(file, "held back");
    file.SetDelayedFree();
    file.DecrementReferenceCount(1);
    EXPECT_EQ(Fetch(file, 1), "held back");
    file.Close();
    EXPECT_EQ(BlobFileBytes(), LE({4, -1, -1, 0}));
}

TEST_F(BlobFileTest, BlobFieldMapCountsTheReferencesOfARecord) {
    struct Record {
        std::map<uint16_t, int32_t> numbers;
        int32_t GetBLOBIndex(uint16_t field) const { return numbers.at(field); }
    };
    KxPointerVector<KxField> fields;
    for (char type : std::string("AYBIIBA")) {
        fields.push_back(new KxField());
        fields.back()->SetType(type);
    }
    KxBlobFieldMap map;
    map.AddField(9);
    map.SetBlobNumber(0, 4);
    map.RebindMap(fields);
    ASSERT_EQ(map.GetCount(), 2);
    EXPECT_EQ(map.GetFieldNumber(0), 2);
    EXPECT_EQ(map.GetFieldNumber(1), 5);
    KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
    int32_t a = file.AddBlob(new KxBlob("a", 1));
    Record record{{{2, 0}, {5, a}}};
    map.SetBlobIDs(record);
    EXPECT_EQ(map.GetBlobNumber(0), 0);
    EXPECT_EQ(map.GetBlobNumber(1), a);
    file.IncrementReferenceCounts(map);
    EXPECT_EQ(file.GetDescriptor(a).GetReferenceCount(), 1);
    EXPECT_FALSE(file.GetDescriptor(a).IsMemoryBlob());
    file.DecrementReferenceCounts(map);
    EXPECT_EQ(file.GetNumberOfDescriptors(), 0);
}

TEST_F(BlobFileTest, EmptyCutsTheFileToNothing) {
    KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
    Store(file, "gone");
    file.Empty();
    EXPECT_EQ(file.GetNumberOfDescriptors(), 0);
    EXPECT_EQ(file.GetDescriptorTableOffset(), 4);
    file.Close();
    EXPECT_EQ(BlobFileBytes(), "");
}

TEST_F(BlobFileTest, ABlobFileThatWasOnlyReadIsNotWritten) {
    std::string data = std::string("kept\0", 5) + std::string(59, '\0') + std::string(64, 'z');
    // Blob 2 has no references: a writer would free it on closing.
    std::string original = Kxb(data, -1, -1, {{1, 4, 5, 64}, {0, 68, 64, 64}});
    for (uint32_t mode : {uint32_t(kxIORead), uint32_t(kxIORead | kxIOWrite)}) {
        SCOPED_TRACE(mode);
        WriteBlobFile(original);
        auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
        std::filesystem::last_write_time(BlobPath(), old);
        {
            KxBlobFile file(DataFile().c_str(), mode);
            EXPECT_STREQ(Fetch(file, 1).c_str(), "kept");
            EXPECT_EQ(Fetch(file, 2), std::string(64, 'z'));
            file.Close();
        }
        EXPECT_EQ(BlobFileBytes(), original);
        EXPECT_EQ(std::filesystem::last_write_time(BlobPath()), old);
    }
    // A change that a read-only file cannot take fails and leaves the file as it was.
    {
        KxBlobFile file(DataFile().c_str(), kxIORead);
        EXPECT_TRUE(CatchKx([&] { Store(file, "new"); }).thrown);
        EXPECT_TRUE(CatchKx([&] { file.Close(); }).thrown);
    }
    EXPECT_EQ(BlobFileBytes(), original);
}

TEST_F(BlobFileTest, ListingShowsEveryKindOfDescriptor) {
    std::string data = std::string("hello\nworld", 11) + std::string(53, '\0') +
                       std::string(64, 'f') +
                       std::string(64, 'g');
    WriteBlobFile(Kxb(data, 2, 3, {{1, 4, 11, 64}, {-1, 68, -1, 64}, {-1, -1, -1, -1},
                                   {1, 132, 2, 64}}));
    KxBlobFile file(DataFile().c_str(), kxIORead);
    int32_t m = file.AddBlob(new KxBlob("mem", 3));
    EXPECT_EQ(m, 3);
    KxString listing;
    file.ListBlobMap(listing);
    std::string expected = "Hello, from KxBlobFile " + BlobPath() +
                           ". Descriptor offset is 196.\r\n"
                           "Allocated BLOBs :\r\n"
                           " BLOB #   | Length   Offset   Disk     | First 20 Bytes       \r\n"
                           "----------+----------------------------+----------------------\r\n"
                           "        1 |       11        4       64 | hello.world\r\n"
                           "        3 |        3 (memory) (memory) | mem\r\n"
                           "        4 |        2      132       64 | gg\r\n"
                           "Free Space : \r\n"
                           " BLOB #   | Offset   Disk     \r\n"
                           "----------+-------------------\r\n"
                           "        2 |       68       64\r\n"
                           "Unused Descriptors : \r\n";
    EXPECT_EQ(std::string(listing.GetCString()), expected);
}

// Blobs are read through the blob file's buffer into the caller's blob: in any order, larger
// than the buffer, and into a blob that held something longer before.
TEST_F(BlobFileTest, BlobsReadInAnyOrderIntoOneBlobComeBackExactly) {
    const std::vector<std::string> stored = {
        std::string(10, 'a'), std::string(300000, 'b') + "end", std::string(70000, 'c'), "d",
        "", std::string(131072, 'e')};
    std::vector<int32_t> numbers;
    {
        KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite);
        for (const std::string& bytes : stored) numbers.push_back(Store(file, bytes));
        file.Close();
    }
    KxBlobFile file(DataFile().c_str(), kxIORead);
    KxBlob blob;
    std::vector<size_t> order = {0, 1, 2, 3, 4, 5, 5, 3, 1, 0, 2, 4, 1};
    for (size_t i : order) {
        SCOPED_TRACE(i);
        file.GetBlob(numbers[i], blob);
        EXPECT_EQ(Bytes(blob), stored[i]);
        EXPECT_EQ(blob.GetText()[blob.GetSize()], '\0');
        EXPECT_EQ(blob.GetPosition(), 0u);
    }
}

// Random work with periodic reopening: whatever the writer leaves must pass the reader's checks
// and give back every live blob.
TEST_F(BlobFileTest, ManyAddsAndFreesKeepTheFileConsistent) {
    std::map<int32_t, std::string> live;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % bound;
    };
    auto file = std::make_unique<KxBlobFile>(DataFile().c_str(), kxIORead | kxIOWrite);
    for (int step = 0; step < 600; ++step) {
        if (live.empty() || next(3) != 0) {
            std::string bytes(next(300), static_cast<char>('a' + next(26)));
            int32_t n = Store(*file, bytes);
            ASSERT_EQ(live.count(n), 0u);
            live[n] = bytes;
        } else {
            auto it = live.begin();
            std::advance(it, next(static_cast<uint32_t>(live.size())));
            file->DecrementReferenceCount(it->first);
            live.erase(it);
        }
        if (step % 50 == 49) {
            file->Close();
            file = std::make_unique<KxBlobFile>(DataFile().c_str(), kxIORead | kxIOWrite);
            for (const auto& [n, bytes] : live) ASSERT_EQ(Fetch(*file, n), bytes) << n;
        }
    }
    for (const auto& entry : live) file->DecrementReferenceCount(entry.first);
    file->Close();
    EXPECT_EQ(BlobFileBytes(), LE({4, -1, -1, 0}));
}

// ---------------------------------------------------------------------------------------------
// KxBlobFile: damaged files

TEST_F(BlobFileTest, DamagedFilesFailToOpenWithAClearMessage) {
    const std::string f = "The BLOB file \"" + BlobPath() + "\" is damaged: ";
    std::string block(64, 'd');
    struct Case {
        const char* name;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"too short", LE({4}) + "ab", f + "it is 6 bytes long, too short for a descriptor table."},
        {"negative table offset", LE({-4, -1, -1, 0}),
         f + "its descriptor table offset -4 lies outside the file of 16 bytes."},
        {"table offset past the end", LE({1000, -1, -1, 0}),
         f + "its descriptor table offset 1000 lies outside the file of 16 bytes."},
        {"table offset inside the header", LE({2, -1, -1, 0}),
         f + "its descriptor table offset 2 lies outside the file of 16 bytes."},
        {"negative count", LE({4, -1, -1, -1}),
         f + "it cannot hold the -1 descriptors it claims at offset 4; the file is 16 bytes long."},
        {"huge count", LE({4, -1, -1, 0x7FFFFFFF}),
         f + "it cannot hold the 2147483647 descriptors it claims at offset 4; the file is 16 "
             "bytes long."},
        {"table cut short", (LE({68}) + block + LE({-1, -1, 1}) + LE({1, 4, 10})),
         f + "it cannot hold the 1 descriptors it claims at offset 68; the file is 92 bytes "
             "long."},
        {"negative blob offset", Kxb(block, -1, -1, {{1, -8, 5, 64}}),
         f + "descriptor 1 (offset -8, length 5, disk size 64) does not lie in the data area from "
             "4 to 68."},
        {"blob past the data area", Kxb(block, -1, -1, {{1, 40, 30, 30}}),
         f + "descriptor 1 (offset 40, length 30, disk size 30) does not lie in the data area "
             "from 4 to 68."},
        {"length above disk size", Kxb(block, -1, -1, {{1, 4, 30, 20}}),
         f + "descriptor 1 (offset 4, length 30, disk size 20) does not lie in the data area from "
             "4 to 68."},
        {"huge length", Kxb(block, -1, -1, {{1, 4, 0x7FFFFFF0, 0x7FFFFFF0}}),
         f + "descriptor 1 (offset 4, length 2147483632, disk size 2147483632) does not lie in the "
             "data area from 4 to 68."},
        {"length below -1", Kxb(block, -1, -1, {{1, 4, -2, 64}}),
         f + "descriptor 1 (offset 4, length -2, disk size 64) does not lie in the data area from "
             "4 to 68."},
        {"memory blob on disk", Kxb(block, -1, -1, {{1, -1, 5, -1}}),
         f + "descriptor 1 (offset -1, length 5, disk size -1) does not lie in the data area from "
             "4 to 68."},
        {"overlapping blocks", Kxb(block, -1, -1, {{1, 4, 10, 40}, {1, 30, 10, 38}}),
         f + "the blocks of descriptors 1 and 2 overlap."},
        {"overlapping blocks out of number order",
         Kxb(block, -1, -1, {{1, 40, 10, 28}, {1, 30, 10, 20}, {1, 4, 10, 26}}),
         f + "the blocks of descriptors 2 and 1 overlap."},
        {"a misplaced block after an overlap",
         Kxb(block, -1, -1, {{1, 4, 10, 40}, {1, 30, 10, 38}, {1, 60, 10, 30}}),
         f + "descriptor 3 (offset 60, length 10, disk size 30) does not lie in the data area "
             "from 4 to 68."},
        {"free list head outside the table", Kxb(block, 5, -1, {{1, 4, 10, 64}}),
         f + "its free list is broken at descriptor 5."},
        {"free list through an allocated blob", Kxb(block, 1, -1, {{1, 4, 10, 64}}),
         f + "its free list is broken at descriptor 1."},
        {"free list loop", Kxb(block, 1, -1, {{2, 4, -1, 32}, {1, 36, -1, 32}}),
         f + "its free list is broken at descriptor 1."},
        {"unused list through a free block", Kxb(block, -1, 1, {{-1, 4, -1, 64}}),
         f + "its unused list is broken at descriptor 1."},
        {"unused list loop", Kxb("", -1, 1, {{2, -1, -1, -1}, {1, -1, -1, -1}}),
         f + "its unused list is broken at descriptor 1."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBlobFile(c.bytes);
        KxCaught caught =
            CatchKx([&] { KxBlobFile file(DataFile().c_str(), kxIORead | kxIOWrite); });
        EXPECT_TRUE(caught.thrown);
        EXPECT_EQ(caught.message, c.message);
        EXPECT_EQ(caught.source, "KxBlobFile");
        EXPECT_TRUE(caught.callpath.ends_with(
            "ReadDescriptors() of KxBlobFile\r\nOpenFile() of KxBlobFile\r\nConstructor of "
            "KxBlobFile"))
            << caught.callpath;
        // Refused, not repaired: the file is left as it was.
        EXPECT_EQ(BlobFileBytes(), c.bytes);
    }
}

TEST_F(BlobFileTest, ABlobNumberOutsideTheTableIsALibraryError) {
    WriteBlobFile(Kxb(std::string(64, 'q'), -1, -1, {{1, 4, 3, 64}}));
    KxBlobFile file(DataFile().c_str(), kxIORead);
    KxBlob blob;
    for (int32_t n : {0, -1, 2, INT32_MAX}) {
        SCOPED_TRACE(n);
        EXPECT_KX(CatchKx([&] { file.GetBlob(n, blob); }),
                  "BLOB " + std::to_string(n) +
                      " does not exist; the number of BLOB descriptors is 1.",
                  "KxBlobFile", "GetBlob() of KxBlobFile");
    }
    file.GetBlob(1, blob);
    EXPECT_EQ(Bytes(blob), "qqq");
}

} // namespace
