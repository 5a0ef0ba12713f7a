#include "kxrecord.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "kxalloc.h"
#include "kxblob.h"
#include "kxengineexceptions.h"
#include "kxfield.h"
#include "kxfieldtext.h"
#include "kxfieldvalue.h"
#include "kxstream.h"
#include "kxtimestamp.h"

namespace {

constexpr const char* kRecord = "KxRecord";
constexpr const char* kVariable = "KxRecordVariable";
constexpr const char* kFileRecord = "KxFileRecord";

// Field lengths are 16-bit signed; a negative one holds nothing.
uint32_t LengthOf(int16_t wLength) { return wLength > 0 ? static_cast<uint32_t>(wLength) : 0; }

// A zeroed block of at least one byte, so that its data pointer is never null.
KxResizableChunk ZeroedBlock(uint32_t ulSize) {
    return KxResizableChunk(static_cast<int32_t>(std::max<uint32_t>(ulSize, 1)), '\0');
}

char* TextOf(KxResizableChunk& block) { return block.AsPtrAtOffset<char>(0); }

void NeedDestination(uint32_t ulHave, uint32_t ulNeed) {
    if (ulHave < ulNeed)
        KxGenerateException("Buffer %u too small in GetField() of KxFileRecord; need buffer length "
                            "of %u",
                            kFileRecord, ulHave, ulNeed);
}

// Copies a text into a caller's text buffer, cut to fit and always NUL-terminated.
void CopyText(char* pDest, uint32_t ulDestLength, const char* pText, size_t length) {
    if (ulDestLength == 0) return;
    size_t n = std::min<size_t>(length, ulDestLength - 1);
    if (n > 0) memcpy(pDest, pText, n);
    pDest[n] = '\0';
}

// The conversion failures of AlphaToField: the message names the whole text given.
[[noreturn]] void ThrowMalformed(const char* format, char type, const char* pText) {
    KxString message;
    message.printf(format, pText);
    KxMalformedDataException e(message.GetCString(), kFileRecord, type, pText);
    e.AddCallpath("KxConvertValue()", nullptr);
    throw e;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Optional sign (a minus only when allowed), then one or more digits and nothing else. The value
// is taken exactly, so a long run of digits is too large rather than wrapped.
void ParseInteger(const char* pText, const char* p, char type, bool allowMinus, int64_t lLow,
                  int64_t lHigh, const char* sNotValid, const char* sDoesNotFit, int64_t& value) {
    bool negative = false;
    if (*p == '+' || (allowMinus && *p == '-')) negative = *p++ == '-';
    if (*p == '\0') ThrowMalformed(sNotValid, type, pText);
    for (const char* q = p; *q != '\0'; ++q)
        if (!IsDigit(*q)) ThrowMalformed(sNotValid, type, pText);
    while (*p == '0' && p[1] != '\0') ++p;
    if (strlen(p) > 10) ThrowMalformed(sDoesNotFit, type, pText);
    int64_t v = 0;
    for (; *p != '\0'; ++p) v = v * 10 + (*p - '0');
    if (negative) v = -v;
    if (v < lLow || v > lHigh) ThrowMalformed(sDoesNotFit, type, pText);
    value = v;
}

// A decimal floating-point number that takes up the whole rest of the text: no "inf", "nan" or
// hexadecimal forms, and nothing beyond the range of a double. Parsed without the C locale, which
// a GUI toolkit may have switched to one with a decimal comma.
double ParseDouble(const char* pText, const char* p, char type) {
    const char* sNotValid = "\"%s\" is not a valid double";
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    while (IsDigit(*p)) ++p, ++digits;
    if (*p == '.') {
        ++p;
        while (IsDigit(*p)) ++p, ++digits;
    }
    if (digits == 0) ThrowMalformed(sNotValid, type, pText);
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (!IsDigit(*p)) ThrowMalformed(sNotValid, type, pText);
        while (IsDigit(*p)) ++p;
    }
    if (*p != '\0') ThrowMalformed(sNotValid, type, pText);
    if (*start == '+') ++start;
    double value = 0;
    std::from_chars_result r = std::from_chars(start, p, value, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != p) ThrowMalformed(sNotValid, type, pText);
    return value;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return *a == *b;
}

// "%-10.*f" without the padding, which the display text strips anyway; independent of the
// locale. A negative precision means printf's default of 6.
KxString FixedText(double value, int16_t wPrecision) {
    int precision = wPrecision < 0 ? 6 : wPrecision;
    std::string buffer(static_cast<size_t>(precision) + 400, '\0');
    std::to_chars_result r = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                           std::chars_format::fixed, precision);
    if (r.ec != std::errc()) return KxString();
    *r.ptr = '\0';
    return KxString(buffer.c_str());
}

template <typename T> KxString IntegerText(T value) {
    char buffer[32];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer - 1, value);
    *r.ptr = '\0';
    return KxString(buffer);
}

// The converted value of a field in the binary form AlphaToField writes.
union NumericValue {
    double number;
    int32_t lng;
    int16_t shrt;
    uint32_t ulong;
    uint16_t ushort;
    bool boolean;
};

