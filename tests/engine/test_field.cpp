#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kxblob.h"
#include "kxexception.h"
#include "kxfield.h"
#include "kxfieldvalue.h"
#include "kxfilter.h"
#include "kxformat.h"
#include "kxini.h"

namespace {

// The process-wide registries a field reads through, as the engine's start-up builds them. Tests
// here may release them; each is put back as it was, for the other tests of the executable.
class FieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hadTypes = KxFieldType::AreTypesInitialized();
        m_hadFlags = KxFlagType::FindEngineFlagType("Hidden") != nullptr;
        m_hadLibrary = KxFormatLib::GetDefaultLibrary() != nullptr;
        m_hadFilters = KxFilterRegistry::IsInitialized();
        KxFieldType::InitTypes();
        KxFlagType::InitFlagTypes();
        KxFilterRegistry::InitRegistry();
        KxFormatLib::InitDefaultLibrary();
    }
    void TearDown() override {
        if (!m_hadTypes) KxFieldType::ReleaseTypes();
        if (!m_hadFlags) KxFlagType::ReleaseFlagTypes();
        if (!m_hadLibrary) KxFormatLib::ReleaseDefaultLibrary();
        if (!m_hadFilters) KxFilterRegistry::ReleaseRegistry();
        // A test that released a registry the others rely on builds it again.
        if (m_hadTypes) KxFieldType::InitTypes();
        if (m_hadFlags) KxFlagType::InitFlagTypes();
        if (m_hadLibrary) KxFormatLib::InitDefaultLibrary();
    }

private:
    bool m_hadTypes = false, m_hadFlags = false, m_hadLibrary = false, m_hadFilters = false;
};

std::unique_ptr<KxIniSection> Section(std::initializer_list<const char*> lines) {
    auto section = std::make_unique<KxIniSection>("Field1");
    for (const char* line : lines) section->AddLine(line);
    return section;
}

// The section's lines as "key=value", in order.
std::vector<std::string> Lines(const KxIniSection& section) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < section.GetNumLines(); ++i) {
        const KxIniLine* line = section.GetLine(i);
        out.push_back(std::string(line->GetKey()) + "=" +
                      (line->GetValue() != nullptr ? line->GetValue() : ""));
    }
    return out;
}

struct Failure {
    std::string message;
    std::string callpath;
};

Failure FailureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const KxException& e) {
        return {e.GetErrorMessage(), e.GetCallpath()};
    }
    return {"(no exception)", ""};
}

KxField ReadField(std::initializer_list<const char*> lines, uint16_t number = 0,
                  const KxFlagTypeList* dataSetFlags = nullptr) {
    auto section = Section(lines);
    KxField field;
    field.Read(number, *section, dataSetFlags);
    return field;
}

} // namespace

TEST_F(FieldTest, SectionWithoutOptionalKeysGivesTheDefaults) {
    KxField field = ReadField({"FieldName=Generic", "Length=40"}, 3);
    EXPECT_STREQ(field.GetName(), "Generic");
    EXPECT_EQ(field.GetType(), '\0');
    EXPECT_EQ(field.GetCategory(), -1);
    EXPECT_TRUE(field.GetUseInverseIndex());
    EXPECT_EQ(field.GetFieldNumber(), 3);
    EXPECT_EQ(field.GetLength(), 40);
    EXPECT_EQ(field.GetByteOffset(), 0);
    EXPECT_EQ(field.GetIndexCount(), 0);
    EXPECT_EQ(field.GetFormatOption(), 0);
    EXPECT_EQ(field.GetFilter(), nullptr);
    EXPECT_EQ(field.GetFlags(), 0u);
    EXPECT_FALSE(field.IsMapped());
}

TEST_F(FieldTest, IndexCountIsLimitedTo32) {
    struct Case {
        const char* line;
        bool ok;
    };
    for (const Case& c : {Case{"Index=32", true}, Case{"Index=0", true}, Case{"Index=33", false},
                          Case{"Index=-1", false}, Case{"Index=65536", false}}) {
        Failure f = FailureOf([&] { ReadField({"FieldName=A", c.line}); });
        if (c.ok) {
            EXPECT_EQ(f.message, "(no exception)") << c.line;
        } else {
            EXPECT_EQ(f.message, "Invalid parameter for index count.") << c.line;
            EXPECT_EQ(f.callpath, "SetIndexCount() of KxField\r\nRead() of KxField") << c.line;
        }
    }
    EXPECT_EQ(ReadField({"Index=32"}).GetIndexCount(), 32);
}

