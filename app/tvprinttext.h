// The printouts of the current drug and regimen records, composed as plain text with tabs and
// line feeds, plus the runs of text that the printing code shows in another style: the bold
// labels, the smaller header line and the smaller notes. Offsets count characters of the
// Windows-1252 text, so they agree with the window toolkit's once the text is converted byte
// for character. Nothing here needs a window or a printer.
#pragma once

#include <cstdint>
#include <vector>

#include "kxstring.h"

// The print buffer's font; the header and the notes are set a few points smaller.
inline constexpr const char* kPrintFontFamily = "Courier New";
inline constexpr int32_t kPrintFontPixelHeight = 13;
inline constexpr int32_t kPrintHeaderPointsSmaller = 4;
inline constexpr int32_t kPrintNotesPointsSmaller = 3;

// Field texts wrap before they pass this many characters.
inline constexpr int32_t kPrintLineWidth = 55;
// What follows a wrapped line: a line feed and three tabs, so the continuation starts below the
// field text rather than below its label.
inline constexpr const char* kPrintContinuation = "\n\t\t\t";

enum class TvPrintStyle {
    Label,   // bold, and only bold
    Header,  // kPrintHeaderPointsSmaller points smaller than the buffer's font
    Notes,   // kPrintNotesPointsSmaller points smaller
};

struct TvPrintRun {
    int32_t lStart = 0;
    int32_t lLength = 0;
    TvPrintStyle style = TvPrintStyle::Label;

    bool operator==(const TvPrintRun&) const = default;
};

struct TvPrintText {
    KxString text;
    // In the order they are to be applied; they do not overlap.
    std::vector<TvPrintRun> runs;
    // The print job's title.
    KxString title;
};

// "Tarvio Version 1.2.0, Drug Database Release Date: 09-14-2007".
KxString TvPrintHeaderLine();

// One field box's text for print: line feeds become ", " (unless the text is exactly one line
// feed), and the text wraps at the last space within the first 55 characters, or after the 55th
// character when there is none there, each wrap followed by kPrintContinuation. Text from the
// toolkit may end its lines with CR LF or CR; both count as a line feed.
KxString FormatFieldTextForPrint(KxString sFieldText);

// The nine boxes of the drug record window, as they show the current record.
struct TvDrugPrintFields {
    KxString GenericName;
    KxString Category;
    KxString BrandNames;
    KxString Subcategory;
    KxString Abbreviations;
    KxString NSCNumber;
    KxString ChemicalName;
    KxString PrimarySites;
    KxString Remarks;
};

// The header line, then each label (16 characters), a tab and the formatted box text, in the
// order above, with an empty line between fields. Runs: the header, then the nine labels.
// Title: the drug window's caption.
TvPrintText TvDrugPrintText(const TvDrugPrintFields& fields);

// One row of the regimen record window: the drug box's text and the code box's.
struct TvRegimenPrintRow {
    KxString Drug;
    KxString Code;
};

// The regimen's name in a drop-down item of the regimen window (1: "FOLFOX4" gives FOLFOX4):
// everything up to and including the first double quotation mark goes, then the last character.
KxString TvRegimenNameFromMatchItem(const KxString& sItem);

// The header line, "Regimen:" and the name taken from the selected drop-down item, the heading
// "Drug:" padded to the longest drug with "Code as:" after a tab, one line per row (the drug
// padded to the longest, its code entry on one line), then the note lines: sNote2 always, sNote
// when the window shows it. Runs: the notes, the header, then "Drug:", "Code as:" and "Regimen:".
// Title: the regimen window's caption.
TvPrintText TvRegimenPrintText(const KxString& sSelectedMatchItem,
                               const std::vector<TvRegimenPrintRow>& rows, const KxString& sNote2,
                               const KxString& sNote, bool noteShown);
