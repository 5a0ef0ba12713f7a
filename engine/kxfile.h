// The abstract record file (table) of the engine and the descriptor every storage driver has.
//
// A data set is a family of files sharing a base name: the driver's data file, the structure
// file (.kxs, INI syntax) that describes the fields, the blob file (.kxb) when a field holds
// blobs, the log (.klg) of files opened for writing, and one index file per indexed field (the
// field number as a three-digit extension). KxFile reads and writes the structure file and keeps
// what every driver shares: fields, categories, user flags, selection, lock counts, the open
// transaction and the blob file. A driver stores the records.
#pragma once

#include <cstdint>
#include <memory>

#include "kxexception.h"
#include "kxfield.h"
#include "kxfilename.h"
#include "kxio.h"
#include "kxset.h"
#include "kxstring.h"
#include "kxvector.h"

class KxBlobFile;
class KxFile;
class KxFileRecord;
class KxFormatLib;
class KxIndex;
class KxIniFile;
class KxIniSection;
class KxInputStreamInterface;
class KxOutputStreamInterface;

// Flags of Lock, TryLock and Unlock: the lock types of the file I/O layer.
constexpr uint32_t kxFileSharedLock = READ;      // 0x100
constexpr uint32_t kxFileExclusiveLock = WRITE;  // 0x200

// The key that scrambles the password stored in a structure file.
constexpr const char* kxStructurePasswordKey = "BrightCanopyx";

// Reversible scrambling of a byte buffer with a text key, used for the stored password and for
// the records of a data set that has one. A null buffer, or a null or empty key, fails.
void KxScramble(void* pBuffer, int32_t lLength, const char* sKey);
void KxUnscramble(void* pBuffer, int32_t lLength, const char* sKey);

// The open transaction of a file. Writing transactions hold the data file's exclusive lock.
class KxTransaction {
public:
    KxTransaction(KxFile* pFile, bool forWriting) : m_file(pFile), m_forWriting(forWriting) {}
    KxTransaction(const KxTransaction&) = delete;
    KxTransaction& operator=(const KxTransaction&) = delete;
    virtual ~KxTransaction() = default;

    KxFile* GetFile() const { return m_file; }
    bool GetForWriting() const { return m_forWriting; }

private:
    KxFile* m_file;
    bool m_forWriting;
};

// The log of a file opened for writing. Only its file exists so far: it is created empty when
// missing, and an existing one is left as it is.
class KxTransactionLog {
public:
    explicit KxTransactionLog(const char* sDataFileName);
    KxTransactionLog(const KxTransactionLog&) = delete;
    KxTransactionLog& operator=(const KxTransactionLog&) = delete;
    virtual ~KxTransactionLog() = default;

    const char* GetFileName() const { return m_fileName.GetCString(); }

private:
    KxString m_fileName;
};

// One process-wide descriptor per storage driver.
class KxFileType : public KxArrayPointerObject {
public:
    ~KxFileType() override = default;
    virtual KxFileType* Clone() const = 0;
    // Appends the descriptors of the field types the driver stores.
    virtual void GetSupportedFieldTypes(KxVector<const KxFieldType*>& types) const = 0;
    virtual const char* GetDescription() const = 0;
    // With its dot: ".txd".
    virtual const char* GetDefaultExtension() const = 0;
    // Two properties the drivers carry without the engine interpreting them.
    virtual bool GetFirstProperty() const = 0;
    virtual bool GetSecondProperty() const = 0;
    // A new, unopened file of the driver; the caller owns it.
    virtual KxFile* NewFile() const = 0;
    // A new file read from a stream; drivers that are not streamable fail.
    virtual KxFile* NewFile(KxInputStreamInterface& stream) const = 0;
};

class KxFile {
public:
    // Structure files of old data sets count field sections this far at most.
    static constexpr int32_t kxMaxFields = 32767;
    // DeleteFile removes this many index files when there is no structure file to count them.
    static constexpr int32_t kxDefaultIndexFileCount = 500;

    KxFile();
    KxFile(const KxFile&) = delete;
    KxFile& operator=(const KxFile&) = delete;
    // Closes, ignoring failures; the transaction log goes with it.
    virtual ~KxFile();

    // ---- indexes (the index files themselves are not built yet) ----
    // Writes an empty index file for each indexed, unmapped field; null: the file's own name.
    virtual void BuildEmptyIndexes(const char* sFileName = nullptr);
    virtual void AddIndex(uint16_t uwFieldIndex);
    // The field's index; a mapped field uses the field it maps to.
    virtual KxIndex* GetIndex(uint16_t uwFieldIndex);
    virtual bool IndexFileExists(uint16_t uwFieldIndex) const;
    // The data file's name with the field number as a three-digit extension.
    KxString GetIndexFileName(uint16_t uwFieldIndex) const;
    void LoadIndexes();
    void VerifyIndexExists(bool rebuild);

