// INI-style text files: structure files, the value-format dictionary and the program's settings.
// A file is scanned for its section headers; a section's lines are read when first asked for.
//
//     [Name]           a section; its name is the whole header, brackets included
//     ; text          a comment, kept with the line that follows it
//     Key = Value      blanks around key and value dropped; "  quoted  " keeps them
//
// Keys and section names compare without regard to case (ASCII letters only).
#pragma once

#include <cstdint>

#include "kxexception.h"
#include "kxio.h"
#include "kxstring.h"
#include "kxvector.h"

// One key and its value.
class KxIniLine {
public:
    // The line is split as by SetLine.
    explicit KxIniLine(const char* sLine);
    KxIniLine(const char* sKey, const char* sValue);
    KxIniLine(const KxIniLine& rhs);
    KxIniLine& operator=(const KxIniLine& rhs);
    virtual ~KxIniLine() = default;
    virtual KxIniLine* Clone() const;

    void Copy(const KxIniLine& rhs);

    // Splits at the first "=": the raw text after it is the value, the text before it the key.
    // Without "=" the whole line is the key and the value is unset.
    void SetLine(const char* sLine);
    // Stored without blanks at either end.
    void SetKey(const char* sKey);
    // Stored as given; null unsets it.
    void SetValue(const char* sValue);

    const char* GetKey() const { return m_key.GetCString(); }
    // Null while unset.
    const char* GetValue() const { return m_hasValue ? m_value.GetCString() : nullptr; }

private:
    KxString m_key;
    KxString m_value;
    bool m_hasValue = false;
};

// A named list of lines with the comments that stand around them.
class KxIniSection {
public:
    // A null name leaves the section without one.
    explicit KxIniSection(const char* sName = nullptr);
    KxIniSection(const KxIniSection& rhs);
    KxIniSection& operator=(const KxIniSection&) = delete;
    virtual ~KxIniSection() = default;
    virtual KxIniSection* Clone() const;

    // A name beginning with "[" is kept as it is; any other gets the brackets.
    void SetName(const char* sName);
    // Null until a name is set.
    const char* GetName() const { return m_hasName ? m_name.GetCString() : nullptr; }

    void AddLine(const char* sKeyName, const char* sEntry);
    // Split as by KxIniLine::SetLine; a null or empty line is ignored.
    void AddLine(const char* sLine);
    // Appended to the comments after the last line, so it stands before the next line added.
    void AddComment(const char* sComment);

    int32_t GetNumLines() const;
    KxIniLine* GetLine(int32_t lIndex) const;
    // The comments before line lIndex; lIndex == GetNumLines() gives those after the last line.
    const KxVector<KxString>& GetComments(int32_t lIndex) const;

    // The first line with that key, or -1.
    int32_t FindKey(const char* sKeyName) const;

    // The value, or sDefault when the key is missing (an unset value reads as ""). The text
    // stays valid until the next GetString on this section.
    const char* GetString(const char* sKeyName, const char* sDefault);
    // The same into sReturn, at most lLength - 1 characters, always terminated.
    char* GetString(const char* sKeyName, const char* sDefault, char* sReturn, int32_t lLength);
    // Decimal, or hexadecimal after "0x"; anything else, or a missing or empty value, gives the
    // default.
    int32_t GetInt(const char* sKeyName, int32_t lDefault);
    // "true", "yes" (any case) or 1 is true; a missing or empty value gives the default.
    bool GetBool(const char* sKeyName, bool bDefault);
    // Decodes a text of capital hexadecimal digit pairs into uwLength bytes of sReturn. A missing
    // or empty value gives uwLength - 1 fill bytes and a 0.
    char* GetBinaryString(const char* sKeyName, char* sReturn, uint16_t uwLength, char fill);

    // A missing key is appended; an empty value removes the key's line. Null key or value: no
    // change.
    void SetString(const char* sKeyName, const char* sValue);
    void SetInt(const char* sKeyName, int32_t lValue);
    void SetBool(const char* sKeyName, bool bValue);
    // Two capital hexadecimal digits a byte; a length of 0 removes the key.
    void SetBinaryString(const char* sKeyName, const void* pBytes, uint16_t uwLength);

    // A key line as read from a file: key and value without blanks around them, and one pair of
    // double quotes around the value removed.
    static void SplitLine(const char* sLine, KxString& sKey, KxString& sValue);

    // Replaces the lines by those that follow in the file, which stands just after the header;
    // stops before the next header, leaving the file there.
    void LoadSection(KxIOInterface& file);
    // The header, the lines with their comments and an empty line; nothing for a section
    // without lines.
    void Write(KxOutputStreamInterface& file);

    bool GetLoaded() const { return m_loaded; }
    void SetLoaded(bool loaded) { m_loaded = loaded; }
    bool GetModified() const { return m_modified; }

private:
    friend class KxIniFile;  // restores the modified flags after a failed write
    void RemoveLine(int32_t lIndex);

    KxPointerVector<KxIniLine> m_lines;
    // One entry more than lines: entry i precedes line i, the last follows the last line.
    KxVector<KxVector<KxString>> m_comments;
    KxString m_name;
    bool m_hasName = false;
    KxString m_return;
    bool m_modified = false;
    bool m_loaded = false;
};

// An INI file, held open for the object's whole life, and its sections in file order.
class KxIniFile {
public:
    KxIniFile();
    // SetName, then LoadSectionNames.
    explicit KxIniFile(const char* sFileName, bool loadContents = true, bool create = false,
                       uint32_t ulOpenFlags = kxIOOpenReadShared);
    KxIniFile(const KxIniFile&) = delete;
    KxIniFile& operator=(const KxIniFile&) = delete;
    virtual ~KxIniFile() = default;

    // Opens the file by its full path; a missing file is created empty when create is set.
    void SetName(const char* sFileName, bool create = false,
                 uint32_t ulOpenFlags = kxIOOpenReadShared);
    const char* GetFileName() const { return m_fileName.GetCString(); }

    // Appends a section for each header from the file's position on, reading its lines too when
    // loadContents is set.
    void LoadSectionNames(bool loadContents);

    int32_t GetNumSections() const;
    const char* GetSectionName(int32_t lIndex) const;
    // The first section from lFirstIndex on whose name is sSectionName (brackets optional), or
    // whose name begins with it when prefix is set; -1 when there is none.
    int32_t GetSectionIndex(const char* sSectionName, int32_t lFirstIndex = 0,
                            bool prefix = false) const;
    // A name not in the file gives a new empty section; null or empty gives null.
    KxIniSection* GetSection(const char* sSectionName);
    // Reads the section's lines first if that has not happened yet.
    KxIniSection* GetSection(int32_t lIndex);

    // Takes ownership, also when it fails.
    KxIniSection* AddSection(KxIniSection* pSection);
    KxIniSection* AddSection(const char* sSectionName);

    void LoadUnLoadedSections();
    // Writes every section into a new file beside this one, which then replaces it; the file is
    // reopened with ulOpenFlags. A failure leaves the file on disk as it was.
    void Write(bool loadFirst = true, uint32_t ulOpenFlags = kxIOOpenReadShared);

    // Moves to the start of the next header line; false at the end of the file.
    bool SeekToNextSection();
    void LoadSection(KxIniSection* pSection);

private:
    void ReplaceFile(const KxString& sTempName);
    void Reopen(uint32_t ulOpenFlags);

    KxIO m_file;
    KxString m_fileName;
    uint32_t m_openFlags = 0;
    KxPointerVector<KxIniSection> m_sections;
};
