#include "tvdrugsearch.h"

#include <algorithm>
#include <cstring>

#include "kxblob.h"
#include "kxrecord.h"
#include "kxtokenizer.h"
#include "tvappstate.h"
#include "tvasciitext.h"
#include "txdfile.h"

namespace {

constexpr const char* kClass = "TfrmDrug";
// Record numbers are 16-bit.
constexpr int32_t kMaxSearchedRecords = INT16_MAX;

constexpr int16_t kFieldScore = 1;
constexpr int16_t kNameScore = 9;
constexpr int16_t kNameEqualsScore = 100;
constexpr int16_t kNamePhraseScore = 500;

// Sixteen bytes in one vector register (the compiler's generic vectors: SSE2 or NEON).
using TvBytes16 = unsigned char __attribute__((vector_size(16)));

// Every field of every record passes through here, so sixteen bytes, then eight, are folded at a
// time: a byte gets 0x20 taken off when it lies in 'a' .. 'z'.
void UppercaseAscii(const char* pFrom, char* pTo, size_t length) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHigh = 0x80 * kOnes;
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        TvBytes16 x;
        memcpy(&x, pFrom + i, 16);
        TvBytes16 lower = reinterpret_cast<TvBytes16>(x - 'a' < 26);
        x -= lower & 0x20;
        memcpy(pTo + i, &x, 16);
    }
    for (; i + 8 <= length; i += 8) {
        uint64_t x;
        memcpy(&x, pFrom + i, 8);
        uint64_t low = x & ~kHigh;
        uint64_t aboveA = low + (0x80 - 'a') * kOnes;
        uint64_t aboveZ = low + (0x80 - 'z' - 1) * kOnes;
        uint64_t lower = aboveA & ~aboveZ & ~x & kHigh;
        x -= lower >> 2;
        memcpy(pTo + i, &x, 8);
    }
    for (; i < length; ++i) pTo[i] = TvAsciiUpper(pFrom[i]);
}

// Where the needle occurs in the haystack, or null. Short needles, the usual search words, go
// by the vectorised memchr of their first byte; memmem's two-way search keeps long ones linear.
const char* Find(const char* pHaystack, size_t length, const char* pNeedle, size_t needle) {
    if (needle == 0) return pHaystack;
    if (needle > 16)
        return static_cast<const char*>(memmem(pHaystack, length, pNeedle, needle));
    const char* end = pHaystack + length;
    for (const char* p = pHaystack; static_cast<size_t>(end - p) >= needle; ++p) {
        size_t starts = static_cast<size_t>(end - p) - needle + 1;
        p = static_cast<const char*>(memchr(p, pNeedle[0], starts));
        if (p == nullptr) return nullptr;
        if (memcmp(p + 1, pNeedle + 1, needle - 1) == 0) return p;
    }
    return nullptr;
}

bool AnyByte(TvBytes16 x) {
    uint64_t halves[2];
    memcpy(halves, &x, 16);
    return (halves[0] | halves[1]) != 0;
}

bool EqualsUpper(const char* pText, const char* pUpper, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (TvAsciiUpper(pText[i]) != pUpper[i]) return false;
    return true;
}

// One byte of the upper-case word, as a test of sixteen text bytes at once: a byte upper-cases
// to a letter exactly when it equals the letter with bit 0x20 set, and to anything else only
// when it equals it.
struct TvByteTest {
    explicit TvByteTest(char c) {
        unsigned char u = static_cast<unsigned char>(c);
        unsigned char fold = u >= 'A' && u <= 'Z' ? 0x20 : 0;
        mask = TvBytes16{} + fold;
        value = TvBytes16{} + static_cast<unsigned char>(u | fold);
    }
    TvBytes16 Matches(TvBytes16 x) const { return reinterpret_cast<TvBytes16>((x | mask) == value); }
    TvBytes16 mask, value;
};

// The starting positions from i to i + 15 (those below lStarts) where the upper-cased text holds
// the word: its first and last letters tested at once, the rest of the word compared after.
inline bool HoldsUpperAt(const char* pText, size_t i, size_t lStarts, const char* pWord,
                         size_t last, const TvByteTest& firstTest, const TvByteTest& lastTest) {
    TvBytes16 a, b;
    memcpy(&a, pText + i, 16);
    memcpy(&b, pText + i + last, 16);
    TvBytes16 both = firstTest.Matches(a) & lastTest.Matches(b);
    if (!AnyByte(both)) return false;
    for (size_t k = 0; k < 16 && i + k < lStarts; ++k)
        if (both[k] != 0 && EqualsUpper(pText + i + k + 1, pWord + 1, last)) return true;
    return false;
}