// Keeps a record's stored form so that an operation failing halfway can put it back.
class RawSnapshot {
public:
    explicit RawSnapshot(const KxRecord& record) : m_bytes(ZeroedBlock(record.GetBufferLength())) {
        record.GetRawData(m_bytes.GetData());
    }
    void Restore(KxRecord& record) noexcept {
        try {
            record.SetRawData(m_bytes.GetData());
        } catch (...) {
        }
    }

private:
    KxResizableChunk m_bytes;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// KxRecord

KxRecord::~KxRecord() = default;

void KxRecord::CheckFieldIndexRange(uint16_t uwFieldIndex) const {
    KX_TRY
        if (!IsFieldIndexInRange(uwFieldIndex))
            KxGenerateException("The field index (value=%d) is not in range [%d, %d].", kRecord,
                                static_cast<int>(uwFieldIndex), 0,
                                static_cast<int>(GetFieldCount()) - 1);
    KX_CATCH("CheckFieldIndexRange()", kRecord)
}

bool KxRecord::IsFieldIndexInRange(uint16_t uwFieldIndex) const {
    return uwFieldIndex < GetFieldCount();
}

void KxRecord::RetrieveFieldValue(uint16_t uwFieldIndex, KxFieldValue& value) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        if (GetIsBlank(uwFieldIndex))
            KxGenerateException("Cannot retrieve a field value from a blank field "
                                "(uwFieldIndex=%d).",
                                kRecord, static_cast<int>(uwFieldIndex));
        char fieldType = GetFieldType(uwFieldIndex);
        char valueType = value.GetType();
        if (valueType != fieldType) {
            const char* sValueType = KxField::GetTypeCString(valueType);
            const char* sFieldType = KxField::GetTypeCString(fieldType);
            KxGenerateException("Cannot retrieve a field value of type %s from a field of type %s.",
                                kRecord, sValueType, sFieldType);
        }
        switch (fieldType) {
        case kxTimestampField: GetTimestamp(uwFieldIndex, value.AsKxTimestamp_TypeEnforced()); break;
        case kxAlphaField: {
            KxResizableChunk buffer = ZeroedBlock(LengthOf(GetFieldLength(uwFieldIndex)) + 1);
            GetAlpha(uwFieldIndex, TextOf(buffer), static_cast<uint32_t>(buffer.GetSize()), true);
            value.AsKxString_TypeEnforced().Copy(TextOf(buffer));
            break;
        }
        case kxDateField: GetDate(uwFieldIndex, value.AsKxDate_TypeEnforced()); break;
        case kxLongField: value.AsLong_TypeEnforced() = GetLong(uwFieldIndex); break;
        case kxBooleanField: value.AsBool_TypeEnforced() = GetBoolean(uwFieldIndex); break;
        case kxNumberField: value.AsDouble_TypeEnforced() = GetNumber(uwFieldIndex); break;
        case kxShortField: value.AsShort_TypeEnforced() = GetShort(uwFieldIndex); break;
        case kxTimeField: GetTime(uwFieldIndex, value.AsKxTime_TypeEnforced()); break;
        case kxUnsignedShortField:
            value.AsUnsignedShort_TypeEnforced() = GetUnsignedShort(uwFieldIndex);
            break;
        case kxUnsignedLongField:
            value.AsUnsignedLong_TypeEnforced() = GetUnsignedLong(uwFieldIndex);
            break;
        case kxBinaryField: {
            uint32_t length = LengthOf(GetFieldLength(uwFieldIndex));
            KxResizableChunk buffer = ZeroedBlock(length);
            GetBinary(uwFieldIndex, buffer.GetData());
            buffer.Resize(static_cast<int32_t>(length));
            value.AsKxResizableChunk_TypeEnforced() = buffer;
            break;
        }
        case kxBlobField:
            KxGenerateException("RetrieveFieldValue not defined in this class for KxFieldValues of "
                                "type %s.",
                                kRecord, KxField::GetTypeCString(fieldType));
        default:
            KxGenerateException("This function is not setup to handle type '%c'.", kRecord,
                                fieldType);
        }
    KX_CATCH_STD("RetrieveFieldValue()", kRecord)
}

void KxRecord::PutFieldValue(uint16_t uwFieldIndex, const KxFieldValue& value) {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        char fieldType = GetFieldType(uwFieldIndex);
        char valueType = value.GetType();
        if (valueType != fieldType) {
            const char* sValueType = KxField::GetTypeCString(valueType);
            const char* sFieldType = KxField::GetTypeCString(fieldType);
            KxGenerateException("Cannot put a field value of type %s into a field of type %s.",
                                kRecord, sValueType, sFieldType);
        }
        switch (fieldType) {
        case kxTimestampField: PutTimestamp(uwFieldIndex, value.AsKxTimestamp_TypeEnforced()); break;
        case kxAlphaField: PutAlpha(uwFieldIndex, value.AsCString_TypeEnforced()); break;
        case kxDateField: PutDate(uwFieldIndex, value.AsKxDate_TypeEnforced()); break;
        case kxLongField: PutLong(uwFieldIndex, value.AsLong_TypeEnforced()); break;
        case kxBooleanField: PutBoolean(uwFieldIndex, value.AsBool_TypeEnforced()); break;
        case kxNumberField: PutNumber(uwFieldIndex, value.AsDouble_TypeEnforced()); break;
        case kxShortField: PutShort(uwFieldIndex, value.AsShort_TypeEnforced()); break;
        case kxTimeField: PutTime(uwFieldIndex, value.AsKxTime_TypeEnforced()); break;
        case kxUnsignedShortField:
            PutUnsignedShort(uwFieldIndex, value.AsUnsignedShort_TypeEnforced());
            break;
        case kxUnsignedLongField:
            PutUnsignedLong(uwFieldIndex, value.AsUnsignedLong_TypeEnforced());
            break;
        case kxBinaryField: {
            // The putter takes exactly field-length bytes: a shorter value is padded with zeros.
            const KxResizableChunk& bytes = value.AsKxResizableChunk_TypeEnforced();
            uint32_t length = LengthOf(GetFieldLength(uwFieldIndex));
            KxResizableChunk buffer = ZeroedBlock(length);
            uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(bytes.GetSize()));
            if (n > 0) memcpy(buffer.GetData(), bytes.GetData(), n);
            PutBinary(uwFieldIndex, buffer.GetData());
            break;
        }
        case kxBlobField:
            KxGenerateException("PutFieldValue not defined in this class for KxFieldValues of type "
                                "%s.",
                                kRecord, KxField::GetTypeCString(fieldType));
        default:
            KxGenerateException("This function is not setup to handle type '%c'.", kRecord,
                                fieldType);
        }
    KX_CATCH_STD("PutFieldValue()", kRecord)
}

// ---------------------------------------------------------------------------------------------
// KxRecordVariable

KxRecordVariable::~KxRecordVariable() = default;

void KxRecordVariable::RetrieveFieldValue(uint16_t uwFieldIndex, KxFieldValue& value) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        if (GetFieldType(uwFieldIndex) == kxBlobField && value.GetType() == kxBlobField) {
            if (GetIsBlank(uwFieldIndex))
                KxGenerateException("Cannot retrieve a field value from a blank field "
                                    "(uwFieldIndex=%d).",
                                    kVariable, static_cast<int>(uwFieldIndex));
            GetBLOB(uwFieldIndex, value.AsKxBlob_TypeEnforced());
            return;
        }
        KxRecord::RetrieveFieldValue(uwFieldIndex, value);
    KX_CATCH_STD("RetrieveFieldValue()", kVariable)
}

void KxRecordVariable::PutFieldValue(uint16_t uwFieldIndex, const KxFieldValue& value) {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        if (GetFieldType(uwFieldIndex) == kxBlobField && value.GetType() == kxBlobField) {
            PutBLOB(uwFieldIndex, value.AsKxBlob_TypeEnforced());
            return;
        }
        KxRecord::PutFieldValue(uwFieldIndex, value);
    KX_CATCH_STD("PutFieldValue()", kVariable)
}

// ---------------------------------------------------------------------------------------------
// KxFileRecord: layout

KxFileRecord::KxFileRecord(const KxPointerVector<KxField>* pFields, KxBlobFile* pBlobFile)
    : m_pFields(pFields), m_pBlobFile(pBlobFile) {}

KxFileRecord::~KxFileRecord() = default;

uint16_t KxFileRecord::GetFieldCount() const {
    if (m_pFields == nullptr) return 0;
    return static_cast<uint16_t>(std::min<size_t>(m_pFields->size(), UINT16_MAX));
}

const KxField& KxFileRecord::GetFieldDefinition(uint16_t uwFieldIndex) const {
    KX_TRY
        if (m_pFields == nullptr) KxThrowVectorIndexError(uwFieldIndex, 0, 0);
        const KxField* pField = m_pFields->At(uwFieldIndex);
        if (pField == nullptr)
            KxGenerateException("Field %hu has no definition", kFileRecord, uwFieldIndex);
        return *pField;
    KX_CATCH("GetFieldDefinition()", kFileRecord)
}

