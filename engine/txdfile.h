// The fixed-width text driver (.txd): every record is one line of the same length L, end-of-line
// bytes included, and every field a fixed column range of it. L and the kind of line end are
// taken from the data's first line, not from the structure file. Values are text, left-justified
// and padded with blanks; a field of blanks is blank. A blob field holds an 8-character blob
// number and either the whole value inline (number 0) or a preview of the value stored in the
// blob file.
#pragma once

#include <cstdint>
#include <memory>

#include "kxblob.h"
#include "kxchunk.h"
#include "kxfile.h"
#include "kxio.h"
#include "kxrecord.h"

// The kinds of line end.
constexpr int16_t kxEOLCR = 1;
constexpr int16_t kxEOLLF = 2;
constexpr int16_t kxEOLCRLF = 3;

// One line of a TXDFile: L bytes, the end-of-line bytes at its end.
class TXDRec : public KxFileRecord {
public:
    // The blob number prefix of a blob field.
    static constexpr int32_t kxBlobNumberWidth = 8;

    // A line of blanks; fails for a kind other than 1, 2, 3 or a line too short for its end.
    TXDRec(const KxPointerVector<KxField>* pFields, KxBlobFile* pBlobFile, int32_t lLineLength,
           int16_t wEOLType);
    TXDRec(const TXDRec& other);
    TXDRec& operator=(const TXDRec&) = delete;
    ~TXDRec() override;

    TXDRec* Clone() const override;
    void Clear() override;

    char* GetAlpha(uint16_t uwFieldIndex, char* pBuffer, uint32_t ulBufferLength,
                   bool stripTrailingBlanks) const override;
    void GetBinary(uint16_t uwFieldIndex, void* pDest) const override;
    bool GetBoolean(uint16_t uwFieldIndex) const override;
    void GetDate(uint16_t uwFieldIndex, KxDate& date) const override;
    bool GetIsBlank(uint16_t uwFieldIndex) const override;
    int32_t GetLong(uint16_t uwFieldIndex) const override;
    double GetNumber(uint16_t uwFieldIndex) const override;
    int16_t GetShort(uint16_t uwFieldIndex) const override;
    void GetTime(uint16_t uwFieldIndex, KxTime& time) const override;
    void GetTimestamp(uint16_t uwFieldIndex, KxTimestamp& timestamp) const override;
    uint32_t GetUnsignedLong(uint16_t uwFieldIndex) const override;
    uint16_t GetUnsignedShort(uint16_t uwFieldIndex) const override;

    // No CR or LF; at most the field's length. A failure for length leaves the field blank.
    void PutAlpha(uint16_t uwFieldIndex, const char* pText) override;
    void PutBinary(uint16_t uwFieldIndex, const void* pBytes) override;
    void PutBlank(uint16_t uwFieldIndex) override;
    void PutBoolean(uint16_t uwFieldIndex, bool value) override;
    void PutDate(uint16_t uwFieldIndex, const KxDate& date) override;
    void PutLong(uint16_t uwFieldIndex, int32_t lValue) override;
    void PutNumber(uint16_t uwFieldIndex, double value) override;
    void PutShort(uint16_t uwFieldIndex, int16_t value) override;
    void PutTime(uint16_t uwFieldIndex, const KxTime& time) override;
    void PutTimestamp(uint16_t uwFieldIndex, const KxTimestamp& timestamp) override;
    void PutUnsignedLong(uint16_t uwFieldIndex, uint32_t ulValue) override;
    void PutUnsignedShort(uint16_t uwFieldIndex, uint16_t uwValue) override;