// Whether the text, upper-cased, holds the upper-case word, without writing the upper-cased
// text: most fields do not hold the word, and this is all they cost. Sixteen starting positions
// are tested at once by the first and the last letter of the word.
bool HoldsUpper(const char* pText, size_t length, const char* pWord, size_t wordLength) {
    if (wordLength == 0) return true;
    if (wordLength > length) return false;
    const size_t last = wordLength - 1, starts = length - wordLength + 1;
    const TvByteTest firstLetter(pWord[0]), lastLetter(pWord[last]);
    if (starts >= 16) {
        size_t i = 0;
        for (; i + 16 <= starts; i += 16)
            if (HoldsUpperAt(pText, i, starts, pWord, last, firstLetter, lastLetter)) return true;
        // The last starts again, overlapping the ones already tested.
        return i < starts &&
               HoldsUpperAt(pText, starts - 16, starts, pWord, last, firstLetter, lastLetter);
    }
    // A short text is tested in a copy padded with zeros, which no letter of a word equals.
    constexpr size_t kPadded = 64;
    if (length + 16 <= kPadded) {
        char padded[kPadded] = {};
        memcpy(padded, pText, length);
        return HoldsUpperAt(padded, 0, starts, pWord, last, firstLetter, lastLetter);
    }
    for (size_t i = 0; i < starts; ++i)
        if (TvAsciiUpper(pText[i]) == pWord[0] && EqualsUpper(pText + i + 1, pWord + 1, last))
            return true;
    return false;
}

bool IsQuoted(const KxString& sText) {
    return sText.GetLength() > 0 && sText.BeginsWith("\"") && sText.EndsWith("\"");
}

} // namespace

void TvMatchedWords::push_back(const char* sWord) {
    push_back(sWord != nullptr ? sWord : "", sWord != nullptr ? strlen(sWord) : 0);
}

void TvMatchedWords::push_back(const char* pWord, size_t uLength) {
    KX_TRY
        size_t start = m_text.size();
        if (uLength >= static_cast<size_t>(INT32_MAX) - start)
            KxGenerateException("The matched words of a record cannot hold more than %d bytes.",
                                kClass, static_cast<int>(INT32_MAX));
        m_starts.push_back(static_cast<uint32_t>(start));
        try {
            m_text.insert(m_text.end(), pWord, pWord + uLength);
            m_text.push_back('\0');
        } catch (...) {
            m_text.resize(start);
            m_starts.pop_back();
            throw;
        }
    KX_CATCH_STD("push_back()", "TvMatchedWords")
}

void TvMatchedWords::Append(const TvMatchedWords& other) {
    KX_TRY
        size_t start = m_text.size();
        if (other.m_text.size() >= static_cast<size_t>(INT32_MAX) - start)
            KxGenerateException("The matched words of a record cannot hold more than %d bytes.",
                                kClass, static_cast<int>(INT32_MAX));
        size_t count = m_starts.size();
        try {
            m_text.insert(m_text.end(), other.m_text.begin(), other.m_text.end());
            for (uint32_t from : other.m_starts)
                m_starts.push_back(static_cast<uint32_t>(start) + from);
        } catch (...) {
            m_text.resize(start);
            m_starts.resize(count);
            throw;
        }
    KX_CATCH_STD("Append()", "TvMatchedWords")
}

void TvMatchedWords::clear() {
    m_text.clear();
    m_starts.clear();
}

TvDrugSearch::TvDrugSearch(const KxString& sSearchText, TvErrorReporter& reporter)
    : TvDrugSearch(sSearchText, InDataDirectory(DrugDataFile), reporter) {}

TvDrugSearch::TvDrugSearch(const KxString& sSearchText, const KxString& sDataFileName,
                           TvErrorReporter& reporter)
    : m_reporter(reporter), m_searchText(sSearchText), m_dataFileName(sDataFileName) {}

int16_t TvDrugSearch::AddScore(int16_t wScore, int32_t lAdd) {
    int32_t sum = static_cast<int32_t>(wScore) + lAdd;
    return static_cast<int16_t>(std::clamp<int32_t>(sum, INT16_MIN, INT16_MAX));
}

