// A growable byte block whose offsets are tested against its size: the storage under strings,
// blob values and record buffers. It keeps no used length; its users do.
#pragma once

#include <cstdint>

class KxResizableChunk {
public:
    KxResizableChunk();
    explicit KxResizableChunk(int32_t lSize);
    KxResizableChunk(int32_t lSize, char fill);
    KxResizableChunk(const KxResizableChunk& other);
    KxResizableChunk(KxResizableChunk&& other) noexcept;
    KxResizableChunk& operator=(const KxResizableChunk& other);
    KxResizableChunk& operator=(KxResizableChunk&& other) noexcept;
    virtual ~KxResizableChunk();
    virtual KxResizableChunk* Clone() const;

    // Reallocates keeping the common prefix; gained bytes are not initialised. A failure leaves
    // the chunk as it was.
    void Resize(int32_t lNewSize);
    // Resize, then fill every byte (fillAll) or only the gained ones with the fill byte.
    void ResizeChunk(int32_t lNewSize, bool fillAll = false, char fill = 0);

    // The byte at lOffset, which must be below the size; T is char, unsigned char or void.
    template <typename T> T* AsPtrAtOffset(int32_t lOffset);
    template <typename T> const T* AsPtrAtOffset(int32_t lOffset) const;

    // Copies min(lCount, source size - lSourceOffset) bytes to lDestOffset, growing this chunk
    // (gained bytes 0) when it is too short. The ranges may overlap.
    void CopyFrom(const KxResizableChunk& source, int32_t lCount, int32_t lSourceOffset = 0,
                  int32_t lDestOffset = 0);

    void CheckEmpty(bool mustBeEmpty) const;

    void* GetData() { return m_data; }
    const void* GetData() const { return m_data; }
    int32_t GetSize() const { return m_size; }

    void Swap(KxResizableChunk& other) noexcept;

private:
    unsigned char* m_data;
    int32_t m_size;
};

template <> char* KxResizableChunk::AsPtrAtOffset<char>(int32_t lOffset);
template <> unsigned char* KxResizableChunk::AsPtrAtOffset<unsigned char>(int32_t lOffset);
template <> void* KxResizableChunk::AsPtrAtOffset<void>(int32_t lOffset);
template <> const char* KxResizableChunk::AsPtrAtOffset<char>(int32_t lOffset) const;
template <> const unsigned char* KxResizableChunk::AsPtrAtOffset<unsigned char>(int32_t lOffset) const;
template <> const void* KxResizableChunk::AsPtrAtOffset<void>(int32_t lOffset) const;
