// Value formats: named tables that map a field's values to labels (a code and its meaning, a band
// of numbers and its name). Formats live in dictionary files of INI syntax, one section
// "[Format=name]" per format whose key lines are value strings and whose values are labels:
//
//     "-5"        the single value -5 (quotes allow commas, hyphens and "<" in a value)
//     (empty)     the type's blank value
//     1-5,9       a list of items; an item is a value or a range low-high, where "<" before the
//                 hyphen excludes low and "<" after it excludes high (0<-<10)
//
// The sections FormatDataType, FormatCaseSensitivity and FormatEditableByUser type a format by
// name, and DictionaryInfo names the owner. A library searches an ordered list of dictionaries.
#pragma once

#include <cstdint>
#include <memory>

#include "kxstring.h"
#include "kxvector.h"

class KxIniSection;

// One item of a value string: a single value (kind 0) or a range.
class KxFormatRange : public KxArrayPointerObject {
public:
    // The bytes each bound takes, and the longest text bound.
    static constexpr int32_t kxAreaSize = 40;
    static constexpr int32_t kxMaxTextLength = 32;
    enum Kind : uint8_t {
        kxSingle = 0,        // v == low
        kxClosed = 1,        // low <= v <= high
        kxHighExclusive = 2, // low <= v < high
        kxLowExclusive = 3,  // low < v <= high
        kxOpen = 4,          // low < v < high
    };

    // Type A: each text present and at most 32 characters.
    KxFormatRange(const char* sLow, const char* sHigh, uint8_t kind);
    KxFormatRange(int32_t lLow, int32_t lHigh, uint8_t kind);     // I
    KxFormatRange(uint32_t ulLow, uint32_t ulHigh, uint8_t kind); // W
    KxFormatRange(double dLow, double dHigh, uint8_t kind);       // N
    KxFormatRange(int16_t wLow, int16_t wHigh, uint8_t kind);     // S
    KxFormatRange(uint16_t uwLow, uint16_t uwHigh, uint8_t kind); // U
    KxFormatRange(const KxFormatRange& other) = default;
    KxFormatRange& operator=(const KxFormatRange& other) = default;
    ~KxFormatRange() override = default;
    virtual KxFormatRange* Clone() const;

    // The bound in the form of the type: A the text and its 0, I and W 4 bytes, N 8, S and U 2.
    void GetLow(void* pDest, char type) const;
    void GetHigh(void* pDest, char type) const;
    uint8_t GetKind() const { return m_kind; }
    char GetType() const { return m_type; }

    bool IsInRange(const char* sValue, bool caseSensitive) const;
    bool IsInRange(int32_t lValue) const;
    bool IsInRange(uint32_t ulValue) const;
    bool IsInRange(double dValue) const;
    bool IsInRange(int16_t wValue) const;
    bool IsInRange(uint16_t uwValue) const;
    // A value in the binary form of the range's type (a text for A).
    bool Holds(const void* pValue, bool caseSensitive) const;

private:
    template <typename T> void Store(T low, T high, uint8_t kind, char type);
    template <typename T> bool Test(T value) const;

    unsigned char m_low[kxAreaSize];
    unsigned char m_high[kxAreaSize];
    uint8_t m_kind;
    char m_type;
};

// One key line of a format: its value string, read into ranges, and its label.
class KxFormatLine : public KxArrayPointerObject {
public:
    // With a value string or a label given, the value string is read for the type.
    explicit KxFormatLine(const char* sValue = nullptr, const char* sLabel = nullptr,
                          char type = 'I');
    KxFormatLine(const KxFormatLine& rhs);
    KxFormatLine& operator=(const KxFormatLine& rhs);
    ~KxFormatLine() override = default;
    virtual KxFormatLine* Clone() const;
    void Copy(const KxFormatLine& rhs);

    // The value string and the ranges read from it.
    void SetValue(const char* sValue, char type);
    // The text alone; the ranges stay as they are.
    void SetValueString(const char* sValue);
    void SetLabel(const char* sLabel);

    void SetAllRanges(char type);
    void CreateRange(const char* sRange, char type);
    void CreateRange(const char* sLow, const char* sHigh, char type, uint8_t kind);
    void CreateBlankRange(char type);

