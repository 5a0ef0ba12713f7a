// The record engine's kinds of failure. Each tells a kind apart for a handler; message, source and
// call path are those of KxException.
#pragma once

#include <cstdlib>
#include <cstring>

#include "kxexception.h"

KX_DECLARE_EXCEPTION(KxFieldNotFoundException, virtual KxException)
KX_DECLARE_EXCEPTION(KxFileCanceledException, KxCanceledException)
KX_DECLARE_EXCEPTION(KxSortCanceledException, KxCanceledException)
KX_DECLARE_EXCEPTION(KxFilterException, virtual KxException)
KX_DECLARE_EXCEPTION(KxFilterUninterpretableStringException, KxFilterException)
KX_DECLARE_EXCEPTION(KxFilterRegistryException, KxFilterException)
KX_DECLARE_EXCEPTION(KxRecordActionException, virtual KxException)
KX_DECLARE_EXCEPTION(KxTransactionException, virtual KxException)

// A text that does not convert to a value of a field type; keeps the type letter and the text so
// that a caller can point at the offending input.
// The text lives on the C heap, as the exception's own texts do, so that copying the exception
// never throws.
class KxMalformedDataException : public virtual KxException {
public:
    KxMalformedDataException(const char* message, const char* source, char type, const char* text)
        : KxException("%s", source, message), m_type(type), m_text(Duplicate(text)) {}
    KxMalformedDataException(const KxMalformedDataException& other)
        : KxException(other), m_type(other.m_type), m_text(Duplicate(other.m_text)) {}
    KxMalformedDataException& operator=(const KxMalformedDataException& other) {
        if (this != &other) {
            KxException::operator=(other);
            m_type = other.m_type;
            char* text = Duplicate(other.m_text);
            free(m_text);
            m_text = text;
        }
        return *this;
    }
    ~KxMalformedDataException() override { free(m_text); }

    char GetType() const { return m_type; }
    const char* GetText() const { return m_text != nullptr ? m_text : ""; }

private:
    static char* Duplicate(const char* text) {
        if (text == nullptr) return nullptr;
        size_t n = strlen(text) + 1;
        char* copy = static_cast<char*>(malloc(n));
        if (copy != nullptr) memcpy(copy, text, n);
        return copy;
    }

    char m_type;
    char* m_text;
};
