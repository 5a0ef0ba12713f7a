// The drug search: scores every drug record against the whole search phrase and each of its
// words, and ranks the records that matched. The drug results window owns one search, runs it
// once while it is built and shows its matches; nothing here touches a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "kxstring.h"
#include "kxvector.h"
#include "tverrorreport.h"

class TXDFile;

// The words of one match, packed: each text with its NUL, one after the other, and where each
// begins, so that a long list costs little more than its letters. It reads like a vector of
// texts; a word is a NUL-terminated text that stays valid until the list changes. Copies are
// deep.
class TvMatchedWords {
public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = const char*;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = const char*;

        const_iterator() = default;
        const char* operator*() const { return m_text + *m_start; }
        const_iterator& operator++() {
            ++m_start;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++m_start;
            return before;
        }
        bool operator==(const const_iterator& other) const { return m_start == other.m_start; }

    private:
        friend class TvMatchedWords;
        const_iterator(const char* pText, const uint32_t* pStart) : m_text(pText), m_start(pStart) {}
        const char* m_text = nullptr;
        const uint32_t* m_start = nullptr;
    };

    size_t size() const { return m_starts.size(); }
    bool empty() const { return m_starts.empty(); }
    int32_t GetCount() const { return m_starts.GetCount(); }
    const char* operator[](size_t uIndex) const { return m_text.data() + m_starts[uIndex]; }
    // Range-tested, lIndex from 0.
    const char* At(int32_t lIndex) const { return m_text.data() + m_starts.At(lIndex); }
    const_iterator begin() const { return {m_text.data(), m_starts.data()}; }
    const_iterator end() const { return {m_text.data(), m_starts.data() + m_starts.size()}; }

    void push_back(const char* sWord);
    // The first uLength bytes of pWord.
    void push_back(const char* pWord, size_t uLength);
    void Append(const TvMatchedWords& other);
    // Keeps the storage for the next words.
    void clear();

private:
    KxVector<char> m_text;
    KxVector<uint32_t> m_starts;
};

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
    TvMatchedWords MatchedWords;
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
    // The field text upper-cased; kept between fields so that it is allocated once.
    std::string m_upper;
};
