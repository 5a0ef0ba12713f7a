#include "tvregimensearch.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "kxblob.h"
#include "kxrecord.h"
#include "tvappstate.h"
#include "tvasciitext.h"
#include "txdfile.h"

namespace {

constexpr const char* kClass = "TfrmRegimen";
// Record numbers are 16-bit.
constexpr int32_t kMaxSearchedRecords = INT16_MAX;

constexpr const char* kIgnorePhrases[] = {
    "by continuous infusion", "high-dose",    "uroprotection",
    "dose-intensified",       "escalated",    "fractionated",
    "intermediate-dose",      "low-dose",     "pulse therapy",
    "escalating doses of",    "second induction/maintenance",
    "pilot",                  "bone marrow transplant",
    "super",                  "swog",         "modified",
};

bool IsAsciiLetterOrDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

KxString FieldText(KxFileRecord& record, uint16_t uwField, KxBlob& blob) {
    record.GetBLOB(uwField, blob);
    return KxString(blob.GetText());
}

} // namespace

TvRegimenSearch::TvRegimenSearch(const KxString& sSearchText, TvErrorReporter& reporter)
    : TvRegimenSearch(sSearchText, InDataDirectory(RegimenDataFile), reporter) {}

TvRegimenSearch::TvRegimenSearch(const KxString& sSearchText, const KxString& sDataFileName,
                                 TvErrorReporter& reporter)
    : m_reporter(reporter), m_searchText(sSearchText),
      m_cleanSearchText(RemoveCharacters(sSearchText)), m_dataFileName(sDataFileName) {}

KxString TvRegimenSearch::RemoveCharacters(KxString sText) {
    KX_TRY
        std::string kept;
        for (const char* p = sText.GetCString(); *p != '\0'; ++p)
            if (IsAsciiLetterOrDigit(*p)) kept += *p;
        return KxString(kept.c_str());
    KX_CATCH_STD("RemoveCharacters()", kClass)
}

void TvRegimenSearch::SearchData() {
    try {
        KxString query = TvUppercased(m_cleanSearchText);
        size_t queryLength = static_cast<size_t>(query.GetLength());

        TXDFile file;
        file.Open(m_dataFileName, kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        int32_t count = file.GetNumberOfRecords();
        if (count > kMaxSearchedRecords)
            KxGenerateException("The regimen data set %s holds %d records; a search can go "
                                "through at most %d.",
                                kClass, m_dataFileName.GetCString(), static_cast<int>(count),
                                static_cast<int>(kMaxSearchedRecords));
        KxBlob blob;
        for (int32_t r = 2; r <= count; ++r) {
            file.GotoRecord(r);
            KxFileRecord& record = *file.GetCurrentRecord();
            KxString name = FieldText(record, 0, blob);
            KxString cleaned = TvUppercased(RemoveCharacters(name));
            size_t length = static_cast<size_t>(cleaned.GetLength());
            const char* v = cleaned.GetCString();
            int16_t quality;
            if (length == queryLength && memcmp(v, query.GetCString(), length) == 0)
                quality = kQualityEquals;
            else if (length >= queryLength && memcmp(v, query.GetCString(), queryLength) == 0)
                quality = kQualityBegins;
            else if (cleaned.Find(query) >= 0)
                quality = kQualityContains;
            else
                continue;
            MatchedRecord match;
            match.MatchQuality = quality;
            match.RecordNumber = static_cast<int16_t>(r);
            match.RegimenName = name;
            match.DrugList = FieldText(record, 1, blob);
            match.CodeList = FieldText(record, 2, blob);
            m_matches.push_back(match);
        }
        file.EndTransaction(transaction);
        file.Close();
        SortRecordMatches();
    } catch (KxException& e) {
        e.AddCallpath("SearchData()", kClass);
        m_reporter.ShowError(e);
    }
}

// A stable sort gives the bubble sort's order: ascending quality, data set order within one.
void TvRegimenSearch::SortRecordMatches() {
    KX_TRY
        std::stable_sort(m_matches.begin(), m_matches.end(),
                         [](const MatchedRecord& a, const MatchedRecord& b) {
                             return a.MatchQuality < b.MatchQuality;
                         });
    KX_CATCH_STD("SortRecordMatches()", kClass)
}

void TvRegimenSearch::BuildIgnoreVector() {
    try {
        for (const char* phrase : kIgnorePhrases) m_ignoreWords.push_back(KxString(phrase));
    } catch (KxException& e) {
        e.AddCallpath("BuildIgnoreVector()", kClass);
        m_reporter.ShowError(e);
    }
}

KxString TvRegimenSearch::RemoveIgnoreWords(KxString sText) const {
    KX_TRY
        KxString lower = TvLowercased(sText);
        for (const KxString& phrase : m_ignoreWords) {
            int32_t at = lower.Find(phrase);
            if (at < 0) continue;
            sText.Remove(at, phrase.GetLength());
            sText.DeblankLeading();
            sText.DeblankTrailing();
            break;
        }
        return sText;
    KX_CATCH_STD("RemoveIgnoreWords()", kClass)
}
