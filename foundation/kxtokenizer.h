// Splits one line of text into tokens at a delimiter text. Text between a group begin and a group
// end (quotes, brackets) is one token even when it holds the delimiter. The whole text is split
// when it is given; the tokens are then handed out in order.
#pragma once

#include <cstdint>
#include <vector>

#include "kxexception.h"
#include "kxstring.h"
#include "kxvector.h"

class KxStringTokenizer {
public:
    // A null or empty group begin means no groups; a null or empty group end closes a group
    // with the group begin. The delimiter must not be empty.
    KxStringTokenizer(const char* pString, const char* pDelimiter,
                      const char* pGroupBegin = nullptr, bool keepGroupDelimiters = false,
                      const char* pGroupEnd = nullptr, bool noSpaceSkipping = false);
    KxStringTokenizer(const KxStringTokenizer&) = delete;
    KxStringTokenizer& operator=(const KxStringTokenizer&) = delete;
    ~KxStringTokenizer();

    // Splits a new text. When the text cannot be split, the tokens found before the fault
    // remain and the next token is the first.
    void SetString(const char* pString);
    // Valid until the next SetString or the tokenizer's end. Past the last token raises the
    // vector's index error and changes nothing.
    KxString& GetNextToken();
    int32_t GetRemainingTokenCount() const;

private:
    void ParseStringIntoTokens(int32_t lStart);
    void SkipSpaces();
    void SkipDelimiter();
    bool IsDelimiter(int32_t lPosition) const;
    bool IsGroupBegin(int32_t lPosition) const;
    bool IsGroupEnd(int32_t lPosition) const;
    // The first occurrence of the pattern at or after lFrom, or -1. A long pattern comes with
    // its prefix table, which keeps the search linear.
    int32_t Find(const KxString& pattern, const std::vector<int32_t>& table, int32_t lFrom) const;
    void AddToken(int32_t lStart, int32_t lEnd);

    KxString m_string;
    KxString m_delimiter;
    KxString m_groupBegin;
    KxString m_groupEnd;
    bool m_keepGroupDelimiters;
    bool m_noSpaceSkipping;
    int32_t m_position = 0;
    KxPointerVector<KxString> m_tokens;
    int32_t m_nextToken = 0;
    int32_t m_length = 0;
    std::vector<int32_t> m_delimiterTable;
    std::vector<int32_t> m_groupEndTable;
};
