// Byte-range locks of a file object, counted so that nested locking of one region by one file
// object costs one operating-system lock, and the table a file keeps of the regions it holds.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "kxexception.h"
#include "kxvector.h"

namespace kxplatform {
class File;
}

// READ is shared, WRITE exclusive.
enum KxLockType : int32_t {
    READ = 256,
    WRITE = 512,
};

// "READ", "WRITE", or "UNKNOWN" for any other value.
const char* KxLockTypeName(KxLockType type);

// The process-wide capability word of region locking: bit 0x2 selects shared and exclusive
// locks with 64-bit regions; without it every lock is exclusive and regions are 32-bit.
class KxIOSystem {
public:
    static constexpr int32_t kxExtendedLocks = 0x2;

    // Reads the operating system's version and sets the capabilities from what it offers.
    static void SetOSCapabilities();
    // Until SetOSCapabilities runs, the platform's own answer.
    static int32_t GetOSCapabilities();
    // Forces a value (tests, and systems known to lack the extended calls).
    static void SetOSCapabilitiesValue(int32_t lCapabilities);
};

// A critical section; recursive, as the lock table's users may re-enter it on one thread.
class KxMutex {
public:
    void Enter() { m_mutex.lock(); }
    void Leave() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Holds a KxMutex for its scope, so the mutex is left also when an exception passes.
class KxLock {
public:
    explicit KxLock(KxMutex& mutex) : m_mutex(mutex) { m_mutex.Enter(); }
    ~KxLock() { m_mutex.Leave(); }
    KxLock(const KxLock&) = delete;
    KxLock& operator=(const KxLock&) = delete;

private:
    KxMutex& m_mutex;
};

// One region with a type and a count of Lock calls not yet matched by Unlock. A length of 0
// reaches from the offset to the largest possible extent.
class KxIOLock {
public:
    KxIOLock(KxLockType type, int64_t offset, int64_t length)
        : m_offset(offset), m_length(length), m_type(type) {}
    virtual void TrueLock() = 0;
    virtual bool TrueTryLock() = 0;
    virtual void TrueUnlock() = 0;
    virtual ~KxIOLock() = default;
    virtual KxIOLock* Clone() const = 0;

    void Lock();
    bool TryLock();
    // True when the count is 0 afterwards.
    bool Unlock();
    // Releases the lock first when it is held.
    void Reset(KxLockType type, int64_t offset, int64_t length);

    int64_t GetOffset() const { return m_offset; }
    int64_t GetLength() const { return m_length; }
    KxLockType GetType() const { return m_type; }
    int32_t GetCount() const { return m_count; }

    // Regions order by offset, then by length; the type takes no part.
    bool operator<(const KxIOLock& other) const {
        return m_offset < other.m_offset ||
               (m_offset == other.m_offset && m_length < other.m_length);
    }
    bool operator==(const KxIOLock& other) const {
        return m_offset == other.m_offset && m_length == other.m_length;
    }

protected:
    KxIOLock(const KxIOLock& other) = default;
    KxIOLock& operator=(const KxIOLock&) = delete;

private:
    int64_t m_offset;
    int64_t m_length;
    KxLockType m_type;
    int32_t m_count = 0;
};

// A region lock through the platform's region-lock service on an open file, which it does not
// own: the file must outlive the lock.
class KxOSLock : public KxIOLock {
public:
    KxOSLock(kxplatform::File* pFile, KxLockType type, int64_t offset, int64_t length);
    ~KxOSLock() override;  // releases the lock when the count is not 0
    void TrueLock() override;
    bool TrueTryLock() override;
    void TrueUnlock() override;
    KxOSLock* Clone() const override;

    // Only exclusive locks on the low 32 bits of offset and length, for systems without the
    // extended calls.
    void OldLock();
    bool OldTryLock();
    void OldUnlock();

private:
    kxplatform::File* m_file;
};

// The regions one file object holds, at most one entry per offset and length. The operations
// raise their errors unlabelled; the file that owns the table rewrites and labels them.
class KxIOLockTable {
public:
    KxIOLockTable() = default;
    KxIOLockTable(const KxIOLockTable&) = delete;
    KxIOLockTable& operator=(const KxIOLockTable&) = delete;
    ~KxIOLockTable();

    // Takes ownership of the base lock (the search key and the prototype of new entries),
    // replacing any previous one; null removes it.
    void SetBaseLock(KxIOLock* pBaseLock);
    bool HasBaseLock() const { return m_baseLock != nullptr; }
    // Deletes every entry, which releases what they hold, and the base lock.
    void Clear();

    void Lock(KxLockType type, int64_t offset, int64_t length);
    bool TryLock(KxLockType type, int64_t offset, int64_t length);
    // True when the region is not locked afterwards (also when it was not locked before).
    bool UnLock(KxLockType type, int64_t offset, int64_t length);

    // The entries in table order, for inspection.
    int32_t GetCount() const;
    const KxIOLock* GetEntry(int32_t lIndex) const;

    KxMutex& GetMutex() const { return m_mutex; }

private:
    KxIOLock* FindOrInsert(KxLockType type, int64_t offset, int64_t length);
    void Remove(KxIOLock* pEntry);

    KxSortedVector<KxIOLock, KxPointerVector<KxIOLock>> m_locks;
    std::unique_ptr<KxIOLock> m_baseLock;
    mutable KxMutex m_mutex;
};
