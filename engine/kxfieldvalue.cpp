#include "kxfieldvalue.h"

#include <cstring>

#include "kxblob.h"
#include "kxexception.h"
#include "kxfield.h"

namespace {

constexpr const char* kClass = "KxFieldValue";

template <typename T> int Order(T a, T b) { return a < b ? -1 : (b < a ? 1 : 0); }

} // namespace

KxFieldValue::KxFieldValue() = default;

KxFieldValue::KxFieldValue(char type) {
    KX_TRY
        SetType(type);
    KX_CATCH("Constructor", kClass)
}

KxFieldValue::KxFieldValue(const KxFieldValue& other) : KxArrayPointerObject() {
    KX_TRY
        *this = other;
    KX_CATCH("Copy Constructor", kClass)
}

KxFieldValue& KxFieldValue::operator=(const KxFieldValue& other) {
    KX_TRY
        if (this == &other) return *this;
        // The blob is copied first, so that a failure leaves this value as it was.
        KxBlob* blob = other.m_blob != nullptr ? new KxBlob(*other.m_blob) : nullptr;
        try {
            m_string = other.m_string;
            m_chunk = other.m_chunk;
        } catch (...) {
            delete blob;
            throw;
        }
        delete m_blob;
        m_blob = blob;
        m_type = other.m_type;
        m_bool = other.m_bool;
        m_short = other.m_short;
        m_unsignedShort = other.m_unsignedShort;
        m_long = other.m_long;
        m_unsignedLong = other.m_unsignedLong;
        m_double = other.m_double;
        m_date = other.m_date;
        m_time = other.m_time;
        m_timestamp = other.m_timestamp;
        return *this;
    KX_CATCH_STD("Assignment operator", kClass)
}

KxFieldValue::~KxFieldValue() { delete m_blob; }

KxFieldValue* KxFieldValue::Clone() const {
    KX_TRY
        return new KxFieldValue(*this);
    KX_CATCH_STD("Clone()", kClass)
}

void KxFieldValue::SetType(char type) {
    KX_TRY
        // Only the letters of field types: the name check fails for any other.
        KxField::GetTypeCString(type);
        if (type == kxCurrencyField)
            KxGenerateException("The character, '%c', is not a valid field type.", kClass, type);
        KxBlob* blob = type == kxBlobField ? new KxBlob() : nullptr;
        KxFieldValue empty;
        m_string = empty.m_string;
        m_chunk.Resize(0);
        delete m_blob;
        m_blob = blob;
        m_bool = false;
        m_short = 0;
        m_unsignedShort = 0;
        m_long = 0;
        m_unsignedLong = 0;
        m_double = 0;
        m_date = empty.m_date;
        m_time = empty.m_time;
        m_timestamp = empty.m_timestamp;
        m_type = type;
    KX_CATCH_STD("SetType()", kClass)
}

void KxFieldValue::SetBool(bool value) {
    KX_TRY
        SetType(kxBooleanField);
        m_bool = value;
    KX_CATCH("SetBool()", kClass)
}

void KxFieldValue::SetShort(int16_t value) {
    KX_TRY
        SetType(kxShortField);
        m_short = value;
    KX_CATCH("SetShort()", kClass)
}

void KxFieldValue::SetUnsignedShort(uint16_t value) {
    KX_TRY
        SetType(kxUnsignedShortField);
        m_unsignedShort = value;
    KX_CATCH("SetUnsignedShort()", kClass)
}

void KxFieldValue::SetLong(int32_t value) {
    KX_TRY
        SetType(kxLongField);
        m_long = value;
    KX_CATCH("SetLong()", kClass)
}

void KxFieldValue::SetUnsignedLong(uint32_t value) {
    KX_TRY
        SetType(kxUnsignedLongField);
        m_unsignedLong = value;
    KX_CATCH("SetUnsignedLong()", kClass)
}

void KxFieldValue::SetDouble(double value) {
    KX_TRY
        SetType(kxNumberField);
        m_double = value;
    KX_CATCH("SetDouble()", kClass)
}

void KxFieldValue::SetString(const char* sValue) {
    KX_TRY
        KxString value(sValue);
        SetType(kxAlphaField);
        m_string = value;
    KX_CATCH("SetString()", kClass)
}

void KxFieldValue::SetDate(const KxDate& value) {
    KX_TRY
        SetType(kxDateField);
        m_date = value;
    KX_CATCH("SetDate()", kClass)
}

void KxFieldValue::SetTime(const KxTime& value) {
    KX_TRY
        SetType(kxTimeField);
        m_time = value;
    KX_CATCH("SetTime()", kClass)
}

void KxFieldValue::SetTimestamp(const KxTimestamp& value) {
    KX_TRY
        SetType(kxTimestampField);
        m_timestamp = value;
    KX_CATCH("SetTimestamp()", kClass)
}

void KxFieldValue::SetChunk(const KxResizableChunk& value) {
    KX_TRY
        KxResizableChunk copy(value);
        SetType(kxBinaryField);
        m_chunk.Swap(copy);
    KX_CATCH("SetChunk()", kClass)
}

