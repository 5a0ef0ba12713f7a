#include "kxfile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <utility>

#include "kxblob.h"
#include "kxengineexceptions.h"
#include "kxini.h"
#include "kxrecord.h"
#include "kxtokenizer.h"

namespace {

constexpr const char* kFile = "KxFile";
constexpr const char* kFileInfo = "FileInfo";

bool EqualNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

bool BeginsNoCase(const char* text, const char* prefix, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(text[i]), cb = static_cast<unsigned char>(prefix[i]);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return false;
    }
    return true;
}

// The number n of a text that is exactly the decimal form of n (no sign, no leading zeros), or
// -1. Large enough numbers are refused rather than wrapped.
int32_t CanonicalNumber(const char* s) {
    if (*s < '0' || *s > '9' || (*s == '0' && s[1] != '\0')) return -1;
    int64_t n = 0;
    for (; *s != '\0'; ++s) {
        if (*s < '0' || *s > '9') return -1;
        n = n * 10 + (*s - '0');
        if (n > INT32_MAX) return -1;
    }
    return static_cast<int32_t>(n);
}

// The values of a run of numbered keys (Category1, Category2, ...) of a section, gathered in
// one pass over its lines: looking each up by name would take time quadratic in the number of
// keys of a damaged file.
class NumberedKeys {
public:
    NumberedKeys(KxIniSection& section, const char* sPrefix) {
        size_t n = strlen(sPrefix);
        for (int32_t i = 0; i < section.GetNumLines(); ++i) {
            const KxIniLine* line = section.GetLine(i);
            const char* key = line->GetKey();
            if (strlen(key) <= n || !BeginsNoCase(key, sPrefix, n)) continue;
            int32_t number = CanonicalNumber(key + n);
            if (number < 0 || m_values.count(number) != 0) continue;
            const char* value = line->GetValue();
            m_values.emplace(number, KxString(value != nullptr ? value : ""));
        }
    }
    // The value; null when the key is absent.
    const KxString* Find(int32_t lNumber) const {
        auto it = m_values.find(lNumber);
        return it == m_values.end() ? nullptr : &it->second;
    }

private:
    std::map<int32_t, KxString> m_values;
};