TEST_F(FieldTest, NumbersThatDoNotFitTheirMemberFail) {
    // A damaged structure file must not wrap a width or an offset into a plausible one.
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"Length=40000", "Invalid Length value 40000 for field 2"},
        {"Length=-5", "Invalid Length value -5 for field 2"},
        {"ByteOffset=65536", "Invalid ByteOffset value 65536 for field 2"},
        {"ByteOffset=-1", "Invalid ByteOffset value -1 for field 2"},
        {"Category=40000", "Invalid Category value 40000 for field 2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FailureOf([&] { ReadField({c.line}, 2); }).message, c.message) << c.line;
    EXPECT_EQ(ReadField({"ByteOffset=65535"}).GetByteOffset(), 65535);
}

TEST_F(FieldTest, EngineFlagsReadAndWrittenBack) {
    KxField field = ReadField({"FieldName=Code", "Type=A", "Hidden=true", "ReadOnly=yes"});
    EXPECT_EQ(field.GetFlags(), 9u);

    field = ReadField({"FieldName=Code", "Type=A", "Hidden=true", "ReadOnly=1", "Flags=64",
                       "Required=false"});
    EXPECT_EQ(field.GetFlags(), 73u);

    KxIniSection out("Field1");
    field.WriteFlagsToIni(out, nullptr);
    EXPECT_EQ(Lines(out), (std::vector<std::string>{"Hidden=true", "ReadOnly=true", "Flags=64"}));
}

TEST_F(FieldTest, EngineFlagListIsSortedByName) {
    std::vector<std::string> names;
    for (const KxFlagType* flag : KxFlagType::GetEngineFlagTypes()) {
        names.push_back(flag->GetName());
        EXPECT_TRUE(flag->GetIsSystemFlag());
        EXPECT_TRUE(flag->GetIsOneBit());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Hidden", "NonNativeDataSource", "ReadOnly",
                                               "Required", "System"}));
    EXPECT_EQ(KxFlagType::FindEngineFlagType("ReadOnly")->GetMask(), 8u);
    EXPECT_EQ(KxFlagType::FindEngineFlagType("readonly"), nullptr);
}

TEST_F(FieldTest, DataSetAndUserFlags) {
    KxFlagTypeList dataSet;
    dataSet.push_back(new KxFlagType("Level", "Review level", 0x6, false));
    dataSet.push_back(new KxFlagType("Reviewed", "Checked by a person", 0x8, false));
    EXPECT_EQ(dataSet[0]->GetShift(), 1);
    EXPECT_FALSE(dataSet[0]->GetIsOneBit());

    KxField field =
        ReadField({"Level=3", "Reviewed=true", "UserFlags=5", "Flags=2"}, 0, &dataSet);
    EXPECT_EQ(field.GetDataSetFlags(), 0xEu);
    EXPECT_EQ(field.GetFlags(true), 5u);
    EXPECT_EQ(field.GetFlags(), 2u);

    KxIniSection out("Field1");
    field.WriteFlagsToIni(out, &dataSet);
    EXPECT_EQ(Lines(out), (std::vector<std::string>{"Required=true", "UserFlags=5", "Level=3",
                                                    "Reviewed=true"}));

    // A value wider than its flag stays within the flag's bits.
    field = ReadField({"Level=5"}, 0, &dataSet);
    EXPECT_EQ(field.GetDataSetFlags(), 0x2u);

    // Without a list the data-set word is left alone.
    auto section = Section({"Hidden=true"});
    field.ReadFlagsFromIni(*section, nullptr);
    EXPECT_EQ(field.GetDataSetFlags(), 0x2u);
    EXPECT_EQ(field.GetFlags(), 1u);
}

TEST_F(FieldTest, WriteAndReadBackEveryKey) {
    KxField field = ReadField({"FieldName=Dose", "Type=N", "Length=12", "ByteOffset=100",
                               "Precision=2", "Description=Usual dose", "UserDefined=mg/m2",
                               "Category=3", "Index=2", "UseInverseIndex=false", "System=true",
                               "FormatOption=0"},
                              5);
    KxIniSection out("Field6");
    field.Write(out, nullptr);
    EXPECT_EQ(Lines(out), (std::vector<std::string>{
                              "FieldName=Dose", "UserDefined=mg/m2", "Type=N", "Length=12",
                              "ByteOffset=100", "Description=Usual dose", "Precision=2",
                              "Category=3", "Index=2", "UseInverseIndex=false", "System=true"}));

    KxField back;
    back.Read(5, out, nullptr);
    EXPECT_STREQ(back.GetName(), "Dose");
    EXPECT_EQ(back.GetType(), 'N');
    EXPECT_EQ(back.GetLength(), 12);
    EXPECT_EQ(back.GetByteOffset(), 100);
    EXPECT_EQ(back.GetPrecision(), 2);
    EXPECT_STREQ(back.GetDescription(), "Usual dose");
    EXPECT_STREQ(back.GetUserDefined(), "mg/m2");
    EXPECT_EQ(back.GetCategory(), 3);
    EXPECT_EQ(back.GetIndexCount(), 2);
    EXPECT_FALSE(back.GetUseInverseIndex());
    EXPECT_EQ(back.GetFlags(), KxFlagType::kxSystem);
}