int16_t KxFileRecord::GetFieldLength(uint16_t uwFieldIndex) const {
    KX_TRY
        return GetFieldDefinition(uwFieldIndex).GetLength();
    KX_CATCH("GetFieldLength()", kFileRecord)
}

char KxFileRecord::GetFieldType(uint16_t uwFieldIndex) const {
    KX_TRY
        return GetFieldDefinition(uwFieldIndex).GetType();
    KX_CATCH("GetFieldType()", kFileRecord)
}

const char* KxFileRecord::GetFieldName(uint16_t uwFieldIndex) const {
    KX_TRY
        return GetFieldDefinition(uwFieldIndex).GetName();
    KX_CATCH("GetFieldName()", kFileRecord)
}

uint16_t KxFileRecord::CalculateRecordLength(const KxPointerVector<KxField>& fields,
                                             uint16_t uwBias) {
    uint16_t end = 0;
    for (const KxField* pField : fields) {
        if (pField == nullptr) continue;
        uint16_t fieldEnd = static_cast<uint16_t>(pField->GetByteOffset() +
                                                  static_cast<uint16_t>(pField->GetLength()));
        end = std::max(end, fieldEnd);
    }
    return static_cast<uint16_t>(end - uwBias);
}

// ---------------------------------------------------------------------------------------------
// KxFileRecord: raw values and display text

void KxFileRecord::GetField(uint16_t uwFieldIndex, void* pDest, uint32_t ulDestLength) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        if (pDest == nullptr) KxGenerateException("Null pointer passed to GetField", kFileRecord);
        char type = GetFieldType(uwFieldIndex);
        bool blank = GetIsBlank(uwFieldIndex);
        char* pText = static_cast<char*>(pDest);
        switch (type) {
        case kxNumberField:
        case kxCurrencyField: {
            NeedDestination(ulDestLength, sizeof(double));
            double v = blank ? kxBlankNumber : GetNumber(uwFieldIndex);
            memcpy(pDest, &v, sizeof v);
            break;
        }
        case kxLongField: {
            NeedDestination(ulDestLength, sizeof(int32_t));
            int32_t v = blank ? kxBlankLong : GetLong(uwFieldIndex);
            memcpy(pDest, &v, sizeof v);
            break;
        }
        case kxShortField: {
            NeedDestination(ulDestLength, sizeof(int16_t));
            int16_t v = blank ? kxBlankShort : GetShort(uwFieldIndex);
            memcpy(pDest, &v, sizeof v);
            break;
        }
        case kxUnsignedShortField: {
            NeedDestination(ulDestLength, sizeof(uint16_t));
            uint16_t v = blank ? kxBlankUnsignedShort : GetUnsignedShort(uwFieldIndex);
            memcpy(pDest, &v, sizeof v);
            break;
        }
        case kxUnsignedLongField: {
            NeedDestination(ulDestLength, sizeof(uint32_t));
            uint32_t v = blank ? kxBlankUnsignedLong : GetUnsignedLong(uwFieldIndex);
            memcpy(pDest, &v, sizeof v);
            break;
        }
        case kxBooleanField: {
            NeedDestination(ulDestLength, sizeof(bool));
            bool v = blank ? false : GetBoolean(uwFieldIndex);
            memcpy(pDest, &v, sizeof v);
            break;
        }
        case kxAlphaField: {
            uint32_t need = LengthOf(GetFieldLength(uwFieldIndex)) + 1;
            NeedDestination(ulDestLength, need);
            if (blank)
                pText[0] = '\0';
            else
                GetAlpha(uwFieldIndex, pText, ulDestLength, true);
            break;
        }
        case kxDateField: {
            NeedDestination(ulDestLength, 9);
            pText[0] = '\0';
            if (!blank) {
                KxDate date;
                GetDate(uwFieldIndex, date);
                CopyText(pText, ulDestLength, date.GetText().GetCString(), 8);
            }
            break;
        }
        case kxTimestampField: {
            NeedDestination(ulDestLength, KxTimestamp::kxTextLength + 1);
            KxTimestamp timestamp;
            if (!blank) GetTimestamp(uwFieldIndex, timestamp);
            CopyText(pText, ulDestLength, timestamp.GetCString(), KxTimestamp::kxTextLength);
            break;
        }
        case kxTimeField: {
            NeedDestination(ulDestLength, 10);
            KxTime time;
            if (!blank) GetTime(uwFieldIndex, time);
            CopyText(pText, ulDestLength, time.GetCString(), 9);
            break;
        }
        case kxBlobField: {
            // The text is cut so that it always ends in a NUL inside the destination.
            if (ulDestLength == 0) break;
            pText[ulDestLength - 1] = '\0';
            pText[0] = '\0';
            if (blank) break;
            KxBlob blob;
            GetBLOB(uwFieldIndex, blob);
            CopyText(pText, ulDestLength, static_cast<const char*>(blob.GetData()),
                     blob.GetSize());
            break;
        }
        case kxBinaryField:
            NeedDestination(ulDestLength, LengthOf(GetFieldLength(uwFieldIndex)));
            GetBinary(uwFieldIndex, pDest);
            break;
        default: KxGenerateException("Unknown field type", kFileRecord);
        }
    KX_CATCH_STD("GetField()", kFileRecord)
}

