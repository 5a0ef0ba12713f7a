#include "kxfield.h"

#include <cfloat>
#include <cstring>

#include "kxexception.h"
#include "kxfilter.h"
#include "kxformat.h"
#include "kxini.h"

namespace {

constexpr const char* kField = "KxField";
constexpr const char* kFieldType = "KxFieldType";
constexpr const char* kFlagType = "KxFlagType";

constexpr const char* kFilterTypeKey = "FilterType";
constexpr const char* kFormatKey = "Format";

struct TypeRow {
    char type;
    bool numeric;
    double lower;
    double upper;
    bool last;
    const char* name;
    const char* constantName;
};

// In the order the type names are kept; '$' first, without a descriptor.
constexpr TypeRow kTypeRows[] = {
    {'$', true, 0, 0, true, "Currency", "KX_CURRENCY_FLD"},
    {'A', false, 0, 255, true, "Alpha", "KX_ALPHA_FLD"},
    {'Y', false, 0, 255, true, "Binary", "KX_BINARY_FLD"},
    {'B', false, 0, 4294967295.0, true, "Blob", "KX_BLOB_FLD"},
    {'D', false, 8, 8, true, "Date", "KX_DATE_FLD"},
    {'T', false, 9, 9, true, "Time", "KX_TIME_FLD"},
    {'@', false, 17, 17, true, "Timestamp", "KX_STAMP_FLD"},
    {'I', true, -2147483648.0, 2147483647.0, true, "Long", "KX_LONG_FLD"},
    {'W', true, 0, 4294967295.0, true, "Unsigned Long", "KX_ULONG_FLD"},
    {'L', true, 0, 1, false, "Boolean", "KX_BOOLEAN_FLD"},
    {'N', true, DBL_MIN, DBL_MAX, true, "Number", "KX_NUMBER_FLD"},
    {'S', true, -32768, 32767, true, "Short", "KX_SHORT_FLD"},
    {'U', true, 0, 65535, true, "Unsigned Short", "KX_USHORT_FLD"},
};

const TypeRow* FindRow(char type) {
    for (const TypeRow& row : kTypeRows)
        if (row.type == type) return &row;
    return nullptr;
}

KxPointerVector<KxFieldType>* g_fieldTypes = nullptr;
KxSortedVector<KxFlagType>* g_engineFlags = nullptr;

// An integer key whose value must fit the member it goes to: a damaged structure file must not
// wrap a width or an offset into another valid-looking one.
int32_t GetRangedInt(KxIniSection& section, const char* sKey, int32_t lDefault, int32_t lMin,
                     int32_t lMax, uint16_t uwFieldNumber) {
    int32_t value = section.GetInt(sKey, lDefault);
    if (value < lMin || value > lMax)
        KxGenerateException("Invalid %s value %d for field %d", kField, sKey, value,
                            static_cast<int>(uwFieldNumber));
    return value;
}

bool HasKey(KxIniSection& section, const char* sKey) { return section.FindKey(sKey) >= 0; }

// The value of one flag's bits in a word read from a section.
uint32_t ReadFlag(KxIniSection& section, const KxFlagType& flag) {
    if (flag.GetIsOneBit()) return section.GetBool(flag.GetName(), false) ? flag.GetMask() : 0;
    uint32_t value = static_cast<uint32_t>(section.GetInt(flag.GetName(), 0));
    // Bits beyond the flag's own would set other flags.
    return (value << flag.GetShift()) & flag.GetMask();
}

// Writes the flags of the list whose system switch matches (or all of them when matchAll) and
// removes their bits from the word; returns the bits no flag claimed.
uint32_t WriteFlags(KxIniSection& section, const KxPointerVector<KxFlagType>& flags,
                    uint32_t word, bool matchAll, bool systemFlags) {
    for (const KxFlagType* flag : flags) {
        if (word == 0) break;
        if (flag == nullptr) continue;
        if (!matchAll && flag->GetIsSystemFlag() != systemFlags) continue;
        uint32_t value = (word & flag->GetMask()) >> flag->GetShift();
        if (value == 0) continue;
        if (flag->GetIsOneBit())
            section.SetBool(flag->GetName(), true);
        else
            section.SetInt(flag->GetName(), static_cast<int32_t>(value));
        word &= ~flag->GetMask();
    }
    return word;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KxFieldType

KxFieldType::KxFieldType(char type, bool numeric, double lowerBound, double upperBound, bool last,
                         const char* sName)
    : m_numeric(numeric), m_type(type), m_name(sName), m_lowerBound(lowerBound),
      m_upperBound(upperBound), m_last(last) {}

void KxFieldType::InitTypes() {
    KX_TRY
        if (g_fieldTypes != nullptr) return;
        auto* types = new KxPointerVector<KxFieldType>();
        try {
            for (const TypeRow& row : kTypeRows) {
                if (row.type == kxCurrencyField) continue;
                types->push_back(nullptr);
                types->back() = new KxFieldType(row.type, row.numeric, row.lower, row.upper,
                                                row.last, row.name);
            }
        } catch (...) {
            delete types;
            throw;
        }
        g_fieldTypes = types;
    KX_CATCH_STD("InitTypes()", kFieldType)
}

void KxFieldType::ReleaseTypes() {
    delete g_fieldTypes;
    g_fieldTypes = nullptr;
}

bool KxFieldType::AreTypesInitialized() { return g_fieldTypes != nullptr; }

const KxFieldType* KxFieldType::GetFieldType(char type) {
    KX_TRY
        if (g_fieldTypes == nullptr)
            KxGenerateException("The field types are not initialized", kFieldType);
        for (const KxFieldType* t : *g_fieldTypes)
            if (t->GetType() == type) return t;
        return nullptr;
    KX_CATCH("GetFieldType()", kFieldType)
}

const char* KxFieldType::GetTypeName(char type) {
    const TypeRow* row = FindRow(type);
    return row != nullptr ? row->name : "Unknown";
}

// ---------------------------------------------------------------------------------------------
// KxFlagType

KxFlagType::KxFlagType(const char* sName, const char* sDescription, uint32_t ulMask,
                       bool systemFlag)
    : m_description(sDescription), m_name(sName), m_systemFlag(systemFlag) {
    SetMask(ulMask);
}

KxFlagType* KxFlagType::Clone() const {
    KX_TRY
        return new KxFlagType(*this);
    KX_CATCH_STD("Clone()", kFlagType)
}

void KxFlagType::SetMask(uint32_t ulMask) {
    m_mask = ulMask;
    m_shift = 0;
    if (ulMask == 0) return;
    while ((ulMask & 1) == 0) {
        ulMask >>= 1;
        ++m_shift;
    }
}

void KxFlagType::InitFlagTypes() {
    KX_TRY
        if (g_engineFlags != nullptr) return;
        struct Row {
            const char* name;
            uint32_t mask;
            const char* description;
        };
        static constexpr Row rows[] = {
            {"Hidden", kxHidden, "Field is invisible"},
            {"Required", kxRequired, "Field must have a value"},
            {"System", kxSystem, "Field is not used for user data"},
            {"ReadOnly", kxReadOnly, "Field can not be updated"},
            {"NonNativeDataSource", kxNonNativeDataSource,
             "Field's data source (e.g. database) storage format differs from its "
             "memory-buffer storage format"},
        };
        auto* flags = new KxSortedVector<KxFlagType>();
        try {
            for (const Row& row : rows)
                flags->Insert(new KxFlagType(row.name, row.description, row.mask, true));
        } catch (...) {
            delete flags;
            throw;
        }
        g_engineFlags = flags;
    KX_CATCH_STD("InitFlagTypes()", kFlagType)
}

void KxFlagType::ReleaseFlagTypes() {
    delete g_engineFlags;
    g_engineFlags = nullptr;
}

const KxPointerVector<KxFlagType>& KxFlagType::GetEngineFlagTypes() {
    KX_TRY
        if (g_engineFlags == nullptr)
            KxGenerateException("The engine flag types are not initialized", kFlagType);
        return *g_engineFlags;
    KX_CATCH("GetEngineFlagTypes()", kFlagType)
}

const KxFlagType* KxFlagType::FindEngineFlagType(const char* sName) {
    if (g_engineFlags == nullptr || sName == nullptr) return nullptr;
    for (const KxFlagType* flag : *g_engineFlags)
        if (strcmp(flag->GetName(), sName) == 0) return flag;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// KxField

KxField::KxField() = default;

KxField::KxField(const KxField& other) : KxArrayPointerObject() {
    KX_TRY
        Copy(other);
    KX_CATCH("Copy Constructor", kField)
}

KxField& KxField::operator=(const KxField& other) {
    KX_TRY
        Copy(other);
        return *this;
    KX_CATCH("Assignment operator", kField)
}

KxField::~KxField() {
    DropFormat();
    delete m_filter;
}

KxField* KxField::Clone() const {
    KX_TRY
        return new KxField(*this);
    KX_CATCH_STD("Clone()", kField)
}

void KxField::DropFormat() {
    m_format.reset();
    m_formatOwned = false;
}

void KxField::ReplaceFilter(KxFilter* pFilter) {
    if (pFilter == m_filter) return;
    delete m_filter;
    m_filter = pFilter;
}

void KxField::Copy(const KxField& other) {
    KX_TRY
        if (this == &other) return;
        // Clones first, so that a failure leaves this field as it was.
        std::shared_ptr<KxFormat> format(
            other.m_formatOwned && other.m_format != nullptr ? other.m_format->Clone() : nullptr);
        KxFilter* filter = nullptr;
        try {
            filter = other.m_filter != nullptr ? other.m_filter->Clone() : nullptr;
            SetName(other.GetName(), other.GetDescription(), other.GetMappedFieldName(),
                    other.m_fieldNumber);
            m_userDefined = other.m_userDefined;
            m_formatName = other.m_formatName;
        } catch (...) {
            delete filter;
            throw;
        }
        m_fieldNumber = other.m_fieldNumber;
        m_type = other.m_type;
        if (other.m_length > 0) m_length = other.m_length;
        if (other.m_precision >= 0) m_precision = other.m_precision;
        m_category = other.m_category;
        m_byteOffset = other.m_byteOffset;
        m_indexCount = other.m_indexCount;
        // Not carried by the copy as the structure describes it, but a copy that forgot them
        // would change how its file is indexed and read.
        m_useInverseIndex = other.m_useInverseIndex;
        m_strictFilterLookup = other.m_strictFilterLookup;
        DropFormat();
        m_formatOption = other.m_formatOption;
        if (format != nullptr) {
            m_format = format;
            m_formatOwned = true;
        }
        ReplaceFilter(filter);
        m_ownerFile = other.m_ownerFile;
        m_ownerFormatLib = other.m_ownerFormatLib;
        m_flags = other.m_flags;
        m_userFlags = other.m_userFlags;
        m_dataSetFlags = other.m_dataSetFlags;
    KX_CATCH_STD("Copy()", kField)
}

void KxField::SetName(const char* sName, const char* sDescription, const char* sMappedTo,
                      int32_t lFieldNumber) {
    KX_TRY
        if (lFieldNumber > kxNoFieldNumber)
            KxGenerateException("Invalid field number %d", kField, static_cast<int>(lFieldNumber));
        KxString name(sName), description(sDescription), mappedTo(sMappedTo);
        m_name = name;
        m_description = description;
        m_mappedTo = mappedTo;
        if (lFieldNumber >= 0) m_fieldNumber = static_cast<uint16_t>(lFieldNumber);
    KX_CATCH("SetName()", kField)
}

void KxField::SetDefinition(uint16_t uwFieldNumber, char type, int16_t wLength,
                            int16_t wPrecision, int16_t wCategory) {
    m_fieldNumber = uwFieldNumber;
    m_type = type;
    if (wLength > 0) m_length = wLength;
    if (wPrecision >= 0) m_precision = wPrecision;
    m_category = wCategory;
}

void KxField::SetLength(int16_t wLength) {
    if (wLength > 0) m_length = wLength;
}

void KxField::SetOwnerFile(KxFile* pOwnerFile, KxFormatLib* pFormatLib) {
    m_ownerFile = pOwnerFile;
    m_ownerFormatLib = pFormatLib;
}

void KxField::SetUserDefined(const char* sUserDefined) {
    KX_TRY
        m_userDefined = sUserDefined;
    KX_CATCH("SetUserDefined()", kField)
}

void KxField::SetMappedFieldName(const char* sMappedTo) {
    KX_TRY
        m_mappedTo = sMappedTo;
    KX_CATCH("SetMappedFieldName()", kField)
}

void KxField::SetFlags(uint32_t ulFlags, bool userWord) {
    (userWord ? m_userFlags : m_flags) = ulFlags;
}

void KxField::SetIndexCount(int16_t wIndexCount) {
    KX_TRY
        if (wIndexCount < 0 || wIndexCount > kxMaxIndexCount)
            KxGenerateException("Invalid parameter for index count.", kField);
        m_indexCount = wIndexCount;
    KX_CATCH("SetIndexCount()", kField)
}

void KxField::SetFormat(const KxFormat& format) {
    KX_TRY
        KxString name(format.GetName());
        std::shared_ptr<KxFormat> clone(format.Clone());
        DropFormat();
        m_formatOption = kxShowFormatted;
        m_formatName = name;
        m_format = clone;
        m_formatOwned = true;
    KX_CATCH_STD("SetFormat()", kField)
}

void KxField::SetFormat(char formatOption, const char* sFormatName, KxFilter* pFilter) {
    KX_TRY
        KxString name;
        try {
            if (sFormatName != nullptr && *sFormatName != '\0' && GetFormatLibrary() == nullptr)
                KxGenerateException("No format library set", kField);
            name = sFormatName;
        } catch (...) {
            if (pFilter != m_filter) delete pFilter;
            throw;
        }
        DropFormat();
        m_formatOption = formatOption;
        m_formatName = name;
        ReplaceFilter(pFilter);
    KX_CATCH("SetFormat()", kField)
}

KxFormatLib* KxField::GetFormatLibrary() const {
    return m_ownerFormatLib != nullptr ? m_ownerFormatLib : KxFormatLib::GetDefaultLibrary();
}

KxFormat* KxField::GetFormat() {
    KX_TRY
        if (m_format == nullptr && !m_formatName.IsEmpty()) {
            KxFormatLib* lib = GetFormatLibrary();
            if (lib != nullptr) {
                // A field whose source stores values in another form than the record buffer
                // cannot be matched to a format by its type.
                if ((m_flags & KxFlagType::kxNonNativeDataSource) != 0)
                    m_format = lib->GetSharedFormat(m_formatName);
                else
                    m_format = lib->GetSharedFormat(m_formatName, m_type);
                m_formatOwned = false;
            }
        }
        return m_format.get();
    KX_CATCH("GetFormat()", kField)
}

const char* KxField::GetTypeCString(char type) {
    KX_TRY
        const TypeRow* row = FindRow(type);
        if (row == nullptr)
            KxGenerateException("The character, '%c', is not a valid field type.", kField, type);
        return row->constantName;
    KX_CATCH("GetTypeCString()", kField)
}

void KxField::ReadFilterFromSection(KxIniSection& section) {
    ReplaceFilter(nullptr);
    ReplaceFilter(KxFilterRegistry::ReadFilter(section, m_strictFilterLookup));
}

void KxField::Read(uint16_t uwFieldNumber, KxIniSection& section,
                   const KxFlagTypeList* pDataSetFlags) {
    KX_TRY
        m_fieldNumber = uwFieldNumber;
        SetName(section.GetString("FieldName", ""));
        ReadFlagsFromIni(section, pDataSetFlags);
        m_type = section.GetString("Type", "")[0];
        m_length = static_cast<int16_t>(
            GetRangedInt(section, "Length", 0, 0, INT16_MAX, uwFieldNumber));
        m_byteOffset = static_cast<uint16_t>(
            GetRangedInt(section, "ByteOffset", 0, 0, UINT16_MAX, uwFieldNumber));
        m_precision = static_cast<int16_t>(
            GetRangedInt(section, "Precision", 0, INT16_MIN, INT16_MAX, uwFieldNumber));
        m_description = section.GetString("Description", "");
        m_formatOption = static_cast<char>(
            GetRangedInt(section, "FormatOption", 0, 0, INT8_MAX, uwFieldNumber));
        int32_t indexCount = section.GetInt("Index", 0);
        if (indexCount < INT16_MIN || indexCount > INT16_MAX) indexCount = -1;
        SetIndexCount(static_cast<int16_t>(indexCount));
        m_useInverseIndex = section.GetBool("UseInverseIndex", true);
        m_userDefined = section.GetString("UserDefined", "");
        m_category = static_cast<int16_t>(
            GetRangedInt(section, "Category", -1, INT16_MIN, INT16_MAX, uwFieldNumber));

        if (HasKey(section, kFilterTypeKey) && HasKey(section, kFormatKey))
            KxGenerateException("Field %d can not be both filtered and formatted.", kField,
                                static_cast<int>(uwFieldNumber));
        ReadFilterFromSection(section);
        if (m_filter != nullptr) m_formatOption = kxShowFiltered;

        KxString format(section.GetString(kFormatKey, ""));
        if (!format.IsEmpty()) {
            m_formatOption = kxShowFormatted;
            SetFormat(kxShowFormatted, format, nullptr);
        }
    KX_CATCH("Read()", kField)
}

void KxField::ReadMappedField(uint16_t uwFieldNumber, KxIniSection& section) {
    KX_TRY
        m_fieldNumber = uwFieldNumber;
        m_name = section.GetString("FieldName", "");
        m_mappedTo = section.GetString("MappedTo", "");
        if (HasKey(section, "Hidden")) {
            if (section.GetBool("Hidden", false))
                m_flags |= KxFlagType::kxHidden;
            else
                m_flags &= ~KxFlagType::kxHidden;
        }
        m_category = static_cast<int16_t>(
            GetRangedInt(section, "Category", m_category, INT16_MIN, INT16_MAX, uwFieldNumber));

        bool hasFilterType = HasKey(section, kFilterTypeKey);
        bool hasFormat = HasKey(section, kFormatKey);
        if (hasFilterType && hasFormat)
            KxGenerateException("Field %d can not be both filtered and formatted.", kField,
                                static_cast<int>(uwFieldNumber));
        if (hasFilterType) {
            ReadFilterFromSection(section);
            if (m_filter != nullptr) m_formatOption = kxShowFiltered;
        }
        if (hasFormat) {
            KxString format(section.GetString(kFormatKey, ""));
            if (!format.IsEmpty()) m_formatOption = kxShowFormatted;
            SetFormat(m_formatOption, format, nullptr);
        }
    KX_CATCH("ReadMappedField()", kField)
}

void KxField::Write(KxIniSection& section, const KxFlagTypeList* pDataSetFlags) const {
    KX_TRY
        section.SetString("FieldName", m_name);
        section.SetString("MappedTo", m_mappedTo);
        if (IsMapped()) return;

        char type[2] = {m_type, '\0'};
        section.SetString("Format", m_formatName);
        section.SetString("UserDefined", m_userDefined);
        section.SetString("Type", type);
        section.SetInt("Length", m_length);
        section.SetInt("ByteOffset", m_byteOffset);
        section.SetString("Description", m_description);
        if (m_precision != 0) section.SetInt("Precision", m_precision);
        if (m_formatOption != 0) section.SetInt("FormatOption", m_formatOption);
        if (m_category != -1) section.SetInt("Category", m_category);
        if (m_indexCount != 0) section.SetInt("Index", m_indexCount);
        if (!m_useInverseIndex) section.SetBool("UseInverseIndex", false);
        if (m_filter != nullptr) KxFilterRegistry::WriteFilter(section, *m_filter);
        WriteFlagsToIni(section, pDataSetFlags);
    KX_CATCH("Write", kField)
}

void KxField::ReadFlagsFromIni(KxIniSection& section, const KxFlagTypeList* pDataSetFlags) {
    KX_TRY
        uint32_t flags = 0, userFlags = 0;
        for (const KxFlagType* flag : KxFlagType::GetEngineFlagTypes()) {
            uint32_t value = ReadFlag(section, *flag);
            (flag->GetIsSystemFlag() ? flags : userFlags) |= value;
        }
        flags |= static_cast<uint32_t>(section.GetInt("Flags", 0));
        userFlags |= static_cast<uint32_t>(section.GetInt("UserFlags", 0));
        uint32_t dataSetFlags = m_dataSetFlags;
        if (pDataSetFlags != nullptr) {
            dataSetFlags = 0;
            for (const KxFlagType* flag : *pDataSetFlags)
                if (flag != nullptr) dataSetFlags |= ReadFlag(section, *flag);
        }
        m_flags = flags;
        m_userFlags = userFlags;
        m_dataSetFlags = dataSetFlags;
    KX_CATCH("ReadFlagsFromIni()", kField)
}

void KxField::WriteFlagsToIni(KxIniSection& section, const KxFlagTypeList* pDataSetFlags) const {
    KX_TRY
        const KxPointerVector<KxFlagType>& engine = KxFlagType::GetEngineFlagTypes();
        uint32_t rest = WriteFlags(section, engine, m_flags, false, true);
        if (rest != 0) section.SetInt("Flags", static_cast<int32_t>(rest));
        rest = WriteFlags(section, engine, m_userFlags, false, false);
        if (rest != 0) section.SetInt("UserFlags", static_cast<int32_t>(rest));
        // Bits of the data-set word that no flag of the list claims are not kept.
        if (pDataSetFlags != nullptr) WriteFlags(section, *pDataSetFlags, m_dataSetFlags, true, false);
    KX_CATCH("WriteFlagsToIni()", kField)
}
