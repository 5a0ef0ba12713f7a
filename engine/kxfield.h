// Field definitions: what a column of a record file is called, which value type it holds, where it
// lies in a fixed-layout record, how it is shown and which flags it carries. Each is read from and
// written to one section (Field1, Field2, ...) of a data set's structure file. Beside it the type
// descriptors that storage drivers list as supported and the flag descriptors.
#pragma once

#include <cstdint>
#include <memory>

#include "kxstring.h"
#include "kxvector.h"

class KxIniSection;
class KxFile;
class KxFilter;
class KxFormat;
class KxFormatLib;

// The type letters: what the structure file stores under Type and what records dispatch on.
constexpr char kxAlphaField = 'A';
constexpr char kxBinaryField = 'Y';
constexpr char kxLongField = 'I';
constexpr char kxShortField = 'S';
constexpr char kxUnsignedShortField = 'U';
constexpr char kxUnsignedLongField = 'W';
constexpr char kxNumberField = 'N';
constexpr char kxDateField = 'D';
constexpr char kxTimeField = 'T';
constexpr char kxTimestampField = '@';
constexpr char kxBooleanField = 'L';
constexpr char kxBlobField = 'B';
// Converted like Number, but no driver supports it and it has no descriptor.
constexpr char kxCurrencyField = '$';

// One immutable, process-wide descriptor per type letter except '$'. For numeric types the
// bounds are the value range; for the others the range of the field's length in characters.
class KxFieldType : public KxArrayPointerObject {
public:
    KxFieldType(char type, bool numeric, double lowerBound, double upperBound, bool last,
                const char* sName);
    KxFieldType(const KxFieldType&) = delete;
    KxFieldType& operator=(const KxFieldType&) = delete;
    ~KxFieldType() override = default;

    bool GetIsNumeric() const { return m_numeric; }
    char GetType() const { return m_type; }
    const char* GetName() const { return m_name.GetCString(); }
    double GetLowerBound() const { return m_lowerBound; }
    double GetUpperBound() const { return m_upperBound; }
    bool GetLast() const { return m_last; }

    // Builds and destroys the twelve descriptors; each may be called more than once.
    static void InitTypes();
    static void ReleaseTypes();
    static bool AreTypesInitialized();
    // The descriptor of a letter; null for '$' and unknown letters. Fails before InitTypes().
    static const KxFieldType* GetFieldType(char type);

    // "Alpha", "Long", ..., "Currency" for '$'; "Unknown" for any other letter. Needs no
    // initialisation.
    static const char* GetTypeName(char type);

private:
    bool m_numeric;
    char m_type;
    KxString m_name;
    double m_lowerBound;
    double m_upperBound;
    bool m_last;
};

// A named bit group inside one of a field's flag words.
class KxFlagType : public KxArrayPointerObject {
public:
    // The engine's own flags, in the system word.
    static constexpr uint32_t kxHidden = 1;
    static constexpr uint32_t kxRequired = 2;
    static constexpr uint32_t kxSystem = 4;
    static constexpr uint32_t kxReadOnly = 8;
    static constexpr uint32_t kxNonNativeDataSource = 16;

    KxFlagType(const char* sName, const char* sDescription, uint32_t ulMask, bool systemFlag);
    KxFlagType(const KxFlagType& other) = default;
    KxFlagType& operator=(const KxFlagType& other) = default;
    ~KxFlagType() override = default;
    virtual KxFlagType* Clone() const;

    const char* GetDescription() const { return m_description.GetCString(); }
    const char* GetName() const { return m_name.GetCString(); }
    uint32_t GetMask() const { return m_mask; }
    // The number of trailing zero bits of the mask; 0 for a zero mask.
    uint16_t GetShift() const { return m_shift; }
    bool GetIsSystemFlag() const { return m_systemFlag; }
    // A one-bit flag is stored as a boolean key, any other as the integer value of its bits.
    bool GetIsOneBit() const { return (m_mask >> m_shift) == 1; }

    void SetDescription(const char* sDescription) { m_description = sDescription; }
    void SetName(const char* sName) { m_name = sName; }
    void SetMask(uint32_t ulMask);
    void SetIsSystemFlag(bool systemFlag) { m_systemFlag = systemFlag; }

    // By name in byte order, as the engine list is kept.
    bool operator<(const KxFlagType& other) const { return m_name < other.m_name; }
    bool operator==(const KxFlagType& other) const { return m_name == other.m_name; }

    // The engine's own flags sorted by name: Hidden, NonNativeDataSource, ReadOnly, Required,
    // System. Each may be called more than once.
    static void InitFlagTypes();
    static void ReleaseFlagTypes();
    // Fails before InitFlagTypes().
    static const KxPointerVector<KxFlagType>& GetEngineFlagTypes();
    // Null when the engine list holds no flag of that name (or is not built).
    static const KxFlagType* FindEngineFlagType(const char* sName);

private:
    KxString m_description;
    KxString m_name;
    uint32_t m_mask = 0;
    uint16_t m_shift = 0;
    bool m_systemFlag = false;
};

// The flag lists a data set defines itself (its user flags).
using KxFlagTypeList = KxPointerVector<KxFlagType>;

class KxField : public KxArrayPointerObject {
public:
    // The number of a field that is not in a field array yet.
    static constexpr uint16_t kxNoFieldNumber = 65535;
    static constexpr int16_t kxMaxIndexCount = 32;

    // The format options.
    static constexpr char kxShowRaw = 0;
    static constexpr char kxShowFormatted = 1;
    static constexpr char kxShowFiltered = 2;

    KxField();
    KxField(const KxField& other);
    KxField& operator=(const KxField& other);
    ~KxField() override;

