// Record buffers: one record of a record file in the file's own storage form, with typed access
// to its fields by number (from 0). KxRecord is the interface every storage driver implements;
// KxRecordVariable adds value-holder access to blob fields; KxFileRecord binds a record to its
// file's field array and blob file and supplies the generic operations built on the driver's
// typed getters and putters: display text, parsing text, bulk get and put, copying between
// records, blob reference counting and the binary serial form.
//
// Blank fields read through the generic layer give sentinel values, not a separate flag:
//   N, $  -1e30        I  -2147483648   S  -32768   U, W  0   L  false
//   A, B, D  empty text                 @, T  the empty timestamp "00010101000000000"
#pragma once

#include <cstdint>

#include "kxchunk.h"
#include "kxexception.h"
#include "kxstring.h"
#include "kxvector.h"

class KxBlob;
class KxBlobFile;
class KxDate;
class KxField;
class KxFieldValue;
class KxInputStreamInterface;
class KxOutputStreamInterface;
class KxTime;
class KxTimestamp;

// The values a blank field reads as.
constexpr double kxBlankNumber = -1e30;
constexpr int32_t kxBlankLong = INT32_MIN;
constexpr int16_t kxBlankShort = INT16_MIN;
constexpr uint16_t kxBlankUnsignedShort = 0;
constexpr uint32_t kxBlankUnsignedLong = 0;

class KxRecord {
public:
    KxRecord() = default;
    KxRecord(const KxRecord&) = default;
    KxRecord& operator=(const KxRecord&) = default;

    // Raises "The field index (value=%d) is not in range [%d, %d]." outside 0..count - 1.
    virtual void CheckFieldIndexRange(uint16_t uwFieldIndex) const;
    virtual ~KxRecord();
    virtual KxRecord* Clone() const = 0;
    // Every field blank.
    virtual void Clear() = 0;

    // The field's text and a NUL into pBuffer, which must hold the field length + 1 bytes; with
    // stripTrailingBlanks the blanks at the end become NULs. Returns pBuffer.
    virtual char* GetAlpha(uint16_t uwFieldIndex, char* pBuffer, uint32_t ulBufferLength,
                           bool stripTrailingBlanks) const = 0;
    // Field-length bytes into pDest.
    virtual void GetBinary(uint16_t uwFieldIndex, void* pDest) const = 0;
    virtual bool GetBoolean(uint16_t uwFieldIndex) const = 0;
    virtual void GetDate(uint16_t uwFieldIndex, KxDate& date) const = 0;
    virtual uint16_t GetFieldCount() const = 0;
    // uwFieldIndex < GetFieldCount().
    virtual bool IsFieldIndexInRange(uint16_t uwFieldIndex) const;
    virtual int16_t GetFieldLength(uint16_t uwFieldIndex) const = 0;
    virtual char GetFieldType(uint16_t uwFieldIndex) const = 0;
    virtual bool GetIsBlank(uint16_t uwFieldIndex) const = 0;
    virtual int32_t GetLong(uint16_t uwFieldIndex) const = 0;
    virtual double GetNumber(uint16_t uwFieldIndex) const = 0;
    virtual int16_t GetShort(uint16_t uwFieldIndex) const = 0;
    virtual void GetTime(uint16_t uwFieldIndex, KxTime& time) const = 0;
    virtual void GetTimestamp(uint16_t uwFieldIndex, KxTimestamp& timestamp) const = 0;
    virtual uint32_t GetUnsignedLong(uint16_t uwFieldIndex) const = 0;
    virtual uint16_t GetUnsignedShort(uint16_t uwFieldIndex) const = 0;

