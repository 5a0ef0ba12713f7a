// One value tagged with a field type letter: what a record stores into a field and fills from a
// field. Access is type-enforced, so a value is never read in the representation of another type.
#pragma once

#include <cstdint>

#include "kxchunk.h"
#include "kxstring.h"
#include "kxtimestamp.h"
#include "kxvector.h"

class KxBlob;

class KxFieldValue : public KxArrayPointerObject {
public:
    // No type yet: every accessor fails until a setter or SetType() gives one.
    KxFieldValue();
    // An empty value of the type (0, empty text, the empty timestamp, no bytes).
    explicit KxFieldValue(char type);
    KxFieldValue(const KxFieldValue& other);
    KxFieldValue& operator=(const KxFieldValue& other);
    ~KxFieldValue() override;
    virtual KxFieldValue* Clone() const;

    char GetType() const { return m_type; }
    // Gives the value a type letter of a field type and the empty value of that type.
    void SetType(char type);

    void SetBool(bool value);
    void SetShort(int16_t value);
    void SetUnsignedShort(uint16_t value);
    void SetLong(int32_t value);
    void SetUnsignedLong(uint32_t value);
    void SetDouble(double value);
    void SetString(const char* sValue);
    void SetDate(const KxDate& value);
    void SetTime(const KxTime& value);
    void SetTimestamp(const KxTimestamp& value);
    void SetChunk(const KxResizableChunk& value);
    void SetBlob(const KxBlob& value);

    // Each fails unless the value has the accessor's type: L, A, N, I, S, W, U, B, D, Y, A, T, @.
    bool& AsBool_TypeEnforced();
    bool AsBool_TypeEnforced() const;
    const char* AsCString_TypeEnforced() const;
    double& AsDouble_TypeEnforced();
    double AsDouble_TypeEnforced() const;
    int32_t& AsLong_TypeEnforced();
    int32_t AsLong_TypeEnforced() const;
    int16_t& AsShort_TypeEnforced();
    int16_t AsShort_TypeEnforced() const;
    uint32_t& AsUnsignedLong_TypeEnforced();
    uint32_t AsUnsignedLong_TypeEnforced() const;
    uint16_t& AsUnsignedShort_TypeEnforced();
    uint16_t AsUnsignedShort_TypeEnforced() const;
    KxBlob& AsKxBlob_TypeEnforced();
    const KxBlob& AsKxBlob_TypeEnforced() const;
    KxDate& AsKxDate_TypeEnforced();
    const KxDate& AsKxDate_TypeEnforced() const;
    KxResizableChunk& AsKxResizableChunk_TypeEnforced();
    const KxResizableChunk& AsKxResizableChunk_TypeEnforced() const;
    KxString& AsKxString_TypeEnforced();
    const KxString& AsKxString_TypeEnforced() const;
    KxTime& AsKxTime_TypeEnforced();
    const KxTime& AsKxTime_TypeEnforced() const;
    KxTimestamp& AsKxTimestamp_TypeEnforced();
    const KxTimestamp& AsKxTimestamp_TypeEnforced() const;

    // Negative, 0 or positive. Both values must have one type with an order: binary data and
    // blobs have none.
    int ComparedTo(const KxFieldValue& other) const;
    bool IsLessThan(const KxFieldValue& other) const;

private:
    void Check(char type, const char* sLabel) const;

    char m_type = 0;
    bool m_bool = false;
    int16_t m_short = 0;
    uint16_t m_unsignedShort = 0;
    int32_t m_long = 0;
    uint32_t m_unsignedLong = 0;
    double m_double = 0;
    KxString m_string;
    KxDate m_date;
    KxTime m_time;
    KxTimestamp m_timestamp;
    KxResizableChunk m_chunk;
    // Present exactly while the type is 'B'.
    KxBlob* m_blob = nullptr;
};