    // Blob number n >= 1: blob n of the blob file. Otherwise the text after the number, with its
    // NUL, or an empty blob when there is none.
    void GetBLOB(uint16_t uwFieldIndex, KxBlob& blob) const override;
    // Inline when every byte is printable and the value is shorter than the room after the
    // number; otherwise added to the blob file, with a preview in the line.
    void PutBLOB(uint16_t uwFieldIndex, const KxBlob& blob) override;
    // Each field's raw text with trailing blanks stripped.
    void GetAllFields(char** ppTexts, uint16_t uwCount, uint16_t uwFirst,
                      uint32_t ulBufferLength) const override;
    // The first 8 characters as a decimal number; 0 for none.
    int32_t GetBLOBIndex(uint16_t uwFieldIndex) const final;
    // L.
    uint32_t GetBufferLength() const override;
    // PutAlpha of each text.
    void PutAllFields(const char* const* ppTexts, uint16_t uwCount, uint16_t uwFirst) override;
    // The line without its end-of-line bytes.
    void SetRawData(const void* pBytes) override;
    void GetRawData(void* pDest) const override;
    // Exactly L bytes; with a password the characters before the line end are scrambled.
    void ReadRecord(KxInputStreamInterface& stream, const char* sPassword = nullptr) override;
    void WriteRecord(KxOutputStreamInterface& stream,
                     const char* sPassword = nullptr) const override;

    int16_t GetEOLType() const { return m_eolType; }
    int32_t GetLineLength() const { return m_lineLength; }
    // Bytes before the line end.
    int32_t GetDataLength() const { return m_lineLength - EOLLength(m_eolType); }
    // The L bytes of the line.
    const char* GetLine() const { return static_cast<const char*>(m_line.GetData()); }
    // True when the line ends with the end-of-line bytes of its kind.
    bool HasLineEnd() const;

    static int32_t EOLLength(int16_t wEOLType) { return wEOLType == kxEOLCRLF ? 2 : 1; }

private:
    // The field's offset in the line, after checking that its bytes (at least lMinimum of them)
    // lie before the line end.
    int32_t FieldOffset(uint16_t uwFieldIndex, int32_t lMinimum = 0) const;
    // The field's bytes in the line when the blob readers can take them in place; null when
    // GetAlpha would refuse the field.
    const char* BlobFieldBytes(uint16_t uwFieldIndex, int32_t& lLength) const;
    static int32_t ParseBlobNumber(const char* pText, int32_t lLength);
    // The stripped text of a numeric field, through a 32-byte buffer.
    void GetNumericText(uint16_t uwFieldIndex, char* pBuffer) const;
    void PutFormatted(uint16_t uwFieldIndex, const char* pFormat, ...) KX_PRINTF(3, 4);
    void SetLineEnd();
    char* Line() { return static_cast<char*>(m_line.GetData()); }

    KxResizableChunk m_line;
    int16_t m_eolType;
    int32_t m_lineLength;
};

class TXDFile : public KxFile {
public:
    static constexpr int32_t kxDataBufferSize = 0x20000;
    static constexpr int32_t kxMaxRecordLength = 32767;

    // Opens at once when a name is given.
    explicit TXDFile(const char* sFileName = nullptr, uint32_t ulMode = kxIORead,
                     const char* sPassword = nullptr, const char* sAlternate = nullptr);
    ~TXDFile() override;

    void Open(const char* sFileName, uint32_t ulMode = kxIORead, const char* sPassword = nullptr,
              const char* sAlternate = nullptr, KxIniFile* pStructure = nullptr) override;
    void Close() override;
    void Refresh() override;
    void Flush() override;

    void ReadStructure(KxIniFile* pStructure = nullptr) override;

    int32_t GetCurrentRecordNumber() const override { return m_currentRecordNumber; }
    int32_t GetNumberOfRecords() const override { return m_recordCount; }
    TXDRec* GetNewRecord() override;
    // lRecord must be in 1 .. the record count.
    void GotoRecord(int32_t lRecord, KxFileRecord* pRecord = nullptr) override;

    void Lock(uint32_t ulFlags) override;
    bool TryLock(uint32_t ulFlags) override;
    bool Unlock(uint32_t ulFlags) override;

