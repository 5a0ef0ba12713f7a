#include "tvclisearch.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kxblob.h"
#include "kxexception.h"
#include "kxrecord.h"
#include "kxstring.h"
#include "tvappstate.h"
#include "tvcodepage.h"
#include "tvdrugsearch.h"
#include "tverrorreport.h"
#include "tvregimensearch.h"
#include "txdfile.h"

namespace {

constexpr const char* kClass = "tarvio-cli";
// The main window refuses shorter texts.
constexpr int32_t kDrugMinimum = 3;
constexpr int32_t kRegimenMinimum = 2;

// Keeps the first error the search reported, so that the command can fail with it.
class FirstErrorReporter : public TvErrorReporter {
public:
    void ShowError(const KxException& exception) override {
        if (!m_first) m_first.emplace(exception);
    }
    void ShowWarning(const char*, const char*) override {}
    void ThrowIfFailed() const {
        if (m_first) throw KxException(*m_first);
    }

private:
    std::optional<KxException> m_first;
};

std::string Utf8(const char* sCp1252) { return Cp1252ToUtf8(sCp1252 != nullptr ? sCp1252 : ""); }

// The typed text in the program's code page with blanks stripped at both ends, or nothing after
// the main window's message when it is too short.
std::optional<KxString> SearchTextOf(const std::string& sText, int32_t lMinimum,
                                     std::ostream& err) {
    KxString text(Utf8ToCp1252(sText).c_str());
    text.DeblankLeading();
    text.DeblankTrailing();
    if (text.GetLength() < lMinimum) {
        err << "Search String must be " << lMinimum << " or more characters!\n";
        return std::nullopt;
    }
    return text;
}

void PrintNoMatches(const KxString& text, std::ostream& out) {
    out << "Your search for \"" << Utf8(text) << "\" yielded no matches.\n";
}

void PrintFound(const KxString& text, size_t count, std::ostream& out) {
    out << "Your search for \"" << Utf8(text) << "\" found " << count
        << (count < 2 ? " result." : " results.") << "\n";
}

// Left-justified in a column of the width, counting characters rather than UTF-8 bytes.
std::string Cell(const std::string& sUtf8, size_t width) {
    size_t characters = 0;
    for (char c : sUtf8) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return sUtf8 + std::string(characters < width ? width - characters : 0, ' ');
}

std::string Right(const std::string& text, size_t width) {
    return std::string(text.size() < width ? width - text.size() : 0, ' ') + text;
}

// Line breaks and tabs of a stored text would break the table's lines.
std::string OneLine(const char* sCp1252) {
    std::string text = Utf8(sCp1252);
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return text;
}

// The generic name of each matched record, for the table.
std::vector<std::string> GenericNames(const TvDrugSearch& search) {
    KX_TRY
        std::vector<std::string> names;
        TXDFile file;
        file.Open(search.GetDataFileName(), kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        KxBlob blob;
        for (const TvDrugMatch& match : search.GetMatches()) {
            file.GotoRecord(match.RecordNumber);
            file.GetCurrentRecord()->GetBLOB(5, blob);
            names.push_back(OneLine(blob.GetText()));
        }
        file.EndTransaction(transaction);
        file.Close();
        return names;
    KX_CATCH_STD("GenericNames()", kClass)
}

void PrintDrugTable(const TvDrugSearch& search, std::ostream& out) {
    std::vector<std::string> names = GenericNames(search);
    size_t nameWidth = 12;
    for (const std::string& name : names) nameWidth = std::max(nameWidth, Cell(name, 0).size());
    nameWidth = std::min<size_t>(nameWidth, 40);
    PrintFound(search.GetSearchText(), search.GetMatches().size(), out);
    out << Right("#", 5) << Right("Record", 8) << Right("Score", 7) << Right("Strength", 10) << "  "
        << Cell("Generic name", nameWidth) << "  Matched words\n";
    for (size_t i = 0; i < search.GetMatches().size(); ++i) {
        const TvDrugMatch& match = search.GetMatches()[i];
        std::string words;
        for (const KxString& word : match.MatchedWords)
            words += (words.empty() ? "\"" : ", \"") + OneLine(word) + "\"";
        out << Right(std::to_string(i + 1), 5) << Right(std::to_string(match.RecordNumber), 8)
            << Right(std::to_string(match.FieldStrength), 7)
            << Right(std::to_string(match.MatchStrength), 10) << "  " << Cell(names[i], nameWidth)
            << "  " << words << "\n";
    }
}

void PrintDrugJson(const TvDrugSearch& search, std::ostream& out) {
    out << "{\"search\": " << JsonString(Utf8(search.GetSearchText())) << ", \"matches\": [";
    bool firstMatch = true;
    for (const TvDrugMatch& match : search.GetMatches()) {
        out << (firstMatch ? "" : ", ") << "{\"record\": " << match.RecordNumber
            << ", \"fieldStrength\": " << match.FieldStrength
            << ", \"matchStrength\": " << match.MatchStrength << ", \"fields\": [";
        for (size_t i = 0; i < match.FieldNumbers.size(); ++i)
            out << (i > 0 ? ", " : "") << match.FieldNumbers[i];
        out << "], \"words\": [";
        for (size_t i = 0; i < match.MatchedWords.size(); ++i)
            out << (i > 0 ? ", " : "") << JsonString(Utf8(match.MatchedWords[i]));
        out << "]}";
        firstMatch = false;
    }
    out << "]}\n";
}

void PrintRegimenTable(const TvRegimenSearch& search, std::ostream& out) {
    size_t nameWidth = 8;
    for (const TvRegimenMatch& match : search.GetMatches())
        nameWidth = std::max(nameWidth, Cell(OneLine(match.RegimenName), 0).size());
    nameWidth = std::min<size_t>(nameWidth, 30);
    PrintFound(search.GetSearchText(), search.GetMatches().size(), out);
    out << Right("#", 5) << Right("Record", 8) << Right("Quality", 9) << "  "
        << Cell("Regimen", nameWidth) << "  Drugs -- codes\n";
    for (size_t i = 0; i < search.GetMatches().size(); ++i) {
        const TvRegimenMatch& match = search.GetMatches()[i];
        out << Right(std::to_string(i + 1), 5) << Right(std::to_string(match.RecordNumber), 8)
            << Right(std::to_string(match.MatchQuality), 9) << "  "
            << Cell(OneLine(match.RegimenName), nameWidth) << "  " << OneLine(match.DrugList)
            << " -- " << OneLine(match.CodeList) << "\n";
    }
}

void PrintRegimenJson(const TvRegimenSearch& search, std::ostream& out) {
    out << "{\"search\": " << JsonString(Utf8(search.GetSearchText())) << ", \"matches\": [";
    bool firstMatch = true;
    for (const TvRegimenMatch& match : search.GetMatches()) {
        out << (firstMatch ? "" : ", ") << "{\"record\": " << match.RecordNumber
            << ", \"quality\": " << match.MatchQuality
            << ", \"name\": " << JsonString(Utf8(match.RegimenName))
            << ", \"drugs\": " << JsonString(Utf8(match.DrugList))
            << ", \"codes\": " << JsonString(Utf8(match.CodeList)) << "}";
        firstMatch = false;
    }
    out << "]}\n";
}

} // namespace

std::string JsonString(const std::string& sUtf8) {
    std::string out = "\"";
    for (char c : sUtf8) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    char escaped[8];
                    snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

int RunDrugSearch(const std::string& sDataDirectory, bool json, const std::string& sText,
                  std::ostream& out, std::ostream& err) {
    KX_TRY
        std::optional<KxString> text = SearchTextOf(sText, kDrugMinimum, err);
        if (!text) return 1;
        FirstErrorReporter reporter;
        KxString dataFile((sDataDirectory + DrugDataFile).c_str());
        TvDrugSearch search(*text, dataFile, reporter);
        search.SearchData();
        reporter.ThrowIfFailed();
        if (json)
            PrintDrugJson(search, out);
        else if (search.HasNoMatches())
            PrintNoMatches(*text, out);
        else
            PrintDrugTable(search, out);
        return search.HasNoMatches() ? 1 : 0;
    KX_CATCH_STD("RunDrugSearch()", kClass)
}

int RunRegimenSearch(const std::string& sDataDirectory, bool json, const std::string& sText,
                     std::ostream& out, std::ostream& err) {
    KX_TRY
        std::optional<KxString> text = SearchTextOf(sText, kRegimenMinimum, err);
        if (!text) return 1;
        FirstErrorReporter reporter;
        KxString dataFile((sDataDirectory + RegimenDataFile).c_str());
        TvRegimenSearch search(*text, dataFile, reporter);
        search.BuildIgnoreVector();
        search.SearchData();
        reporter.ThrowIfFailed();
        if (json)
            PrintRegimenJson(search, out);
        else if (search.HasNoMatches())
            PrintNoMatches(*text, out);
        else
            PrintRegimenTable(search, out);
        return search.HasNoMatches() ? 1 : 0;
    KX_CATCH_STD("RunRegimenSearch()", kClass)
}