TvDrugSearch::PassWord TvDrugSearch::MakePassWord(const KxString& sWord) {
    PassWord word;
    word.word = sWord;
    word.upper = TvUppercased(sWord).GetCString();
    word.getAll = sWord == kGetAllRecords;
    return word;
}

void TvDrugSearch::SearchData() {
    try {
        // A quoted text is one word and no phrase; otherwise several words make the whole
        // phrase the first pass.
        KxVector<PassWord> words;
        bool phrasePass = false;
        if (IsQuoted(m_searchText)) {
            int32_t length = m_searchText.GetLength();
            words.push_back(MakePassWord(length >= 2 ? m_searchText.GetSubstring(1, length - 2)
                                                     : KxString()));
        } else {
            KxStringTokenizer tokens(m_searchText, " ");
            if (tokens.GetRemainingTokenCount() > 1) {
                words.push_back(MakePassWord(m_searchText));
                phrasePass = true;
            }
            while (tokens.GetRemainingTokenCount() > 0)
                words.push_back(MakePassWord(tokens.GetNextToken()));
        }

        TXDFile file;
        file.Open(m_dataFileName, kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        int32_t count = file.GetNumberOfRecords();
        if (count > kMaxSearchedRecords)
            KxGenerateException("The drug data set %s holds %d records; a search can go through "
                                "at most %d.",
                                kClass, m_dataFileName.GetCString(), static_cast<int>(count),
                                static_cast<int>(kMaxSearchedRecords));
        // Where each record's entry stands in the matches, so that a later pass finds it at once.
        KxVector<int32_t> entryOfRecord(static_cast<size_t>(std::max(count, 0)) + 1, -1);
        for (int32_t p = 0; p < words.GetCount(); ++p)
            ScanPass(file, count, words[p], phrasePass && p == 0, entryOfRecord);
        file.EndTransaction(transaction);
        file.Close();
        SortRecordMatches();
    } catch (KxException& e) {
        e.AddCallpath("SearchData()", kClass);
        m_reporter.ShowError(e);
    }
}

void TvDrugSearch::ScanPass(TXDFile& file, int32_t lRecordCount, const PassWord& word,
                            bool wholePhrase, KxVector<int32_t>& entryOfRecord) {
    KxBlob blob;
    for (int32_t r = 2; r <= lRecordCount; ++r) {
        m_workingMatch.FieldNumbers.clear();
        m_workingMatch.MatchedWords.clear();
        file.GotoRecord(r);
        m_workingMatch.FieldStrength = 0;
        m_workingMatch.MatchStrength = 0;
        // The running strength carries from field to field within the record.
        int16_t strength = 0;
        KxFileRecord* record = file.GetCurrentRecord();
        for (int16_t f = 0; f < kDrugFieldCount; ++f) {
            if (!SearchedFields[f]) continue;
            record->GetBLOB(static_cast<uint16_t>(f), blob);
            bool hit = CheckText(blob.GetText(), word, strength);
            if (!hit && !word.getAll) continue;
            int16_t& score = m_workingMatch.FieldStrength;
            score = AddScore(score, kFieldScore);
            if (IsDrugNameField(f)) {
                score = AddScore(score, kNameScore);
                if (strength == kStrengthEquals) score = AddScore(score, kNameEqualsScore);
                if (strength == kStrengthEquals && wholePhrase)
                    score = AddScore(score, kNamePhraseScore);
            }
            m_workingMatch.RecordNumber = static_cast<int16_t>(r);
            m_workingMatch.FieldNumbers.push_back(f);
            if (m_workingMatch.MatchStrength < strength) m_workingMatch.MatchStrength = strength;
            score = AddScore(score, strength);
        }
        if (!m_workingMatch.FieldNumbers.empty()) MergeWorkingMatch(entryOfRecord);
    }
}

// A record found again adds its fields, words and score to its entry, which keeps the match
// strength of its first pass.
void TvDrugSearch::MergeWorkingMatch(KxVector<int32_t>& entryOfRecord) {
    int32_t& entry = entryOfRecord[static_cast<size_t>(m_workingMatch.RecordNumber)];
    if (entry < 0) {
        m_matches.push_back(m_workingMatch);
        entry = m_matches.GetCount() - 1;
        return;
    }
    MatchedRecords& match = m_matches[static_cast<size_t>(entry)];
    match.FieldNumbers.insert(match.FieldNumbers.end(), m_workingMatch.FieldNumbers.begin(),
                              m_workingMatch.FieldNumbers.end());
    match.MatchedWords.Append(m_workingMatch.MatchedWords);
    match.FieldStrength = AddScore(match.FieldStrength, m_workingMatch.FieldStrength);
}

bool TvDrugSearch::CheckField(KxString sFieldText, int16_t wRecordNumber, KxString sWord,
                              int16_t& wStrength) {
    bool result = false;
    try {
        PassWord word = MakePassWord(sWord);
        result = CheckText(sFieldText, word, wStrength);
    } catch (KxException& e) {
        e.AddCallpath("CheckField()", kClass);
        m_reporter.ShowError(e);
    }
    return result;
}

bool TvDrugSearch::CheckText(const char* pText, const PassWord& word, int16_t& wStrength) {
    bool result = false;
    try {
        size_t length = strlen(pText);
        const char* w = word.upper.data();
        size_t wLength = word.upper.size();
        // Neither a token nor the whole text can match a word that the text does not hold.
        if (!word.getAll && !HoldsUpper(pText, length, w, wLength)) return false;
        m_upper.resize(length);
        UppercaseAscii(pText, m_upper.data(), length);
        const char* upper = m_upper.data();

        // Tokens are the runs between single spaces, as the tokenizer splits them; a text ending
        // in a space ends with an empty token.
        auto testToken = [&](size_t start, size_t end) {
            size_t tLength = end - start;
            const char* t = upper + start;
            if (tLength == wLength && memcmp(t, w, wLength) == 0)
                wStrength = kStrengthEquals;
            else if (tLength >= wLength && memcmp(t, w, wLength) == 0)
                wStrength = std::max(wStrength, kStrengthBegins);
            else if (tLength > wLength && Find(t, tLength, w, wLength) != nullptr)
                wStrength = std::max(wStrength, kStrengthContains);
            else
                return;
            m_workingMatch.MatchedWords.push_back(pText + start, tLength);
            result = true;
        };
        auto tokenEnd = [&](size_t from) {
            const void* space = memchr(upper + from, ' ', length - from);
            return space != nullptr ? static_cast<size_t>(static_cast<const char*>(space) - upper)
                                    : length;
        };

        // No token can hold the word unless the whole text does; most fields end here.
        const char* hit = Find(upper, length, w, wLength);
        bool anywhere = hit != nullptr;
        if (anywhere && wLength == 0) {
            // The empty word begins every token.
            for (size_t start = 0;;) {
                while (start < length && upper[start] == ' ') ++start;
                size_t end = tokenEnd(start);
                testToken(start, end);
                if (end == length) break;
                start = end + 1;
            }
        } else if (anywhere && memchr(w, ' ', wLength) == nullptr) {
            // Only a token that holds the word can match it, so the tokens are taken where the
            // word occurs, in order.
            while (hit != nullptr) {
                size_t at = static_cast<size_t>(hit - upper), start = at;
                while (start > 0 && upper[start - 1] != ' ') --start;
                size_t end = tokenEnd(at);
                testToken(start, end);
                if (end == length) break;
                hit = Find(upper + end + 1, length - end - 1, w, wLength);
            }
        }
        if (!result) {
            // A word holding a space (the phrase, a quoted text) can only match the whole text.
            if (anywhere) {
                m_workingMatch.MatchedWords.push_back(word.word.GetCString(),
                                                      static_cast<size_t>(word.word.GetLength()));
                wStrength = kStrengthEquals;
                result = true;
            } else if (word.getAll) {
                m_workingMatch.MatchedWords.push_back(m_upper.data(), m_upper.size());
                result = true;
            }
        }
    } catch (KxException& e) {
        e.AddCallpath("CheckField()", kClass);
        m_reporter.ShowError(e);
    }
    return result;
}

// Two stable bubble-sort passes, the first by score and the second by match strength among
// equal scores, give exactly the order of one stable sort by both keys; that sort takes
// n log n steps instead of n squared deep copies.
void TvDrugSearch::SortRecordMatches() {
    try {
        std::stable_sort(m_matches.begin(), m_matches.end(),
                         [](const MatchedRecords& a, const MatchedRecords& b) {
                             if (a.FieldStrength != b.FieldStrength)
                                 return a.FieldStrength > b.FieldStrength;
                             return a.MatchStrength > b.MatchStrength;
                         });
    } catch (KxException& e) {
        e.AddCallpath("SortRecordMatches()", kClass);
        m_reporter.ShowError(e);
    }
}