TEST_F(FieldTest, MappedFieldsBorrowTheirDefinition) {
    auto base = Section({"FieldName=Generic", "Type=A", "Length=30", "ByteOffset=8",
                         "Category=1"});
    auto own = Section({"FieldName=Alias", "MappedTo=Generic", "Hidden=true", "Category=4"});
    KxField field;
    field.Read(0, *base, nullptr);
    field.ReadMappedField(2, *own);
    EXPECT_STREQ(field.GetName(), "Alias");
    EXPECT_STREQ(field.GetMappedFieldName(), "Generic");
    EXPECT_TRUE(field.IsMapped());
    EXPECT_EQ(field.GetFieldNumber(), 2);
    EXPECT_EQ(field.GetType(), 'A');
    EXPECT_EQ(field.GetLength(), 30);
    EXPECT_EQ(field.GetByteOffset(), 8);
    EXPECT_EQ(field.GetCategory(), 4);
    EXPECT_EQ(field.GetFlags(), KxFlagType::kxHidden);

    // Hidden=false clears what the borrowed definition set; no Category keeps the borrowed one.
    auto hiddenBase = Section({"FieldName=Generic", "Hidden=true", "Category=1"});
    auto shown = Section({"FieldName=Alias", "MappedTo=Generic", "Hidden=false"});
    field.Read(0, *hiddenBase, nullptr);
    field.ReadMappedField(2, *shown);
    EXPECT_EQ(field.GetFlags(), 0u);
    EXPECT_EQ(field.GetCategory(), 1);

    KxIniSection out("Field3");
    field.Write(out, nullptr);
    EXPECT_EQ(Lines(out), (std::vector<std::string>{"FieldName=Alias", "MappedTo=Generic"}));
}