namespace {

// The default display text of a field's raw value; numbers and times are stripped of blanks and
// control characters at both ends, texts are shown as they are.
KxString DefaultText(const KxFileRecord& record, uint16_t uwFieldIndex, const KxField& field) {
    char type = field.GetType();
    bool blank = record.GetIsBlank(uwFieldIndex);
    KxString text;
    switch (type) {
    case kxNumberField:
    case kxCurrencyField: {
        double v = blank ? kxBlankNumber : record.GetNumber(uwFieldIndex);
        if (v != kxBlankNumber) text = FixedText(v, field.GetPrecision());
        break;
    }
    case kxLongField: {
        int32_t v = blank ? kxBlankLong : record.GetLong(uwFieldIndex);
        if (v != kxBlankLong) text = IntegerText(v);
        break;
    }
    case kxShortField: {
        int16_t v = blank ? kxBlankShort : record.GetShort(uwFieldIndex);
        if (v != kxBlankShort) text = IntegerText(v);
        break;
    }
    case kxUnsignedShortField: {
        uint16_t v = blank ? kxBlankUnsignedShort : record.GetUnsignedShort(uwFieldIndex);
        if (v != 0) text = IntegerText(v);
        break;
    }
    case kxUnsignedLongField: {
        uint32_t v = blank ? kxBlankUnsignedLong : record.GetUnsignedLong(uwFieldIndex);
        if (v != 0) text = IntegerText(v);
        break;
    }
    case kxBooleanField:
        text = (!blank && record.GetBoolean(uwFieldIndex)) ? "True" : "False";
        break;
    case kxTimestampField: {
        KxTimestamp timestamp;
        if (!blank) record.GetTimestamp(uwFieldIndex, timestamp);
        text = timestamp.GetCString();
        break;
    }
    case kxTimeField: {
        KxTime time;
        if (!blank) record.GetTime(uwFieldIndex, time);
        text = time.GetCString();
        break;
    }
    case kxAlphaField:
    case kxDateField:
    case kxBinaryField: {
        KxResizableChunk buffer = ZeroedBlock(std::max<uint32_t>(LengthOf(field.GetLength()), 8) + 1);
        record.GetField(uwFieldIndex, buffer.GetData(), static_cast<uint32_t>(buffer.GetSize()));
        buffer.AsPtrAtOffset<char>(buffer.GetSize() - 1)[0] = '\0';
        return KxString(TextOf(buffer));
    }
    case kxBlobField: {
        if (blank) return text;
        KxBlob blob;
        record.GetBLOB(uwFieldIndex, blob);
        return KxString(blob.GetText());
    }
    default: KxGenerateException("Unknown field type", kFileRecord);
    }
    KxResizableChunk buffer = ZeroedBlock(static_cast<uint32_t>(text.GetLength()) + 1);
    memcpy(buffer.GetData(), text.GetCString(), static_cast<size_t>(text.GetLength()));
    KxDeblank(TextOf(buffer));
    return KxString(TextOf(buffer));
}

} // namespace

void KxFileRecord::GetField(uint16_t uwFieldIndex, char* pDest, uint32_t ulDestLength,
                            bool formatted) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        if (pDest == nullptr) KxGenerateException("Null pointer passed to GetField", kFileRecord);
        if (ulDestLength == 0) return;
        KxField& field = const_cast<KxField&>(GetFieldDefinition(uwFieldIndex));
        char option = field.GetFormatOption();
        KxString text;
        if (formatted && option != KxField::kxShowRaw) {
            if (option != KxField::kxShowFormatted && option != KxField::kxShowFiltered)
                KxGenerateException("Unknown format type", kFileRecord);
            if (!KxFieldText::Show(*this, uwFieldIndex, field, ulDestLength, text))
                text = DefaultText(*this, uwFieldIndex, field);
        } else if (!GetIsBlank(uwFieldIndex)) {
            text = DefaultText(*this, uwFieldIndex, field);
        }
        CopyText(pDest, ulDestLength, text.GetCString(), static_cast<size_t>(text.GetLength()));
    KX_CATCH_STD("GetField()", kFileRecord)
}

// ---------------------------------------------------------------------------------------------
// KxFileRecord: parsing text

bool KxFileRecord::AlphaToField(void* pDest, const char* pText, char cType) {
    KX_TRY
        if (pText == nullptr) pText = "";
        const char* p = pText;
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
        int64_t value = 0;
        switch (cType) {
        case kxNumberField:
        case kxCurrencyField: {
            double d = ParseDouble(pText, p, cType);
            memcpy(pDest, &d, sizeof d);
            return true;
        }
        case kxLongField: {
            ParseInteger(pText, p, cType, true, INT32_MIN, INT32_MAX, "\"%s\" is not a valid long",
                         "\"%s\" does not fit in a long", value);
            int32_t v = static_cast<int32_t>(value);
            memcpy(pDest, &v, sizeof v);
            return true;
        }
        case kxShortField: {
            ParseInteger(pText, p, cType, true, INT16_MIN, INT16_MAX, "\"%s\" is not a valid short",
                         "\"%s\" does not fit in a short", value);
            int16_t v = static_cast<int16_t>(value);
            memcpy(pDest, &v, sizeof v);
            return true;
        }
        case kxUnsignedLongField: {
            ParseInteger(pText, p, cType, false, 0, UINT32_MAX,
                         "\"%s\" is not a valid unsigned long",
                         "\"%s\" does not fit in an unsigned long", value);
            uint32_t v = static_cast<uint32_t>(value);
            memcpy(pDest, &v, sizeof v);
            return true;
        }
        case kxUnsignedShortField: {
            ParseInteger(pText, p, cType, false, 0, UINT16_MAX,
                         "\"%s\" is not a valid unsigned short",
                         "\"%s\" does not fit in an unsigned short", value);
            uint16_t v = static_cast<uint16_t>(value);
            memcpy(pDest, &v, sizeof v);
            return true;
        }
        case kxBooleanField: {
            bool v = strcmp(p, "1") == 0 || EqualsIgnoringCase(p, "Y") ||
                     EqualsIgnoringCase(p, "YES") || EqualsIgnoringCase(p, "T") ||
                     EqualsIgnoringCase(p, "TRUE");
            memcpy(pDest, &v, sizeof v);
            return true;
        }
        default: return false;
        }
    KX_CATCH("AlphaToField()", kFileRecord)
}

void KxFileRecord::PutField(uint16_t uwFieldIndex, const char* pText, int16_t iMode) {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        if (pText == nullptr || *pText == '\0') {
            PutBlank(uwFieldIndex);
            return;
        }
        KxField& field = const_cast<KxField&>(GetFieldDefinition(uwFieldIndex));
        if (iMode == 3) iMode = static_cast<unsigned char>(field.GetFormatOption());
        char type = field.GetType();
        NumericValue converted{};
        KxString holder;
        if (iMode == 0) {
            AlphaToField(&converted, pText, type);
        } else if (iMode == 1 || iMode == 2) {
            // The text the format or filter stands for replaces the display text; none is blank.
            pText = KxFieldText::Parse(field, iMode, pText, &converted, holder);
            if (pText == nullptr) {
                PutBlank(uwFieldIndex);
                return;
            }
        } else {
            KxGenerateException("Unknown format type", kFileRecord);
        }
        switch (type) {
        case kxNumberField:
        case kxCurrencyField: PutNumber(uwFieldIndex, converted.number); break;
        case kxLongField: PutLong(uwFieldIndex, converted.lng); break;
        case kxShortField: PutShort(uwFieldIndex, converted.shrt); break;
        case kxUnsignedShortField: PutUnsignedShort(uwFieldIndex, converted.ushort); break;
        case kxUnsignedLongField: PutUnsignedLong(uwFieldIndex, converted.ulong); break;
        case kxBooleanField: PutBoolean(uwFieldIndex, converted.boolean); break;
        case kxTimestampField: {
            KxTimestamp timestamp;
            timestamp.SetCString(pText);
            PutTimestamp(uwFieldIndex, timestamp);
            break;
        }
        case kxDateField: {
            KxDate date;
            date.SetCString(pText);
            PutDate(uwFieldIndex, date);
            break;
        }
        case kxTimeField: {
            KxTime time;
            time.SetCString(pText);
            PutTime(uwFieldIndex, time);
            break;
        }
        case kxAlphaField: PutAlpha(uwFieldIndex, pText); break;
        case kxBlobField: {
            KxBlob blob(pText, static_cast<uint32_t>(strlen(pText)));
            PutBLOB(uwFieldIndex, blob);
            break;
        }
        case kxBinaryField: {
            uint32_t length = LengthOf(field.GetLength());
            KxResizableChunk buffer = ZeroedBlock(length);
            memcpy(buffer.GetData(), pText, std::min<size_t>(strlen(pText), length));
            PutBinary(uwFieldIndex, buffer.GetData());
            break;
        }
        default: KxGenerateException("Invalid field type", kFileRecord);
        }
    KX_CATCH_STD("PutField()", kFileRecord)
}

