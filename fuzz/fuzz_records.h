// The reads the engine targets make of every record they reach: each field through each getter
// the application or a format may call, the blob fields as the searches read them (GetBLOB), the
// display texts and the serial form. A getter may refuse a field of another type or a damaged
// value with a KxException; it may not do anything else.
#pragma once

#include <cstdint>
#include <vector>

#include "kxblob.h"
#include "kxfield.h"
#include "kxfieldvalue.h"
#include "kxfile.h"
#include "kxmemstream.h"
#include "kxrecord.h"
#include "fuzz_support.h"
#include "kxtimestamp.h"
#include "txdfile.h"

namespace tvfuzz {

inline void ReadEveryField(TXDFile& file, KxFileRecord& record) {
    const uint16_t count = record.GetFieldCount();
    KxBlob blob;
    for (uint16_t f = 0; f < count; ++f) {
        Try([&] {
            record.GetBLOB(f, blob);
            // What the searches do with it.
            blob.GetText();
        });
        Try([&] { record.GetBLOBIndex(f); });
        Try([&] { record.GetIsBlank(f); });
        Try([&] {
            std::vector<char> text(static_cast<size_t>(record.GetFieldLength(f) > 0
                                                           ? record.GetFieldLength(f) : 0) + 1);
            record.GetAlpha(f, text.data(), static_cast<uint32_t>(text.size()), true);
        });
        Try([&] {
            char text[80];
            record.GetField(f, text, sizeof text, true);
            record.GetField(f, text, sizeof text, false);
        });
        Try([&] {
            std::vector<unsigned char> raw(static_cast<size_t>(record.GetBufferLength()) + 64);
            record.GetField(f, raw.data(), static_cast<uint32_t>(raw.size()));
        });
        Try([&] { record.GetLong(f); });
        Try([&] { record.GetShort(f); });
        Try([&] { record.GetUnsignedLong(f); });
        Try([&] { record.GetUnsignedShort(f); });
        Try([&] { record.GetNumber(f); });
        Try([&] { record.GetBoolean(f); });
        Try([&] {
            KxDate date;
            record.GetDate(f, date);
        });
        Try([&] {
            KxTime time;
            record.GetTime(f, time);
        });
        Try([&] {
            KxTimestamp timestamp;
            record.GetTimestamp(f, timestamp);
        });
        Try([&] {
            KxFieldValue value;
            record.RetrieveFieldValue(f, value);
        });
    }
    Try([&] { record.GetAllFieldsBlank(); });
    Try([&] {
        KxMemoryStream serial;
        record.RawSerialWrite(serial);
        serial.Rewind();
        // A record of the layout without the blob file: putting blob values into a record adds
        // them to its blob file, which a data set opened for reading cannot take.
        TXDRec copy(&file.GetFields(), nullptr, file.GetLineLength(), file.GetEOLType());
        copy.RawSerialRead(serial);
    });
}

}  // namespace tvfuzz
