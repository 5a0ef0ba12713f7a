// Data sets damaged in ways the fuzz targets found: each must be refused with its message, never
// read into a wrong answer or worse.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>

#include "enginefixture.h"
#include "kxindex.h"
#include "kxmemstream.h"
#include "kxrecordkey.h"

namespace {

using namespace kxtest;

struct DamagedSet {
    const char* what;
    std::string structure;
    std::string data;
    std::string blobs;
    const char* message;
};

const std::string kInfo = Lines({"[FileInfo]", "NumberOfFields=2", "RecordLength=12", "Use CR=Y",
                                 "Use LF=Y"});
const std::string kName = Lines({"[Field1]", "FieldName=Name", "Type=A", "Length=4", "ByteOffset=0"});
const std::string kLine = Line({{"CDDP", 4}, {"x", 8}});

class DamagedDataSetTest : public EngineTest, public ::testing::WithParamInterface<DamagedSet> {};

TEST_P(DamagedDataSetTest, IsRefused) {
    const DamagedSet& c = GetParam();
    Write("set.kxs", c.structure);
    Write("set.txd", c.data);
    Write("set.kxb", c.blobs);
    KxCaught caught = CatchKx([&] { ReadEveryField(Path("set.txd")); });
    EXPECT_TRUE(caught.thrown);
    EXPECT_EQ(caught.message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, DamagedDataSetTest,
    ::testing::Values(
        // A mapped section has no type, length or place for the field to borrow.
        DamagedSet{"mapped onto itself",
                   kInfo + Lines({"[Field1]", "FieldName=Name", "Type=A", "Length=4",
                                  "ByteOffset=0", "MappedTo=Name"}),
                   kLine, "", "Field0 is mapped to a mapped field."},
        DamagedSet{"mapped onto a mapped field",
                   kInfo + kName +
                       Lines({"[Field2]", "FieldName=Alias", "MappedTo=Name"}) +
                       Lines({"[Field3]", "FieldName=Second", "MappedTo=Alias"}),
                   kLine, "", "Field2 is mapped to a mapped field."}),
    [](const ::testing::TestParamInfo<DamagedSet>& param) {
        std::string name;
        for (const char* p = param.param.what; *p != '\0'; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

}  // namespace

namespace {

using namespace kxtest;

using DamagedBlobFileTest = EngineTest;

// A blob read into the storage of the one read before it must not come back with the earlier
// bytes when this read fails.
TEST_F(DamagedBlobFileTest, AFailedReadEmptiesTheBlob) {
    // Blob 2 is a free block; 0 and 3 are outside the table.
    Write("set.kxb", LE({4 + 16}) + "abcdefgh" + std::string(8, '\0') + LE({2, -1, 2}) +
                         LE({1, 4, 8, 8}) + LE({-1, 12, -1, 8}));
    KxBlobFile blobs(Path("set.txd").c_str(), kxIORead);
    for (int32_t number : {2, 3, 0}) {
        KxBlob blob;
        blobs.GetBlob(1, blob);
        ASSERT_EQ(TextOf(blob), "abcdefgh");
        EXPECT_TRUE(CatchKx([&] { blobs.GetBlob(number, blob); }).thrown) << number;
        EXPECT_EQ(blob.GetSize(), 0u) << number;
        EXPECT_STREQ(blob.GetText(), "") << number;
    }
}

}  // namespace

namespace {

// A field of length 0 (a structure without a Length) has keys without bytes; reading its index
// file must not scan storage that is not there.
TEST(DamagedIndexFile, KeysOfALengthZeroFieldReadBack) {
    KxIndex index('A', 0, 2);
    std::unique_ptr<KxRecordKey> key(index.NewKey());
    index.SetRecord(1, *key);
    index.SetRecord(2, *key);
    KxMemoryStream file;
    index.Write(file);
    file.Rewind();

    KxIndex read('A', 0, 2);
    read.Read(file);
    ASSERT_EQ(read.GetKeyCount(), 1);
    EXPECT_EQ(read.GetKey(0).GetCount(), 2);
    EXPECT_EQ(read.GetKeyNumber(2), 0);
}

}  // namespace
