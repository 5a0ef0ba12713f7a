#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/kxcatch.h"
#include "kxmemstream.h"
#include "kxstring.h"
#include "kxvector.h"

namespace {

std::string Contents(const KxMemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.GetData()),
                       static_cast<size_t>(stream.GetSize()));
}

// Counts its own lifetimes, so that ownership faults (leaks, double deletes) show as numbers.
class Tracked : public KxArrayPointerObject {
public:
    explicit Tracked(int value) : m_value(value) { ++live; }
    Tracked(const Tracked& other) : KxArrayPointerObject(), m_value(other.m_value) {
        ++live;
        ++copies;
    }
    ~Tracked() override { --live; }
    virtual Tracked* Clone() const {
        ++clones;
        return new Tracked(*this);
    }
    virtual std::string Kind() const { return "base"; }
    int Value() const { return m_value; }
    void SetValue(int value) { m_value = value; }

    static inline int live = 0, copies = 0, clones = 0;

private:
    int m_value;
};

class TrackedChild : public Tracked {
public:
    using Tracked::Tracked;
    TrackedChild* Clone() const override { return new TrackedChild(*this); }
    std::string Kind() const override { return "child"; }
};

class PointerVectorTest : public ::testing::Test {
protected:
    void SetUp() override { Tracked::live = Tracked::copies = Tracked::clones = 0; }
    void TearDown() override { EXPECT_EQ(Tracked::live, 0); }
};

// A name with the member-function comparisons the value formats sort by.
struct Named {
    std::string name;
    bool GetNameIsLess(const Named* other) const { return name < other->name; }
    bool GetNameIsEqual(const Named& other) const { return name == other.name; }
};

} // namespace

// ---- KxVector ----------------------------------------------------------------------------------

TEST(KxVector, RangeTestedAccessHonoursTheBaseIndex) {
    KxVector<int32_t> v{10, 20, 30};
    v.SetBaseIndex(1);
    EXPECT_EQ(v.At(1), 10);
    EXPECT_EQ(v(3), 30);
    v.At(2) = 21;
    EXPECT_EQ(v[1], 21); // the inherited operations stay 0-based
    for (int32_t bad : {0, 4, -1, INT32_MIN, INT32_MAX}) {
        std::string message = "Index " + std::to_string(bad) + " out of range; array is from 1 to 3";
        EXPECT_KX(CatchKx([&] { v.At(bad); }), message, "KxVector", "");
    }
    KxVector<KxString> empty;
    EXPECT_KX(CatchKx([&] { empty.At(0); }), "Index 0 out of range; array is from 0 to -1",
              "KxVector", "");
    empty.SetBaseIndex(-5);
    empty.push_back("x");
    EXPECT_EQ(empty.At(-5), "x");
}

TEST(KxVector, RemoveAtMovesTheRestDown) {
    KxVector<int32_t> v{1, 2, 3, 4};
    v.SetBaseIndex(1);
    v.RemoveAt(2);
    EXPECT_EQ(std::vector<int32_t>(v.begin(), v.end()), (std::vector<int32_t>{1, 3, 4}));
    EXPECT_KX(CatchKx([&] { v.RemoveAt(4); }), "Index 4 out of range; array is from 1 to 3",
              "KxVector", "");
    EXPECT_EQ(v.GetCount(), 3);
}

TEST(KxVector, CopiesKeepTheBaseIndex) {
    KxVector<KxString> v;
    v.SetBaseIndex(7);
    v.push_back("a");
    KxVector<KxString> copy(v), moved(std::move(copy));
    EXPECT_EQ(moved.GetBaseIndex(), 7);
    EXPECT_EQ(moved.At(7), "a");
}

// ---- stored form of KxVector<int32_t> ----------------------------------------------------------

TEST(KxVectorStored, WritesFormat400AndReadsItBack) {
    KxVector<int32_t> v{-2, 0x01020304};
    KxMemoryStream stream;
    v.WriteAsArray(stream);
    EXPECT_EQ(Contents(stream), std::string("\0\0\0\0\x90\x01"      // header: vector, format 400
                                            "\x04\0"                // element size
                                            "\x80\0\0\0"            // 128
                                            "\x08\0\0\0"            // byte count
                                            "\x02\0\0\0"            // count
                                            "\0\0\0\0"              // base index
                                            "\xfe\xff\xff\xff\x04\x03\x02\x01",
                                            32));
    v.SetBaseIndex(-3);
    KxMemoryStream again;
    v.WriteAsArray(again);
    again.Rewind();
    KxVector<int32_t> back{99};
    back.Read(again);
    EXPECT_EQ(std::vector<int32_t>(back.begin(), back.end()), (std::vector<int32_t>{-2, 0x01020304}));
    EXPECT_EQ(back.GetBaseIndex(), -3);
    EXPECT_EQ(again.GetBytesAvailable(), 0u);
}

