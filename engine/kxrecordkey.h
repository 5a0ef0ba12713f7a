// Record keys: one field value in a form that can be ordered, compared and stored, whatever the
// field's type. An index keeps one per distinct value of its field.
//
// Numbers (I, S, U, W, N, $, L) compare as numbers; a blank field is its type's blank value, so
// blanks sort first for the signed types. Texts (A, B, D, T, @) hold at most the field's length in
// bytes, trailing blanks stripped, and compare byte by byte; their second order folds ASCII case.
// Binary keys (Y) hold exactly the field's length in bytes.
#pragma once

#include <cstdint>

#include "kxstring.h"
#include "kxvector.h"

class KxFileRecord;
class KxInputStreamInterface;
class KxOutputStreamInterface;

class KxRecordKey : public KxArrayPointerObject {
public:
    // A blank key of the type and length; the caller owns it. Fails for a letter that is no
    // field type.
    static KxRecordKey* NewKey(char type, int16_t wLength);

    ~KxRecordKey() override = default;
    virtual KxRecordKey* Clone() const = 0;

    char GetType() const { return m_type; }
    // The field length the key was made for.
    int16_t GetLength() const { return m_length; }
    // Texts and binary keys are stored as bytes; numbers in their stream representation.
    bool IsText() const;

    // The field's value in the record; the field must be of the key's type.
    void Load(const KxFileRecord& record, uint16_t uwFieldIndex);
    // A value in the raw form of KxFileRecord::GetField: a binary number of the type, or a
    // NUL-terminated text (read up to the key's length), or the key's length in bytes for Y.
    virtual void SetRaw(const void* pValue) = 0;
    // The value written as text, converted as PutField in mode 0 would; an empty text is the
    // blank value.
    virtual void SetText(const char* sText) = 0;
    // Display form, for messages and tests.
    virtual KxString GetText() const = 0;

    // Both keys must be of the same type: negative, 0 or positive.
    virtual int Compare(const KxRecordKey& other) const = 0;
    // The second order of an index; the same as Compare except for texts, where ASCII case is
    // folded.
    virtual int CompareAlternate(const KxRecordKey& other) const { return Compare(other); }
    bool IsLessThan(const KxRecordKey& other) const { return Compare(other) < 0; }
    bool IsEqual(const KxRecordKey& other) const { return Compare(other) == 0; }

    // The key's own serial form: the stream representation of a number, the key's length in
    // bytes for texts (NUL padded) and binary keys.
    virtual void Write(KxOutputStreamInterface& stream) const = 0;
    virtual void Read(KxInputStreamInterface& stream) = 0;

protected:
    KxRecordKey(char type, int16_t wLength) : m_type(type), m_length(wLength) {}
    KxRecordKey(const KxRecordKey&) = default;
    // Fails unless the other key is of the same type and length.
    void CheckSameKind(const KxRecordKey& other) const;

private:
    char m_type;
    int16_t m_length;
};
