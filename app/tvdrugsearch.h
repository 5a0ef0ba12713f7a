// The drug search: scores every drug record against the whole search phrase and each of its
// words, and ranks the records that matched. The drug results window owns one search, runs it
// once while it is built and shows its matches; nothing here touches a window.
#pragma once

#include <cstdint>
#include <string>

#include "kxstring.h"
#include "kxvector.h"
#include "tverrorreport.h"

class TXDFile;

// One matched drug record.
struct TvDrugMatch {
    // The record's score over all fields and passes; the first sort key.
    int16_t FieldStrength = 0;
    // The best match strength of the pass in which the record was first matched; the second key.
    int16_t MatchStrength = 0;
    int16_t RecordNumber = 0;
    // One entry per matching field per pass, in the order found; repeats remain.
    KxVector<int16_t> FieldNumbers;
    // The words that matched, in the order found; repeats remain.
    KxVector<KxString> MatchedWords;
};

// A drug record has 17 fields; these are searched.
inline constexpr int16_t kDrugFieldCount = 17;
inline constexpr bool SearchedFields[kDrugFieldCount] = {true,  true, false, false, false, true,
                                                         false, false, true, true,  true,  true,
                                                         true,  true, true,  true,  false};
// Generic name, abbreviations, brand names and chemical name earn the name bonus.
inline constexpr bool IsDrugNameField(int16_t wField) {
    return wField == 5 || wField == 8 || wField == 9 || wField == 10;
}

// The word that lists every record.
inline constexpr const char* kGetAllRecords = "GETALLRECORDS";

// Match strengths of a word against a field.
inline constexpr int16_t kStrengthContains = 1;
inline constexpr int16_t kStrengthBegins = 2;
inline constexpr int16_t kStrengthEquals = 3;

class TvDrugSearch {
public:
    using MatchedRecords = TvDrugMatch;

    // Searches DataDirectory followed by the drug data file.
    TvDrugSearch(const KxString& sSearchText, TvErrorReporter& reporter);
    TvDrugSearch(const KxString& sSearchText, const KxString& sDataFileName,
                 TvErrorReporter& reporter);
    TvDrugSearch(const TvDrugSearch&) = delete;
    TvDrugSearch& operator=(const TvDrugSearch&) = delete;

    // Scans the data set once per pass, fills the matches and sorts them. A failure is reported
    // and keeps the matches found before it, unsorted.
    void SearchData();
    // Tests one field text against one search word: may raise the running strength, appends the
    // words that matched to the working match and tells whether the field matched. A failure is
    // reported and answers the result reached so far.
    bool CheckField(KxString sFieldText, int16_t wRecordNumber, KxString sWord,
                    int16_t& wStrength);
    // Best first: score, then match strength; equal entries keep the order they were found in.
    void SortRecordMatches();

    const KxString& GetSearchText() const { return m_searchText; }
    const KxString& GetDataFileName() const { return m_dataFileName; }
    const KxVector<MatchedRecords>& GetMatches() const { return m_matches; }
    KxVector<MatchedRecords>& GetMatches() { return m_matches; }
    const MatchedRecords& GetWorkingMatch() const { return m_workingMatch; }
    bool HasNoMatches() const { return m_matches.empty(); }

    // Scores are 16-bit; a sum that would leave the range stays at its limit, so that a record
    // matching a very long search keeps its place at the top instead of wrapping to the bottom.
    static int16_t AddScore(int16_t wScore, int32_t lAdd);

private:
    // A pass word with its upper-cased form, made once per pass.
    struct PassWord {
        KxString word;
        std::string upper;
        bool getAll = false;
    };
    static PassWord MakePassWord(const KxString& sWord);

    bool CheckText(const char* pText, const PassWord& word, int16_t& wStrength);
    void ScanPass(TXDFile& file, int32_t lRecordCount, const PassWord& word, bool wholePhrase,
                  KxVector<int32_t>& entryOfRecord);
    void MergeWorkingMatch(KxVector<int32_t>& entryOfRecord);

    TvErrorReporter& m_reporter;
    KxString m_searchText;
    KxString m_dataFileName;
    MatchedRecords m_workingMatch;
    KxVector<MatchedRecords> m_matches;
    // The field text upper-cased and a matched token; kept between fields so that they are
    // allocated once.
    std::string m_upper;
    std::string m_token;
};