    virtual void PutAlpha(uint16_t uwFieldIndex, const char* pText) = 0;
    // Field-length bytes from pBytes.
    virtual void PutBinary(uint16_t uwFieldIndex, const void* pBytes) = 0;
    virtual void PutBlank(uint16_t uwFieldIndex) = 0;
    virtual void PutBoolean(uint16_t uwFieldIndex, bool value) = 0;
    virtual void PutDate(uint16_t uwFieldIndex, const KxDate& date) = 0;
    virtual void PutLong(uint16_t uwFieldIndex, int32_t lValue) = 0;
    virtual void PutNumber(uint16_t uwFieldIndex, double value) = 0;
    virtual void PutShort(uint16_t uwFieldIndex, int16_t value) = 0;
    virtual void PutTime(uint16_t uwFieldIndex, const KxTime& time) = 0;
    virtual void PutTimestamp(uint16_t uwFieldIndex, const KxTimestamp& timestamp) = 0;
    virtual void PutUnsignedLong(uint16_t uwFieldIndex, uint32_t ulValue) = 0;
    virtual void PutUnsignedShort(uint16_t uwFieldIndex, uint16_t uwValue) = 0;

    // The value's type letter must be the field's; B is left to KxRecordVariable.
    virtual void RetrieveFieldValue(uint16_t uwFieldIndex, KxFieldValue& value) const;
    virtual void PutFieldValue(uint16_t uwFieldIndex, const KxFieldValue& value);

    virtual void GetBLOB(uint16_t uwFieldIndex, KxBlob& blob) const = 0;
    virtual void PutBLOB(uint16_t uwFieldIndex, const KxBlob& blob) = 0;

    // Field i goes to ppTexts[i] (ulBufferLength bytes each) for i in first .. first + count - 1;
    // a count of 0 fetches every field.
    virtual void GetAllFields(char** ppTexts, uint16_t uwCount, uint16_t uwFirst,
                              uint32_t ulBufferLength) const = 0;
    // True when every field is blank.
    virtual bool GetAllFieldsBlank() const = 0;
    // The blob number the field refers to; 0 for none.
    virtual int32_t GetBLOBIndex(uint16_t uwFieldIndex) const = 0;
    // Bytes of the storage form.
    virtual uint32_t GetBufferLength() const = 0;
    // Copies every field of this layout from the other record, whose types must agree.
    virtual void LoadFieldsFrom(const KxRecord& other) = 0;
    // ppTexts[i] into field i for i in first .. first + count - 1; a count of 0 puts every field.
    virtual void PutAllFields(const char* const* ppTexts, uint16_t uwCount, uint16_t uwFirst) = 0;
    virtual void SetRawData(const void* pBytes) = 0;
    // With a non-empty password the stored form is scrambled with it.
    virtual void ReadRecord(KxInputStreamInterface& stream, const char* sPassword = nullptr) = 0;
    virtual void WriteRecord(KxOutputStreamInterface& stream,
                             const char* sPassword = nullptr) const = 0;
    virtual void GetRawData(void* pDest) const = 0;
};

class KxRecordVariable : public KxRecord {
public:
    KxRecordVariable() = default;
    KxRecordVariable(const KxRecordVariable&) = default;
    KxRecordVariable& operator=(const KxRecordVariable&) = default;
    ~KxRecordVariable() override;

    // As KxRecord, and B through GetBLOB and PutBLOB.
    void RetrieveFieldValue(uint16_t uwFieldIndex, KxFieldValue& value) const override;
    void PutFieldValue(uint16_t uwFieldIndex, const KxFieldValue& value) override;
};

class KxFileRecord : public KxRecordVariable {
public:
    // Neither is owned; the record sees fields added to or removed from the array. A null field
    // array is an empty layout; a null blob file means the file has none.
    KxFileRecord(const KxPointerVector<KxField>* pFields, KxBlobFile* pBlobFile);
    KxFileRecord(const KxFileRecord&) = default;
    KxFileRecord& operator=(const KxFileRecord&) = default;
    ~KxFileRecord() override;

    uint16_t GetFieldCount() const override;
    int16_t GetFieldLength(uint16_t uwFieldIndex) const override;
    char GetFieldType(uint16_t uwFieldIndex) const override;

    // Each buffer receives the field's display text (GetField with formatting on).
    void GetAllFields(char** ppTexts, uint16_t uwCount, uint16_t uwFirst,
                      uint32_t ulBufferLength) const override;
    bool GetAllFieldsBlank() const override;
    void LoadFieldsFrom(const KxRecord& other) override;
    // Each field through PutField in mode 3.
    void PutAllFields(const char* const* ppTexts, uint16_t uwCount, uint16_t uwFirst) override;
    // GetBufferLength() bytes through SetRawData and GetRawData; the password is not used.
    void ReadRecord(KxInputStreamInterface& stream, const char* sPassword = nullptr) override;
    void WriteRecord(KxOutputStreamInterface& stream,
                     const char* sPassword = nullptr) const override;