    // Whether a range holds the value: a text when valueIsText or for type A, else the binary
    // form of the type. A text of a numeric type that begins with a blank is held only when
    // leading blanks are allowed.
    bool GetIsInFormatLine(const void* pValue, char type, bool valueIsText,
                           bool leadingBlanksAllowed, bool caseSensitive) const;

    KxFormatRange* GetRange(int32_t lIndex) const;
    void DeleteRange(int32_t lIndex);
    void DeleteAllRanges();
    int32_t GetNumRanges() const { return m_ranges.GetCount(); }
    const char* GetValueString() const { return m_value.GetCString(); }
    const char* GetLabel() const { return m_label.GetCString(); }
    char GetType() const { return m_type; }

private:
    KxString m_value;
    KxString m_label;
    KxPointerVector<KxFormatRange> m_ranges;
    char m_type;
};

class KxFormat : public KxArrayPointerObject {
public:
    KxFormat();
    // Loads the format of that name from the dictionary file.
    KxFormat(const char* sFormatName, const char* sDictFileName, char type);
    KxFormat(const KxFormat& rhs);
    KxFormat& operator=(const KxFormat& rhs);
    ~KxFormat() override = default;
    virtual KxFormat* Clone() const;
    // Name, type, case switch and editable switch; not the lines.
    void Copy(const KxFormat& rhs);

    // Drops one final "]".
    void SetName(const char* sName);
    virtual const char* GetName() const { return m_name.GetCString(); }
    // "Format=" and the name: the format's section in a dictionary.
    KxString CreateFormatHeader() const;

    // A negative position appends; any other inserts before that line.
    void AddLine(const char* sValue, const char* sLabel, int32_t lPosition = -1);
    // Opens the dictionary (a missing file is created empty), reads the format's type, switches
    // and lines, and closes it again.
    void LoadFormat(const char* sDictFileName, const char* sFormatName, char type);
    // From a "[Format=name]" section of an open dictionary; the other sections may be null.
    void Read(KxIniSection& section, char defaultType, KxIniSection* pCaseSection,
              KxIniSection* pEditableSection, KxIniSection* pTypeSection);

    // The first line that holds the value in the buffer has its label copied over the buffer,
    // cut to ulBufferLength - 1 characters; returns that line's index, or -1 leaving the buffer
    // as it was.
    int32_t Format(void* pBuffer, uint32_t ulBufferLength, bool valueIsText,
                   bool leadingBlanksAllowed) const;
    int32_t GetIndexFromValue(const void* pValue, bool valueIsText,
                              bool leadingBlanksAllowed) const;
    // By the case switch; -1 when no line has that label.
    int32_t GetIndexFromLabel(const char* sLabel) const;
    // The low bound of the labelled line's first range in the format type's form into pDest,
    // which holds KxFormatRange::kxAreaSize bytes; false when no line has that label.
    bool UnFormat(const char* sLabel, void* pDest) const;

    bool GetNameIsLess(const KxFormat& other) const;
    bool GetNameIsEqual(const KxFormat& other) const;

    char GetType() const { return m_type; }
    bool GetCaseSensitive() const { return m_caseSensitive; }
    void SetCaseSensitive(bool caseSensitive) { m_caseSensitive = caseSensitive; }
    bool GetEditable() const { return m_editable; }
    void SetEditable(bool editable) { m_editable = editable; }
    int32_t GetNumLines() const { return m_lines.GetCount(); }
    KxFormatLine* GetLine(int32_t lIndex) const;
    const KxPointerVector<KxFormatLine>& GetLines() const { return m_lines; }

private:
    KxString m_name;
    KxPointerVector<KxFormatLine> m_lines;
    char m_type = 'I';
    bool m_caseSensitive = true;
    bool m_editable = true;
};