TEST_F(FieldTest, DeclaredFiltersAndFormats) {
    struct Case {
        std::vector<const char*> lines;
        std::string message; // empty: reads without failure
        char option = 0;
        const char* filterClass = nullptr;
        // A mapped section takes a filter only through FilterType; a registry name alone is
        // not read there.
        bool mappedIgnores = false;
    };
    const Case cases[] = {
        {{"FilterType=3"}, "", 2, "KxNumberFilter"},
        {{"KxFilter.RegistryIndex=KxNumberFilter"}, "", 2, "KxNumberFilter", true},
        // The registry name decides over the type code.
        {{"FilterType=1", "KxFilter.RegistryIndex=KxDateFilter"}, "", 2, "KxDateFilter"},
        // An empty format does not undo the filter; a named one replaces it.
        {{"KxFilter.RegistryIndex=KxNumberFilter", "Format="}, "", 2, "KxNumberFilter", true},
        {{"KxFilter.RegistryIndex=KxNumberFilter", "Format=Colour"}, "", 1, nullptr},
        {{"Format=Colour"}, "", 1},
        {{"KxFilter.RegistryIndex=Unheard"},
         "The application has not registered the following filter: \"Unheard\".", 0, nullptr,
         true},
        {{"FilterType=9"}, "Unknown filter type 9"},
        {{"FilterType=0"}, "Unknown filter type 0"},
        {{"FilterType=2", "Picture String Filter=#;"}, "Invalid literal sequence"},
        // Both keys present fails first, whatever their values.
        {{"FilterType=3", "Format=Colour"}, "Field 4 can not be both filtered and formatted."},
        {{"FilterType=1", "Format="}, "Field 4 can not be both filtered and formatted."},
        {{"FilterType=1"}, ""},
        {{"Format="}, ""},
        {{"KxFilter.RegistryIndex="}, ""},
    };
    auto check = [](KxField& field, const Failure& f, const Case& c, bool mapped) {
        bool ignored = mapped && c.mappedIgnores;
        std::string message = ignored ? "" : c.message;
        if (!message.empty()) {
            EXPECT_EQ(f.message, message) << c.lines[0];
            std::string tail = mapped ? "ReadMappedField() of KxField" : "Read() of KxField";
            EXPECT_EQ(f.callpath.substr(f.callpath.size() - std::min(f.callpath.size(), tail.size())),
                      tail)
                << f.callpath;
            return;
        }
        EXPECT_EQ(f.message, "(no exception)") << c.lines[0];
        if (ignored) {
            EXPECT_EQ(field.GetFormatOption(), 0) << c.lines[0];
            EXPECT_EQ(field.GetFilter(), nullptr) << c.lines[0];
            return;
        }
        EXPECT_EQ(field.GetFormatOption(), c.option) << c.lines[0];
        if (c.filterClass == nullptr)
            EXPECT_EQ(field.GetFilter(), nullptr) << c.lines[0];
        else if (field.GetFilter() == nullptr)
            ADD_FAILURE() << c.lines[0];
        else
            EXPECT_STREQ(field.GetFilter()->GetClassnameCString(), c.filterClass);
    };
    for (const Case& c : cases) {
        auto section = std::make_unique<KxIniSection>("Field5");
        section->AddLine("FieldName=Name");
        for (const char* line : c.lines) section->AddLine(line);
        KxField field;
        check(field, FailureOf([&] { field.Read(4, *section, nullptr); }), c, false);

        // The mapped form checks the same keys.
        auto base = Section({"FieldName=Name"});
        auto mapped = std::make_unique<KxIniSection>("Field6");
        mapped->AddLine("MappedTo=Name");
        for (const char* line : c.lines) mapped->AddLine(line);
        KxField alias;
        alias.Read(0, *base, nullptr);
        check(alias, FailureOf([&] { alias.ReadMappedField(4, *mapped); }), c, true);
    }

    // A lenient lookup goes on without the filter class it does not know.
    auto section = Section({"KxFilter.RegistryIndex=Unheard"});
    KxField lenient;
    lenient.SetStrictFilterLookup(false);
    lenient.Read(4, *section, nullptr);
    EXPECT_EQ(lenient.GetFilter(), nullptr);
    EXPECT_EQ(lenient.GetFormatOption(), 0);
}

