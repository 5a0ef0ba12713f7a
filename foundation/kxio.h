// The library's file family: the random-access file interface, the lock-keeping file, the
// buffered file that every data set, structure file and history file goes through, and its
// unbuffered and proxy variants; plus the static file operations.
//
// Positions and sizes are 64-bit ("nativeint"); the 32-bit wrappers check that a value fits.
#pragma once

#include <cstdint>
#include <memory>

#include "kxexception.h"
#include "kxlock.h"
#include "kxstream.h"
#include "kxstring.h"

namespace kxplatform {
class File;
}

// Open flags; the low byte selects the access. Bits 0x100 and 0x200 are carried, not
// interpreted.
enum : uint32_t {
    kxIORead = 0x01,
    kxIOWrite = 0x02,     // opened for reading and writing
    kxIOText = 0x04,      // no translation on this platform: text is binary
    kxIOCreate = 0x08,    // create when missing
    kxIOTruncate = 0x10,  // empty on open
    kxIOAppend = 0x20,    // every write goes to the end; the position starts there
};

// The combinations in use.
constexpr uint32_t kxIOOpenReadShared = 0x301;     // structure and INI files
constexpr uint32_t kxIOOpenCopyTarget = 0x30A;     // destination of a copy
constexpr uint32_t kxIOOpenTemporary = 0x0B;       // read, write and create
constexpr uint32_t kxIOOpenCreateEmpty = 0x1A;     // write, create and truncate

// What a long copy tells and asks its caller. The base class does nothing and always continues.
class KxProgressReport {
public:
    virtual ~KxProgressReport() = default;
    virtual void SetTask(const char* sTask) {}
    virtual void SetDetail(const char* sDetail) {}
    virtual void SetRange(int32_t lLow, int32_t lHigh) {}
    virtual void SetPosition(int32_t lPosition) {}
    // False stops the operation.
    virtual bool Continue() { return true; }
};

class KxIOInterface : public KxStreamInterface {
public:
    ~KxIOInterface() override = default;

    // The file name.
    void GetStreamName(KxString& sName) const override;
    uint32_t Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) override = 0;
    void Write(const void* pBuffer, uint32_t ulCount) override = 0;
    // The bytes from the position to the end of the file.
    uint64_t GetBytesAvailable() override;

    // A new object of the same class on the same file, flags, buffer size and position.
    virtual KxIOInterface* Clone() const = 0;
    // A new object of the same class opened on that file.
    virtual KxIOInterface* NewInstance(const char* sFileName, uint32_t ulFlags) const = 0;
    virtual void Close() = 0;
    // Writes pending buffered data, keeping the position.
    virtual void Flush() = 0;
    virtual const char* GetFileName() const = 0;
    // As the operating system reports it.
    virtual int64_t GetFileSize64() const = 0;
    virtual bool GetIsEOF() const = 0;
    virtual bool GetIsOpen() const = 0;
    virtual uint32_t GetOpenFlags() const = 0;
    virtual void Lock(KxLockType type, int64_t offset, int64_t length) = 0;
    virtual void Open(const char* sFileName, uint32_t ulFlags) = 0;
    // Reads or writes at the offset without moving the position.
    virtual uint32_t ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount, bool mustReadAll) = 0;
    // The seeks return the new position.
    virtual int64_t Seek64Absolute(int64_t offset) = 0;
    virtual int64_t Seek64FromCurrent(int64_t distance) = 0;
    virtual int64_t Seek64FromEnd(int64_t distance) = 0;
    virtual int64_t Tell64() const = 0;
    // Removes count bytes from the end; 0 empties the file. Moves to the start.
    virtual void Truncate64(int64_t count) = 0;
    virtual bool TryLock(KxLockType type, int64_t offset, int64_t length) = 0;
    virtual bool UnLock(KxLockType type, int64_t offset, int64_t length) = 0;
    virtual void WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) = 0;

    // 32-bit forms of the 64-bit operations; whence 0 start, 1 current, 2 end.
    virtual int32_t GetFileSize() const;
    virtual int32_t Seek(int32_t lDistance, int iWhence);
    virtual int32_t Tell() const;
    virtual void Truncate(int32_t lCount);

    // A new, unlocked operating-system lock object for this file.
    virtual KxIOLock* NewLock(KxLockType type, int64_t offset, int64_t length) = 0;

    // Static file operations.
    static bool Exists(const char* sFileName);
    static void Create(const char* sFileName);
    static void Delete(const char* sFileName);
    static void Rename(const char* sNewName, const char* sOldName);
    // Replaces the destination's contents by the source's; null progress reports nothing.
    static void Copy(const char* sDestination, const char* sSource,
                     KxProgressReport* pProgress = nullptr);
    // Moves count bytes inside one file; overlapping ranges are copied correctly.
    static void CopyBlock(KxIOInterface& file, int64_t sourceOffset, int64_t destOffset,
                          int64_t count);
    static void CopyBlockToFile(KxIOInterface& source, KxIOInterface& destination,
                                int64_t sourceOffset, int64_t destOffset, int64_t count,
                                KxProgressReport* pProgress = nullptr);
    // Creates a new empty file with a unique name in the directory (null or empty: the system's
    // temporary directory) and puts its name in sResult.
    static void GetTempFileName(KxString& sResult, const char* sDirectory = nullptr,
                                const char* sPrefix = nullptr);
    static int32_t GetLongRepresentationOfNativeint(int64_t value);

    // Block copies move this many bytes at a time.
    static constexpr int32_t kxCopyPieceSize = 8192;
};