void KxFieldValue::SetBlob(const KxBlob& value) {
    KX_TRY
        KxBlob copy(value);
        SetType(kxBlobField);
        *m_blob = copy;
    KX_CATCH("SetBlob()", kClass)
}

void KxFieldValue::Check(char type, const char* sLabel) const {
    if (m_type != type) {
        KxException e("Cannot treat a field value of type \"%s\" as type \"%s\".", kClass,
                      KxFieldType::GetTypeName(m_type), KxFieldType::GetTypeName(type));
        e.AddCallpath(sLabel, kClass);
        throw e;
    }
}

// The accessors: the value in the representation of one letter.
#define KX_FIELD_VALUE_ACCESSOR(Name, Type, Letter, Member)                                       \
    Type& KxFieldValue::Name() {                                                                   \
        Check(Letter, #Name "()");                                                                 \
        return Member;                                                                             \
    }                                                                                              \
    Type KxFieldValue::Name() const {                                                              \
        Check(Letter, #Name "()");                                                                 \
        return Member;                                                                             \
    }
#define KX_FIELD_VALUE_OBJECT_ACCESSOR(Name, Type, Letter, Member)                                \
    Type& KxFieldValue::Name() {                                                                   \
        Check(Letter, #Name "()");                                                                 \
        return Member;                                                                             \
    }                                                                                              \
    const Type& KxFieldValue::Name() const {                                                       \
        Check(Letter, #Name "()");                                                                 \
        return Member;                                                                             \
    }

KX_FIELD_VALUE_ACCESSOR(AsBool_TypeEnforced, bool, kxBooleanField, m_bool)
KX_FIELD_VALUE_ACCESSOR(AsDouble_TypeEnforced, double, kxNumberField, m_double)
KX_FIELD_VALUE_ACCESSOR(AsLong_TypeEnforced, int32_t, kxLongField, m_long)
KX_FIELD_VALUE_ACCESSOR(AsShort_TypeEnforced, int16_t, kxShortField, m_short)
KX_FIELD_VALUE_ACCESSOR(AsUnsignedLong_TypeEnforced, uint32_t, kxUnsignedLongField,
                        m_unsignedLong)
KX_FIELD_VALUE_ACCESSOR(AsUnsignedShort_TypeEnforced, uint16_t, kxUnsignedShortField,
                        m_unsignedShort)
KX_FIELD_VALUE_OBJECT_ACCESSOR(AsKxBlob_TypeEnforced, KxBlob, kxBlobField, *m_blob)
KX_FIELD_VALUE_OBJECT_ACCESSOR(AsKxDate_TypeEnforced, KxDate, kxDateField, m_date)
KX_FIELD_VALUE_OBJECT_ACCESSOR(AsKxResizableChunk_TypeEnforced, KxResizableChunk, kxBinaryField,
                               m_chunk)
KX_FIELD_VALUE_OBJECT_ACCESSOR(AsKxString_TypeEnforced, KxString, kxAlphaField, m_string)
KX_FIELD_VALUE_OBJECT_ACCESSOR(AsKxTime_TypeEnforced, KxTime, kxTimeField, m_time)
KX_FIELD_VALUE_OBJECT_ACCESSOR(AsKxTimestamp_TypeEnforced, KxTimestamp, kxTimestampField,
                               m_timestamp)

const char* KxFieldValue::AsCString_TypeEnforced() const {
    Check(kxAlphaField, "AsCString_TypeEnforced()");
    return m_string.GetCString();
}

int KxFieldValue::ComparedTo(const KxFieldValue& other) const {
    KX_TRY
        if (m_type != other.m_type)
            KxGenerateException("Cannot compare KxFieldValue of type %s to KxFieldValue of type %s.",
                                kClass, KxFieldType::GetTypeName(m_type),
                                KxFieldType::GetTypeName(other.m_type));
        switch (m_type) {
        case kxAlphaField:
            return Order(strcmp(m_string.GetCString(), other.m_string.GetCString()), 0);
        case kxBooleanField:
            return Order(m_bool, other.m_bool);
        case kxShortField:
            return Order(m_short, other.m_short);
        case kxUnsignedShortField:
            return Order(m_unsignedShort, other.m_unsignedShort);
        case kxLongField:
            return Order(m_long, other.m_long);
        case kxUnsignedLongField:
            return Order(m_unsignedLong, other.m_unsignedLong);
        case kxNumberField:
            return Order(m_double, other.m_double);
        case kxDateField:
            return Order(m_date.CompareTo(other.m_date), 0);
        case kxTimeField:
            return Order(m_time.CompareTo(other.m_time), 0);
        case kxTimestampField:
            return Order(m_timestamp.CompareTo(other.m_timestamp), 0);
        default:
            KxGenerateException("Cannot compare KxFieldValues of type %s.", kClass,
                                KxFieldType::GetTypeName(m_type));
        }
    KX_CATCH("ComparedTo()", kClass)
}

bool KxFieldValue::IsLessThan(const KxFieldValue& other) const {
    KX_TRY
        return ComparedTo(other) < 0;
    KX_CATCH("IsLessThan()", kClass)
}