    int32_t DataAppend(KxFileRecord& record) override;
    void DataDelete(int32_t lRecord, KxFileRecord* pRecord = nullptr) override;
    int32_t DataInsert(int32_t lRecord, KxFileRecord& record) override;
    void DataModify(int32_t lRecord, KxFileRecord& record,
                    KxFileRecord* pOldRecord = nullptr) override;
    // Writes the structure file (RecordLength = the end of the last field) and an empty data
    // file; neither may exist. The object stays closed.
    void Create(const char* sFileName, const KxPointerVector<KxField>& fields,
                uint16_t uwPrimaryKeyFields, bool withEmptyIndexes) override;
    void Empty() override;
    // Offsets become the running sum of the lengths, from 0.
    void PackFields(KxPointerVector<KxField>& fields) override;
    // Renames a closed data set's files and records the new name in its structure file.
    void RenameFile(const char* sOldName, const char* sNewName);
    // Rewrite every record scrambled with the new password, or plain; then reopen for writing.
    void KxEncrypt(const char* sPassword) override;
    void KxDecrypt(const char* sPassword) override;

    void Read(KxInputStreamInterface& stream) override;
    void Write(KxOutputStreamInterface& stream) override;

    const KxFileType& GetFileType() const override;

    // NumberOfFields as the structure file gave it.
    virtual int16_t GetNumberOfFieldsRead() const { return m_numberOfFields; }
    // Answers 30; old callers of the driver ask for it.
    virtual int32_t GetDriverConstant() const { return 30; }

    int16_t GetEOLType() const { return m_eolType; }
    int16_t GetRecordLength() const { return m_recordLength; }
    int32_t GetLineLength() const { return m_lineLength; }
    // The blob numbers of the record last gone to, appended, inserted or modified.
    const KxBlobFieldMap& GetBlobFieldMap() const;

protected:
    void WriteDriverStructure(KxIniFile& structure) override;

private:
    // Line length and end-of-line kind from the data, the second-line check and the record
    // count: the part of opening that Refresh repeats.
    void MeasureDataFile();
    void CheckFieldsFitLine() const;
    int64_t LinePosition(int32_t lRecord) const;
    TXDRec& ReadLine(int32_t lRecord, KxFileRecord& record);
    void WriteLine(int32_t lRecord, const KxFileRecord& record);
    void CheckRecordNumber(int32_t lRecord, int32_t lLast) const;
    // Copies every record to a temporary file beside the data file, with the new key (empty:
    // plain); ReplaceAndReopen then closes, puts it in the data file's place and opens again for
    // writing.
    void RewriteRecords(const char* sNewPassword);
    void ReplaceAndReopen(const char* sPassword);

    KxIO m_data;
    int32_t m_currentRecordNumber = 0;
    int32_t m_recordCount = 0;
    int16_t m_eolType = kxEOLCRLF;
    int16_t m_numberOfFields = 0;
    int16_t m_recordLength = 0;
    int32_t m_lineLength = 0;
    // GotoRecord, which a scan calls for every record, keeps a copy of the line instead of
    // reading its blob numbers; they are read from the copy when the map is next used. Only for
    // layouts whose blob numbers can always be read, so that a failure is never put off.
    void UpdateBlobMap() const;
    mutable KxBlobFieldMap m_blobMap;
    std::unique_ptr<TXDRec> m_mapLine;
    mutable bool m_mapPending = false;
    bool m_mapDeferred = false;
    // The temporary file RewriteRecords wrote.
    KxString m_rewritten;
};

class TXDFileType : public KxFileType {
public:
    TXDFileType() = default;
    TXDFileType* Clone() const override { return new TXDFileType(); }
    // Alpha, Binary, Blob, Boolean, Date, Long, Number, Short, Timestamp, Time, Unsigned Short,
    // Unsigned Long.
    void GetSupportedFieldTypes(KxVector<const KxFieldType*>& types) const override;
    const char* GetDescription() const override { return "Flat (column based) ASCII Text File"; }
    const char* GetDefaultExtension() const override { return ".txd"; }
    bool GetFirstProperty() const override { return true; }
    bool GetSecondProperty() const override { return false; }
    TXDFile* NewFile() const override { return new TXDFile(); }
    // "TXDFile is not streamable".
    KxFile* NewFile(KxInputStreamInterface& stream) const override;
};