// Adds the table of region locks. Lock errors are rewritten to "<message> (<file name>)".
class KxIOInterfaceWithLocking : public KxIOInterface {
public:
    void Lock(KxLockType type, int64_t offset, int64_t length) override;
    bool TryLock(KxLockType type, int64_t offset, int64_t length) override;
    bool UnLock(KxLockType type, int64_t offset, int64_t length) override;

    // The held regions in table order.
    int32_t GetLockCount() const;
    const KxIOLock* GetLockEntry(int32_t lIndex) const;

protected:
    // At each Open: a new base lock from NewLock (READ, 0, 0).
    void SetupBaseLock();
    // At each Close: deletes the base lock and every entry, releasing what they hold.
    void ReleaseLocks();

private:
    KxIOLockTable m_lockTable;
};

// The buffered file.
class KxIO : public KxIOInterfaceWithLocking {
public:
    static constexpr int32_t kxDefaultBufferSize = 8000;
    static constexpr int32_t kxMinBufferSize = 8000;
    static constexpr int32_t kxMaxBufferSize = 1024000;

    KxIO();
    KxIO(const char* sFile, uint32_t ulFlags);
    KxIO(const KxIO& other);
    KxIO& operator=(const KxIO&) = delete;
    ~KxIO() override;

    uint32_t Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    void Write(const void* pBuffer, uint32_t ulCount) override;
    KxIO* Clone() const override;
    KxIO* NewInstance(const char* sFileName, uint32_t ulFlags) const override;
    void Close() override;
    void Flush() override;
    const char* GetFileName() const override;
    int64_t GetFileSize64() const override;
    // Counts buffered data that extends the file.
    bool GetIsEOF() const override;
    bool GetIsOpen() const override;
    uint32_t GetOpenFlags() const override;
    void Open(const char* sFileName, uint32_t ulFlags) override;
    uint32_t ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    int64_t Seek64Absolute(int64_t offset) override;
    int64_t Seek64FromCurrent(int64_t distance) override;
    int64_t Seek64FromEnd(int64_t distance) override;
    int64_t Tell64() const override;
    void Truncate64(int64_t count) override;
    void WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) override;
    KxIOLock* NewLock(KxLockType type, int64_t offset, int64_t length) override;
    uint64_t GetBytesAvailable() override;

    // Clamped to kxMinBufferSize ... kxMaxBufferSize; keeps the data and the position.
    void SetBufferSize(int32_t lSize);
    int32_t GetBufferSize() const { return m_bufferSize; }

