#include "kxrecordkey.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "kxfield.h"
#include "kxrecord.h"
#include "kxstream.h"

namespace {

constexpr const char* kKey = "KxRecordKey";

// Large enough for the raw form of every type that is not stored in the key's length: numbers,
// and the 17 characters of a timestamp with their NUL.
constexpr uint32_t kMinimumRawBuffer = 32;

unsigned char Folded(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Texts and binary values: the key's length in bytes. Texts are NUL padded, end at the first NUL
// and never end in blanks, so that equal field texts give equal bytes.
class BytesKey : public KxRecordKey {
public:
    BytesKey(char type, int16_t wLength)
        : KxRecordKey(type, wLength),
          m_bytes(static_cast<size_t>(std::max<int16_t>(wLength, 0)), 0) {}

    BytesKey* Clone() const override { return new BytesKey(*this); }

    void SetRaw(const void* pValue) override {
        KX_TRY
            if (pValue == nullptr) KxGenerateException("Null pointer passed to SetRaw", kKey);
            const char* text = static_cast<const char*>(pValue);
            if (GetType() == kxBinaryField) {
                if (!m_bytes.empty()) memcpy(m_bytes.data(), text, m_bytes.size());
                return;
            }
            SetBytes(text, strnlen(text, m_bytes.size()));
        KX_CATCH("SetRaw()", kKey)
    }

    void SetText(const char* sText) override {
        KX_TRY
            if (sText == nullptr) sText = "";
            size_t length = strlen(sText);
            // Only a blob key holds a cut value (its field's leading text); any other text that
            // does not fit could only match a different, shorter value.
            if (GetType() != kxBlobField && length > m_bytes.size())
                KxGenerateException("Text \"%s\" of length %d is longer than the key's %d", kKey,
                                    sText, static_cast<int>(length),
                                    static_cast<int>(m_bytes.size()));
            SetBytes(sText, std::min(length, m_bytes.size()));
        KX_CATCH("SetText()", kKey)
    }

    KxString GetText() const override {
        KxString text;
        if (GetType() == kxBinaryField) {
            for (unsigned char b : m_bytes) {
                char hex[3];
                snprintf(hex, sizeof hex, "%02X", b);
                text << hex;
            }
            return text;
        }
        KxVector<char> copy(m_bytes.begin(), m_bytes.end());
        copy.push_back('\0');
        text = copy.data();
        return text;
    }

    int Compare(const KxRecordKey& other) const override {
        CheckSameKind(other);
        const auto& theirs = static_cast<const BytesKey&>(other).m_bytes;
        if (m_bytes.empty()) return 0;
        return memcmp(m_bytes.data(), theirs.data(), m_bytes.size());
    }

    int CompareAlternate(const KxRecordKey& other) const override {
        if (GetType() == kxBinaryField) return Compare(other);
        CheckSameKind(other);
        const auto& theirs = static_cast<const BytesKey&>(other).m_bytes;
        for (size_t i = 0; i < m_bytes.size(); ++i) {
            unsigned char a = Folded(m_bytes[i]), b = Folded(theirs[i]);
            if (a != b) return a < b ? -1 : 1;
            if (a == 0) break;
        }
        return 0;
    }

    void Write(KxOutputStreamInterface& stream) const override {
        KX_TRY
            if (!m_bytes.empty()) stream.Write(m_bytes.data(), static_cast<uint32_t>(m_bytes.size()));
        KX_CATCH("Write()", kKey)
    }

    void Read(KxInputStreamInterface& stream) override {
        KX_TRY
            KxVector<unsigned char> bytes(m_bytes.size(), 0);
            if (!bytes.empty()) stream.Read(bytes.data(), static_cast<uint32_t>(bytes.size()), true);
            if (GetType() == kxBinaryField) {
                m_bytes.swap(bytes);
                return;
            }
            // What follows a NUL, and trailing blanks, are no part of the text. A key of a
            // field of length 0 has no bytes at all, not even storage to scan.
            if (bytes.empty()) return;
            SetBytes(reinterpret_cast<const char*>(bytes.data()),
                     strnlen(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        KX_CATCH("Read()", kKey)
    }

private:
    void SetBytes(const char* pText, size_t length) {
        while (length > 0 && pText[length - 1] == ' ') --length;
        if (length > 0) memmove(m_bytes.data(), pText, length);
        std::fill(m_bytes.begin() + static_cast<std::ptrdiff_t>(length), m_bytes.end(), 0);
    }

    KxVector<unsigned char> m_bytes;
};

// Numbers in their binary form. T is the type GetField stores for the letter.
template <typename T>
class NumberKey : public KxRecordKey {
public:
    NumberKey(char type, int16_t wLength, T blank) : KxRecordKey(type, wLength), m_value(blank),
                                                     m_blank(blank) {}

    NumberKey* Clone() const override { return new NumberKey(*this); }

    void SetRaw(const void* pValue) override {
        KX_TRY
            if (pValue == nullptr) KxGenerateException("Null pointer passed to SetRaw", kKey);
            if constexpr (std::is_same_v<T, bool>) {
                unsigned char b;
                memcpy(&b, pValue, 1);
                m_value = b != 0;
            } else {
                memcpy(&m_value, pValue, sizeof m_value);
            }
        KX_CATCH("SetRaw()", kKey)
    }

    void SetText(const char* sText) override {
        KX_TRY
            const char* p = sText != nullptr ? sText : "";
            while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
            if (*p == '\0') {
                m_value = m_blank;
                return;
            }
            T value;
            KxFileRecord::AlphaToField(&value, sText, GetType());
            m_value = value;
        KX_CATCH("SetText()", kKey)
    }

    KxString GetText() const override {
        KxString text;
        if constexpr (std::is_same_v<T, double>)
            text.printf("%.17g", m_value);
        else if constexpr (std::is_same_v<T, bool>)
            text = m_value ? "True" : "False";
        else if constexpr (std::is_signed_v<T>)
            text.printf("%ld", static_cast<long>(m_value));
        else
            text.printf("%lu", static_cast<unsigned long>(m_value));
        return text;
    }

    int Compare(const KxRecordKey& other) const override {
        CheckSameKind(other);
        T a = m_value, b = static_cast<const NumberKey&>(other).m_value;
        if constexpr (std::is_same_v<T, double>) {
            // A stored NaN must not break the order of the keys: it sorts after every number.
            bool nanA = std::isnan(a), nanB = std::isnan(b);
            if (nanA || nanB) return nanA == nanB ? 0 : (nanA ? 1 : -1);
        }
        return a < b ? -1 : (b < a ? 1 : 0);
    }

    void Write(KxOutputStreamInterface& stream) const override {
        KX_TRY
            if constexpr (std::is_same_v<T, double>)
                stream.WriteDouble(m_value);
            else if constexpr (std::is_same_v<T, bool>)
                stream.WriteBool(m_value);
            else if constexpr (std::is_same_v<T, int32_t>)
                stream.WriteLong(m_value);
            else if constexpr (std::is_same_v<T, uint32_t>)
                stream.WriteUnsignedLong(m_value);
            else if constexpr (std::is_same_v<T, int16_t>)
                stream.WriteShort(m_value);
            else
                stream.WriteUnsignedShort(m_value);
        KX_CATCH("Write()", kKey)
    }

    void Read(KxInputStreamInterface& stream) override {
        KX_TRY
            if constexpr (std::is_same_v<T, double>)
                m_value = stream.ReadDouble();
            else if constexpr (std::is_same_v<T, bool>)
                m_value = stream.ReadBool();
            else if constexpr (std::is_same_v<T, int32_t>)
                m_value = stream.ReadLong();
            else if constexpr (std::is_same_v<T, uint32_t>)
                m_value = stream.ReadUnsignedLong();
            else if constexpr (std::is_same_v<T, int16_t>)
                m_value = stream.ReadShort();
            else
                m_value = stream.ReadUnsignedShort();
        KX_CATCH("Read()", kKey)
    }

private:
    T m_value;
    T m_blank;
};

} // namespace

KxRecordKey* KxRecordKey::NewKey(char type, int16_t wLength) {
    KX_TRY
        switch (type) {
        case kxAlphaField:
        case kxBinaryField:
        case kxBlobField:
        case kxDateField:
        case kxTimeField:
        case kxTimestampField:
            return new BytesKey(type, wLength);
        case kxLongField:
            return new NumberKey<int32_t>(type, wLength, kxBlankLong);
        case kxShortField:
            return new NumberKey<int16_t>(type, wLength, kxBlankShort);
        case kxUnsignedShortField:
            return new NumberKey<uint16_t>(type, wLength, kxBlankUnsignedShort);
        case kxUnsignedLongField:
            return new NumberKey<uint32_t>(type, wLength, kxBlankUnsignedLong);
        case kxNumberField:
        case kxCurrencyField:
            return new NumberKey<double>(type, wLength, kxBlankNumber);
        case kxBooleanField:
            return new NumberKey<bool>(type, wLength, false);
        default:
            KxGenerateException("Cannot make a record key for field type '%c'", kKey,
                                type != 0 ? type : ' ');
        }
    KX_CATCH_STD("NewKey()", kKey)
}

bool KxRecordKey::IsText() const {
    switch (m_type) {
    case kxAlphaField:
    case kxBlobField:
    case kxDateField:
    case kxTimeField:
    case kxTimestampField:
        return true;
    default:
        return false;
    }
}

void KxRecordKey::CheckSameKind(const KxRecordKey& other) const {
    if (other.m_type != m_type || other.m_length != m_length)
        KxGenerateException(
            "Cannot compare a key of type '%c' and length %hd with one of type '%c' and length %hd",
            kKey, m_type, m_length, other.m_type, other.m_length);
}

void KxRecordKey::Load(const KxFileRecord& record, uint16_t uwFieldIndex) {
    KX_TRY
        char type = record.GetFieldType(uwFieldIndex);
        if (type != m_type)
            KxGenerateException("Field %hu has type '%c', but the key is of type '%c'", kKey,
                                uwFieldIndex, type, m_type);
        uint32_t length = std::max<uint32_t>(
            static_cast<uint32_t>(std::max<int16_t>(m_length, 0)) + 1, kMinimumRawBuffer);
        KxVector<char> raw(length, 0);
        record.GetField(uwFieldIndex, raw.data(), length);
        SetRaw(raw.data());
    KX_CATCH_STD("Load()", kKey)
}