TEST_F(FieldTest, FiltersAreWrittenBackAndCopied) {
    KxField field = ReadField({"FieldName=Dose", "Type=N", "Length=10", "FilterType=3",
                               "Number of Decimal Places=1", "Prefix=$"});
    KxIniSection out("Field1");
    field.Write(out, nullptr);
    std::vector<std::string> lines = Lines(out);
    for (const char* expected : {"FilterType=3", "KxFilter.RegistryIndex=KxNumberFilter",
                                 "Number Of Decimal Places=1", "Prefix=$", "FormatOption=2"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;

    KxField back;
    back.Read(0, out, nullptr);
    KxField copy(back);
    ASSERT_NE(copy.GetFilter(), nullptr);
    EXPECT_NE(copy.GetFilter(), back.GetFilter());
    char shown[16];
    static_cast<const KxNumberFilter*>(copy.GetFilter())->FilterValue(2.25, shown, sizeof shown);
    EXPECT_STREQ(shown, "$2.0");
}

TEST_F(FieldTest, FormatNamesNeedALibrary) {
    KxFormatLib::ReleaseDefaultLibrary();
    KxField field;
    Failure f = FailureOf([&] { field.SetFormat(KxField::kxShowFormatted, "Colour", nullptr); });
    EXPECT_EQ(f.message, "No format library set");
    EXPECT_EQ(f.callpath, "SetFormat() of KxField");

    KxFormatLib::InitDefaultLibrary();
    KxFormatLib::InitDefaultLibrary();
    field.SetFormat(KxField::kxShowFormatted, "Colour", nullptr);
    EXPECT_STREQ(field.GetFormatName(), "Colour");
    EXPECT_EQ(field.GetFormatOption(), KxField::kxShowFormatted);
    // The library holds no dictionary, so the field falls back to its raw text.
    EXPECT_EQ(field.GetFormat(), nullptr);
    // Clearing the name needs no library.
    KxFormatLib::ReleaseDefaultLibrary();
    field.SetFormat(KxField::kxShowRaw, "", nullptr);
    EXPECT_STREQ(field.GetFormatName(), "");
}

TEST_F(FieldTest, CopiesKeepTheDefinition) {
    KxField source = ReadField({"FieldName=Dose", "Type=N", "Length=12", "ByteOffset=4",
                                "Precision=2", "Description=d", "UserDefined=u", "Category=3",
                                "Index=1", "UseInverseIndex=false", "Hidden=true", "Flags=64"},
                               7);
    std::unique_ptr<KxField> clone(source.Clone());
    KxField assigned;
    assigned = source;
    for (const KxField* copy : {clone.get(), &assigned}) {
        EXPECT_STREQ(copy->GetName(), "Dose");
        EXPECT_STREQ(copy->GetDescription(), "d");
        EXPECT_STREQ(copy->GetUserDefined(), "u");
        EXPECT_EQ(copy->GetType(), 'N');
        EXPECT_EQ(copy->GetLength(), 12);
        EXPECT_EQ(copy->GetByteOffset(), 4);
        EXPECT_EQ(copy->GetPrecision(), 2);
        EXPECT_EQ(copy->GetCategory(), 3);
        EXPECT_EQ(copy->GetIndexCount(), 1);
        EXPECT_EQ(copy->GetFieldNumber(), 7);
        EXPECT_FALSE(copy->GetUseInverseIndex());
        EXPECT_EQ(copy->GetFlags(), 65u);
    }

    // A source without a length does not clear the target's.
    KxField target;
    target.SetLength(20);
    KxField unsized;
    target.Copy(unsized);
    EXPECT_EQ(target.GetLength(), 20);
    EXPECT_EQ(target.GetFieldNumber(), KxField::kxNoFieldNumber);
}

TEST_F(FieldTest, SettersKeepTheirConditions) {
    KxField field;
    field.SetDefinition(4, 'I', 8, 0, 2);
    field.SetDefinition(4, 'I', 0, -1, 2);
    EXPECT_EQ(field.GetLength(), 8);
    EXPECT_EQ(field.GetPrecision(), 0);
    field.SetName("Count", nullptr, nullptr, -1);
    EXPECT_EQ(field.GetFieldNumber(), 4);
    EXPECT_STREQ(field.GetDescription(), "");
    field.SetName("Count", "How many", "Other", 9);
    EXPECT_EQ(field.GetFieldNumber(), 9);
    EXPECT_TRUE(field.IsMapped());
    EXPECT_EQ(FailureOf([&] { field.SetIndexCount(33); }).message,
              "Invalid parameter for index count.");
}

TEST_F(FieldTest, TypeConstantNames) {
    struct Case {
        char type;
        const char* name;
    };
    const Case cases[] = {
        {'A', "KX_ALPHA_FLD"},   {'Y', "KX_BINARY_FLD"},  {'I', "KX_LONG_FLD"},
        {'S', "KX_SHORT_FLD"},   {'U', "KX_USHORT_FLD"},  {'W', "KX_ULONG_FLD"},
        {'N', "KX_NUMBER_FLD"},  {'D', "KX_DATE_FLD"},    {'T', "KX_TIME_FLD"},
        {'@', "KX_STAMP_FLD"},   {'L', "KX_BOOLEAN_FLD"}, {'B', "KX_BLOB_FLD"},
        {'$', "KX_CURRENCY_FLD"},
    };
    for (const Case& c : cases) EXPECT_STREQ(KxField::GetTypeCString(c.type), c.name) << c.type;
    Failure f = FailureOf([] { KxField::GetTypeCString('X'); });
    EXPECT_EQ(f.message, "The character, 'X', is not a valid field type.");
    EXPECT_EQ(f.callpath, "GetTypeCString() of KxField");
}

TEST_F(FieldTest, TypeDescriptors) {
    KxFieldType::InitTypes(); // a second start-up changes nothing
    int count = 0;
    for (char c : std::string("AYISUWNDT@LB")) {
        const KxFieldType* t = KxFieldType::GetFieldType(c);
        ASSERT_NE(t, nullptr) << c;
        EXPECT_EQ(t->GetType(), c);
        EXPECT_EQ(t->GetLast(), c != 'L') << c;
        ++count;
    }
    EXPECT_EQ(count, 12);
    EXPECT_EQ(KxFieldType::GetFieldType('$'), nullptr);
    EXPECT_EQ(KxFieldType::GetFieldType('X'), nullptr);
    const KxFieldType* number = KxFieldType::GetFieldType('N');
    EXPECT_STREQ(number->GetName(), "Number");
    EXPECT_TRUE(number->GetIsNumeric());
    EXPECT_EQ(number->GetLowerBound(), DBL_MIN);
    EXPECT_EQ(number->GetUpperBound(), DBL_MAX);
    EXPECT_EQ(KxFieldType::GetFieldType('W')->GetUpperBound(), 4294967295.0);
    EXPECT_EQ(KxFieldType::GetFieldType('@')->GetLowerBound(), 17);
    EXPECT_FALSE(KxFieldType::GetFieldType('D')->GetIsNumeric());
    EXPECT_STREQ(KxFieldType::GetTypeName('$'), "Currency");

    KxFieldType::ReleaseTypes();
    KxFieldType::ReleaseTypes();
    EXPECT_EQ(FailureOf([] { KxFieldType::GetFieldType('A'); }).message,
              "The field types are not initialized");
    // Reading a field needs the flag list; without it the failure says so.
    KxFlagType::ReleaseFlagTypes();
    EXPECT_EQ(FailureOf([] { ReadField({"FieldName=A"}); }).message,
              "The engine flag types are not initialized");
}

TEST(KxFieldValue, AccessIsTypeEnforced) {
    KxFieldValue value;
    value.SetLong(42);
    EXPECT_EQ(value.GetType(), 'I');
    EXPECT_EQ(value.AsLong_TypeEnforced(), 42);
    value.AsLong_TypeEnforced() = 43;
    EXPECT_EQ(std::as_const(value).AsLong_TypeEnforced(), 43);

    Failure f = FailureOf([&] { value.AsShort_TypeEnforced(); });
    EXPECT_EQ(f.message, "Cannot treat a field value of type \"Long\" as type \"Short\".");
    EXPECT_EQ(f.callpath, "AsShort_TypeEnforced() of KxFieldValue");
    EXPECT_EQ(FailureOf([&] { value.AsCString_TypeEnforced(); }).message,
              "Cannot treat a field value of type \"Long\" as type \"Alpha\".");

    value.SetString("text");
    EXPECT_STREQ(value.AsCString_TypeEnforced(), "text");
    EXPECT_STREQ(value.AsKxString_TypeEnforced().GetCString(), "text");

    KxFieldValue blob('B');
    blob.AsKxBlob_TypeEnforced().SetBlob("abc", 3);
    KxFieldValue copy(blob);
    blob.AsKxBlob_TypeEnforced().SetBlob("x", 1);
    EXPECT_EQ(copy.AsKxBlob_TypeEnforced().GetSize(), 3u);
    EXPECT_EQ(FailureOf([&] { copy.AsKxResizableChunk_TypeEnforced(); }).message,
              "Cannot treat a field value of type \"Blob\" as type \"Binary\".");

    EXPECT_NE(FailureOf([] { KxFieldValue v('X'); }).message, "(no exception)");
    EXPECT_NE(FailureOf([] { KxFieldValue v('$'); }).message, "(no exception)");
}

TEST(KxFieldValue, Comparisons) {
    auto longValue = [](int32_t v) {
        KxFieldValue f;
        f.SetLong(v);
        return f;
    };
    auto unsignedValue = [](uint32_t v) {
        KxFieldValue f;
        f.SetUnsignedLong(v);
        return f;
    };
    auto text = [](const char* v) {
        KxFieldValue f;
        f.SetString(v);
        return f;
    };
    EXPECT_LT(longValue(-5).ComparedTo(longValue(3)), 0);
    EXPECT_EQ(longValue(3).ComparedTo(longValue(3)), 0);
    EXPECT_TRUE(unsignedValue(3).IsLessThan(unsignedValue(4000000000u)));
    EXPECT_TRUE(text("B").IsLessThan(text("a"))); // byte order
    EXPECT_GT(text("abc").ComparedTo(text("ab")), 0);

    KxTimestamp early, late;
    late.SetCString("20070305120000000");
    KxFieldValue a, b;
    a.SetTimestamp(early);
    b.SetTimestamp(late);
    EXPECT_TRUE(a.IsLessThan(b));

    EXPECT_EQ(FailureOf([&] { longValue(1).ComparedTo(text("1")); }).message,
              "Cannot compare KxFieldValue of type Long to KxFieldValue of type Alpha.");
    KxFieldValue bytes('Y');
    EXPECT_EQ(FailureOf([&] { bytes.ComparedTo(bytes); }).message,
              "Cannot compare KxFieldValues of type Binary.");
    KxFieldValue blob('B');
    EXPECT_EQ(FailureOf([&] { blob.IsLessThan(blob); }).message,
              "Cannot compare KxFieldValues of type Blob.");
}
