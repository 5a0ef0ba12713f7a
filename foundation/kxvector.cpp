#include "kxvector.h"

#include "kxstream.h"

void KxThrowVectorIndexError(int32_t lIndex, int32_t lBase, int64_t lSize) {
    KxGenerateException("Index %d out of range; array is from %d to %d", "KxVector", lIndex, lBase,
                        static_cast<int32_t>(lBase + lSize - 1));
}

namespace {

constexpr int8_t kVectorHeader = 0;
constexpr int16_t kFormatArray = 400;
constexpr int16_t kFormatPlain = 530;
constexpr int32_t kArrayMarker = 128;

} // namespace

template <> void KxVector<int32_t>::WriteAsArray(KxOutputStreamInterface& stream) const {
    KX_TRY
        int32_t count = GetCount();
        stream.WriteKxHeader(kVectorHeader, kFormatArray);
        stream.WriteShort(static_cast<int16_t>(sizeof(int32_t)));
        stream.WriteLong(kArrayMarker);
        stream.WriteLong(count * static_cast<int32_t>(sizeof(int32_t)));
        stream.WriteLong(count);
        stream.WriteLong(GetBaseIndex());
        for (int32_t value : *this) stream.WriteLong(value);
    KX_CATCH_STD("WriteAsArray()", "KxVector")
}

template <> void KxVector<int32_t>::Read(KxInputStreamInterface& stream) {
    KX_TRY
        int16_t format = stream.ReadKxHeader(kVectorHeader);
        if (format != kFormatPlain && format != kFormatArray)
            KxGenerateException("Unknown vector type \"%hd\"", "KxVector", format);
        int32_t byteCount = 0;
        if (format == kFormatArray) {
            stream.ReadShort(); // the element size: elements are stored as 32 bits regardless
            stream.ReadLong();  // the marker 128
            byteCount = stream.ReadLong();
        }
        int32_t count = stream.ReadLong();
        int32_t base = stream.ReadLong();
        // The counts come from the data: check them before sizing anything by them.
        int64_t elementBytes = static_cast<int64_t>(count) * static_cast<int64_t>(sizeof(int32_t));
        if (count < 0)
            KxGenerateException("Invalid element count (value=%d) in stored vector", "KxVector",
                                count);
        if (format == kFormatArray && byteCount < elementBytes)
            KxGenerateException(
                "Invalid byte count (value=%d) in stored vector of %d elements", "KxVector",
                byteCount, count);
        int64_t needed = format == kFormatArray ? byteCount : elementBytes;
        uint64_t available = stream.GetBytesAvailable();
        if (available != kxUnknownStreamLength && static_cast<uint64_t>(needed) > available)
            KxGenerateException("Stored vector of %d elements is longer than its stream",
                                "KxVector", count);
        // Read into a fresh vector, so a failure leaves this one as it was. Growing as the
        // elements arrive bounds what a corrupt count on an endless stream can allocate.
        KxVector<int32_t> values;
        for (int32_t i = 0; i < count; ++i) values.push_back(stream.ReadLong());
        for (int64_t skip = elementBytes; skip < byteCount; ++skip) {
            char ignored;
            stream.Read(&ignored, 1, true);
        }
        Base::swap(values);
        SetBaseIndex(base);
    KX_CATCH_STD("Read()", "KxVector")
}