// ---------------------------------------------------------------------------------------------
// KxFileRecord: bulk operations

namespace {

// The fields first .. first + count - 1, or all of them for a count of 0.
void BulkRange(uint16_t uwFieldCount, uint16_t& uwCount, uint16_t& uwFirst, const char* sMessage) {
    if (uwCount == 0) {
        uwFirst = 0;
        uwCount = uwFieldCount;
        return;
    }
    if (static_cast<uint32_t>(uwFirst) + uwCount > uwFieldCount)
        KxGenerateException("%s", kFileRecord, sMessage);
}

} // namespace

void KxFileRecord::GetAllFields(char** ppTexts, uint16_t uwCount, uint16_t uwFirst,
                                uint32_t ulBufferLength) const {
    KX_TRY
        BulkRange(GetFieldCount(), uwCount, uwFirst, "Attempt to GetFields past end of record");
        if (uwCount > 0 && ppTexts == nullptr)
            KxGenerateException("Null pointer passed to GetAllFields", kFileRecord);
        for (uint32_t i = uwFirst; i < static_cast<uint32_t>(uwFirst) + uwCount; ++i)
            GetField(static_cast<uint16_t>(i), ppTexts[i], ulBufferLength, true);
    KX_CATCH("GetAllFields()", kFileRecord)
}

void KxFileRecord::PutAllFields(const char* const* ppTexts, uint16_t uwCount, uint16_t uwFirst) {
    KX_TRY
        BulkRange(GetFieldCount(), uwCount, uwFirst, "Attempt to PutFields past end of record");
        if (uwCount > 0 && ppTexts == nullptr)
            KxGenerateException("Null pointer passed to PutAllFields", kFileRecord);
        for (uint32_t i = uwFirst; i < static_cast<uint32_t>(uwFirst) + uwCount; ++i)
            PutField(static_cast<uint16_t>(i), ppTexts[i], 3);
    KX_CATCH("PutAllFields()", kFileRecord)
}

bool KxFileRecord::GetAllFieldsBlank() const {
    KX_TRY
        for (uint16_t i = 0; i < GetFieldCount(); ++i)
            if (!GetIsBlank(i)) return false;
        return true;
    KX_CATCH("GetAllFieldsBlank()", kFileRecord)
}

void KxFileRecord::LoadFieldsFrom(const KxRecord& other) {
    KX_TRY
        uint16_t count = GetFieldCount();
        // Every type is checked before anything is copied, so a mismatch changes nothing.
        for (uint16_t i = 0; i < count; ++i) {
            char local = GetFieldType(i), theirs = other.GetFieldType(i);
            if (local != theirs)
                KxGenerateException("Field %hu has type '%c' locally, but passed in record has "
                                    "type '%c' for this field",
                                    kFileRecord, i, local, theirs);
        }
        RawSnapshot snapshot(*this);
        try {
            for (uint16_t i = 0; i < count; ++i) {
                char type = GetFieldType(i);
                if (other.GetIsBlank(i)) {
                    PutBlank(i);
                    continue;
                }
                switch (type) {
                case kxAlphaField: {
                    uint32_t size = std::max<uint32_t>(256, LengthOf(other.GetFieldLength(i)) + 1);
                    KxResizableChunk buffer = ZeroedBlock(size);
                    other.GetAlpha(i, TextOf(buffer), size, true);
                    PutAlpha(i, TextOf(buffer));
                    break;
                }
                case kxBinaryField: {
                    KxResizableChunk buffer = ZeroedBlock(std::max(
                        LengthOf(other.GetFieldLength(i)), LengthOf(GetFieldLength(i))));
                    other.GetBinary(i, buffer.GetData());
                    PutBinary(i, buffer.GetData());
                    break;
                }
                case kxBlobField: {
                    KxBlob blob;
                    other.GetBLOB(i, blob);
                    PutBLOB(i, blob);
                    break;
                }
                case kxBooleanField: PutBoolean(i, other.GetBoolean(i)); break;
                case kxDateField: {
                    KxDate date;
                    other.GetDate(i, date);
                    PutDate(i, date);
                    break;
                }
                case kxLongField: PutLong(i, other.GetLong(i)); break;
                case kxNumberField:
                case kxCurrencyField: PutNumber(i, other.GetNumber(i)); break;
                case kxShortField: PutShort(i, other.GetShort(i)); break;
                case kxTimeField: {
                    KxTime time;
                    other.GetTime(i, time);
                    PutTime(i, time);
                    break;
                }
                case kxTimestampField: {
                    KxTimestamp timestamp;
                    other.GetTimestamp(i, timestamp);
                    PutTimestamp(i, timestamp);
                    break;
                }
                case kxUnsignedLongField: PutUnsignedLong(i, other.GetUnsignedLong(i)); break;
                case kxUnsignedShortField: PutUnsignedShort(i, other.GetUnsignedShort(i)); break;
                default:
                    KxGenerateException("Invalid field type '%c' for field %hu", kFileRecord, type,
                                        i);
                }
            }
        } catch (...) {
            snapshot.Restore(*this);
            throw;
        }
    KX_CATCH_STD("LoadFieldsFrom()", kFileRecord)
}

// ---------------------------------------------------------------------------------------------
// KxFileRecord: blob references

void KxFileRecord::IncrementBlobReferences() {
    KX_TRY
        if (m_pBlobFile == nullptr) return;
        for (uint16_t i = 0; i < GetFieldCount(); ++i)
            if (GetFieldType(i) == kxBlobField && !GetIsBlank(i))
                m_pBlobFile->IncrementReferenceCount(GetBLOBIndex(i));
    KX_CATCH("IncrementBlobReferences()", kFileRecord)
}

void KxFileRecord::DecrementBlobReferences() {
    KX_TRY
        if (m_pBlobFile == nullptr) return;
        for (uint16_t i = 0; i < GetFieldCount(); ++i)
            if (GetFieldType(i) == kxBlobField && !GetIsBlank(i))
                m_pBlobFile->DecrementReferenceCount(GetBLOBIndex(i));
    KX_CATCH("DecrementBlobReferences()", kFileRecord)
}

