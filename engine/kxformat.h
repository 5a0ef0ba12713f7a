// Value formats: named tables that map a field's values to labels, kept in format dictionaries
// that a format library searches. For now a field can name a format and hold one; the library
// holds no dictionaries and so finds nothing.
#pragma once

#include "kxvector.h"

class KxFormat : public KxArrayPointerObject {
public:
    ~KxFormat() override = default;
    virtual KxFormat* Clone() const = 0;
    virtual const char* GetName() const = 0;
};

class KxFormatLib {
public:
    KxFormatLib() = default;
    KxFormatLib(const KxFormatLib&) = delete;
    KxFormatLib& operator=(const KxFormatLib&) = delete;
    virtual ~KxFormatLib() = default;

    // The format of that name (and type letter), owned by the library, or null when there is
    // none.
    KxFormat* GetFormat(const char* sFormatName);
    KxFormat* GetFormat(const char* sFormatName, char type);

    // True: earlier dictionaries are searched first.
    bool GetSearchOrder() const { return m_searchOrder; }
    void SetSearchOrder(bool earlierFirst) { m_searchOrder = earlierFirst; }

    // The process-wide library of files that have none of their own; null outside
    // InitDefaultLibrary() ... ReleaseDefaultLibrary(). Both may be called more than once.
    static void InitDefaultLibrary();
    static void ReleaseDefaultLibrary();
    static KxFormatLib* GetDefaultLibrary();

private:
    bool m_searchOrder = true;
};
