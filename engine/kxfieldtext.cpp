#include "kxfieldtext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kxblob.h"
#include "kxengineexceptions.h"
#include "kxfield.h"
#include "kxfilter.h"
#include "kxformat.h"
#include "kxrecord.h"

namespace {

constexpr const char* kFieldText = "KxFieldText";

bool IsNumeric(char type) {
    switch (type) {
    case kxNumberField:
    case kxCurrencyField:
    case kxLongField:
    case kxShortField:
    case kxUnsignedShortField:
    case kxUnsignedLongField:
    case kxBooleanField: return true;
    default: return false;
    }
}

// The raw value of a numeric field (its blank value when blank) as a double.
double NumberOf(const KxFileRecord& record, uint16_t uwFieldIndex, char type) {
    unsigned char raw[16] = {};
    record.GetField(uwFieldIndex, static_cast<void*>(raw), sizeof raw);
    switch (type) {
    case kxLongField: {
        int32_t v;
        memcpy(&v, raw, sizeof v);
        return v;
    }
    case kxShortField: {
        int16_t v;
        memcpy(&v, raw, sizeof v);
        return v;
    }
    case kxUnsignedShortField: {
        uint16_t v;
        memcpy(&v, raw, sizeof v);
        return v;
    }
    case kxUnsignedLongField: {
        uint32_t v;
        memcpy(&v, raw, sizeof v);
        return v;
    }
    case kxBooleanField: return raw[0] != 0 ? 1 : 0;
    default: {
        double v;
        memcpy(&v, raw, sizeof v);
        return v;
    }
    }
}

// The raw text of A, D, @, T and B fields, the default display text of the others.
KxString TextOf(const KxFileRecord& record, uint16_t uwFieldIndex, const KxField& field) {
    if (field.GetType() == kxBlobField) {
        if (record.GetIsBlank(uwFieldIndex)) return KxString();
        KxBlob blob;
        record.GetBLOB(uwFieldIndex, blob);
        return KxString(blob.GetText());
    }
    // Room for the longest default text: a double's digits and the field's decimals.
    size_t size = static_cast<size_t>(std::max<int16_t>(field.GetLength(), 0)) +
                  static_cast<size_t>(std::max<int16_t>(field.GetPrecision(), 0)) + 400;
    std::vector<char> buffer(size, '\0');
    record.GetField(uwFieldIndex, buffer.data(), static_cast<uint32_t>(size), false);
    return KxString(buffer.data());
}

// The bytes of a format type's binary form.
size_t SizeOf(char type) {
    switch (type) {
    case kxNumberField: return sizeof(double);
    case kxShortField:
    case kxUnsignedShortField: return sizeof(int16_t);
    default: return sizeof(int32_t);
    }
}

void PutBlankValue(char type, void* pDest) {
    switch (type) {
    case kxLongField: memcpy(pDest, &kxBlankLong, sizeof kxBlankLong); break;
    case kxShortField: memcpy(pDest, &kxBlankShort, sizeof kxBlankShort); break;
    case kxNumberField: memcpy(pDest, &kxBlankNumber, sizeof kxBlankNumber); break;
    default: memset(pDest, 0, SizeOf(type)); break;
    }
}

// Only the signed and floating types have a blank value that is no number a user means; 0 of
// the unsigned types is stored as 0.
bool IsBlankValue(char type, const void* pValue) {
    if (type != kxLongField && type != kxShortField && type != kxNumberField) return false;
    unsigned char blank[8] = {};
    PutBlankValue(type, blank);
    return memcmp(blank, pValue, SizeOf(type)) == 0;
}

double ValueOf(char type, const void* pValue) {
    switch (type) {
    case kxLongField: {
        int32_t v;
        memcpy(&v, pValue, sizeof v);
        return v;
    }
    case kxShortField: {
        int16_t v;
        memcpy(&v, pValue, sizeof v);
        return v;
    }
    case kxUnsignedShortField: {
        uint16_t v;
        memcpy(&v, pValue, sizeof v);
        return v;
    }
    case kxUnsignedLongField: {
        uint32_t v;
        memcpy(&v, pValue, sizeof v);
        return v;
    }
    default: {
        double v;
        memcpy(&v, pValue, sizeof v);
        return v;
    }
    }
}

struct IntegerLimits {
    char type;
    double low, high;
    const char* notValid;
    const char* doesNotFit;
};

constexpr IntegerLimits kLimits[] = {
    {kxLongField, -2147483648.0, 2147483647.0, "\"%s\" is not a valid long",
     "\"%s\" does not fit in a long"},
    {kxShortField, -32768, 32767, "\"%s\" is not a valid short", "\"%s\" does not fit in a short"},
    {kxUnsignedLongField, 0, 4294967295.0, "\"%s\" is not a valid unsigned long",
     "\"%s\" does not fit in an unsigned long"},
    {kxUnsignedShortField, 0, 65535, "\"%s\" is not a valid unsigned short",
     "\"%s\" does not fit in an unsigned short"},
};

// A number in the binary form of a numeric type; false when that type cannot hold it.
bool ToType(double v, char type, void* pDest) {
    if (type == kxNumberField || type == kxCurrencyField) {
        memcpy(pDest, &v, sizeof v);
        return true;
    }
    if (type == kxBooleanField) {
        bool b = v != 0;
        memcpy(pDest, &b, sizeof b);
        return true;
    }
    for (const IntegerLimits& limits : kLimits) {
        if (limits.type != type) continue;
        if (!std::isfinite(v) || std::floor(v) != v || v < limits.low || v > limits.high)
            return false;
        switch (type) {
        case kxLongField: {
            int32_t x = static_cast<int32_t>(v);
            memcpy(pDest, &x, sizeof x);
            break;
        }
        case kxShortField: {
            int16_t x = static_cast<int16_t>(v);
            memcpy(pDest, &x, sizeof x);
            break;
        }
        case kxUnsignedLongField: {
            uint32_t x = static_cast<uint32_t>(v);
            memcpy(pDest, &x, sizeof x);
            break;
        }
        default: {
            uint16_t x = static_cast<uint16_t>(v);
            memcpy(pDest, &x, sizeof x);
            break;
        }
        }
        return true;
    }
    return false;
}

// Stores a number read from display text into a numeric field's binary form; the failures are
// those of the plain conversion, naming the text.
void StoreNumber(double v, char type, const char* pText, void* pValue) {
    if (ToType(v, type, pValue)) return;
    for (const IntegerLimits& limits : kLimits) {
        if (limits.type != type) continue;
        bool integral = std::isfinite(v) && std::floor(v) == v;
        KxString message;
        message.printf(integral ? limits.doesNotFit : limits.notValid, pText);
        throw KxMalformedDataException(message, kFieldText, type, pText);
    }
}

KxString NumberText(double v, char type) {
    char buffer[64];
    std::to_chars_result r = type == kxNumberField
                                 ? std::to_chars(buffer, buffer + sizeof buffer - 1, v)
                                 : std::to_chars(buffer, buffer + sizeof buffer - 1,
                                                 static_cast<long long>(v));
    *r.ptr = '\0';
    return KxString(buffer);
}

} // namespace

