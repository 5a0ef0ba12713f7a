#include "tvprinttext.h"

#include <algorithm>
#include <string>

#include "tvappstate.h"

namespace {

constexpr const char* kDrugClass = "TfrmDrug";
constexpr const char* kRegimenClass = "TfrmRegimen";

constexpr const char* kDrugTitle = "Drug Search Results";
constexpr const char* kRegimenTitle = "Regimen Search Results";

constexpr const char* kDrugLabels[] = {
    "Generic Name:   ", "Category:       ", "Brand Names:    ",
    "Subcategory:    ", "Abbreviation(s):", "NSC Number:     ",
    "Chemical Name:  ", "Primary Sites:  ", "Remarks:        ",
};

constexpr const char* kRegimenLabel = "Regimen:";
constexpr const char* kDrugLabel = "Drug:";
constexpr const char* kCodeLabel = "Code as:";

// Text from the toolkit may end lines with CR LF or a lone CR; the composition knows only LF.
std::string NormalisedLineEnds(const char* pText) {
    std::string text;
    for (const char* p = pText; *p != '\0'; ++p) {
        if (*p != '\r') {
            text += *p;
        } else {
            text += '\n';
            if (p[1] == '\n') ++p;
        }
    }
    return text;
}

void ReplaceAll(std::string& text, char from, const char* to) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c == from) result += to;
        else result += c;
    }
    text.swap(result);
}

int32_t Length(const std::string& text) { return static_cast<int32_t>(text.size()); }

void AddRun(TvPrintText& print, int32_t lStart, int32_t lLength, TvPrintStyle style) {
    print.runs.push_back(TvPrintRun{lStart, lLength, style});
}

} // namespace

KxString TvPrintHeaderLine() {
    KxString line;
    line << "Tarvio Version " << ProgramVersion << ", Drug Database Release Date: "
         << DatabaseUpdateDate;
    return line;
}

KxString FormatFieldTextForPrint(KxString sFieldText) {
    KX_TRY
        std::string text = NormalisedLineEnds(sFieldText.GetCString());
        if (text.find('\n') != std::string::npos && text != "\n") ReplaceAll(text, '\n', ", ");
        std::string result;
        // Positions count from 0, so the last one a line may end at is kPrintLineWidth - 1.
        const size_t last = static_cast<size_t>(kPrintLineWidth - 1);
        size_t start = 0;
        while (text.size() - start > last) {
            size_t cut = text.rfind(' ', start + last);
            if (cut == std::string::npos || cut < start) cut = start + last;
            result.append(text, start, cut + 1 - start);
            result += kPrintContinuation;
            start = cut + 1;
        }
        result.append(text, start, std::string::npos);
        return KxString(result.c_str());
    KX_CATCH_STD("FormatFieldTextForPrint()", kDrugClass)
}

TvPrintText TvDrugPrintText(const TvDrugPrintFields& fields) {
    KX_TRY
        const KxString* boxes[] = {&fields.GenericName,   &fields.Category,
                                   &fields.BrandNames,    &fields.Subcategory,
                                   &fields.Abbreviations, &fields.NSCNumber,
                                   &fields.ChemicalName,  &fields.PrimarySites,
                                   &fields.Remarks};
        constexpr size_t kCount = sizeof(kDrugLabels) / sizeof(kDrugLabels[0]);
        static_assert(sizeof(boxes) / sizeof(boxes[0]) == kCount);

        TvPrintText print;
        print.title = kDrugTitle;
        std::string header = TvPrintHeaderLine().GetCString();
        std::string text = header + "\n\n";
        AddRun(print, 0, Length(header), TvPrintStyle::Header);
        for (size_t i = 0; i < kCount; ++i) {
            AddRun(print, Length(text), Length(kDrugLabels[i]), TvPrintStyle::Label);
            text += kDrugLabels[i];
            text += '\t';
            text += FormatFieldTextForPrint(*boxes[i]).GetCString();
            if (i + 1 < kCount) text += "\n\n";
        }
        print.text = text.c_str();
        return print;
    KX_CATCH_STD("DrugPrintText()", kDrugClass)
}

KxString TvRegimenNameFromMatchItem(const KxString& sItem) {
    KX_TRY
        std::string item = sItem.GetCString();
        size_t quote = item.find('"');
        if (quote != std::string::npos) item.erase(0, quote + 1);
        if (!item.empty()) item.pop_back();
        return KxString(item.c_str());
    KX_CATCH_STD("RegimenNameFromMatchItem()", kRegimenClass)
}

TvPrintText TvRegimenPrintText(const KxString& sSelectedMatchItem,
                               const std::vector<TvRegimenPrintRow>& rows, const KxString& sNote2,
                               const KxString& sNote, bool noteShown) {
    KX_TRY
        size_t width = 0;
        for (const TvRegimenPrintRow& row : rows)
            width = std::max(width, NormalisedLineEnds(row.Drug.GetCString()).size());
        const size_t drugLabelLength = std::char_traits<char>::length(kDrugLabel);

        TvPrintText print;
        print.title = kRegimenTitle;
        std::string header = TvPrintHeaderLine().GetCString();
        std::string text = header + "\n\n";

        int32_t regimenAt = Length(text);
        text += kRegimenLabel;
        text += ' ';
        text += TvRegimenNameFromMatchItem(sSelectedMatchItem).GetCString();
        text += "\n\n\t";

        int32_t drugAt = Length(text);
        text += kDrugLabel;
        if (width > drugLabelLength) text.append(width - drugLabelLength, ' ');
        text += '\t';
        int32_t codeAt = Length(text);
        text += kCodeLabel;
        text += '\n';

        for (const TvRegimenPrintRow& row : rows) {
            std::string drug = NormalisedLineEnds(row.Drug.GetCString());
            drug.resize(width, ' ');
            std::string code = NormalisedLineEnds(row.Code.GetCString());
            std::replace(code.begin(), code.end(), '\n', ' ');
            text += '\t';
            text += drug;
            text += '\t';
            text += code;
            text += '\n';
        }

        int32_t notesAt = Length(text);
        text += '\n';
        text += sNote2.GetCString();
        text += '\n';
        if (noteShown) text += sNote.GetCString();

        AddRun(print, notesAt, Length(text) - notesAt, TvPrintStyle::Notes);
        AddRun(print, 0, Length(header), TvPrintStyle::Header);
        AddRun(print, drugAt, Length(kDrugLabel), TvPrintStyle::Label);
        AddRun(print, codeAt, Length(kCodeLabel), TvPrintStyle::Label);
        AddRun(print, regimenAt, Length(kRegimenLabel), TvPrintStyle::Label);
        print.text = text.c_str();
        return print;
    KX_CATCH_STD("RegimenPrintText()", kRegimenClass)
}
