#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/enginefixture.h"
#include "foundation/kxcatch.h"
#include "kxengineexceptions.h"
#include "kxfield.h"
#include "kxfilter.h"
#include "kxformat.h"
#include "kxini.h"
#include "kxio.h"
#include "txdfile.h"

namespace {

using kxtest::Lines;

class FormatTest : public kxtest::EngineTest {};

bool Holds(const char* valueString, char type, const char* value, bool caseSensitive = true) {
    KxFormatLine line(valueString, "Label", type);
    return line.GetIsInFormatLine(value, type, true, true, caseSensitive);
}

std::vector<std::string> Names(const KxFormatDict& dict) {
    KxVector<KxString> names;
    dict.GetAllFormatNames(names);
    return std::vector<std::string>(names.begin(), names.end());
}

// A format read from an in-memory section, as a dictionary reads one.
std::unique_ptr<KxFormat> FormatOf(const char* header, char type,
                                   std::initializer_list<const char*> lines,
                                   bool caseSensitive = true) {
    KxIniSection section(header);
    for (const char* line : lines) section.AddLine(line);
    KxIniSection cases("[FormatCaseSensitivity]");
    KxString name(header);
    name.Remove(0, 8);
    name.Truncate(static_cast<uint32_t>(name.GetLength() - 1));
    cases.SetBool(name, caseSensitive);
    auto format = std::make_unique<KxFormat>();
    format->Read(section, type, &cases, nullptr, nullptr);
    return format;
}

const std::string kDictionary =
    Lines({"[DictionaryInfo]", "Owner=Registry team", "[FormatDataType]", "Dose=N", "Colour=A",
           "Code=A", "[FormatCaseSensitivity]", "Colour=false", "[Format=Stage]", "1-2=Early",
           "3-4=Late", "[Format=Colour]", "R=Red", "ABC=Alphabet", "[Format=Code]", "abc=Lower",
           "[Format=Dose]", "0-<1=Low", "1-10=High", "[Format=Empty]"});

// ---------------------------------------------------------------------------------------------
// Value strings and ranges

TEST_F(FormatTest, ValueStringsAndKinds) {
    struct Case {
        char type;
        const char* valueString;
        std::vector<std::pair<const char*, bool>> values;
    };
    const Case cases[] = {
        {'I', "1-5,9", {{"1", true}, {"3", true}, {"5", true}, {"9", true}, {"6", false}, {"0", false}}},
        {'I', "0<-<10", {{"1", true}, {"9", true}, {"0", false}, {"10", false}}},
        {'I', "0-<10", {{"0", true}, {"9", true}, {"10", false}}},
        {'I', "0<-10", {{"0", false}, {"10", true}}},
        {'I', "\"-5\"", {{"-5", true}, {"5", false}}},
        {'I', "", {{"-2147483648", true}, {"0", false}}},
        {'N', "", {{"-1e30", true}, {"0", false}}},
        {'N', "0.5-<1.5", {{"1.4999", true}, {"1.5", false}, {"0.5", true}}},
        {'U', "1-65535", {{"65535", true}, {"0", false}}},
        {'W', "3000000000-4000000000", {{"4000000000", true}, {"2999999999", false}}},
        {'S', "\"-32767\"", {{"-32767", true}}},
        {'A', "\"a,b\"", {{"a,b", true}, {"a", false}, {"b", false}}},
        {'A', "b-d,x", {{"c", true}, {"x", true}, {"e", false}, {"a", false}}},
        {'A', "", {{"", true}, {"x", false}}},
    };
    for (const Case& c : cases)
        for (const auto& [value, held] : c.values)
            EXPECT_EQ(Holds(c.valueString, c.type, value), held)
                << c.type << " " << c.valueString << " " << value;

    // Binary values of the type, and texts with a leading blank.
    KxFormatLine line("1-5,9", "Low", 'I');
    EXPECT_EQ(line.GetNumRanges(), 2);
    int32_t three = 3, six = 6;
    EXPECT_TRUE(line.GetIsInFormatLine(&three, 'I', false, true, true));
    EXPECT_FALSE(line.GetIsInFormatLine(&six, 'I', false, true, true));
    EXPECT_TRUE(line.GetIsInFormatLine(" 3", 'I', true, true, true));
    EXPECT_FALSE(line.GetIsInFormatLine(" 3", 'I', true, false, true));
    EXPECT_FALSE(line.GetIsInFormatLine(nullptr, 'I', false, true, true));
    // The value string in quotes is one value with its hyphen.
    EXPECT_EQ(KxFormatLine("\"1-5\"", "x", 'A').GetNumRanges(), 1);
}

TEST_F(FormatTest, BadValueStrings) {
    struct Case {
        char type;
        const char* valueString;
        const char* message;
    };
    const std::string tooLong(33, 'x');
    const Case cases[] = {
        {'I', "-5", "Invalid range"},
        {'I', "5-", "Invalid range"},
        {'I', "1,-5", "Invalid range"},
        {'I', "1-x", "\"x\" is not a valid long"},
        {'I', "1,,2", "\"\" is not a valid long"},
        {'S', "40000", "\"40000\" does not fit in a short"},
        {'A', tooLong.c_str(), "Invalid format range"},
        {'X', "1", "Invalid character type"},
        {'D', "", "Invalid character type"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CatchKx([&] { KxFormatLine(c.valueString, "L", c.type); }).message, c.message)
            << c.valueString;
    EXPECT_KX(CatchKx([] { KxFormatLine("-5", "L", 'I'); }), "Invalid range", "KxFormatLine",
              "CreateRange(char* sRange) of KxFormatLine\r\nSetAllRanges() of KxFormatLine\r\n"
              "SetValue() of KxFormatLine\r\nConstructor(char *sValue) of KxFormatLine");
    EXPECT_EQ(CatchKx([] { KxFormatLine("1", "L", 'I').GetRange(1); }).message,
              "Index 1 out of range; array is from 0 to 0");
}

// ---------------------------------------------------------------------------------------------
// Formats

TEST_F(FormatTest, FormatAndUnformat) {
    KxFormat stages;
    stages.AddLine("1-5", "Low");
    stages.AddLine("3-9", "Mid");
    stages.AddLine("\"-1\"", "Unknown");
    stages.AddLine("0", "None", 0);
    EXPECT_STREQ(stages.GetLine(0)->GetLabel(), "None");

    // The first line that holds the value gives the label.
    char buffer[KxFormatRange::kxAreaSize];
    auto format = [&](int32_t value, uint32_t length = sizeof buffer) {
        memset(buffer, 'x', sizeof buffer);
        memcpy(buffer, &value, sizeof value);
        return stages.Format(buffer, length, false, true);
    };
    EXPECT_EQ(format(4), 1);
    EXPECT_STREQ(buffer, "Low");
    EXPECT_EQ(format(7), 2);
    EXPECT_STREQ(buffer, "Mid");
    EXPECT_EQ(format(-1), 3);
    // A value no line holds leaves the buffer as it was.
    EXPECT_EQ(format(20), -1);
    int32_t kept;
    memcpy(&kept, buffer, sizeof kept);
    EXPECT_EQ(kept, 20);
    // The label is cut to the buffer.
    EXPECT_EQ(format(4, 3), 1);
    EXPECT_STREQ(buffer, "Lo");
    EXPECT_KX(CatchKx([&] { stages.Format(nullptr, 8, false, true); }), "Null buffer", "KxFormat",
              "Format() of KxFormat");

    int32_t low = 0;
    EXPECT_TRUE(stages.UnFormat("Mid", &low));
    EXPECT_EQ(low, 3);
    EXPECT_TRUE(stages.UnFormat("Unknown", &low));
    EXPECT_EQ(low, -1);
    EXPECT_FALSE(stages.UnFormat("mid", &low));
    EXPECT_EQ(low, -1);

    // Copies are independent.
    KxFormat copy(stages);
    stages.GetLine(1)->SetLabel("Changed");
    EXPECT_STREQ(copy.GetLine(1)->GetLabel(), "Low");
    copy = stages;
    EXPECT_STREQ(copy.GetLine(1)->GetLabel(), "Changed");
    EXPECT_EQ(CatchKx([&] { stages.AddLine("1", "x", 9); }).message,
              "Index 9 out of range; array is from 0 to 3");
}

TEST_F(FormatTest, CaseSensitivity) {
    for (bool caseSensitive : {true, false}) {
        auto colour = FormatOf("[Format=Colour]", 'A', {"ABC=Alphabet", "R=Red", "a-c=Range"},
                               caseSensitive);
        EXPECT_EQ(colour->GetName(), std::string("Colour"));
        EXPECT_EQ(colour->GetType(), 'A');
        char buffer[KxFormatRange::kxAreaSize] = "abc";
        // Case-sensitive, "abc" falls in the range a-c only after "ABC" fails to match.
        EXPECT_EQ(colour->Format(buffer, sizeof buffer, false, true), caseSensitive ? 2 : 0);
        char value[KxFormatRange::kxAreaSize] = "";
        EXPECT_EQ(colour->UnFormat("red", value), !caseSensitive);
        EXPECT_STREQ(value, caseSensitive ? "" : "R");
        EXPECT_EQ(colour->GetIndexFromLabel("ALPHABET"), caseSensitive ? -1 : 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Dictionaries

TEST_F(FormatTest, DictionaryLookups) {
    Write("codes.kxd", kDictionary);
    KxFormatDict dict(Path("codes.kxd").c_str());
    EXPECT_STREQ(dict.GetOwner(), "Registry team");
    EXPECT_EQ(dict.GetFileName(), Path("codes.kxd"));

    KxFormat* stage = dict.GetFormat("Stage", 'I');
    ASSERT_NE(stage, nullptr);
    EXPECT_EQ(stage->GetNumLines(), 2);
    EXPECT_EQ(dict.GetFormat("STAGE"), stage);

    // The file's own type wins over the one asked for; asking again for the other type loads
    // it again, and what was handed out before stays usable.
    std::shared_ptr<KxFormat> dose = dict.GetSharedFormat("Dose", 'I');
    ASSERT_NE(dose, nullptr);
    EXPECT_EQ(dose->GetType(), 'N');
    KxFormat* again = dict.GetFormat("Dose", 'I');
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, dose.get());
    EXPECT_EQ(dict.GetNumLoadedFormats(), 2);
    char buffer[KxFormatRange::kxAreaSize];
    double half = 0.5;
    memcpy(buffer, &half, sizeof half);
    EXPECT_EQ(dose->Format(buffer, sizeof buffer, false, true), 0);
    EXPECT_STREQ(buffer, "Low");
    // The same type keeps the loaded one.
    EXPECT_EQ(dict.GetFormat("Dose", 'N'), again);

    // Case sensitivity by format.
    KxFormat* colour = dict.GetFormat("Colour");
    ASSERT_NE(colour, nullptr);
    EXPECT_FALSE(colour->GetCaseSensitive());
    EXPECT_EQ(colour->GetIndexFromLabel("alphabet"), 1);
    KxFormat* code = dict.GetFormat("Code");
    ASSERT_NE(code, nullptr);
    EXPECT_TRUE(code->GetCaseSensitive());
    char text[KxFormatRange::kxAreaSize] = "ABC";
    EXPECT_EQ(code->Format(text, sizeof text, false, true), -1);

    // A format without lines or without a section is not found.
    EXPECT_EQ(dict.GetFormat("Empty"), nullptr);
    EXPECT_EQ(dict.GetFormat("Absent"), nullptr);
    EXPECT_EQ(dict.GetNumLoadedFormats(), 4);
    // Loaded formats are kept in byte order of their names.
    EXPECT_STREQ(dict.GetFormatName(0), "Code");
    EXPECT_STREQ(dict.GetFormatName(3), "Stage");
    EXPECT_EQ(CatchKx([&] { dict.UnloadFormat(4); }).message,
              "Index 4 out of range; array is from 0 to 3");

    EXPECT_EQ(Names(dict), (std::vector<std::string>{"Stage", "Colour", "Code", "Dose", "Empty"}));
    Write("plain.kxd", Lines({"[FormatDataType]", "X=A"}));
    EXPECT_TRUE(Names(KxFormatDict(Path("plain.kxd").c_str())).empty());
    EXPECT_KX(CatchKx([] { Names(KxFormatDict()); }),
              "Cannot call GetAllFormatNames() on a dictionary without a file", "KxFormatDict",
              "GetAllFormatNames() of KxFormatDict");
    EXPECT_EQ(KxFormatDict().GetFormat("Stage"), nullptr);
}

TEST_F(FormatTest, LoadingAllFormatsFollowsTheFile) {
    Write("codes.kxd", kDictionary);
    KxFormatDict dict(Path("codes.kxd").c_str(), true, 'I');
    // Formats without lines are kept here, in name order.
    ASSERT_EQ(dict.GetNumLoadedFormats(), 5);
    EXPECT_STREQ(dict.GetFormatName(3), "Empty");
    KxFormat* colour = dict.GetFormat("Colour");
    EXPECT_EQ(colour->GetType(), 'A');

    Write("codes.kxd", Lines({"[FormatDataType]", "Colour=A", "[Format=Colour]", "G=Green",
                              "[Format=Grade]", "1=One"}));
    dict.LoadAllFormats(false);
    EXPECT_EQ(dict.GetNumLoadedFormats(), 2);
    EXPECT_EQ(dict.GetFormat("Colour"), colour);
    EXPECT_EQ(colour->GetNumLines(), 2);
    dict.LoadAllFormats(true);
    EXPECT_EQ(colour->GetNumLines(), 1);
    EXPECT_STREQ(colour->GetLine(0)->GetLabel(), "Green");
    EXPECT_EQ(colour->GetType(), 'A');
    ASSERT_NE(dict.GetFormat("Grade"), nullptr);
}

TEST_F(FormatTest, LibrarySearchOrder) {
    Write("a.kxd", Lines({"[Format=Stage]", "1=From a", "[Format=OnlyA]", "1=A"}));
    Write("b.kxd", Lines({"[Format=Stage]", "1=From b"}));
    auto labelOf = [](KxFormat* format) {
        return format != nullptr ? std::string(format->GetLine(0)->GetLabel()) : "(none)";
    };

    KxFormatLib earlierFirst;
    EXPECT_TRUE(earlierFirst.AddDictionary(Path("a.kxd").c_str()));
    EXPECT_TRUE(earlierFirst.AddDictionary(Path("b.kxd").c_str()));
    EXPECT_EQ(labelOf(earlierFirst.GetFormat("Stage")), "From a");
    EXPECT_EQ(labelOf(earlierFirst.GetFormat("OnlyA", 'I')), "A");

    KxFormatLib laterFirst(nullptr, false);
    laterFirst.AddDictionary(Path("a.kxd").c_str());
    EXPECT_EQ(labelOf(laterFirst.GetFormat("Stage")), "From a");
    EXPECT_EQ(laterFirst.GetDictionary(0)->GetNumLoadedFormats(), 1);
    // The new dictionary comes first, so the earlier copy is unloaded.
    laterFirst.AddDictionary(Path("b.kxd").c_str());
    EXPECT_EQ(laterFirst.GetDictionary(0)->GetNumLoadedFormats(), 0);
    EXPECT_EQ(labelOf(laterFirst.GetFormat("stage")), "From b");
    EXPECT_EQ(labelOf(laterFirst.GetFormat("OnlyA")), "A");

    // Adding a dictionary again replaces it; removing takes the exact path.
    laterFirst.AddDictionary(Path("a.kxd").c_str());
    EXPECT_EQ(laterFirst.GetNumDictionaries(), 2);
    EXPECT_EQ(laterFirst.GetDictionaryName(1), Path("a.kxd"));
    laterFirst.RemoveDictionary("a.kxd");
    EXPECT_EQ(laterFirst.GetNumDictionaries(), 2);
    laterFirst.RemoveDictionary(Path("a.kxd").c_str());
    EXPECT_EQ(laterFirst.GetNumDictionaries(), 1);
    EXPECT_KX(CatchKx([&] { laterFirst.GetDictionary(1); }),
              "Index 1 out of range; array is from 0 to 0", "KxVector",
              "GetDictionary() of KxFormatLib");

    // A missing dictionary finds nothing and its first lookup creates it empty.
    EXPECT_FALSE(laterFirst.AddDictionary(Path("new.kxd").c_str()));
    EXPECT_FALSE(KxIO::Exists(Path("new.kxd").c_str()));
    laterFirst.RemoveDictionary(0);
    EXPECT_EQ(laterFirst.GetFormat("Stage"), nullptr);
    EXPECT_TRUE(KxIO::Exists(Path("new.kxd").c_str()));
    EXPECT_EQ(Read("new.kxd"), "");
}

TEST_F(FormatTest, FieldsKeepTheirFormatsWhenLibrariesLetGo) {
    Write("codes.kxd", kDictionary);
    auto lib = std::make_unique<KxFormatLib>();
    lib->AddDictionary(Path("codes.kxd").c_str());
    KxField field;
    field.SetDefinition(0, 'I', 10, 0, -1);
    field.SetOwnerFile(nullptr, lib.get());
    field.SetFormat(KxField::kxShowFormatted, "Stage", nullptr);
    KxFormat* stage = field.GetFormat();
    ASSERT_NE(stage, nullptr);

    // Another field asks for the name with another type, which unloads the first one's copy.
    KxField other;
    other.SetDefinition(1, 'N', 10, 0, -1);
    other.SetOwnerFile(nullptr, lib.get());
    other.SetFormat(KxField::kxShowFormatted, "Stage", nullptr);
    ASSERT_NE(other.GetFormat(), nullptr);
    EXPECT_NE(other.GetFormat(), stage);
    lib.reset();

    EXPECT_EQ(field.GetFormat(), stage);
    int32_t value = 4;
    char buffer[KxFormatRange::kxAreaSize];
    memcpy(buffer, &value, sizeof value);
    EXPECT_EQ(stage->Format(buffer, sizeof buffer, false, true), 1);
    EXPECT_STREQ(buffer, "Late");
    EXPECT_EQ(other.GetFormat()->GetType(), 'N');
}

// ---------------------------------------------------------------------------------------------
// A data set whose fields show through formats and filters

TEST_F(FormatTest, DataSetShowsAndReadsValuesThroughItsFormatsAndFilters) {
    Write("stages.kxd", Lines({"[FormatDataType]", "Grade=A", "[Format=Stage]", "1-2=Early",
                               "3-4=Late", "=Unknown", "[Format=Grade]", "1=Low grade",
                               "2=High grade"}));
    KxFormatLib lib;
    lib.AddDictionary(Path("stages.kxd").c_str());
    const std::string data = Path("set.txd");
    {
        KxPointerVector<KxField> fields;
        auto add = [&](const char* name, char type, int16_t length, int16_t precision = 0) {
            auto* field = new KxField();
            field->SetName(name);
            field->SetDefinition(static_cast<uint16_t>(fields.GetCount()), type, length,
                                 precision, -1);
            fields.push_back(field);
            return field;
        };
        add("Stage", 'I', 4)->SetFormat(KxField::kxShowFormatted, "Stage", nullptr);
        // A format of type A over a Short field.
        add("Grade", 'S', 3)->SetFormat(KxField::kxShowFormatted, "Grade", nullptr);
        auto* dose = new KxNumberFilter();
        dose->SetPrefix("$");
        dose->SetThousandSeparator(true);
        dose->SetRoundingPlace(0);
        dose->SetMissingString("none");
        add("Dose", 'N', 10, 2)->SetFormat(KxField::kxShowFiltered, nullptr, dose);
        auto* given = new KxDateFilter();
        given->SetFormat("%02d/%02m/%y");
        add("Given", 'D', 8)->SetFormat(KxField::kxShowFiltered, nullptr, given);
        auto* code = new KxStringFilter();
        code->SetPictureString("&&-##");
        add("Code", 'A', 8)->SetFormat(KxField::kxShowFiltered, nullptr, code);

        TXDFile maker;
        maker.PackFields(fields);
        maker.Create(data.c_str(), fields, 0, false);
        maker.SetFormatLibrary(&lib);
        maker.Open(data.c_str(), kxIORead | kxIOWrite);
        KxFileRecord& record = *maker.GetCurrentRecord();
        record.Clear();
        const char* shown[] = {"Late", "High grade", "$1,234.50", "05/03/2007", "AB-12"};
        for (uint16_t f = 0; f < 5; ++f) record.PutField(f, shown[f], 3);
        maker.DataAppend(record);
        record.Clear();
        maker.DataAppend(record);
        maker.Close();
    }

    // The structure file declares the format and the filters with their settings.
    {
        KxIniFile structure(Path("set.kxs").c_str());
        auto key = [&](const char* section, const char* name) {
            return std::string(structure.GetSection(section)->GetString(name, "(absent)"));
        };
        EXPECT_EQ(key("Field1", "Format"), "Stage");
        EXPECT_EQ(key("Field1", "FormatOption"), "1");
        EXPECT_EQ(key("Field1", "FilterType"), "(absent)");
        EXPECT_EQ(key("Field3", "FilterType"), "3");
        EXPECT_EQ(key("Field3", "KxFilter.RegistryIndex"), "KxNumberFilter");
        EXPECT_EQ(key("Field3", "Prefix"), "$");
        EXPECT_EQ(key("Field3", "Format"), "(absent)");
        EXPECT_EQ(key("Field4", "KxFilter.RegistryIndex"), "KxDateFilter");
        EXPECT_EQ(key("Field4", "Date Format String"), "%02d/%02m/%y");
        EXPECT_EQ(key("Field5", "Picture String Filter"), "&&-##");
    }

    TXDFile file;
    file.SetFormatLibrary(&lib);
    file.Open(data.c_str());
    const char* classes[] = {nullptr, nullptr, "KxNumberFilter", "KxDateFilter", "KxStringFilter"};
    for (uint16_t f = 0; f < 5; ++f) {
        const KxField& field = file.FieldGetInfo(f);
        EXPECT_EQ(field.GetFormatOption(), classes[f] == nullptr ? 1 : 2) << f;
        if (classes[f] != nullptr && field.GetFilter() != nullptr) {
            EXPECT_STREQ(field.GetFilter()->GetClassnameCString(), classes[f]);
        }
    }
    KxFileRecord* record = file.GetCurrentRecord();
    auto shown = [&](uint16_t f, bool formatted = true) {
        char buffer[64];
        record->GetField(f, buffer, sizeof buffer, formatted);
        return std::string(buffer);
    };
    EXPECT_EQ(shown(0), "Late");
    EXPECT_EQ(shown(1), "High grade");
    EXPECT_EQ(shown(2), "$1,234.50");
    EXPECT_EQ(shown(3), "05/03/2007");
    EXPECT_EQ(shown(4), "AB-12");
    EXPECT_EQ(shown(0, false), "3");
    EXPECT_EQ(shown(1, false), "2");
    EXPECT_EQ(shown(2, false), "1234.50");
    EXPECT_EQ(shown(3, false), "20070305");
    EXPECT_EQ(shown(4, false), "AB12");
    // Labels are cut to the destination; a number too wide for it is not cut into another one.
    char narrow[6];
    record->GetField(0, narrow, 3, true);
    EXPECT_STREQ(narrow, "La");
    record->GetField(2, narrow, sizeof narrow, true);
    EXPECT_STREQ(narrow, "*****");

    file.GotoRecord(2);
    EXPECT_EQ(shown(0), "Unknown");
    EXPECT_EQ(shown(1), "");
    EXPECT_EQ(shown(2), "none");
    EXPECT_EQ(shown(3), "");
    EXPECT_EQ(shown(4), "");

    // Display text goes back through the same format and filters; text that is no label is
    // converted plainly.
    record->PutField(0, "Early", 3);
    EXPECT_EQ(record->GetLong(0), 1);
    record->PutField(0, "4", 3);
    EXPECT_EQ(shown(0), "Late");
    record->PutField(0, "Unknown", 3);
    EXPECT_TRUE(record->GetIsBlank(0));
    record->PutField(1, "Low grade", 3);
    EXPECT_EQ(record->GetShort(1), 1);
    record->PutField(2, "$2,000.25", 3);
    EXPECT_DOUBLE_EQ(record->GetNumber(2), 2000.25);
    record->PutField(2, "none", 3);
    EXPECT_TRUE(record->GetIsBlank(2));
    record->PutField(3, "24/12/2008", 3);
    EXPECT_EQ(shown(3, false), "20081224");
    record->PutField(4, "CD-34", 3);
    EXPECT_EQ(shown(4, false), "CD34");

    // Text the format or filter did not produce fails and leaves the field as it was.
    EXPECT_EQ(CatchKx([&] { record->PutField(0, "Middle", 3); }).message,
              "\"Middle\" is not a valid long");
    EXPECT_EQ(CatchKx([&] { record->PutField(4, "CD34", 3); }).message, "Unfilter Error");
    EXPECT_EQ(CatchKx([&] { record->PutField(3, "2008-12-24", 3); }).message,
              "String \"2008-12-24\" was not produced by filter \"%02d/%02m/%y\"");
    EXPECT_EQ(shown(4, false), "CD34");
    EXPECT_EQ(shown(3), "24/12/2008");
    file.Close();
}

} // namespace