bool KxFieldText::Show(const KxFileRecord& record, uint16_t uwFieldIndex, KxField& field,
                       uint32_t ulDestLength, KxString& sText) {
    KX_TRY
        char type = field.GetType();
        bool blank = record.GetIsBlank(uwFieldIndex);
        if (field.GetFormatOption() == KxField::kxShowFiltered) {
            const KxFilter* filter = field.GetFilter();
            if (filter == nullptr) return false;
            KxString text = TextOf(record, uwFieldIndex, field);
            KxFilterValue value;
            value.type = type;
            value.blank = blank;
            value.number = IsNumeric(type) ? NumberOf(record, uwFieldIndex, type) : 0;
            value.text = text;
            value.destLength = ulDestLength;
            return filter->FilterField(value, sText);
        }
        if (field.GetFormatOption() != KxField::kxShowFormatted) return false;
        const KxFormat* format = field.GetFormat();
        if (format == nullptr) return false;

        // The value in the form of the format's type, at the start of a buffer that also holds
        // the label.
        char formatType = format->GetType();
        KxString text;
        bool valueIsText = false;
        if (formatType == kxAlphaField || !IsNumeric(type)) text = TextOf(record, uwFieldIndex, field);
        size_t size = std::max<size_t>({ulDestLength, static_cast<size_t>(text.GetLength()) + 1,
                                        KxFormatRange::kxAreaSize});
        std::vector<char> buffer(size, '\0');
        if (formatType == kxAlphaField) {
            memcpy(buffer.data(), text.GetCString(), static_cast<size_t>(text.GetLength()));
        } else if (formatType == type) {
            record.GetField(uwFieldIndex, static_cast<void*>(buffer.data()),
                            static_cast<uint32_t>(size));
        } else if (blank || (!IsNumeric(type) && text.IsEmpty())) {
            PutBlankValue(formatType, buffer.data());
        } else if (IsNumeric(type)) {
            // A number of another type than the format's is held only where that type can
            // hold it.
            if (!ToType(NumberOf(record, uwFieldIndex, type), formatType, buffer.data()))
                return false;
        } else {
            memcpy(buffer.data(), text.GetCString(), static_cast<size_t>(text.GetLength()));
            valueIsText = true;
        }
        int32_t index;
        try {
            index = format->Format(buffer.data(),
                                   ulDestLength != 0 ? ulDestLength : static_cast<uint32_t>(size),
                                   valueIsText, true);
        } catch (KxMalformedDataException&) {
            // A text that is no number of the format's type lies on none of its lines.
            return false;
        }
        if (index < 0) return false;
        sText = buffer.data();
        return true;
    KX_CATCH_STD("Show()", kFieldText)
}

