#include "kxtokenizer.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* kTokenizer = "KxStringTokenizer";

bool Matches(const char* text, int32_t length, int32_t position, const KxString& what) {
    int32_t n = what.GetLength();
    if (n == 0 || position < 0 || length - position < n) return false;
    return memcmp(text + position, what.GetCString(), static_cast<size_t>(n)) == 0;
}

// Patterns up to this length are searched plainly; the plain search is quadratic at worst, which
// for short patterns does not matter.
constexpr int32_t kPlainSearchLength = 16;

// The prefix table of the Knuth-Morris-Pratt search: entry i is the length of the longest proper
// border of the pattern's first i + 1 characters. Empty for a short pattern.
std::vector<int32_t> PrefixTable(const KxString& pattern) {
    std::vector<int32_t> table;
    int32_t n = pattern.GetLength();
    if (n <= kPlainSearchLength) return table;
    const char* p = pattern.GetCString();
    table.assign(static_cast<size_t>(n), 0);
    for (int32_t i = 1, k = 0; i < n; ++i) {
        while (k > 0 && p[i] != p[k]) k = table[static_cast<size_t>(k - 1)];
        if (p[i] == p[k]) ++k;
        table[static_cast<size_t>(i)] = k;
    }
    return table;
}

} // namespace

KxStringTokenizer::KxStringTokenizer(const char* pString, const char* pDelimiter,
                                     const char* pGroupBegin, bool keepGroupDelimiters,
                                     const char* pGroupEnd, bool noSpaceSkipping)
    : m_keepGroupDelimiters(keepGroupDelimiters), m_noSpaceSkipping(noSpaceSkipping) {
    KX_TRY
        if (pGroupBegin == nullptr && pGroupEnd != nullptr)
            KxGenerateException("Group end delimeter specified without a group begin delimeter.",
                                kTokenizer);
        // Nothing would ever move the parse on.
        if (pDelimiter == nullptr || *pDelimiter == '\0')
            KxGenerateException("The token delimiter must not be empty.", kTokenizer);
        if (pString == nullptr) KxGenerateException("Cannot tokenize null string.", kTokenizer);
        m_delimiter = pDelimiter;
        m_groupBegin = pGroupBegin;
        m_groupEnd = pGroupEnd != nullptr && *pGroupEnd != '\0' ? pGroupEnd : pGroupBegin;
        m_delimiterTable = PrefixTable(m_delimiter);
        m_groupEndTable = PrefixTable(m_groupEnd);
        m_string = pString;
        m_length = m_string.GetLength();
        ParseStringIntoTokens(0);
    KX_CATCH_STD("Constructor", kTokenizer)
}

KxStringTokenizer::~KxStringTokenizer() = default;

void KxStringTokenizer::SetString(const char* pString) {
    KX_TRY
        if (pString == nullptr) KxGenerateException("Cannot tokenize null string.", kTokenizer);
        KxString text(pString);
        m_string = text;
        m_length = m_string.GetLength();
        m_tokens.clear();
        m_nextToken = 0;
        ParseStringIntoTokens(0);
    KX_CATCH_STD("SetString()", kTokenizer)
}

KxString& KxStringTokenizer::GetNextToken() {
    KX_TRY
        KxString* token = m_tokens.At(m_nextToken);
        ++m_nextToken;
        return *token;
    KX_CATCH("GetNextToken()", kTokenizer)
}

int32_t KxStringTokenizer::GetRemainingTokenCount() const {
    return m_tokens.GetCount() - m_nextToken;
}

void KxStringTokenizer::ParseStringIntoTokens(int32_t lStart) {
    KX_TRY
        m_position = lStart;
        while (m_position >= 0) {
            SkipSpaces();
            if (!IsGroupBegin(m_position)) {
                int32_t found = Find(m_delimiter, m_delimiterTable, m_position);
                if (found < 0) {
                    AddToken(m_position, m_length);
                    m_position = -1;
                } else {
                    AddToken(m_position, found);
                    m_position = found;
                }
            } else {
                int32_t end =
                    Find(m_groupEnd, m_groupEndTable, m_position + m_groupBegin.GetLength());
                if (end < 0) {
                    throw KxStringTokenizerException(
                        "A group token has no end delimeter.\nCannot retrieve token as "
                        "specified.\nPlease correct.\n\n",
                        kTokenizer);
                }
                int32_t searchFrom;
                if (m_keepGroupDelimiters) {
                    AddToken(m_position, end + m_groupEnd.GetLength());
                    searchFrom = end;
                } else {
                    AddToken(m_position + m_groupBegin.GetLength(), end);
                    searchFrom = end + m_groupEnd.GetLength();
                }
                // Text between the group end and the next delimiter is dropped.
                m_position = Find(m_delimiter, m_delimiterTable, searchFrom);
            }
            SkipDelimiter();
        }
    KX_CATCH_STD("ParseStringIntoTokens", kTokenizer)
}

void KxStringTokenizer::SkipSpaces() {
    if (m_noSpaceSkipping) return;
    const char* text = m_string.GetCString();
    while (m_position >= 0 && m_position < m_length && text[m_position] == ' ') ++m_position;
}

void KxStringTokenizer::SkipDelimiter() {
    if (m_position < 0) return;
    if (IsDelimiter(m_position))
        m_position += m_delimiter.GetLength();
    else if (IsGroupEnd(m_position))
        m_position += m_groupEnd.GetLength();
}

bool KxStringTokenizer::IsDelimiter(int32_t lPosition) const {
    return Matches(m_string.GetCString(), m_length, lPosition, m_delimiter);
}

bool KxStringTokenizer::IsGroupBegin(int32_t lPosition) const {
    return Matches(m_string.GetCString(), m_length, lPosition, m_groupBegin);
}

bool KxStringTokenizer::IsGroupEnd(int32_t lPosition) const {
    return Matches(m_string.GetCString(), m_length, lPosition, m_groupEnd);
}

int32_t KxStringTokenizer::Find(const KxString& pattern, const std::vector<int32_t>& table,
                                int32_t lFrom) const {
    if (lFrom < 0 || lFrom > m_length) return -1;
    const char* text = m_string.GetCString();
    const char* p = pattern.GetCString();
    int32_t n = pattern.GetLength();
    if (table.empty()) {
        size_t found = std::string_view(text, static_cast<size_t>(m_length))
                           .find(std::string_view(p, static_cast<size_t>(n)),
                                 static_cast<size_t>(lFrom));
        return found == std::string_view::npos ? -1 : static_cast<int32_t>(found);
    }
    for (int32_t i = lFrom, k = 0; i < m_length; ++i) {
        while (k > 0 && text[i] != p[k]) k = table[static_cast<size_t>(k - 1)];
        if (text[i] == p[k]) ++k;
        if (k == n) return i - n + 1;
    }
    return -1;
}

// The token text is copied out first, since KxString takes a terminated text.
void KxStringTokenizer::AddToken(int32_t lStart, int32_t lEnd) {
    std::string piece(m_string.GetCString() + lStart, static_cast<size_t>(lEnd - lStart));
    KxString* token = new KxString(piece.c_str());
    try {
        m_tokens.push_back(token);
    } catch (...) {
        delete token;
        throw;
    }
}
