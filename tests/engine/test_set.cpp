#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kxengineexceptions.h"
#include "kxmemstream.h"
#include "kxset.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const KxSet& set) {
    const unsigned char* p = set.GetBytes();
    return Bytes(p, p + set.GetByteCount());
}

Bytes Serialise(const KxSet& set) {
    KxMemoryStream stream;
    set.Write(stream);
    return Bytes(stream.GetData(), stream.GetData() + stream.GetSize());
}

void PutLong(Bytes& b, int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * i)));
}

// The serial form's head: header type 11, version 400, size, byte count, count.
Bytes Head(int32_t size, int32_t byteCount, int32_t count, int32_t type = 11,
           int16_t version = 400) {
    Bytes b;
    PutLong(b, type);
    b.push_back(static_cast<unsigned char>(version & 0xFF));
    b.push_back(static_cast<unsigned char>((version >> 8) & 0xFF));
    PutLong(b, size);
    PutLong(b, byteCount);
    PutLong(b, count);
    return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

KxSet ReadSet(const Bytes& b) {
    KxMemoryStream stream(b.data(), static_cast<uint32_t>(b.size()));
    KxSet set;
    set.Read(stream);
    return set;
}

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const KxException& e) {
        return e.GetErrorMessage();
    }
    return "(no exception)";
}

std::vector<int32_t> Members(const KxSet& set) {
    std::vector<int32_t> out;
    for (int32_t r = set.GetNextInSet(0); r != 0; r = set.GetNextInSet(r)) out.push_back(r);
    return out;
}

KxSet SetOf(int32_t size, std::initializer_list<int32_t> members) {
    KxSet set(size);
    for (int32_t r : members) set.SelectRecord(r, true);
    return set;
}

} // namespace

TEST(KxSet, TenRecordsAllSelected) {
    KxSet set(10);
    set.AllRecords();
    EXPECT_EQ(set.GetCount(), 10);
    EXPECT_EQ(BytesOf(set), (Bytes{0xFF, 0xC0}));
    EXPECT_EQ(set.GetNextInSet(0), 1);
    EXPECT_EQ(set.GetNextInSet(9), 10);
    EXPECT_EQ(set.GetNextInSet(10), 0);
    EXPECT_EQ(set.GetNextNotInSet(0), 0);
    // The spare bytes behind the bits stay zero.
    const unsigned char* p = set.GetBytes();
    for (int i = 0; i < KxSet::kxSpareBytes; ++i) EXPECT_EQ(p[2 + i], 0) << i;
}