const char* KxFieldText::Parse(KxField& field, int16_t iMode, const char* pText, void* pValue,
                               KxString& sHolder) {
    KX_TRY
        char type = field.GetType();
        if (iMode == 1) {
            if (const KxFormat* format = field.GetFormat()) {
                unsigned char low[KxFormatRange::kxAreaSize] = {};
                if (format->UnFormat(pText, low)) {
                    char formatType = format->GetType();
                    if (formatType == kxAlphaField) {
                        sHolder = reinterpret_cast<const char*>(low);
                        if (sHolder.IsEmpty()) return nullptr;
                        KxFileRecord::AlphaToField(pValue, sHolder, type);
                        return sHolder;
                    }
                    if (IsBlankValue(formatType, low)) return nullptr;
                    double v = ValueOf(formatType, low);
                    if (IsNumeric(type)) {
                        StoreNumber(v, type, pText, pValue);
                        return pText;
                    }
                    sHolder = NumberText(v, formatType);
                    return sHolder;
                }
            }
        } else if (iMode == 2) {
            if (const KxFilter* filter = field.GetFilter()) {
                KxUnfilteredValue value = filter->UnfilterField(type, pText);
                switch (value.kind) {
                case KxUnfilteredValue::kxBlank: return nullptr;
                case KxUnfilteredValue::kxNumber:
                    StoreNumber(value.number, type, pText, pValue);
                    return pText;
                case KxUnfilteredValue::kxText:
                    sHolder = value.text;
                    KxFileRecord::AlphaToField(pValue, sHolder, type);
                    return sHolder;
                case KxUnfilteredValue::kxNone: break;
                }
            }
        }
        KxFileRecord::AlphaToField(pValue, pText, type);
        return pText;
    KX_CATCH_STD("Parse()", kFieldText)
}