// One dictionary file and the formats loaded from it. A loaded format is shared: whoever was
// handed it keeps it valid after the dictionary unloads it.
class KxFormatDict : public KxArrayPointerObject {
public:
    // Without a name the dictionary has no file and finds nothing.
    explicit KxFormatDict(const char* sDictName = nullptr, bool loadAll = false,
                          char defaultType = 'I');
    KxFormatDict(const KxFormatDict& other);
    KxFormatDict& operator=(const KxFormatDict&) = delete;
    ~KxFormatDict() override = default;
    virtual KxFormatDict* Clone() const;

    // The full path of the name; empty for none.
    void SetName(const char* sDictName);
    void LoadOwner();

    // The names of the file's formats in file order.
    void GetAllFormatNames(KxVector<KxString>& names) const;
    // A loaded format of that name (any case), else the one loaded from the file; null when the
    // file has no such format or it has no lines. With a type (not 0) a loaded format of another
    // type is unloaded and loaded again for that type. The dictionary keeps what it hands out.
    KxFormat* GetFormat(const char* sFormatName);
    KxFormat* GetFormat(const char* sFormatName, char type);
    std::shared_ptr<KxFormat> GetSharedFormat(const char* sFormatName, char type = 0);
    // Loads every format of the file, with reload also those already loaded, and unloads those
    // the file no longer holds.
    void LoadAllFormats(bool reload);

    // The first loaded format whose name equals sFormatName without regard to case, or -1.
    int32_t GetLoadedFormatIndex(const char* sFormatName) const;
    int32_t GetNumLoadedFormats() const { return m_formats.GetCount(); }
    const char* GetFormatName(int32_t lIndex) const;
    KxFormat* GetLoadedFormat(int32_t lIndex) const;
    void UnloadFormat(int32_t lIndex);

    const char* GetFileName() const { return m_fileName.GetCString(); }
    const char* GetOwner() const { return m_owner.GetCString(); }
    char GetDefaultType() const { return m_defaultType; }

private:
    std::shared_ptr<KxFormat> LoadFormat(const char* sFormatName, char type);
    // Where a format of that name stands or would stand in byte order of the names.
    int32_t FindPosition(const KxFormat& format, bool& found) const;

    KxString m_fileName;
    KxString m_owner;
    KxVector<std::shared_ptr<KxFormat>> m_formats;
    char m_defaultType = 'I';
};

class KxFormatLib {
public:
    // True: earlier dictionaries are searched first. With a name, that dictionary is added
    // (type A).
    explicit KxFormatLib(const char* sDictName = nullptr, bool searchOrder = true);
    KxFormatLib(const KxFormatLib&) = delete;
    KxFormatLib& operator=(const KxFormatLib&) = delete;
    virtual ~KxFormatLib() = default;

    // Adds the dictionary last, replacing one of the same path; returns whether its file exists
    // (a missing one is created empty on first lookup). When later dictionaries come first, the
    // earlier ones unload their copies of the formats the new file holds.
    bool AddDictionary(const char* sDictName, bool loadAll = false, char defaultType = 'I');
    // The first dictionary whose full path is exactly that; nothing when none is.
    void RemoveDictionary(const char* sUnloadName);
    void RemoveDictionary(int32_t lDictIndex);
    KxFormatDict* GetDictionary(int32_t lIndex) const;
    const char* GetDictionaryName(int32_t lIndex) const;
    int32_t GetNumDictionaries() const { return m_dictionaries.GetCount(); }

    // The format of that name (and type letter), owned by its dictionary, or null when there is
    // none.
    KxFormat* GetFormat(const char* sFormatName);
    KxFormat* GetFormat(const char* sFormatName, char type);
    // The same, shared with its dictionary; type 0 looks up by name alone.
    std::shared_ptr<KxFormat> GetSharedFormat(const char* sFormatName, char type = 0);

    bool GetSearchOrder() const { return m_searchOrder; }
    void SetSearchOrder(bool earlierFirst) { m_searchOrder = earlierFirst; }

    // The process-wide library of files that have none of their own; null outside
    // InitDefaultLibrary() ... ReleaseDefaultLibrary(). Both may be called more than once.
    static void InitDefaultLibrary();
    static void ReleaseDefaultLibrary();
    static KxFormatLib* GetDefaultLibrary();

private:
    KxPointerVector<KxFormatDict> m_dictionaries;
    bool m_searchOrder = true;
};