void KxFileRecord::UpdateBlobReferences(const KxRecord& oldRecord) {
    KX_TRY
        if (m_pBlobFile == nullptr) return;
        for (uint16_t i = 0; i < GetFieldCount(); ++i) {
            if (GetFieldType(i) != kxBlobField) continue;
            bool newBlank = GetIsBlank(i), oldBlank = oldRecord.GetIsBlank(i);
            if (!newBlank && !oldBlank) {
                int32_t lNew = GetBLOBIndex(i), lOld = oldRecord.GetBLOBIndex(i);
                if (lNew != lOld) {
                    m_pBlobFile->DecrementReferenceCount(lOld);
                    m_pBlobFile->IncrementReferenceCount(lNew);
                }
            } else if (oldBlank && !newBlank) {
                m_pBlobFile->IncrementReferenceCount(GetBLOBIndex(i));
            } else if (!oldBlank && newBlank) {
                m_pBlobFile->DecrementReferenceCount(oldRecord.GetBLOBIndex(i));
            }
        }
    KX_CATCH("UpdateBlobReferences()", kFileRecord)
}

// ---------------------------------------------------------------------------------------------
// KxFileRecord: stored and serial forms

void KxFileRecord::ReadRecord(KxInputStreamInterface& stream, const char* sPassword) {
    KX_TRY
        uint32_t length = GetBufferLength();
        if (length > static_cast<uint32_t>(INT32_MAX - 1))
            KxGenerateException("Record buffer length %u is too large", kFileRecord, length);
        KxResizableChunk buffer = ZeroedBlock(length);
        if (length > 0) stream.Read(buffer.GetData(), length, true);
        SetRawData(buffer.GetData());
    KX_CATCH_STD("ReadRecord()", kFileRecord)
}

void KxFileRecord::WriteRecord(KxOutputStreamInterface& stream, const char* sPassword) const {
    KX_TRY
        uint32_t length = GetBufferLength();
        if (length > static_cast<uint32_t>(INT32_MAX - 1))
            KxGenerateException("Record buffer length %u is too large", kFileRecord, length);
        KxResizableChunk buffer = ZeroedBlock(length);
        GetRawData(buffer.GetData());
        if (length > 0) stream.Write(buffer.GetData(), length);
    KX_CATCH_STD("WriteRecord()", kFileRecord)
}

void KxFileRecord::WriteBlankVector(KxOutputStreamInterface& stream) const {
    KX_TRY
        uint16_t count = GetFieldCount();
        uint32_t bytes = (static_cast<uint32_t>(count) + 7) / 8;
        KxResizableChunk vector = ZeroedBlock(bytes);
        unsigned char* p = vector.AsPtrAtOffset<unsigned char>(0);
        for (uint16_t i = 0; i < count; ++i)
            if (GetIsBlank(i)) p[i / 8] = static_cast<unsigned char>(p[i / 8] | (1u << (i % 8)));
        if (bytes > 0) stream.Write(p, bytes);
    KX_CATCH_STD("WriteBlankVector()", kFileRecord)
}

void KxFileRecord::ReadBlankVector(KxInputStreamInterface& stream,
                                   KxVector<uint8_t>& blanks) const {
    KX_TRY
        uint16_t count = GetFieldCount();
        uint32_t bytes = (static_cast<uint32_t>(count) + 7) / 8;
        KxResizableChunk vector = ZeroedBlock(bytes);
        unsigned char* p = vector.AsPtrAtOffset<unsigned char>(0);
        if (bytes > 0) stream.Read(p, bytes, true);
        // The bits past the last field are written as 0; anything else is a damaged form.
        if (count % 8 != 0 && (p[bytes - 1] >> (count % 8)) != 0)
            KxGenerateException("Blank vector has bits set beyond the %hu fields of the record",
                                kFileRecord, count);
        KxVector<uint8_t> result(count, 0);
        for (uint16_t i = 0; i < count; ++i) result[i] = (p[i / 8] >> (i % 8)) & 1;
        blanks.swap(result);
    KX_CATCH_STD("ReadBlankVector()", kFileRecord)
}

void KxFileRecord::WriteField(KxOutputStreamInterface& stream, uint16_t uwFieldIndex) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        uint32_t length = LengthOf(GetFieldLength(uwFieldIndex));
        switch (GetFieldType(uwFieldIndex)) {
        case kxNumberField:
        case kxCurrencyField: stream.WriteDouble(GetNumber(uwFieldIndex)); break;
        case kxTimestampField: {
            KxTimestamp timestamp;
            GetTimestamp(uwFieldIndex, timestamp);
            timestamp.Write(stream);
            break;
        }
        case kxAlphaField: {
            KxResizableChunk buffer = ZeroedBlock(length + 1);
            GetAlpha(uwFieldIndex, TextOf(buffer), length + 1, true);
            stream.WriteString(TextOf(buffer), length, '\0');
            break;
        }
        case kxBlobField: {
            KxBlob blob;
            GetBLOB(uwFieldIndex, blob);
            stream.WriteUnsignedLong(blob.GetSize());
            blob.Write(stream);
            break;
        }
        case kxDateField: {
            KxDate date;
            GetDate(uwFieldIndex, date);
            date.Write(stream);
            break;
        }
        case kxLongField: stream.WriteLong(GetLong(uwFieldIndex)); break;
        case kxBooleanField: stream.WriteBool(GetBoolean(uwFieldIndex)); break;
        case kxShortField: stream.WriteShort(GetShort(uwFieldIndex)); break;
        case kxTimeField: {
            KxTime time;
            GetTime(uwFieldIndex, time);
            time.Write(stream);
            break;
        }
        case kxUnsignedShortField: stream.WriteUnsignedShort(GetUnsignedShort(uwFieldIndex)); break;
        case kxUnsignedLongField: stream.WriteUnsignedLong(GetUnsignedLong(uwFieldIndex)); break;
        case kxBinaryField: {
            KxResizableChunk buffer = ZeroedBlock(length);
            GetBinary(uwFieldIndex, buffer.GetData());
            if (length > 0) stream.Write(buffer.GetData(), length);
            break;
        }
        default: KxGenerateException("Unknown field type", kFileRecord);
        }
    KX_CATCH_STD("WriteField()", kFileRecord)
}