    // From the field's own section of the structure file; the data-set flag list may be null.
    virtual void Read(uint16_t uwFieldNumber, KxIniSection& section,
                      const KxFlagTypeList* pDataSetFlags);
    // Called after Read() has filled the field from the section of the field it maps to: the
    // mapped field's own name, number and the settings its section overrides.
    virtual void ReadMappedField(uint16_t uwFieldNumber, KxIniSection& section);
    virtual void Write(KxIniSection& section, const KxFlagTypeList* pDataSetFlags) const;
    virtual KxField* Clone() const;

    void Copy(const KxField& other);

    void ReadFlagsFromIni(KxIniSection& section, const KxFlagTypeList* pDataSetFlags);
    void WriteFlagsToIni(KxIniSection& section, const KxFlagTypeList* pDataSetFlags) const;

    // Null texts become empty; a negative field number leaves the number as it is.
    void SetName(const char* sName, const char* sDescription = nullptr,
                 const char* sMappedTo = nullptr, int32_t lFieldNumber = -1);
    // The length only when positive, the precision only when not negative.
    void SetDefinition(uint16_t uwFieldNumber, char type, int16_t wLength, int16_t wPrecision,
                       int16_t wCategory);
    void SetFieldNumber(uint16_t uwFieldNumber) { m_fieldNumber = uwFieldNumber; }
    void SetType(char type) { m_type = type; }
    void SetCategory(int16_t wCategory) { m_category = wCategory; }
    void SetByteOffset(uint16_t uwByteOffset) { m_byteOffset = uwByteOffset; }
    // Only a positive length is taken.
    void SetLength(int16_t wLength);
    void SetUseInverseIndex(bool use) { m_useInverseIndex = use; }
    // The file's own format library, when it has one, is the one GetFormat() searches; the
    // field keeps neither.
    void SetOwnerFile(KxFile* pOwnerFile, KxFormatLib* pFormatLib = nullptr);
    void SetUserDefined(const char* sUserDefined);
    void SetMappedFieldName(const char* sMappedTo);
    // The system word (userWord false) or the user word.
    void SetFlags(uint32_t ulFlags, bool userWord = false);
    void SetDataSetFlags(uint32_t ulFlags) { m_dataSetFlags = ulFlags; }
    void SetIndexCount(int16_t wIndexCount);
    // When off, a filter class named by a section but not registered is skipped, not a failure.
    void SetStrictFilterLookup(bool strict) { m_strictFilterLookup = strict; }

    // Option 1 with a clone of the format, which the field then owns.
    void SetFormat(const KxFormat& format);
    // Drops the format object, sets option and name and takes ownership of the filter (also when
    // this fails), destroying the old one. A name needs a format library.
    void SetFormat(char formatOption, const char* sFormatName, KxFilter* pFilter);

    const char* GetName() const { return m_name.GetCString(); }
    char GetType() const { return m_type; }
    int16_t GetLength() const { return m_length; }
    int16_t GetPrecision() const { return m_precision; }
    uint16_t GetByteOffset() const { return m_byteOffset; }
    const char* GetDescription() const { return m_description.GetCString(); }
    const char* GetMappedFieldName() const { return m_mappedTo.GetCString(); }
    bool IsMapped() const { return !m_mappedTo.IsEmpty(); }
    const char* GetUserDefined() const { return m_userDefined.GetCString(); }
    uint16_t GetFieldNumber() const { return m_fieldNumber; }
    int16_t GetCategory() const { return m_category; }
    int16_t GetIndexCount() const { return m_indexCount; }
    bool GetUseInverseIndex() const { return m_useInverseIndex; }
    char GetFormatOption() const { return m_formatOption; }
    const char* GetFormatName() const { return m_formatName.GetCString(); }
    KxFilter* GetFilter() const { return m_filter; }
    KxFile* GetOwnerFile() const { return m_ownerFile; }
    uint32_t GetFlags(bool userWord = false) const { return userWord ? m_userFlags : m_flags; }
    uint32_t GetDataSetFlags() const { return m_dataSetFlags; }
    bool GetStrictFilterLookup() const { return m_strictFilterLookup; }

    // The named format, looked up on first use in the owner file's library or the default one;
    // null when there is none.
    KxFormat* GetFormat();

    // "KX_ALPHA_FLD", ...; fails for a letter that is no field type.
    static const char* GetTypeCString(char type);

private:
    void DropFormat();
    void ReplaceFilter(KxFilter* pFilter);
    KxFormatLib* GetFormatLibrary() const;
    // Replaces the filter by the one the section declares, if any.
    void ReadFilterFromSection(KxIniSection& section);

    bool m_formatOwned = false;
    char m_type = 0;
    KxString m_name;
    KxString m_description;
    KxString m_mappedTo;
    KxString m_userDefined;
    int16_t m_length = 0;
    int16_t m_precision = 0;
    KxString m_formatName;
    char m_formatOption = kxShowRaw;
    // Shared with the dictionary it came from, so that it stays valid when the dictionary
    // unloads it; the field's own when m_formatOwned.
    std::shared_ptr<KxFormat> m_format;
    KxFilter* m_filter = nullptr;
    bool m_strictFilterLookup = true;
    uint16_t m_fieldNumber = kxNoFieldNumber;
    int16_t m_category = -1;
    int16_t m_indexCount = 0;
    bool m_useInverseIndex = true;
    uint16_t m_byteOffset = 0;
    uint32_t m_flags = 0;
    uint32_t m_userFlags = 0;
    uint32_t m_dataSetFlags = 0;
    KxFile* m_ownerFile = nullptr;
    KxFormatLib* m_ownerFormatLib = nullptr;
};