    // ---- records ----
    // The record whose primary key fields hold the same text as the record's, by a scan of the
    // file; 0 when there is none. Fails without a primary key.
    virtual int32_t GetRecordNumberByKey(const KxFileRecord& record);
    // GetRecordNumberByKey, then GotoRecord when found; false when not found.
    virtual bool GotoRecordByPrimaryKeys(const KxFileRecord& record);
    // The raw changes of the data file; each answers the record number it concerns.
    virtual int32_t DataAppend(KxFileRecord& record) = 0;
    // Reads the record first into pRecord, or into the current record when null.
    virtual void DataDelete(int32_t lRecord, KxFileRecord* pRecord = nullptr) = 0;
    // The base appends.
    virtual int32_t DataInsert(int32_t lRecord, KxFileRecord& record);
    // Reads the present contents into pOldRecord first when one is given.
    virtual void DataModify(int32_t lRecord, KxFileRecord& record,
                            KxFileRecord* pOldRecord = nullptr) = 0;

    virtual void Flush() = 0;
    // 0 when there is none.
    virtual int32_t GetCurrentRecordNumber() const = 0;
    // A new record buffer of the file's layout; the caller owns it.
    virtual KxFileRecord* GetNewRecord() = 0;
    virtual int32_t GetNumberOfRecords() const = 0;
    // Reads record lRecord (from 1) into pRecord, or into the current record when null, and
    // makes it current.
    virtual void GotoRecord(int32_t lRecord, KxFileRecord* pRecord = nullptr) = 0;
    // The current record becomes the first selected one; its number, or 0 when none is.
    int32_t GotoFirstRecord();
    // Valid after GotoRecord; null while the file is closed.
    KxFileRecord* GetCurrentRecord() const { return m_currentRecord; }
    KxFileRecord* GetSecondRecord() const { return m_secondRecord; }

    // ---- opening and closing ----
    // ulMode: the file I/O flags (kxIORead, kxIOWrite, kxIOCreate, kxIOTruncate, ...). The
    // structure comes from pStructure when given, else from sAlternate when given, else from
    // the data set's own structure file (or default.kxs beside it).
    virtual void Open(const char* sFileName, uint32_t ulMode = kxIORead,
                      const char* sPassword = nullptr, const char* sAlternate = nullptr,
                      KxIniFile* pStructure = nullptr) = 0;
    virtual void Close();
    virtual void Refresh();
    // Replaces the blob file by one on that data file name, opened with the mode.
    virtual void OpenBlobFile(const char* sFileName, uint32_t ulMode);
    // Flushes the blob file's delayed frees.
    virtual void PerformExternalUpdates();

    // Creates a new data set; drivers that cannot fail.
    virtual void Create(const char* sFileName, const KxPointerVector<KxField>& fields,
                        uint16_t uwPrimaryKeyFields, bool withEmptyIndexes);
    // Deletes the data set's files: with data the data file, blob file, log and index files,
    // with structure the structure file. Missing files are skipped.
    virtual void DeleteFile(const char* sFileName, bool structure, bool data);
    virtual void Empty();
    // Rename the data set's files; the base cannot when the file has a password.
    virtual void Rename(const char* sNewName);
    // Change the password the records are scrambled with; the base does nothing.
    virtual void KxEncrypt(const char* sPassword);
    virtual void KxDecrypt(const char* sPassword);
    // Byte offsets for the fields of a new layout.
    virtual void PackFields(KxPointerVector<KxField>& fields) = 0;

    // Streamed files.
    virtual void Read(KxInputStreamInterface& stream) = 0;
    virtual void Write(KxOutputStreamInterface& stream) = 0;

    // ---- structure file ----
    virtual void ReadStructure(KxIniFile* pStructure = nullptr);
    // Null structure: the .kxs file is deleted and written anew. Null fields: the file's own.
    virtual void WriteStructure(KxIniFile* pStructure = nullptr,
                                const KxPointerVector<KxField>* pFields = nullptr);
    // The structure file of a data file name: its .kxs, else default.kxs in its directory.
    static std::unique_ptr<KxIniFile> GetIniFile(const char* sFileName);
    // The section of the field named so (exact comparison), searching Field1, Field2, ... in
    // order, and its position from 0; null when there is none.
    static KxIniSection* FindFieldByName(KxIniFile& structure, const char* sFieldName,
                                         int32_t& lPosition);

    // ---- fields ----
    KxField& FieldGetInfo(uint16_t uwFieldIndex);
    const KxField& FieldGetInfo(uint16_t uwFieldIndex) const;
    KxField& FieldGetInfo(const char* sFieldName);
    // Case-insensitive; KxFieldNotFoundException when there is none.
    uint16_t GetFieldNumber(const char* sFieldName) const;
    uint16_t GetFieldCount() const { return static_cast<uint16_t>(m_fields.GetCount()); }
    const KxPointerVector<KxField>& GetFields() const { return m_fields; }
    virtual KxField* GetNewField() const;