TEST(KxVectorStored, ReadsFormat530AndSkipsFormat400Padding) {
    KxMemoryStream stream;
    stream.WriteKxHeader(0, 530);
    stream.WriteLong(1);
    stream.WriteLong(5);
    stream.WriteLong(42);
    stream.WriteKxHeader(0, 400);
    stream.WriteShort(4);
    stream.WriteLong(128);
    stream.WriteLong(7); // one element and three bytes of padding
    stream.WriteLong(1);
    stream.WriteLong(0);
    stream.WriteLong(43);
    stream.WriteString("pad", false);
    stream.WriteInt(-1);
    stream.Rewind();
    KxVector<int32_t> a, b;
    a.Read(stream);
    b.Read(stream);
    EXPECT_EQ(a.At(5), 42);
    EXPECT_EQ(b.At(0), 43);
    EXPECT_EQ(stream.ReadInt(), -1);
}

TEST(KxVectorStored, BadInputRaisesAndLeavesTheVector) {
    struct Case {
        std::string name;
        void (*write)(KxMemoryStream&);
        const char* message;
        const char* source;
        const char* callpath;
    } cases[] = {
        {"unknown format",
         [](KxMemoryStream& s) { s.WriteKxHeader(0, 531); },
         "Unknown vector type \"531\"", "KxVector", "Read() of KxVector"},
        {"wrong header type",
         [](KxMemoryStream& s) { s.WriteKxHeader(3, 530); },
         "Invalid header found", "KxInputStreamInterface",
         "ReadKxHeader() of KxInputStreamInterface\r\nRead() of KxVector"},
        {"negative count",
         [](KxMemoryStream& s) { s.WriteKxHeader(0, 530); s.WriteLong(-1); s.WriteLong(0); },
         "Invalid element count (value=-1) in stored vector", "KxVector", "Read() of KxVector"},
        {"byte count below the elements",
         [](KxMemoryStream& s) {
             s.WriteKxHeader(0, 400); s.WriteShort(4); s.WriteLong(128); s.WriteLong(4);
             s.WriteLong(2); s.WriteLong(0); s.WriteLong(1); s.WriteLong(2);
         },
         "Invalid byte count (value=4) in stored vector of 2 elements", "KxVector",
         "Read() of KxVector"},
        {"count beyond the stream",
         [](KxMemoryStream& s) { s.WriteKxHeader(0, 530); s.WriteLong(1000000000); s.WriteLong(0); },
         "Stored vector of 1000000000 elements is longer than its stream", "KxVector",
         "Read() of KxVector"},
        {"truncated header",
         [](KxMemoryStream& s) { s.WriteInt(0); },
         "Unexpected end of stream \"memory stream\": 2 bytes required at position 4, 0 available",
         "KxMemoryStream",
         "Read() of KxMemoryStream\r\nReadShort() of KxInputStreamInterface\r\n"
         "ReadKxHeader() of KxInputStreamInterface\r\nRead() of KxVector"},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        KxMemoryStream stream;
        t.write(stream);
        stream.Rewind();
        KxVector<int32_t> v{7, 8};
        v.SetBaseIndex(1);
        EXPECT_KX(CatchKx([&] { v.Read(stream); }), t.message, t.source, t.callpath);
        EXPECT_EQ(v.GetCount(), 2);
        EXPECT_EQ(v.At(2), 8);
    }
}

// ---- KxPointerVector ---------------------------------------------------------------------------