void KxFileRecord::ReadField(KxInputStreamInterface& stream, uint16_t uwFieldIndex) {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        uint32_t length = LengthOf(GetFieldLength(uwFieldIndex));
        switch (GetFieldType(uwFieldIndex)) {
        case kxNumberField:
        case kxCurrencyField: PutNumber(uwFieldIndex, stream.ReadDouble()); break;
        case kxTimestampField: {
            KxTimestamp timestamp;
            timestamp.Read(stream);
            PutTimestamp(uwFieldIndex, timestamp);
            break;
        }
        case kxAlphaField: {
            // Up to the field length, or up to the 0 byte that ends a shorter text; the end of
            // the stream before either is a damaged form.
            KxResizableChunk buffer = ZeroedBlock(length + 1);
            char* p = TextOf(buffer);
            for (uint32_t i = 0; i < length; ++i) {
                stream.Read(p + i, 1, true);
                if (p[i] == '\0') break;
            }
            PutAlpha(uwFieldIndex, p);
            break;
        }
        case kxBlobField: {
            uint32_t size = stream.ReadUnsignedLong();
            KxBlob blob;
            blob.Read(stream, size);
            PutBLOB(uwFieldIndex, blob);
            break;
        }
        case kxDateField: {
            KxDate date;
            date.Read(stream);
            PutDate(uwFieldIndex, date);
            break;
        }
        case kxLongField: PutLong(uwFieldIndex, stream.ReadLong()); break;
        case kxBooleanField: PutBoolean(uwFieldIndex, stream.ReadBool()); break;
        case kxShortField: PutShort(uwFieldIndex, stream.ReadShort()); break;
        case kxTimeField: {
            KxTime time;
            time.Read(stream);
            PutTime(uwFieldIndex, time);
            break;
        }
        case kxUnsignedShortField: PutUnsignedShort(uwFieldIndex, stream.ReadUnsignedShort()); break;
        case kxUnsignedLongField: PutUnsignedLong(uwFieldIndex, stream.ReadUnsignedLong()); break;
        case kxBinaryField: {
            KxResizableChunk buffer = ZeroedBlock(length);
            if (length > 0) stream.Read(buffer.GetData(), length, true);
            PutBinary(uwFieldIndex, buffer.GetData());
            break;
        }
        default: KxGenerateException("Unknown field type", kFileRecord);
        }
    KX_CATCH_STD("ReadField()", kFileRecord)
}

void KxFileRecord::RawSerialWrite(KxOutputStreamInterface& stream) const {
    KX_TRY
        WriteBlankVector(stream);
        for (uint16_t i = 0; i < GetFieldCount(); ++i)
            if (!GetIsBlank(i)) WriteField(stream, i);
    KX_CATCH("RawSerialWrite()", kFileRecord)
}

void KxFileRecord::RawSerialRead(KxInputStreamInterface& stream) {
    KX_TRY
        KxVector<uint8_t> blanks;
        ReadBlankVector(stream, blanks);
        RawSnapshot snapshot(*this);
        try {
            for (uint16_t i = 0; i < GetFieldCount() && i < static_cast<size_t>(blanks.size()); ++i) {
                if (blanks[i] != 0)
                    PutBlank(i);
                else
                    ReadField(stream, i);
            }
        } catch (...) {
            snapshot.Restore(*this);
            throw;
        }
    KX_CATCH_STD("RawSerialRead()", kFileRecord)
}

// ---------------------------------------------------------------------------------------------
// KxFileRecord: conversions to other types

namespace {

// The field's text with trailing blanks stripped, for the conversions from Alpha.
KxString AlphaText(const KxFileRecord& record, uint16_t uwFieldIndex) {
    KxResizableChunk buffer = ZeroedBlock(LengthOf(record.GetFieldLength(uwFieldIndex)) + 1);
    record.GetAlpha(uwFieldIndex, TextOf(buffer), static_cast<uint32_t>(buffer.GetSize()), true);
    return KxString(TextOf(buffer));
}

// Converts with AlphaToField; any failure is reported as the target type's own message.
template <typename T>
T FromAlpha(const KxFileRecord& record, uint16_t uwFieldIndex, char cTarget, const char* sTarget) {
    KxString text = AlphaText(record, uwFieldIndex);
    T value{};
    try {
        KxFileRecord::AlphaToField(&value, text.GetCString(), cTarget);
    } catch (KxMalformedDataException&) {
        KxGenerateException("Alpha field has value of \"%s\"; does not fit in %s", kFileRecord,
                            text.GetCString(), sTarget);
    }
    return value;
}

[[noreturn]] void ThrowCannotConvert(char type, const char* sTarget) {
    KxGenerateException("Cannot convert field of type '%c' to %s", kFileRecord, type, sTarget);
}

} // namespace

bool KxFileRecord::GetFieldAsBoolean(uint16_t uwFieldIndex) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        char type = GetFieldType(uwFieldIndex);
        if (type != kxBooleanField) ThrowCannotConvert(type, "a BOOLEAN");
        return !GetIsBlank(uwFieldIndex) && GetBoolean(uwFieldIndex);
    KX_CATCH("GetFieldAsBoolean()", kFileRecord)
}

int32_t KxFileRecord::GetFieldAsLong(uint16_t uwFieldIndex) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        char type = GetFieldType(uwFieldIndex);
        if (GetIsBlank(uwFieldIndex)) {
            if (type == kxAlphaField || type == kxNumberField || type == kxLongField ||
                type == kxShortField || type == kxUnsignedLongField ||
                type == kxUnsignedShortField || type == kxBooleanField)
                return kxBlankLong;
            ThrowCannotConvert(type, "a LONG");
        }
        switch (type) {
        case kxAlphaField: return FromAlpha<int32_t>(*this, uwFieldIndex, kxLongField, "a LONG");
        case kxNumberField: {
            double v = GetNumber(uwFieldIndex);
            if (!(v > -2147483649.0 && v < 2147483648.0))
                KxGenerateException("Number field has value of %e; does not fit in a LONG",
                                    kFileRecord, v);
            return static_cast<int32_t>(v);
        }
        case kxLongField: return GetLong(uwFieldIndex);
        case kxShortField: return GetShort(uwFieldIndex);
        case kxUnsignedShortField: return GetUnsignedShort(uwFieldIndex);
        case kxBooleanField: return GetBoolean(uwFieldIndex) ? 1 : 0;
        case kxUnsignedLongField: {
            uint32_t v = GetUnsignedLong(uwFieldIndex);
            if (v > static_cast<uint32_t>(INT32_MAX))
                KxGenerateException("Unsigned Long field has value of %lu; too large for a LONG",
                                    kFileRecord, static_cast<unsigned long>(v));
            return static_cast<int32_t>(v);
        }
        default: ThrowCannotConvert(type, "a LONG");
        }
    KX_CATCH("GetFieldAsLong()", kFileRecord)
}

double KxFileRecord::GetFieldAsNumber(uint16_t uwFieldIndex) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        char type = GetFieldType(uwFieldIndex);
        if (GetIsBlank(uwFieldIndex)) {
            if (type == kxAlphaField || type == kxNumberField || type == kxLongField ||
                type == kxShortField || type == kxUnsignedLongField ||
                type == kxUnsignedShortField || type == kxBooleanField)
                return kxBlankNumber;
            ThrowCannotConvert(type, "a NUMBER");
        }
        switch (type) {
        case kxAlphaField: return FromAlpha<double>(*this, uwFieldIndex, kxNumberField, "a NUMBER");
        case kxNumberField: return GetNumber(uwFieldIndex);
        case kxLongField: return GetLong(uwFieldIndex);
        case kxShortField: return GetShort(uwFieldIndex);
        case kxUnsignedShortField: return GetUnsignedShort(uwFieldIndex);
        case kxUnsignedLongField: return GetUnsignedLong(uwFieldIndex);
        case kxBooleanField: return GetBoolean(uwFieldIndex) ? 1 : 0;
        default: ThrowCannotConvert(type, "a NUMBER");
        }
    KX_CATCH("GetFieldAsNumber()", kFileRecord)
}

