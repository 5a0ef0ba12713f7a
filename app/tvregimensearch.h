// The regimen search: finds the regimens whose name matches a search text when letter case,
// spaces and punctuation are ignored, names equal to the text first, then names that begin
// with it, then names that contain it. Also the phrases stripped from a regimen's drug names
// before a name is searched as a drug. The regimen results window owns one search.
#pragma once

#include <cstdint>

#include "kxstring.h"
#include "kxvector.h"
#include "tverrorreport.h"

// One matched regimen record; the three texts exactly as stored.
struct TvRegimenMatch {
    // 1 the cleaned name equals the cleaned search text, 2 begins with it, 3 contains it.
    int16_t MatchQuality = 0;
    int16_t RecordNumber = 0;
    KxString RegimenName;
    // Drug names separated by ";".
    KxString DrugList;
    // One coding entry per drug, in the same order, separated by ";".
    KxString CodeList;
};

inline constexpr int16_t kQualityEquals = 1;
inline constexpr int16_t kQualityBegins = 2;
inline constexpr int16_t kQualityContains = 3;

class TvRegimenSearch {
public:
    using MatchedRecord = TvRegimenMatch;

    // Searches DataDirectory followed by the regimen data file.
    TvRegimenSearch(const KxString& sSearchText, TvErrorReporter& reporter);
    TvRegimenSearch(const KxString& sSearchText, const KxString& sDataFileName,
                    TvErrorReporter& reporter);
    TvRegimenSearch(const TvRegimenSearch&) = delete;
    TvRegimenSearch& operator=(const TvRegimenSearch&) = delete;

    // The text with only its ASCII letters and digits, in their order.
    static KxString RemoveCharacters(KxString sText);
    // Scans the data set, fills the matches and sorts them. A failure is reported and keeps
    // the matches found before it.
    void SearchData();
    // By quality; equal qualities keep data set order.
    void SortRecordMatches();
    // Appends the ignore phrases in their order.
    void BuildIgnoreVector();
    // Removes the first occurrence of the first ignore phrase the text holds (any letter case)
    // and strips blanks at both ends; at most one phrase goes.
    KxString RemoveIgnoreWords(KxString sText) const;

    const KxString& GetSearchText() const { return m_searchText; }
    const KxString& GetCleanSearchText() const { return m_cleanSearchText; }
    const KxString& GetDataFileName() const { return m_dataFileName; }
    const KxVector<MatchedRecord>& GetMatches() const { return m_matches; }
    KxVector<MatchedRecord>& GetMatches() { return m_matches; }
    const KxVector<KxString>& GetIgnoreWords() const { return m_ignoreWords; }
    bool HasNoMatches() const { return m_matches.empty(); }

private:
    TvErrorReporter& m_reporter;
    KxString m_searchText;
    KxString m_cleanSearchText;
    KxString m_dataFileName;
    KxVector<MatchedRecord> m_matches;
    KxVector<KxString> m_ignoreWords;
};