TEST_F(PointerVectorTest, DestructionDeletesEachObjectOnceAndSkipsNulls) {
    {
        KxPointerVector<Tracked> v;
        v.push_back(new Tracked(1));
        v.push_back(nullptr);
        v.push_back(new Tracked(2));
        EXPECT_EQ(Tracked::live, 2);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST_F(PointerVectorTest, ConstructorClonesThePrototype) {
    Tracked prototype(5);
    KxPointerVector<Tracked> v(3, 1, &prototype);
    EXPECT_EQ(Tracked::live, 4);
    EXPECT_EQ(v.At(3)->Value(), 5);
    EXPECT_NE(v.At(1), v.At(2));
    KxPointerVector<Tracked> nulls(2);
    EXPECT_EQ(nulls[0], nullptr);
    EXPECT_EQ(nulls[1], nullptr);
}

TEST_F(PointerVectorTest, EraseClearAndRemoveAtDelete) {
    KxPointerVector<Tracked> v;
    for (int i = 0; i < 5; ++i) v.push_back(new Tracked(i));
    v.erase(v.begin() + 1, v.begin() + 3);
    EXPECT_EQ(Tracked::live, 3);
    v.RemoveAt(0);
    EXPECT_EQ(Tracked::live, 2);
    EXPECT_EQ(v[0]->Value(), 3);
    EXPECT_KX(CatchKx([&] { v.RemoveAt(2); }), "Index 2 out of range; array is from 0 to 1",
              "KxVector", "");
    v.clear();
    EXPECT_EQ(Tracked::live, 0);
    EXPECT_TRUE(v.empty());
}

TEST_F(PointerVectorTest, CopyAppendsIndependentCopies) {
    KxPointerVector<Tracked> a, b;
    a.push_back(new Tracked(1));
    a.push_back(nullptr);
    b.push_back(new Tracked(0));
    b.Copy(a);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(Tracked::copies, 1);
    EXPECT_EQ(b[2], nullptr);
    b[1]->SetValue(9);
    EXPECT_EQ(a[0]->Value(), 1);
    a.Copy(a); // from itself: the source grows while it is read
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[2]->Value(), 1);
    EXPECT_NE(a[2], a[0]);
}

TEST_F(PointerVectorTest, InplaceCopyMakesAPointerCopyIndependent) {
    KxPointerVector<Tracked> a;
    a.push_back(new TrackedChild(1));
    a.push_back(nullptr);
    {
        KxPointerVector<Tracked> b;
        static_cast<KxVector<Tracked*>&>(b) = a; // pointer by pointer: both hold the objects
        b.InplaceCopy();
        EXPECT_NE(b[0], a[0]);
        EXPECT_EQ(b[0]->Kind(), "child"); // cloned, not sliced
        EXPECT_EQ(b[1], nullptr);
        EXPECT_EQ(Tracked::live, 2);
    }
    EXPECT_EQ(Tracked::live, 1);
    EXPECT_EQ(a[0]->Value(), 1);
}

TEST_F(PointerVectorTest, CopyConstructionAndAssignmentAreDeep) {
    KxPointerVector<Tracked> a;
    a.SetBaseIndex(2);
    a.push_back(new TrackedChild(1));
    KxPointerVector<Tracked> b(a);
    KxPointerVector<Tracked> c;
    c.push_back(new Tracked(8));
    c = a;
    EXPECT_EQ(Tracked::live, 3);
    EXPECT_EQ(b.At(2)->Kind(), "child");
    EXPECT_NE(c[0], a[0]);
    KxPointerVector<Tracked> d(std::move(c));
    EXPECT_TRUE(c.empty());
    EXPECT_EQ(Tracked::live, 3);
}

// ---- KxSortedVector ----------------------------------------------------------------------------

TEST(KxSortedVector, FindPositionIsTheLowerBound) {
    KxSortedVector<KxString> names;
    names.Insert(new KxString("d"));
    names.Insert(new KxString("b"));
    struct Case {
        const char* key;
        int32_t position;
        bool found;
    } cases[] = {{"a", 0, false}, {"b", 0, true}, {"c", 1, false}, {"d", 1, true}, {"e", 2, false}};
    for (int32_t base : {0, 1}) {
        names.SetBaseIndex(base);
        for (const Case& t : cases) {
            KxString key(t.key);
            bool found = !t.found;
            EXPECT_EQ(names.FindPosition(&key, &found), t.position + base) << t.key;
            EXPECT_EQ(found, t.found) << t.key;
        }
    }
    EXPECT_KX(CatchKx([&] { names.FindPosition(nullptr, nullptr); }),
              "Null pointer passed to FindPosition", "KxSortedVector", "");
}

TEST(KxSortedVector, InsertKeepsOrderAndGoesBeforeEquals) {
    KxSortedVector<KxString> v;
    for (const char* s : {"m", "c", "x", "a", "m", "q"}) v.Insert(new KxString(s));
    KxString* second = new KxString("m");
    EXPECT_EQ(v.Insert(second), 2);
    EXPECT_EQ(v[2], second);
    std::string joined;
    for (const KxString* s : v) joined += s->GetCString();
    EXPECT_EQ(joined, "acmmmqx");
    EXPECT_THROW(v.Insert(nullptr), KxException);
}

TEST(KxSortedVector, MemberFunctionPredicatesAndOtherContainers) {
    using ByName = KxSortedVector<Named, KxPointerVector<Named>,
                                  KxPredicateMbrPtr<Named, &Named::GetNameIsLess>,
                                  KxPredicateMbrPtr<Named, &Named::GetNameIsEqual>>;
    ByName formats;
    formats.Insert(new Named{"Date"});
    formats.Insert(new Named{"Currency"});
    Named key{"Date"};
    bool found = false;
    EXPECT_EQ(formats.FindPosition(&key, &found), 1);
    EXPECT_TRUE(found);

    // Not owning: the objects belong to someone else.
    KxString b("b"), a("a");
    KxSortedVector<KxString, KxVector<KxString*>> refs;
    refs.Insert(&b);
    refs.Insert(&a);
    EXPECT_EQ(refs[0], &a);

    KxSortedVector<KxString, KxVector<KxString>> values;
    values.Insert("y");
    values.Insert("x");
    EXPECT_EQ(values[0], "x");
    KxString y("y");
    EXPECT_EQ(values.FindPosition(&y, &found), 1);
    EXPECT_TRUE(found);
}