int16_t KxFileRecord::GetFieldAsShort(uint16_t uwFieldIndex) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        char type = GetFieldType(uwFieldIndex);
        if (GetIsBlank(uwFieldIndex)) {
            if (type == kxAlphaField || type == kxNumberField || type == kxLongField ||
                type == kxShortField || type == kxUnsignedLongField ||
                type == kxUnsignedShortField || type == kxBooleanField)
                return kxBlankShort;
            ThrowCannotConvert(type, "a SHORT");
        }
        switch (type) {
        case kxAlphaField: return FromAlpha<int16_t>(*this, uwFieldIndex, kxShortField, "a SHORT");
        case kxNumberField: {
            double v = GetNumber(uwFieldIndex);
            if (!(v > -32769.0 && v < 32768.0))
                KxGenerateException("Number field has value of %e; does not fit in a SHORT",
                                    kFileRecord, v);
            return static_cast<int16_t>(v);
        }
        case kxLongField: {
            int32_t v = GetLong(uwFieldIndex);
            if (v < INT16_MIN || v > INT16_MAX)
                KxGenerateException("Long field has value of %ld; does not fit in a SHORT",
                                    kFileRecord, static_cast<long>(v));
            return static_cast<int16_t>(v);
        }
        case kxShortField: return GetShort(uwFieldIndex);
        case kxUnsignedLongField: {
            uint32_t v = GetUnsignedLong(uwFieldIndex);
            if (v > static_cast<uint32_t>(INT16_MAX))
                KxGenerateException("Unsigned Long field has value of %lu; too large for a SHORT",
                                    kFileRecord, static_cast<unsigned long>(v));
            return static_cast<int16_t>(v);
        }
        case kxUnsignedShortField: {
            uint16_t v = GetUnsignedShort(uwFieldIndex);
            if (v > static_cast<uint16_t>(INT16_MAX))
                KxGenerateException("Unsigned Short field has value of %hu; too large for a SHORT",
                                    kFileRecord, v);
            return static_cast<int16_t>(v);
        }
        case kxBooleanField: return static_cast<int16_t>(GetBoolean(uwFieldIndex) ? 1 : 0);
        default: ThrowCannotConvert(type, "a SHORT");
        }
    KX_CATCH("GetFieldAsShort()", kFileRecord)
}

uint32_t KxFileRecord::GetFieldAsUnsignedLong(uint16_t uwFieldIndex) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        char type = GetFieldType(uwFieldIndex);
        if (GetIsBlank(uwFieldIndex)) {
            if (type == kxAlphaField || type == kxNumberField || type == kxLongField ||
                type == kxShortField || type == kxUnsignedLongField ||
                type == kxUnsignedShortField || type == kxBooleanField)
                return kxBlankUnsignedLong;
            ThrowCannotConvert(type, "an UNSIGNED LONG");
        }
        switch (type) {
        case kxAlphaField:
            return FromAlpha<uint32_t>(*this, uwFieldIndex, kxUnsignedLongField,
                                       "an UNSIGNED LONG");
        case kxNumberField: {
            double v = GetNumber(uwFieldIndex);
            if (!(v > -1.0 && v < 4294967296.0))
                KxGenerateException("Number field has value of %e; does not fit in an UNSIGNED "
                                    "LONG",
                                    kFileRecord, v);
            return static_cast<uint32_t>(v);
        }
        case kxLongField: {
            int32_t v = GetLong(uwFieldIndex);
            if (v < 0)
                KxGenerateException("Long field has value of %ld; does not fit in an UNSIGNED LONG",
                                    kFileRecord, static_cast<long>(v));
            return static_cast<uint32_t>(v);
        }
        case kxShortField: {
            int16_t v = GetShort(uwFieldIndex);
            if (v < 0)
                KxGenerateException("Short field has value of %hd; does not fit in an UNSIGNED "
                                    "LONG",
                                    kFileRecord, v);
            return static_cast<uint32_t>(v);
        }
        case kxUnsignedLongField: return GetUnsignedLong(uwFieldIndex);
        case kxUnsignedShortField: return GetUnsignedShort(uwFieldIndex);
        case kxBooleanField: return GetBoolean(uwFieldIndex) ? 1 : 0;
        default: ThrowCannotConvert(type, "an UNSIGNED LONG");
        }
    KX_CATCH("GetFieldAsUnsignedLong()", kFileRecord)
}

uint16_t KxFileRecord::GetFieldAsUnsignedShort(uint16_t uwFieldIndex) const {
    KX_TRY
        CheckFieldIndexRange(uwFieldIndex);
        char type = GetFieldType(uwFieldIndex);
        if (GetIsBlank(uwFieldIndex)) {
            if (type == kxAlphaField || type == kxNumberField || type == kxLongField ||
                type == kxShortField || type == kxUnsignedLongField ||
                type == kxUnsignedShortField || type == kxBooleanField)
                return kxBlankUnsignedShort;
            ThrowCannotConvert(type, "an UNSIGNED SHORT");
        }
        switch (type) {
        case kxAlphaField:
            return FromAlpha<uint16_t>(*this, uwFieldIndex, kxUnsignedShortField,
                                       "an UNSIGNED SHORT");
        case kxNumberField: {
            double v = GetNumber(uwFieldIndex);
            if (!(v > -1.0 && v < 65536.0))
                KxGenerateException("Number field has value of %e; does not fit in an UNSIGNED "
                                    "SHORT",
                                    kFileRecord, v);
            return static_cast<uint16_t>(v);
        }
        case kxLongField: {
            int32_t v = GetLong(uwFieldIndex);
            if (v < 0 || v > UINT16_MAX)
                KxGenerateException("Long field has value of %ld; does not fit in an UNSIGNED "
                                    "SHORT",
                                    kFileRecord, static_cast<long>(v));
            return static_cast<uint16_t>(v);
        }
        case kxShortField: {
            int16_t v = GetShort(uwFieldIndex);
            if (v < 0)
                KxGenerateException("Short field has value of %hd; does not fit in an UNSIGNED "
                                    "SHORT",
                                    kFileRecord, v);
            return static_cast<uint16_t>(v);
        }
        case kxUnsignedLongField: {
            uint32_t v = GetUnsignedLong(uwFieldIndex);
            if (v > UINT16_MAX)
                KxGenerateException("Unsigned Long field has value of %lu; too large for an "
                                    "UNSIGNED SHORT",
                                    kFileRecord, static_cast<unsigned long>(v));
            return static_cast<uint16_t>(v);
        }
        case kxUnsignedShortField: return GetUnsignedShort(uwFieldIndex);
        case kxBooleanField: return static_cast<uint16_t>(GetBoolean(uwFieldIndex) ? 1 : 0);
        default: ThrowCannotConvert(type, "an UNSIGNED SHORT");
        }
    KX_CATCH("GetFieldAsUnsignedShort()", kFileRecord)
}