// The section index of each field section FieldN (N from 1), gathered in one pass over the
// section names.
class FieldSections {
public:
    explicit FieldSections(const KxIniFile& structure) {
        for (int32_t i = 0; i < structure.GetNumSections(); ++i) {
            const char* name = structure.GetSectionName(i);
            if (name == nullptr) continue;
            size_t length = strlen(name);
            if (length < 8 || name[0] != '[' || name[length - 1] != ']') continue;
            if (!BeginsNoCase(name + 1, "Field", 5)) continue;
            KxString digits(name + 6);
            digits.Truncate(static_cast<uint32_t>(length - 7));
            int32_t number = CanonicalNumber(digits);
            if (number < 1 || m_index.count(number) != 0) continue;
            m_index.emplace(number, i);
        }
    }
    // The index of section FieldN, or -1.
    int32_t Find(int32_t lNumber) const {
        auto it = m_index.find(lNumber);
        return it == m_index.end() ? -1 : it->second;
    }

private:
    std::map<int32_t, int32_t> m_index;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Runs every step of a clean-up and rethrows the first failure at the end.
class FirstFailure {
public:
    template <typename F> void Run(F&& step) {
        try {
            step();
        } catch (...) {
            if (!m_failure) m_failure = std::current_exception();
        }
    }
    void Rethrow() {
        if (m_failure) std::rethrow_exception(m_failure);
    }

private:
    std::exception_ptr m_failure;
};

void DeleteIfExists(const char* sFileName) {
    if (KxIOInterface::Exists(sFileName)) KxIOInterface::Delete(sFileName);
}

KxString WithExtension(const char* sFileName, const char* sExtension) {
    KxFileName name(sFileName);
    name.SetExtension(sExtension);
    return KxString(name.GetFullPath());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Scrambling

void KxScramble(void* pBuffer, int32_t lLength, const char* sKey) {
    KX_TRY
        if (pBuffer == nullptr || sKey == nullptr || *sKey == '\0' || lLength < 0)
            KxGenerateException("Invalid (null) parameter", kFile);
        auto* b = static_cast<unsigned char*>(pBuffer);
        int32_t m = static_cast<int32_t>(strlen(sKey));
        for (int32_t j = 0; j < lLength; ++j)
            b[j] = static_cast<unsigned char>(sKey[j % m] - b[j] - 1);
        for (int32_t d = 1; d < m; ++d)
            for (int32_t p = 0; p < lLength - d; p += d + 1) std::swap(b[p], b[p + d]);
    KX_CATCH("KxScramble()", kFile)
}

void KxUnscramble(void* pBuffer, int32_t lLength, const char* sKey) {
    KX_TRY
        if (pBuffer == nullptr || sKey == nullptr || *sKey == '\0' || lLength < 0)
            KxGenerateException("Invalid (null) parameter", kFile);
        auto* b = static_cast<unsigned char*>(pBuffer);
        int32_t m = static_cast<int32_t>(strlen(sKey));
        for (int32_t d = m - 1; d >= 1; --d)
            for (int32_t p = 0; p < lLength - d; p += d + 1) std::swap(b[p], b[p + d]);
        for (int32_t j = 0; j < lLength; ++j)
            b[j] = static_cast<unsigned char>(sKey[j % m] - b[j] - 1);
    KX_CATCH("KxUnscramble()", kFile)
}

// ---------------------------------------------------------------------------------------------
// KxTransactionLog

KxTransactionLog::KxTransactionLog(const char* sDataFileName) {
    KX_TRY
        m_fileName = WithExtension(sDataFileName, ".klg");
        if (!KxIOInterface::Exists(m_fileName)) KxIOInterface::Create(m_fileName);
    KX_CATCH("Constructor", "KxTransactionLog")
}

// ---------------------------------------------------------------------------------------------
// KxFile: construction, closing

KxFile::KxFile() = default;

KxFile::~KxFile() {
    try {
        Close();
    } catch (...) {
    }
    m_transactionLog.reset();
}

void KxFile::ClearIndexes() {
    // Index objects are not built yet, so a slot is never filled.
    for (KxIndex*& index : m_indexes) index = nullptr;
}

void KxFile::DestroyRecords() {
    delete m_currentRecord;
    m_currentRecord = nullptr;
    delete m_secondRecord;
    m_secondRecord = nullptr;
}

void KxFile::Close() {
    KX_TRY
        FirstFailure failure;
        if (m_transaction != nullptr) failure.Run([&] { EndTransaction(m_transaction); });
        // A failed EndTransaction must not leave the transaction behind.
        delete m_transaction;
        m_transaction = nullptr;
        ClearIndexes();
        m_indexes.clear();
        m_fields.clear();
        m_userFlagTypes.clear();
        m_userFlagBits.clear();
        m_categories.clear();
        m_relateFields.clear();
        m_selectionPosition = 0;
        m_selectionCount = 0;
        m_reserved = 0;
        m_inputLayoutNumber = 0;
        m_relateFieldCount = 0;
        m_primaryKeyFields = 0;
        m_exclusiveLocks = 0;
        m_sharedLocks = 0;
        m_writeTransaction = false;
        m_fileName = KxFileName();
        m_inputLayout.Clear();
        m_title.Clear();
        m_information.Clear();
        m_password.Clear();
        DestroyRecords();
        if (m_blobFile != nullptr) {
            failure.Run([&] { m_blobFile->Close(); });
            delete m_blobFile;
            m_blobFile = nullptr;
        }
        m_transactionLog.reset();
        failure.Rethrow();
    KX_CATCH_STD("Close()", kFile)
}

// ---------------------------------------------------------------------------------------------
// Opening

void KxFile::OpenSetup(const char* sFileName, uint32_t ulMode, const char* sPassword,
                       const char* sAlternate, KxIniFile* pStructure) {
    KX_TRY
        if (sFileName == nullptr || *sFileName == '\0')
            KxGenerateException("Invalid parameter (null) in Open", kFile);
        ClearIndexes();
        Close();
        m_fileName = KxFileName(sFileName);
        m_password = sPassword;
        m_categories.clear();
        DestroyRecords();

        if (pStructure != nullptr || sAlternate == nullptr || *sAlternate == '\0') {
            ReadStructure(pStructure);
        } else {
            if (!KxIOInterface::Exists(sAlternate))
                KxGenerateFileException("Alternate .KXS file \"%s\" not found", kFile,
                                        m_fileName.GetFullPath(), sAlternate);
            KxIniFile alternate(sAlternate);
            ReadStructure(&alternate);
        }

        for (KxField* field : m_fields)
            if (field->GetIndexCount() > 0)
                KxGenerateException("Field indexes are not supported yet (field %d)", kFile,
                                    static_cast<int>(field->GetFieldNumber()));

        m_indexes.clear();
        m_indexes.resize(m_fields.size(), nullptr);
        if ((ulMode & kxIOTruncate) != 0)
            for (uint16_t i = 0; i < GetFieldCount(); ++i) DeleteIfExists(GetIndexFileName(i));
        if ((ulMode & kxIOWrite) != 0)
            m_transactionLog = std::make_unique<KxTransactionLog>(m_fileName.GetFullPath());
    KX_CATCH_STD("OpenSetup()", kFile)
}

void KxFile::OpenFinish() {
    KX_TRY
        for (KxField* field : m_fields)
            if (field->GetOwnerFile() == nullptr) field->SetOwnerFile(this, m_formatLibrary);
        DestroyRecords();
        m_currentRecord = GetNewRecord();
        m_secondRecord = GetNewRecord();
        int32_t count = GetNumberOfRecords();
        m_selection.Reset(count, false);
        m_selection.AllRecords();
        m_systemSet.Reset(count, true);
        m_selectionPosition = 0;
        m_selectionCount = 0;
        if (count > 0) GotoFirstRecord();
    KX_CATCH("OpenFinish()", kFile)
}

void KxFile::OpenBlobFile(const char* sFileName, uint32_t ulMode) {
    KX_TRY
        if (m_blobFile != nullptr) {
            KxBlobFile* old = m_blobFile;
            m_blobFile = nullptr;
            std::unique_ptr<KxBlobFile> owned(old);
            old->Close();
        }
        m_blobFile = new KxBlobFile(sFileName, ulMode);
    KX_CATCH_STD("OpenBlobFile()", kFile)
}

void KxFile::PerformExternalUpdates() {
    KX_TRY
        if (m_blobFile != nullptr) m_blobFile->ClearDelayedFree();
    KX_CATCH("PerformExternalUpdates()", kFile)
}

// ---------------------------------------------------------------------------------------------
// Structure file

std::unique_ptr<KxIniFile> KxFile::GetIniFile(const char* sFileName) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Invalid parameter (null) in GetIniFile", kFile);
        KxFileName name(sFileName);
        name.SetExtension(".kxs");
        KxString path(name.GetFullPath());
        if (!KxIOInterface::Exists(path)) {
            name.SetFileName("default");
            path = name.GetFullPath();
            if (!KxIOInterface::Exists(path))
                KxGenerateFileException("Unable to open .KXS for %s", kFile, sFileName, sFileName);
        }
        return std::make_unique<KxIniFile>(path.GetCString());
    KX_CATCH_STD("GetIniFile()", kFile)
}

KxIniSection* KxFile::FindFieldByName(KxIniFile& structure, const char* sFieldName,
                                      int32_t& lPosition) {
    KX_TRY
        if (sFieldName == nullptr) return nullptr;
        FieldSections sections(structure);
        for (int32_t n = 1;; ++n) {
            int32_t index = sections.Find(n);
            if (index < 0) return nullptr;
            KxIniSection* section = structure.GetSection(index);
            if (strcmp(section->GetString("FieldName", ""), sFieldName) == 0) {
                lPosition = n - 1;
                return section;
            }
        }
    KX_CATCH_STD("FindFieldByName()", kFile)
}

void KxFile::ReadStructure(KxIniFile* pStructure) {
    KX_TRY
        std::unique_ptr<KxIniFile> owned;
        if (pStructure == nullptr) {
            owned = GetIniFile(m_fileName.GetFullPath());
            pStructure = owned.get();
        }
        KxIniSection& info = *pStructure->GetSection(kFileInfo);

        m_title = info.GetString("Title", m_fileName.GetFullPath());
        m_information = info.GetString("Information", "");
        m_inputLayout = info.GetString("InputLayout", "");
        m_inputLayoutNumber = static_cast<uint16_t>(info.GetInt("InputLayoutNumber", 0));
        m_primaryKeyFields = static_cast<uint16_t>(info.GetInt("PrimaryKeyFields", 0));
        int32_t relateCount = info.GetInt("Number of Relate Fields", 0);
        if (relateCount < 0 || relateCount > UINT16_MAX)
            KxGenerateException("Number of Relate Fields (value=%d) is out of range [0..%d]", kFile,
                                static_cast<int>(relateCount), static_cast<int>(UINT16_MAX));
        m_relateFieldCount = static_cast<uint16_t>(relateCount);
        m_relateFields.clear();
        {
            NumberedKeys relate(info, "Relate Field");
            for (int32_t n = 0; n < relateCount; ++n) {
                const KxString* value = relate.Find(n);
                m_relateFields.push_back(value != nullptr ? *value : KxString());
            }
        }

        KxString stored(info.GetString("Password", ""));
        if (!stored.IsEmpty()) {
            int32_t digits = stored.GetLength();
            if (digits % 2 != 0) KxGenerateException("Invalid binary string", kFile);
            KxResizableChunk bytes(digits / 2 + 1, '\0');
            auto* b = bytes.AsPtrAtOffset<unsigned char>(0);
            for (int32_t i = 0; i < digits; i += 2) {
                int high = HexValue(stored.GetCharAt(i)), low = HexValue(stored.GetCharAt(i + 1));
                if (high < 0 || low < 0) KxGenerateException("Invalid binary string", kFile);
                b[i / 2] = static_cast<unsigned char>(high << 4 | low);
            }
            KxUnscramble(b, digits / 2, kxStructurePasswordKey);
            if (strcmp(reinterpret_cast<const char*>(b), m_password.GetCString()) != 0)
                KxGenerateFileException("Invalid password", kFile, m_fileName.GetFullPath());
        } else {
            // Records of a data set without a stored password are plain; a password given to
            // Open must not scramble them.
            m_password.Clear();
        }

        {
            NumberedKeys categories(info, "Category");
            for (int32_t n = 1;; ++n) {
                const KxString* value = categories.Find(n);
                if (value == nullptr || value->IsEmpty()) break;
                m_categories.push_back(*value);
            }
        }

        ReadUserFlags(info);
        ReadFields(*pStructure);
    KX_CATCH_STD("ReadStructure()", kFile)
}

void KxFile::ReadUserFlags(KxIniSection& info) {
    KX_TRY
        m_userFlagTypes.clear();
        m_userFlagBits.clear();
        int32_t count = info.GetInt("UserFlagCount", 0);
        NumberedKeys definitions(info, "UserFlag");
        int64_t bit = 0;
        for (int32_t n = 1; n <= count; ++n) {
            if (bit > 31)
                KxGenerateFileException("Too many unknown flags", kFile, m_fileName.GetFullPath());
            const KxString* found = definitions.Find(n);
            KxString value(found != nullptr ? found->GetCString() : "");
            KxStringTokenizer tokens(value, ";", "\"");
            if (tokens.GetRemainingTokenCount() != 4)
                KxGenerateException("Bad UserFlag string \"%s\"", kFile, value.GetCString());
            KxString name(tokens.GetNextToken());
            KxString description(tokens.GetNextToken());
            uint32_t flagValue = static_cast<uint32_t>(strtoul(tokens.GetNextToken(), nullptr, 10));
            uint32_t bits = static_cast<uint32_t>(strtoul(tokens.GetNextToken(), nullptr, 10));
            if (KxFlagType::FindEngineFlagType(name) != nullptr) continue;
            auto flag = std::make_unique<KxFlagType>(name, description,
                                                     flagValue << static_cast<uint32_t>(bit), false);
            m_userFlagTypes.push_back(flag.get());
            flag.release();
            m_userFlagBits.push_back(bits);
            bit += bits;
        }
    KX_CATCH_STD("ReadUserFlags()", kFile)
}

void KxFile::ReadFields(KxIniFile& structure) {
    KX_TRY
        m_fields.clear();
        FieldSections sections(structure);
        // FieldName -> first section position, built when the first mapped field needs it.
        std::unique_ptr<std::map<KxString, int32_t>> names;
        for (int32_t n = 1;; ++n) {
            int32_t index = sections.Find(n);
            if (index < 0) break;
            if (n > kxMaxFields)
                KxGenerateFileException("Too many field sections (more than %d)", kFile,
                                        m_fileName.GetFullPath(), static_cast<int>(kxMaxFields));
            KxIniSection& section = *structure.GetSection(index);
            std::unique_ptr<KxField> field(GetNewField());
            uint16_t number = static_cast<uint16_t>(n - 1);
            KxString mappedTo(section.GetString("MappedTo", ""));
            if (section.FindKey("MappedTo") >= 0) {
                if (!names) {
                    names = std::make_unique<std::map<KxString, int32_t>>();
                    for (int32_t k = 1;; ++k) {
                        int32_t i = sections.Find(k);
                        if (i < 0) break;
                        KxString fieldName(structure.GetSection(i)->GetString("FieldName", ""));
                        names->emplace(fieldName, k - 1);
                    }
                }
                auto target = names->find(mappedTo);
                if (target == names->end())
                    KxGenerateException("Field%d is mapped to a non-existent field.", kFile,
                                        static_cast<int>(number));
                KxIniSection& targetSection = *structure.GetSection(sections.Find(target->second + 1));
                // A mapped section holds no layout of its own: a field mapped onto one (or onto
                // itself) would silently get a field without type, length or place.
                if (targetSection.FindKey("MappedTo") >= 0)
                    KxGenerateException("Field%d is mapped to a mapped field.", kFile,
                                        static_cast<int>(number));
                field->Read(static_cast<uint16_t>(target->second), targetSection, &m_userFlagTypes);
                field->ReadMappedField(number, section);
            } else {
                field->Read(number, section, &m_userFlagTypes);
            }
            m_fields.push_back(field.get());
            field.release();
        }
    KX_CATCH_STD("ReadFields()", kFile)
}

void KxFile::WriteStructure(KxIniFile* pStructure, const KxPointerVector<KxField>* pFields) {
    KX_TRY
        std::unique_ptr<KxIniFile> owned;
        if (pStructure == nullptr) {
            KxString path(WithExtension(m_fileName.GetFullPath(), ".kxs"));
            DeleteIfExists(path);
            owned = std::make_unique<KxIniFile>(path.GetCString(), false, true);
            pStructure = owned.get();
        }
        WriteBaseStructure(*pStructure, pFields != nullptr ? *pFields : m_fields);
        WriteDriverStructure(*pStructure);
        if (*pStructure->GetFileName() != '\0') pStructure->Write();
    KX_CATCH_STD("WriteStructure()", kFile)
}

void KxFile::WriteBaseStructure(KxIniFile& structure, const KxPointerVector<KxField>& fields) {
    KX_TRY
        KxIniSection& info = *structure.GetSection(kFileInfo);
        info.SetString("FileName", m_fileName.GetNameWithExtension());
        // An absent Title reads as the data file's name; that default is not stored, so that the
        // structure file stays valid when the data set moves.
        info.SetString("Title", m_title == m_fileName.GetFullPath() ? "" : m_title.GetCString());
        info.SetString("Information", m_information);
        info.SetString("InputLayout", m_inputLayout);
        info.SetInt("InputLayoutNumber", m_inputLayoutNumber);
        info.SetInt("PrimaryKeyFields", m_primaryKeyFields);
        // Written back as they were read, so that a rewrite keeps them.
        if (m_relateFields.GetCount() > 0) {
            info.SetInt("Number of Relate Fields", m_relateFields.GetCount());
            for (int32_t i = 0; i < m_relateFields.GetCount(); ++i) {
                KxString key;
                key.printf("Relate Field%d", static_cast<int>(i));
                info.SetString(key, m_relateFields[static_cast<size_t>(i)]);
            }
        }
        if (!m_password.IsEmpty()) {
            int32_t n = m_password.GetLength();
            KxResizableChunk bytes(n + 1, '\0');
            memcpy(bytes.GetData(), m_password.GetCString(), static_cast<size_t>(n));
            KxScramble(bytes.GetData(), n, kxStructurePasswordKey);
            info.SetBinaryString("Password", bytes.GetData(), static_cast<uint16_t>(n));
        } else {
            info.SetString("Password", "");
        }
        for (int32_t i = 0; i < m_categories.GetCount(); ++i) {
            KxString key;
            key.printf("Category%d", static_cast<int>(i + 1));
            info.SetString(key, m_categories[static_cast<size_t>(i)]);
        }

        info.SetInt("UserFlagCount", 0);
        int16_t written = 0;
        auto writeFlag = [&](const KxFlagType& flag, uint32_t position, uint32_t bits) {
            ++written;
            KxString key, value;
            key.printf("UserFlag%hd", written);
            value.printf("%s;\"%s\";%u;%u", flag.GetName(), flag.GetDescription(),
                         position < 32 ? flag.GetMask() >> position : 0u, bits);
            info.SetString(key, value);
        };
        auto bitLength = [](uint32_t v) {
            uint32_t n = 0;
            for (; v != 0; v >>= 1) ++n;
            return n;
        };
        for (const KxFlagType* flag : KxFlagType::GetEngineFlagTypes())
            if (!flag->GetIsSystemFlag())
                writeFlag(*flag, flag->GetShift(), bitLength(flag->GetMask() >> flag->GetShift()));
        uint32_t position = 0;
        for (size_t i = 0; i < m_userFlagTypes.size(); ++i) {
            const KxFlagType& flag = *m_userFlagTypes[i];
            uint32_t bits = i < m_userFlagBits.size()
                                ? m_userFlagBits[i]
                                : bitLength(flag.GetMask() >> flag.GetShift());
            writeFlag(flag, position, bits);
            position += bits;
        }
        info.SetInt("UserFlagCount", written);

        for (int32_t i = 0; i < fields.GetCount(); ++i) {
            KxString name;
            name.printf("Field%d", static_cast<int>(i + 1));
            fields[static_cast<size_t>(i)]->Write(*structure.GetSection(name), &m_userFlagTypes);
        }
    KX_CATCH_STD("WriteBaseStructure()", kFile)
}

// ---------------------------------------------------------------------------------------------
// Fields and categories

KxField& KxFile::FieldGetInfo(uint16_t uwFieldIndex) {
    KX_TRY
        return *m_fields.At(uwFieldIndex);
    KX_CATCH("FieldGetInfo()", kFile)
}

const KxField& KxFile::FieldGetInfo(uint16_t uwFieldIndex) const {
    KX_TRY
        return *m_fields.At(uwFieldIndex);
    KX_CATCH("FieldGetInfo()", kFile)
}

KxField& KxFile::FieldGetInfo(const char* sFieldName) {
    KX_TRY
        return *m_fields.At(GetFieldNumber(sFieldName));
    KX_CATCH("FieldGetInfo()", kFile)
}

uint16_t KxFile::GetFieldNumber(const char* sFieldName) const {
    KX_TRY
        if (sFieldName == nullptr)
            KxGenerateException("Invalid parameter (null) in GetFieldNumber", kFile);
        for (size_t i = 0; i < m_fields.size(); ++i)
            if (EqualNoCase(m_fields[i]->GetName(), sFieldName)) return static_cast<uint16_t>(i);
        KxString message;
        message << "Field \"" << sFieldName << "\" not found in " << m_fileName.GetFullPath();
        throw KxFieldNotFoundException(message, kFile);
    KX_CATCH("GetFieldNumber()", kFile)
}

KxField* KxFile::GetNewField() const { return new KxField(); }

void KxFile::AddCategory(const char* sName) {
    KX_TRY
        m_categories.push_back(KxString(sName));
    KX_CATCH_STD("AddCategory()", kFile)
}

const char* KxFile::GetCategory(int16_t wIndex) const {
    KX_TRY
        return m_categories.At(wIndex).GetCString();
    KX_CATCH("GetCategory()", kFile)
}

void KxFile::RemoveCategory(int16_t wIndex) {
    KX_TRY
        m_categories.RemoveAt(wIndex);
    KX_CATCH("RemoveCategory()", kFile)
}

// ---------------------------------------------------------------------------------------------
// Records and navigation

int32_t KxFile::GotoFirstRecord() {
    KX_TRY
        m_selectionPosition = 0;
        int32_t first = m_selection.GetNextInSet(0);
        if (first == 0) return 0;
        GotoRecord(first);
        m_selectionPosition = 1;
        m_selectionCount = m_selection.GetCount();
        return first;
    KX_CATCH("GotoFirstRecord()", kFile)
}

void KxFile::Refresh() {
    KX_TRY
        int32_t count = GetNumberOfRecords();
        if (count != m_selection.GetSize()) {
            m_selection.Reset(count, true);
            m_systemSet.Reset(count, true);
            m_selectionPosition = 0;
        }
        m_selectionCount = m_selection.GetCount();
        if (count > 0) GotoFirstRecord();
    KX_CATCH("Refresh()", kFile)
}

int32_t KxFile::DataInsert(int32_t lRecord, KxFileRecord& record) {
    KX_TRY
        return DataAppend(record);
    KX_CATCH("DataInsert()", kFile)
}

int32_t KxFile::GetRecordNumberByKey(const KxFileRecord& record) {
    KX_TRY
        if (m_primaryKeyFields == 0)
            KxGenerateException("No primary key defined for this file", kFile);
        uint16_t keys = std::min<uint16_t>(m_primaryKeyFields, GetFieldCount());
        auto keyText = [](const KxRecord& from, uint16_t f) {
            uint32_t length = static_cast<uint32_t>(std::max<int16_t>(from.GetFieldLength(f), 0)) + 1;
            KxResizableChunk buffer(static_cast<int32_t>(length), '\0');
            from.GetAlpha(f, buffer.AsPtrAtOffset<char>(0), length, true);
            return KxString(buffer.AsPtrAtOffset<char>(0));
        };
        KxVector<KxString> wanted;
        for (uint16_t f = 0; f < keys; ++f) wanted.push_back(keyText(record, f));

        // The scan reads into a buffer of its own, so the current record's contents stay as
        // they are; the file is put back on the record that was current.
        std::unique_ptr<KxFileRecord> scratch(GetNewRecord());
        int32_t current = GetCurrentRecordNumber();
        int32_t count = GetNumberOfRecords();
        int32_t found = 0;
        for (int32_t r = 1; r <= count && found == 0; ++r) {
            GotoRecord(r, scratch.get());
            bool same = true;
            for (uint16_t f = 0; f < keys && same; ++f) same = keyText(*scratch, f) == wanted[f];
            if (same) found = r;
        }
        if (current > 0 && current <= count) GotoRecord(current, scratch.get());
        return found;
    KX_CATCH_STD("GetRecordNumberByKey()", kFile)
}

bool KxFile::GotoRecordByPrimaryKeys(const KxFileRecord& record) {
    KX_TRY
        int32_t found = GetRecordNumberByKey(record);
        if (found == 0) return false;
        GotoRecord(found);
        return true;
    KX_CATCH("GotoRecordByPrimaryKeys()", kFile)
}

// ---------------------------------------------------------------------------------------------
// Operations a driver may lack

void KxFile::Create(const char* sFileName, const KxPointerVector<KxField>& fields,
                    uint16_t uwPrimaryKeyFields, bool withEmptyIndexes) {
    KX_TRY
        KxGenerateException("This driver can not create a new file.", kFile);
    KX_CATCH("Create()", kFile)
}

void KxFile::Empty() {
    KX_TRY
        KxGenerateException("Empty function not supported", kFile);
    KX_CATCH("Empty()", kFile)
}

void KxFile::Rename(const char* sNewName) {
    KX_TRY
        if (!m_password.IsEmpty())
            KxGenerateException("KxFile's Rename can not handle passwords", kFile);
        if (sNewName == nullptr) KxGenerateException("Invalid parameter (null) in Rename", kFile);
        KxString oldName(m_fileName.GetFullPath());
        const char* extensions[] = {GetDefaultExtension(), ".kxs", ".kxb", ".klg"};
        for (const char* extension : extensions) {
            KxString from(WithExtension(oldName, extension));
            if (KxIOInterface::Exists(from))
                KxIOInterface::Rename(WithExtension(sNewName, extension), from);
        }
    KX_CATCH("Rename()", kFile)
}

void KxFile::KxEncrypt(const char* sPassword) {}

void KxFile::KxDecrypt(const char* sPassword) {}

KxTransaction* KxFile::StartTransaction() {
    KX_TRY
        KxGenerateException("New transactions require the ability to create a log file", kFile);
    KX_CATCH("StartTransaction()", kFile)
}

void KxFile::DeleteFile(const char* sFileName, bool structure, bool data) {
    KX_TRY
        if (sFileName == nullptr)
            KxGenerateException("Invalid parameter (null) in DeleteFile", kFile);
        KxString structureName(WithExtension(sFileName, ".kxs"));
        if (data) {
            int32_t indexFiles = kxDefaultIndexFileCount;
            if (KxIOInterface::Exists(structureName)) {
                KxIniFile ini(structureName);
                indexFiles = ini.GetSection(kFileInfo)->GetInt("NumberOfFields", 0);
            }
            // Index extensions have three digits.
            indexFiles = std::clamp<int32_t>(indexFiles, 0, 1000);
            for (int32_t i = 0; i < indexFiles; ++i) {
                char extension[16];
                snprintf(extension, sizeof extension, ".%03d", static_cast<int>(i));
                DeleteIfExists(WithExtension(sFileName, extension));
            }
            DeleteIfExists(WithExtension(sFileName, GetDefaultExtension()));
            DeleteIfExists(WithExtension(sFileName, ".kxb"));
            DeleteIfExists(WithExtension(sFileName, ".klg"));
        }
        if (structure) DeleteIfExists(structureName);
    KX_CATCH_STD("DeleteFile()", kFile)
}

// ---------------------------------------------------------------------------------------------
// Indexes

KxString KxFile::GetIndexFileName(uint16_t uwFieldIndex) const {
    char extension[16];
    snprintf(extension, sizeof extension, ".%03u", static_cast<unsigned>(uwFieldIndex));
    return WithExtension(m_fileName.GetFullPath(), extension);
}

bool KxFile::IndexFileExists(uint16_t uwFieldIndex) const {
    KX_TRY
        return KxIOInterface::Exists(GetIndexFileName(uwFieldIndex));
    KX_CATCH("IndexFileExists()", kFile)
}

void KxFile::BuildEmptyIndexes(const char* sFileName) {
    KX_TRY
        for (const KxField* field : m_fields)
            if (field->GetIndexCount() > 0 && !field->IsMapped())
                KxGenerateException("Field indexes are not supported yet (field %d)", kFile,
                                    static_cast<int>(field->GetFieldNumber()));
    KX_CATCH("BuildEmptyIndexes()", kFile)
}

void KxFile::AddIndex(uint16_t uwFieldIndex) {
    KX_TRY
        if (m_indexes.At(uwFieldIndex) != nullptr) KxGenerateException("Index already exists", kFile);
        KxGenerateException("Field indexes are not supported yet (field %d)", kFile,
                            static_cast<int>(uwFieldIndex));
    KX_CATCH("AddIndex()", kFile)
}

KxIndex* KxFile::GetIndex(uint16_t uwFieldIndex) {
    KX_TRY
        uint16_t number = uwFieldIndex;
        // A mapped field uses the field it maps to; a chain of mapped fields ends within the
        // field count, or it is a loop.
        for (int32_t steps = 0; m_fields.At(number)->IsMapped(); ++steps) {
            if (steps >= m_fields.GetCount())
                KxGenerateException("Index for field %hd of file \"%s\" does not exist", kFile,
                                    static_cast<short>(uwFieldIndex), m_fileName.GetFullPath());
            number = GetFieldNumber(m_fields.At(number)->GetMappedFieldName());
        }
        const KxField* field = m_fields.At(number);
        KxIndex* index = m_indexes.At(number);
        if (index == nullptr) {
            if (field->GetIndexCount() <= 0)
                KxGenerateException("Index for field %hd of file \"%s\" does not exist", kFile,
                                    static_cast<short>(number), m_fileName.GetFullPath());
            AddIndex(number);
            index = m_indexes.At(number);
            if (index == nullptr)
                KxGenerateException("Index for field %hd of file \"%s\" does not exist", kFile,
                                    static_cast<short>(number), m_fileName.GetFullPath());
        }
        return index;
    KX_CATCH("GetIndex()", kFile)
}

void KxFile::VerifyIndexExists(bool rebuild) {
    KX_TRY
        bool anyIndexed = false;
        for (const KxField* field : m_fields) anyIndexed = anyIndexed || field->GetIndexCount() > 0;
        if (!anyIndexed) return;
        KxString errors;
        for (uint16_t i = 0; i < GetFieldCount(); ++i) {
            const KxField& field = *m_fields[i];
            if (field.IsMapped()) {
                bool exists = false;
                for (const KxField* other : m_fields)
                    exists = exists || EqualNoCase(other->GetName(), field.GetMappedFieldName());
                if (!exists) errors << "Field" << static_cast<int32_t>(i)
                                    << " is mapped to a non-existent field." << EndLine;
                continue;
            }
            bool exists = IndexFileExists(i);
            if (exists && rebuild) {
                KxIOInterface::Delete(GetIndexFileName(i));
                exists = false;
            }
            if (field.GetIndexCount() > 0) {
                if (!exists) {
                    try {
                        AddIndex(i);
                    } catch (KxException& e) {
                        errors << "Error in building index for " << field.GetName()
                               << ", error = " << e.GetErrorMessage() << EndLine;
                    }
                }
            } else if (exists) {
                KxIOInterface::Delete(GetIndexFileName(i));
            }
        }
        if (!errors.IsEmpty()) KxGenerateException("%s", kFile, errors.GetCString());
    KX_CATCH("VerifyIndexExists()", kFile)
}

void KxFile::LoadIndexes() {
    KX_TRY
        VerifyIndexExists(false);
        for (uint16_t i = 0; i < GetFieldCount(); ++i)
            if (m_fields[i]->GetIndexCount() > 0) GetIndex(i);
    KX_CATCH("LoadIndexes()", kFile)
}

// ---------------------------------------------------------------------------------------------
// Transactions and locks

KxTransaction* KxFile::BeginTransaction(bool forWriting) {
    KX_TRY
        if (m_transaction != nullptr)
            throw KxTransactionException(
                "Transaction already in process.  Only one transaction allowed at a time.", kFile);
        if (forWriting) {
            if (m_sharedLocks > 0)
                throw KxTransactionException("File is under a shared lock; no writes are allowed.",
                                             kFile);
            Lock(kxFileExclusiveLock);
        }
        try {
            m_transaction = new KxTransaction(this, forWriting);
            m_writeTransaction = forWriting;
            LoadIndexes();
        } catch (...) {
            delete m_transaction;
            m_transaction = nullptr;
            m_writeTransaction = false;
            if (forWriting) {
                try {
                    Unlock(kxFileExclusiveLock);
                } catch (...) {
                }
            }
            throw;
        }
        return m_transaction;
    KX_CATCH_STD("BeginTransaction()", kFile)
}

void KxFile::EndTransaction(KxTransaction* pTransaction) {
    KX_TRY
        if (pTransaction == nullptr || pTransaction != m_transaction)
            throw KxTransactionException("No transaction in process.", kFile);
        bool forWriting = pTransaction->GetForWriting();
        delete m_transaction;
        m_transaction = nullptr;
        m_writeTransaction = false;
        if (forWriting) Unlock(kxFileExclusiveLock);
    KX_CATCH("EndTransaction()", kFile)
}

void KxFile::Lock(uint32_t ulFlags) {
    if ((ulFlags & kxFileExclusiveLock) != 0)
        ++m_exclusiveLocks;
    else
        ++m_sharedLocks;
}

// Each kind of lock is counted down by its own flag, so that a shared lock can be given back.
bool KxFile::Unlock(uint32_t ulFlags) {
    if ((ulFlags & kxFileExclusiveLock) != 0) {
        if (m_exclusiveLocks == 0) return true;
        return --m_exclusiveLocks == 0;
    }
    if ((ulFlags & kxFileSharedLock) != 0) {
        if (m_sharedLocks == 0) return true;
        return --m_sharedLocks == 0;
    }
    return true;
}

KxTransactionLog& KxFile::GetTransactionLog() const {
    KX_TRY
        if (!m_transactionLog)
            KxGenerateException(
                "No transaction log available; file is either not open or read-only.", kFile);
        return *m_transactionLog;
    KX_CATCH("GetTransactionLog()", kFile)
}

// ---------------------------------------------------------------------------------------------
// Description

const char* KxFile::GetDefaultExtension() const { return GetFileType().GetDefaultExtension(); }

const char* KxFile::GetFileTypeDescription() const { return GetFileType().GetDescription(); }

KxString KxFile::GetBaseName() const { return KxString(m_fileName.GetFileName()); }

void KxFile::SetPassword(const char* sOldPassword, const char* sNewPassword) {
    KX_TRY
        if (strcmp(sOldPassword != nullptr ? sOldPassword : "", m_password.GetCString()) != 0)
            KxGenerateException("Invalid password modification attempted.", kFile);
        m_password = sNewPassword;
    KX_CATCH("SetPassword()", kFile)
}