    // ---- categories ----
    void AddCategory(const char* sName);
    const char* GetCategory(int16_t wIndex) const;
    void RemoveCategory(int16_t wIndex);
    int16_t GetCategoryCount() const { return static_cast<int16_t>(m_categories.GetCount()); }

    // ---- transactions and locks ----
    // At most one transaction; a writing one takes the exclusive lock.
    virtual KxTransaction* BeginTransaction(bool forWriting = true);
    virtual void EndTransaction(KxTransaction* pTransaction);
    virtual KxTransaction* StartTransaction();
    KxTransaction* GetTransaction() const { return m_transaction; }
    // Flags: kxFileExclusiveLock or kxFileSharedLock. The base counts; drivers lock their data
    // file first.
    virtual void Lock(uint32_t ulFlags);
    virtual bool TryLock(uint32_t ulFlags) = 0;
    // True when the lock of that kind is released completely.
    virtual bool Unlock(uint32_t ulFlags);
    int16_t GetExclusiveLockCount() const { return m_exclusiveLocks; }
    int16_t GetSharedLockCount() const { return m_sharedLocks; }
    KxTransactionLog& GetTransactionLog() const;

    // ---- description ----
    virtual const KxFileType& GetFileType() const = 0;
    virtual const char* GetDefaultExtension() const;
    virtual const char* GetFileTypeDescription() const;
    virtual double GetDriverVersion() const { return 1.0; }
    // The file name without directory and extension.
    virtual KxString GetBaseName() const;
    const char* GetFileName() const { return m_fileName.GetFullPath(); }
    const char* GetTitle() const { return m_title.GetCString(); }
    void SetTitle(const char* sTitle) { m_title = sTitle; }
    const char* GetInformation() const { return m_information.GetCString(); }
    const char* GetInputLayout() const { return m_inputLayout.GetCString(); }
    uint16_t GetInputLayoutNumber() const { return m_inputLayoutNumber; }
    uint16_t GetPrimaryKeyFieldCount() const { return m_primaryKeyFields; }
    const KxVector<KxString>& GetRelateFields() const { return m_relateFields; }
    const KxFlagTypeList& GetUserFlagTypes() const { return m_userFlagTypes; }
    const char* GetPassword() const { return m_password.GetCString(); }
    // Fails when the old password is not the current one.
    void SetPassword(const char* sOldPassword, const char* sNewPassword);

    const KxSet& GetSelection() const { return m_selection; }
    const KxSet& GetSystemSet() const { return m_systemSet; }
    int32_t GetSelectionPosition() const { return m_selectionPosition; }
    int32_t GetSelectionCount() const { return m_selectionCount; }
    KxBlobFile* GetBlobFile() const { return m_blobFile; }
    // Null: the process-wide default library.
    KxFormatLib* GetFormatLibrary() const { return m_formatLibrary; }
    void SetFormatLibrary(KxFormatLib* pLibrary) { m_formatLibrary = pLibrary; }

protected:
    // The first and last steps of every driver's Open.
    void OpenSetup(const char* sFileName, uint32_t ulMode, const char* sPassword,
                   const char* sAlternate, KxIniFile* pStructure);
    void OpenFinish();
    // Writes the keys every driver shares into the structure; drivers add theirs after it.
    void WriteBaseStructure(KxIniFile& structure, const KxPointerVector<KxField>& fields);
    // Called by WriteStructure after the shared keys, before the file is saved.
    virtual void WriteDriverStructure(KxIniFile& structure) {}
    void ClearIndexes();
    void DestroyRecords();

    int32_t m_selectionPosition = 0;
    int32_t m_selectionCount = 0;
    int16_t m_reserved = 0;
    int16_t m_exclusiveLocks = 0;
    int16_t m_sharedLocks = 0;
    uint16_t m_inputLayoutNumber = 0;
    uint16_t m_relateFieldCount = 0;
    uint16_t m_primaryKeyFields = 0;
    bool m_indexing = true;
    bool m_maintenance = true;
    bool m_selectAddedRecords = true;
    bool m_writeTransaction = false;
    KxFileName m_fileName;
    KxSet m_selection;
    KxSet m_systemSet;
    KxString m_inputLayout;
    KxString m_title;
    KxString m_information;
    KxString m_password;
    KxFlagTypeList m_userFlagTypes;
    // The bit count of each user flag, as the structure file gave it, for writing it back.
    KxVector<uint32_t> m_userFlagBits;
    KxVector<KxString> m_categories;
    KxPointerVector<KxField> m_fields;
    KxVector<KxIndex*> m_indexes;
    KxVector<KxString> m_relateFields;
    std::unique_ptr<KxTransactionLog> m_transactionLog;
    KxFileRecord* m_currentRecord = nullptr;
    KxFileRecord* m_secondRecord = nullptr;
    KxTransaction* m_transaction = nullptr;
    KxBlobFile* m_blobFile = nullptr;
    KxFormatLib* m_formatLibrary = nullptr;

private:
    void ReadUserFlags(KxIniSection& fileInfo);
    void ReadFields(KxIniFile& structure);
};
