// A stream over a growable byte buffer in memory, with one position for reading and writing.
#pragma once

#include <cstdint>

#include "kxstream.h"
#include "kxvector.h"

class KxMemoryStream : public KxStreamInterface {
public:
    explicit KxMemoryStream(const char* sName = "memory stream");
    // Starts with a copy of the bytes, positioned at the start.
    KxMemoryStream(const void* pData, uint32_t ulSize, const char* sName = "memory stream");
    ~KxMemoryStream() override;

    void GetStreamName(KxString& sName) const override;
    // A short read with mustReadAll set raises a KxException and consumes nothing.
    uint32_t Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    // Writes at the position, overwriting and extending the buffer as needed.
    void Write(const void* pBuffer, uint32_t ulCount) override;
    uint64_t GetBytesAvailable() override;

    // Positions may be anywhere from 0 to the size.
    void Seek(uint64_t position);
    void Rewind() { Seek(0); }
    uint64_t GetPosition() const { return m_position; }
    uint64_t GetSize() const { return m_bytes.size(); }
    const unsigned char* GetData() const { return m_bytes.data(); }
    // Drops every byte; the position goes back to 0.
    void Clear();
    // Cuts the buffer to ulSize bytes (at most the size); the position moves in if beyond.
    void Truncate(uint64_t ulSize);

    // The largest size the buffer may reach (positions and counts are 32-bit in the library).
    static constexpr uint64_t kxMaxSize = INT32_MAX;

private:
    KxVector<unsigned char> m_bytes;
    uint64_t m_position = 0;
    KxString m_name;
};