private:
    void Copy(const KxIO& other);
    void CheckOpen() const;
    void WriteBuffer();
    void RefillAt(int64_t offset);
    int64_t SysFileSeek(int64_t offset, int whence);
    uint32_t PositionedRead(int64_t offset, void* pBuffer, uint32_t ulCount);
    void PositionedWrite(int64_t offset, const void* pBuffer, uint32_t ulCount);
    void GrowValidTo(int32_t lEnd);
    int64_t LogicalEnd() const;
    void ForceClose() noexcept;

    std::unique_ptr<kxplatform::File> m_file;
    uint32_t m_flags = 0;
    KxString m_fileName;
    std::unique_ptr<char[]> m_buffer;
    int32_t m_bufferSize = kxDefaultBufferSize;
    int64_t m_bufferOffset = 0;
    int32_t m_valid = 0;
    int32_t m_position = 0;
    bool m_clean = true;
};

// The same interface without a buffer: every Read and Write is a system call.
class KxIOUnbuffered : public KxIOInterfaceWithLocking {
public:
    KxIOUnbuffered();
    KxIOUnbuffered(const char* sFile, uint32_t ulFlags);
    KxIOUnbuffered(const KxIOUnbuffered& other);
    KxIOUnbuffered& operator=(const KxIOUnbuffered&) = delete;
    ~KxIOUnbuffered() override;

    uint32_t Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    void Write(const void* pBuffer, uint32_t ulCount) override;
    KxIOUnbuffered* Clone() const override;
    KxIOUnbuffered* NewInstance(const char* sFileName, uint32_t ulFlags) const override;
    void Close() override;
    void Flush() override;
    const char* GetFileName() const override;
    int64_t GetFileSize64() const override;
    bool GetIsEOF() const override;
    bool GetIsOpen() const override;
    uint32_t GetOpenFlags() const override;
    void Open(const char* sFileName, uint32_t ulFlags) override;
    uint32_t ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    int64_t Seek64Absolute(int64_t offset) override;
    int64_t Seek64FromCurrent(int64_t distance) override;
    int64_t Seek64FromEnd(int64_t distance) override;
    int64_t Tell64() const override;
    void Truncate64(int64_t count) override;
    void WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) override;
    KxIOLock* NewLock(KxLockType type, int64_t offset, int64_t length) override;

private:
    void CheckOpen() const;
    int64_t SysFileSeek(int64_t offset, int whence);

    std::unique_ptr<kxplatform::File> m_file;
    uint32_t m_flags = 0;
    KxString m_fileName;
    int64_t m_position = 0;
};

// A window with a position of its own on another file, which it does not own: Read and Write go
// to the target's ReadFrom and WriteTo at the proxy's position; the rest is the target's.
class KxIOProxy : public KxIOInterface {
public:
    explicit KxIOProxy(KxIOInterface& target, int64_t position = 0);
    KxIOProxy(const KxIOProxy& other) = default;
    KxIOProxy& operator=(const KxIOProxy&) = delete;

    uint32_t Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    void Write(const void* pBuffer, uint32_t ulCount) override;
    KxIOProxy* Clone() const override;
    // A new object of the target's class; a proxy cannot own a file of its own.
    KxIOInterface* NewInstance(const char* sFileName, uint32_t ulFlags) const override;
    void Close() override;
    void Flush() override;
    const char* GetFileName() const override;
    int64_t GetFileSize64() const override;
    bool GetIsEOF() const override;
    bool GetIsOpen() const override;
    uint32_t GetOpenFlags() const override;
    void Lock(KxLockType type, int64_t offset, int64_t length) override;
    void Open(const char* sFileName, uint32_t ulFlags) override;
    uint32_t ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    int64_t Seek64Absolute(int64_t offset) override;
    int64_t Seek64FromCurrent(int64_t distance) override;
    int64_t Seek64FromEnd(int64_t distance) override;
    int64_t Tell64() const override;
    void Truncate64(int64_t count) override;
    bool TryLock(KxLockType type, int64_t offset, int64_t length) override;
    bool UnLock(KxLockType type, int64_t offset, int64_t length) override;
    void WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) override;
    KxIOLock* NewLock(KxLockType type, int64_t offset, int64_t length) override;

    KxIOInterface& GetTarget() const { return *m_target; }

private:
    KxIOInterface* m_target;
    int64_t m_position;
};