TEST(KxSet, SelectRecordOutsideTheSetFails) {
    KxSet set(10);
    for (int32_t r : {0, 11, -1}) {
        try {
            set.SelectRecord(r, true);
            FAIL() << r;
        } catch (const KxException& e) {
            EXPECT_EQ(std::string(e.GetErrorMessage()),
                      "Set record value of " + std::to_string(r) +
                          " not valid for set with 10 records.");
            EXPECT_NE(std::string(e.GetCallpath()).find("SelectRecord() of KxSet"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(set.GetCount(), 0);
    EXPECT_EQ(MessageOf([] { KxSet s(-1); }), "Invalid (negative) set size requested.");
}

TEST(KxSet, CountFollowsSelection) {
    KxSet set(20);
    set.SelectRecord(3, true);
    set.SelectRecord(3, true);
    set.SelectRecord(20, true);
    EXPECT_EQ(set.GetCount(), 2);
    set.SelectRecord(3, false);
    set.SelectRecord(4, false);
    EXPECT_EQ(set.GetCount(), 1);
    EXPECT_TRUE(set.IsInSet(20));
    EXPECT_FALSE(set.IsInSet(21));
}

TEST(KxSet, InsertAndRemovePositions) {
    KxSet set = SetOf(2, {1, 2});
    set.AddToSet(1, false);
    EXPECT_EQ(set.GetSize(), 3);
    EXPECT_EQ(Members(set), (std::vector<int32_t>{2, 3}));
    set.DeleteFromSet(1);
    EXPECT_EQ(set.GetSize(), 2);
    EXPECT_EQ(Members(set), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(set.GetCount(), 2);

    // Appending a position at size + 1; beyond fails and leaves the size.
    set.AddToSet(3, true);
    EXPECT_EQ(Members(set), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_NE(MessageOf([&] { set.AddToSet(5, true); }), "(no exception)");
    EXPECT_NE(MessageOf([&] { set.DeleteFromSet(4); }), "(no exception)");
    EXPECT_EQ(set.GetSize(), 3);
}

// Every operation against a plain vector of flags, over sizes that cross byte and word borders.
TEST(KxSet, AgreesWithAPlainModel) {
    std::mt19937 rng(12345);
    for (int32_t size : {0, 1, 7, 8, 9, 63, 64, 65, 130}) {
        std::vector<bool> model(static_cast<size_t>(size));
        KxSet set(size);
        for (int step = 0; step < 400; ++step) {
            int32_t n = static_cast<int32_t>(model.size());
            switch (rng() % 4) {
            case 0:
                if (n > 0) {
                    int32_t r = static_cast<int32_t>(rng() % n) + 1;
                    bool on = rng() % 2;
                    set.SelectRecord(r, on);
                    model[r - 1] = on;
                }
                break;
            case 1: {
                int32_t r = static_cast<int32_t>(rng() % (n + 1)) + 1;
                bool on = rng() % 2;
                set.AddToSet(r, on);
                model.insert(model.begin() + (r - 1), on);
                break;
            }
            case 2:
                if (n > 0) {
                    int32_t r = static_cast<int32_t>(rng() % n) + 1;
                    set.DeleteFromSet(r);
                    model.erase(model.begin() + (r - 1));
                }
                break;
            default:
                // Keep the sizes near their start so that every size range is exercised.
                if (n > size + 4 && n > 0) {
                    set.DeleteFromSet(n);
                    model.pop_back();
                }
            }
            n = static_cast<int32_t>(model.size());
            ASSERT_EQ(set.GetSize(), n);
            int32_t count = 0;
            for (bool b : model) count += b;
            ASSERT_EQ(set.GetCount(), count) << "size " << size << " step " << step;
            for (int32_t from = 0; from <= n + 1; ++from) {
                int32_t next = 0, nextNot = 0, prevNot = 0;
                for (int32_t r = from + 1; r <= n && (next == 0 || nextNot == 0); ++r) {
                    if (model[r - 1] && next == 0) next = r;
                    if (!model[r - 1] && nextNot == 0) nextNot = r;
                }
                for (int32_t r = std::min(from - 1, n); r >= 1; --r)
                    if (!model[r - 1]) {
                        prevNot = r;
                        break;
                    }
                ASSERT_EQ(set.GetNextInSet(from), next) << "size " << size << " from " << from;
                ASSERT_EQ(set.GetNextNotInSet(from), nextNot) << "from " << from;
                ASSERT_EQ(set.GetPreviousNotInSet(from), prevNot) << "from " << from;
            }
        }
        // The bits survive the serial form.
        KxSet back = ReadSet(Serialise(set));
        ASSERT_EQ(back.GetSize(), set.GetSize());
        ASSERT_EQ(BytesOf(back), BytesOf(set));
    }
}

TEST(KxSet, PreviousNotInSetSkipsLongRunsOfMembers) {
    KxSet set(1000, true);
    set.SelectRecord(3, false);
    EXPECT_EQ(set.GetPreviousNotInSet(1001), 3);
    EXPECT_EQ(set.GetPreviousNotInSet(3), 0);
    EXPECT_EQ(set.GetNextNotInSet(3), 0);
    EXPECT_EQ(set.GetNextNotInSet(2), 3);
}

TEST(KxSet, EmptySetOf2000RecordsIsWrittenAsOneRun) {
    KxSet set(2000);
    EXPECT_EQ(Serialise(set), Cat(Head(2000, 250, 0), Bytes{0x00, 0xFA}));
}

TEST(KxSet, SerialFormCompressesRunsOnly) {
    // 300 members, then record 2405 alone: 37 bytes FF and one 0xF0, a run of 262 zero bytes
    // split at 255, the byte 0x08 and zeros to the end.
    KxSet set(2500);
    for (int32_t r = 1; r <= 300; ++r) set.SelectRecord(r, true);
    set.SelectRecord(2405, true);
    Bytes expected = Cat(Head(2500, 313, 301),
                         Bytes{0xFF, 37, 0xF0, 0x00, 255, 0x00, 7, 0x08, 0x00, 12});
    EXPECT_EQ(Serialise(set), expected);

    KxSet back = ReadSet(expected);
    EXPECT_TRUE(back.IsCompressed());
    EXPECT_EQ(Serialise(back), expected);
    EXPECT_EQ(back.GetCount(), 301);
    EXPECT_FALSE(back.IsCompressed());
    EXPECT_EQ(BytesOf(back), BytesOf(set));
}

TEST(KxSet, ReadConsumesExactlyTheSet) {
    KxMemoryStream stream;
    SetOf(20, {5}).Write(stream);
    stream.WriteLong(0x12345678);
    stream.Rewind();
    KxSet set;
    set.Read(stream);
    EXPECT_EQ(stream.ReadLong(), 0x12345678);
    EXPECT_EQ(Members(set), (std::vector<int32_t>{5}));
}

TEST(KxSet, CorruptSerialFormsFail) {
    struct Case {
        const char* what;
        Bytes bytes;
        std::string message; // empty: any KxException
    };
    const Case cases[] = {
        {"header type", Cat(Head(8, 1, 0, 12), Bytes{0x00, 1}), "Invalid header found"},
        {"version", Cat(Head(8, 1, 0, 11, 401), Bytes{0x00, 1}), "Invalid set header information"},
        {"negative size", Cat(Head(-8, -1, 0), Bytes{0x00, 1}),
         "Invalid set dimensions: -8 records in -1 bytes"},
        {"byte count too small", Cat(Head(16, 1, 0), Bytes{0x00, 1}),
         "Invalid set dimensions: 16 records in 1 bytes"},
        {"negative byte count", Cat(Head(0, -5, 0), Bytes{}),
         "Invalid set dimensions: 0 records in -5 bytes"},
        {"count above size", Cat(Head(8, 1, 9), Bytes{0xFF, 1}),
         "Invalid set count 9 for a set of 8 records"},
        {"count below -1", Cat(Head(8, 1, -2), Bytes{0xFF, 1}),
         "Invalid set count -2 for a set of 8 records"},
        {"run past the bytes", Cat(Head(16, 2, 0), Bytes{0x00, 3}),
         "Overrun! Wrote up to 3 bytes in a 2 byte chunk"},
        {"run of 255 in 10", Cat(Head(80, 10, 0), Bytes{0x11, 0xFF, 255}),
         "Overrun! Wrote up to 256 bytes in a 10 byte chunk"},
        {"zero run", Cat(Head(16, 2, 0), Bytes{0x00, 0, 0x00, 2}),
         "Invalid run length 0 in compressed set data"},
        {"stream ends in a run", Cat(Head(16, 2, 0), Bytes{0x00}), ""},
        {"stream ends early", Cat(Head(800, 100, 0), Bytes{0x00, 50}), ""},
        {"huge size, few bytes", Cat(Head(INT32_MAX, 268435456, 0), Bytes{0x00, 255, 0x00}), ""},
        {"truncated head", Bytes{0x0B, 0, 0, 0, 0x90, 0x01, 16, 0, 0}, ""},
    };
    for (const Case& c : cases) {
        KxSet set = SetOf(3, {2});
        KxMemoryStream stream(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        try {
            set.Read(stream);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const KxException& e) {
            if (!c.message.empty()) {
                EXPECT_EQ(std::string(e.GetErrorMessage()), c.message) << c.what;
            }
            EXPECT_NE(std::string(e.GetCallpath()).find("Read() of KxSet"), std::string::npos)
                << c.what;
        }
        // A failed read leaves the set as it was.
        EXPECT_EQ(set.GetSize(), 3) << c.what;
        EXPECT_EQ(Members(set), (std::vector<int32_t>{2})) << c.what;
    }
}

TEST(KxSet, StoredClaimsDoNotOverrideTheBits) {
    // Bits beyond the size and a wrong stored count: the bits within the size decide.
    KxSet set = ReadSet(Cat(Head(10, 2, 3), Bytes{0xFF, 2}));
    EXPECT_EQ(set.GetCount(), 10);
    EXPECT_EQ(set.GetNextInSet(10), 0);
    EXPECT_EQ(BytesOf(set), (Bytes{0xFF, 0xC0}));
}

TEST(KxSet, SetAlgebraNeedsSetsOfOneSize) {
    KxSet ten(10), eleven(11);
    EXPECT_EQ(MessageOf([&] { ten.AndSet(eleven); }),
              "The sets are not the same size; this set has 10 records and the other set has 11");
    EXPECT_NE(MessageOf([&] { ten.OrSet(eleven); }), "(no exception)");
    EXPECT_NE(MessageOf([&] { ten.MaskedOrSet(ten, eleven); }), "(no exception)");

    const int32_t n = 70; // more than one word
    KxSet a = SetOf(n, {1, 2, 65, 70}), b = SetOf(n, {2, 3, 65, 69});
    KxSet both(a), either(a), masked = SetOf(n, {10});
    both.AndSet(b);
    either.OrSet(b);
    masked.MaskedOrSet(a, b);
    EXPECT_EQ(Members(both), (std::vector<int32_t>{2, 65}));
    EXPECT_EQ(both.GetCount(), 2);
    EXPECT_EQ(Members(either), (std::vector<int32_t>{1, 2, 3, 65, 69, 70}));
    EXPECT_EQ(either.GetCount(), 6);
    EXPECT_EQ(Members(masked), (std::vector<int32_t>{2, 10, 65}));

    // A compressed operand is expanded first.
    KxSet readB = ReadSet(Serialise(b));
    KxSet viaRead(a);
    viaRead.AndSet(readB);
    EXPECT_EQ(Members(viaRead), (std::vector<int32_t>{2, 65}));
}

TEST(KxSet, ByteAppendAndTruncate) {
    KxSet ten(10);
    EXPECT_EQ(MessageOf([&] { ten.ByteAppend(ten); }), "10 is not a multiple of 8");

    KxSet set = SetOf(8, {8});
    set.ByteAppend(SetOf(10, {1, 10}));
    EXPECT_EQ(set.GetSize(), 18);
    EXPECT_EQ(set.GetCount(), 3);
    EXPECT_EQ(Members(set), (std::vector<int32_t>{8, 9, 18}));
    set.Truncate(18);
    set.Truncate(20);
    EXPECT_EQ(set.GetSize(), 18);

    KxSet self = SetOf(16, {1, 16});
    self.ByteAppend(self);
    EXPECT_EQ(Members(self), (std::vector<int32_t>{1, 16, 17, 32}));

    set.Truncate(9);
    EXPECT_EQ(set.GetSize(), 9);
    EXPECT_EQ(set.GetCount(), 2);
    EXPECT_EQ(Members(set), (std::vector<int32_t>{8, 9}));
    // The cut records are gone, not hidden: growing again shows them clear.
    set.AddToSet(10, false);
    set.AddToSet(11, false);
    EXPECT_EQ(Members(set), (std::vector<int32_t>{8, 9}));
    EXPECT_NE(MessageOf([&] { set.Truncate(-1); }), "(no exception)");
}

TEST(KxSet, CopiesAreIndependent) {
    KxSet a = SetOf(12, {4});
    KxSet b(a);
    KxSet c;
    c = a;
    a.SelectRecord(5, true);
    EXPECT_EQ(Members(b), (std::vector<int32_t>{4}));
    EXPECT_EQ(Members(c), (std::vector<int32_t>{4}));
    std::unique_ptr<KxSet> d(a.Clone());
    EXPECT_EQ(Members(*d), (std::vector<int32_t>{4, 5}));
}