    // The raw typed value: numbers in binary (N/$ double, I int32_t, S int16_t, U uint16_t,
    // W uint32_t, L bool), A and D as NUL-terminated text, @ and T as the timestamp's or time's
    // text, B the blob's bytes cut to ulDestLength - 1 and NUL-terminated, Y field-length bytes.
    // A destination too small for the value fails, except for B.
    void GetField(uint16_t uwFieldIndex, void* pDest, uint32_t ulDestLength) const;
    // The display text, cut to ulDestLength - 1 characters. With formatted on, the field's format
    // option picks the value format (1) or the display filter (2); otherwise, or when they do not
    // render the value, the default text of the type.
    void GetField(uint16_t uwFieldIndex, char* pDest, uint32_t ulDestLength, bool formatted) const;
    // Parses the text into the field; empty or null text blanks it. Mode 0 plain conversion,
    // 1 through the field's value format, 2 through its display filter, 3 the field's own
    // format option. A failed conversion leaves the field as it was.
    void PutField(uint16_t uwFieldIndex, const char* pText, int16_t iMode = 0);

    // Plain conversion of text to a value of the type into pDest (double, int32_t, int16_t,
    // uint32_t, uint16_t or bool); false for the types it does not convert (the text types).
    // Failures are KxMalformedDataExceptions.
    static bool AlphaToField(void* pDest, const char* pText, char cType);

    // The largest byte offset + length over the fields, minus the bias (16-bit arithmetic).
    static uint16_t CalculateRecordLength(const KxPointerVector<KxField>& fields,
                                          uint16_t uwBias = 0);

    // Reference counts of the blobs the record's non-blank B fields refer to. Without a blob
    // file there is nothing to count.
    void IncrementBlobReferences();
    void DecrementBlobReferences();
    // Reconciles the counts of a changed record with its previous contents.
    void UpdateBlobReferences(const KxRecord& oldRecord);

    // The binary serial form: the blank vector (one bit per field, the first field of each
    // group of eight in the least significant bit), then each non-blank field's value. Reading
    // a damaged form fails and leaves the record as it was.
    void RawSerialWrite(KxOutputStreamInterface& stream) const;
    void RawSerialRead(KxInputStreamInterface& stream);
    void WriteBlankVector(KxOutputStreamInterface& stream) const;
    // Blank bits come back as 1 in the vector, which gets GetFieldCount() entries.
    void ReadBlankVector(KxInputStreamInterface& stream, KxVector<uint8_t>& blanks) const;
    void WriteField(KxOutputStreamInterface& stream, uint16_t uwFieldIndex) const;
    void ReadField(KxInputStreamInterface& stream, uint16_t uwFieldIndex);

    // Conversions of a field's value to another type; a blank field gives the target type's
    // blank value.
    bool GetFieldAsBoolean(uint16_t uwFieldIndex) const;
    int32_t GetFieldAsLong(uint16_t uwFieldIndex) const;
    double GetFieldAsNumber(uint16_t uwFieldIndex) const;
    int16_t GetFieldAsShort(uint16_t uwFieldIndex) const;
    uint32_t GetFieldAsUnsignedLong(uint16_t uwFieldIndex) const;
    uint16_t GetFieldAsUnsignedShort(uint16_t uwFieldIndex) const;

    const char* GetFieldName(uint16_t uwFieldIndex) const;
    // The field definition; "Index %d out of range; array is from %d to %d" outside the array.
    const KxField& GetFieldDefinition(uint16_t uwFieldIndex) const;

    const KxPointerVector<KxField>* GetFields() const { return m_pFields; }
    void SetFields(const KxPointerVector<KxField>* pFields) { m_pFields = pFields; }
    KxBlobFile* GetBlobFile() const { return m_pBlobFile; }
    void SetBlobFile(KxBlobFile* pBlobFile) { m_pBlobFile = pBlobFile; }

private:
    const KxPointerVector<KxField>* m_pFields;
    KxBlobFile* m_pBlobFile;
};
