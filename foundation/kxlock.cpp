#include "kxlock.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <thread>

#include "kxplatform_error.h"
#include "kxplatform_lock.h"
#include "kxplatform_time.h"

namespace {

// -1 until someone sets it or asks for it.
std::atomic<int32_t> g_capabilities{-1};

kxplatform::LockType PlatformType(KxLockType type) {
    return type == WRITE ? kxplatform::LockType::Write : kxplatform::LockType::Read;
}

// The old calls know 32-bit regions only.
int64_t Low32(int64_t value) { return static_cast<int64_t>(static_cast<uint32_t>(value)); }

bool HasExtendedLocks() {
    return (KxIOSystem::GetOSCapabilities() & KxIOSystem::kxExtendedLocks) != 0;
}

void CheckType(KxLockType type) {
    if (type != READ && type != WRITE)
        KxGenerateException("Invalid lock type %d", "KxIO", static_cast<int>(type));
}

} // namespace

const char* KxLockTypeName(KxLockType type) {
    switch (type) {
        case READ: return "READ";
        case WRITE: return "WRITE";
    }
    return "UNKNOWN";
}

void KxIOSystem::SetOSCapabilities() {
    KX_TRY
        kxplatform::OSVersion version;
        if (!kxplatform::GetOSVersion(version))
            KxGenerateSystemException("Could not retrieve OS version -- ", false, "KxIOSystem");
        g_capabilities = kxplatform::OSCapabilities();
    KX_CATCH("SetOSCapabilities()", "KxIOSystem")
}

int32_t KxIOSystem::GetOSCapabilities() {
    int32_t value = g_capabilities;
    if (value < 0) {
        value = kxplatform::OSCapabilities();
        g_capabilities = value;
    }
    return value;
}

void KxIOSystem::SetOSCapabilitiesValue(int32_t lCapabilities) { g_capabilities = lCapabilities; }

// ---- KxIOLock ----

void KxIOLock::Lock() {
    KX_TRY
        if (m_count == 0) TrueLock();
        ++m_count;
    KX_CATCH("Lock()", "KxIOLock")
}

bool KxIOLock::TryLock() {
    KX_TRY
        if (m_count != 0) {
            ++m_count;
            return true;
        }
        bool locked = TrueTryLock();
        if (locked) ++m_count;
        return locked;
    KX_CATCH("TryLock()", "KxIOLock")
}

bool KxIOLock::Unlock() {
    KX_TRY
        if (m_count == 1) {
            TrueUnlock();
            m_count = 0;
        } else if (m_count > 1) {
            --m_count;
        }
        return m_count == 0;
    KX_CATCH("Unlock()", "KxIOLock")
}

void KxIOLock::Reset(KxLockType type, int64_t offset, int64_t length) {
    KX_TRY
        if (m_count != 0) TrueUnlock();
        m_type = type;
        m_offset = offset;
        m_length = length;
        m_count = 0;
    KX_CATCH("Reset()", "KxIOLock")
}

// ---- KxOSLock ----

KxOSLock::KxOSLock(kxplatform::File* pFile, KxLockType type, int64_t offset, int64_t length)
    : KxIOLock(type, offset, length), m_file(pFile) {}

KxOSLock::~KxOSLock() {
    if (GetCount() == 0) return;
    try {
        TrueUnlock();
    } catch (...) {
        // The platform releases whatever is left when the file closes.
    }
}

KxOSLock* KxOSLock::Clone() const {
    return new KxOSLock(m_file, GetType(), GetOffset(), GetLength());
}

void KxOSLock::TrueLock() {
    KX_TRY
        if (!HasExtendedLocks()) {
            OldLock();
            return;
        }
        if (m_file == nullptr) kxplatform::SetLastError(EBADF);
        if (m_file == nullptr ||
            !kxplatform::LockRegion(*m_file, PlatformType(GetType()), GetOffset(), GetLength()))
            KxGenerateSystemException("Could not lock file -- ", false, "KxIO");
    KX_CATCH("TrueLock()", "KxOSLock")
}

bool KxOSLock::TrueTryLock() {
    KX_TRY
        if (!HasExtendedLocks()) return OldTryLock();
        kxplatform::TryLockResult result = kxplatform::TryLockResult::Error;
        if (m_file == nullptr)
            kxplatform::SetLastError(EBADF);
        else
            result = kxplatform::TryLockRegion(*m_file, PlatformType(GetType()), GetOffset(),
                                               GetLength());
        if (result == kxplatform::TryLockResult::Error)
            KxGenerateSystemException("Could not lock file -- ", false, "KxIO");
        return result == kxplatform::TryLockResult::Locked;
    KX_CATCH("TrueTryLock()", "KxOSLock")
}

void KxOSLock::TrueUnlock() {
    KX_TRY
        if (!HasExtendedLocks()) {
            OldUnlock();
            return;
        }
        if (m_file == nullptr) kxplatform::SetLastError(EBADF);
        if (m_file == nullptr ||
            !kxplatform::UnlockRegion(*m_file, PlatformType(GetType()), GetOffset(), GetLength()))
            KxGenerateSystemException("Could not unlock file -- ", false, "KxIO");
    KX_CATCH("TrueUnlock()", "KxOSLock")
}

void KxOSLock::OldLock() {
    KX_TRY
        // The old calls cannot wait, so poll while another holder keeps the region.
        for (;;) {
            if (OldTryLock()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    KX_CATCH("OldLock()", "KxOSLock")
}

bool KxOSLock::OldTryLock() {
    KX_TRY
        kxplatform::TryLockResult result = kxplatform::TryLockResult::Error;
        if (m_file == nullptr)
            kxplatform::SetLastError(EBADF);
        else
            result = kxplatform::TryLockRegion(*m_file, kxplatform::LockType::Write,
                                               Low32(GetOffset()), Low32(GetLength()));
        if (result == kxplatform::TryLockResult::Error)
            KxGenerateSystemException("Could not lock file -- ", false, "KxOSLock");
        return result == kxplatform::TryLockResult::Locked;
    KX_CATCH("OldTryLock()", "KxOSLock")
}

void KxOSLock::OldUnlock() {
    KX_TRY
        if (m_file == nullptr) kxplatform::SetLastError(EBADF);
        if (m_file == nullptr || !kxplatform::UnlockRegion(*m_file, kxplatform::LockType::Write,
                                                           Low32(GetOffset()), Low32(GetLength())))
            KxGenerateSystemException("Could not unlock file -- ", false, "KxOSLock");
    KX_CATCH("OldUnlock()", "KxOSLock")
}

// ---- KxIOLockTable ----

KxIOLockTable::~KxIOLockTable() { Clear(); }

void KxIOLockTable::SetBaseLock(KxIOLock* pBaseLock) {
    KxLock guard(m_mutex);
    m_baseLock.reset(pBaseLock);
}

void KxIOLockTable::Clear() {
    KxLock guard(m_mutex);
    m_locks.clear();
    m_baseLock.reset();
}

KxIOLock* KxIOLockTable::FindOrInsert(KxLockType type, int64_t offset, int64_t length) {
    if (!m_baseLock) KxGenerateException("Base lock not setup", "KxIO");
    CheckType(type);
    m_baseLock->Reset(type, offset, length);
    bool found = false;
    int32_t index = m_locks.FindPosition(m_baseLock.get(), &found) - m_locks.GetBaseIndex();
    if (found) {
        KxIOLock* held = m_locks[static_cast<size_t>(index)];
        if (held->GetType() != type)
            KxGenerateException("Could not establish a %s lock of length %" PRId64
                                " at offset %" PRId64 "; %s lock already held!",
                                "KxIO", KxLockTypeName(type), length, offset,
                                KxLockTypeName(held->GetType()));
        return held;
    }
    index = m_locks.Insert(m_baseLock->Clone()) - m_locks.GetBaseIndex();
    return m_locks[static_cast<size_t>(index)];
}

void KxIOLockTable::Lock(KxLockType type, int64_t offset, int64_t length) {
    KxLock guard(m_mutex);
    KxIOLock* entry = FindOrInsert(type, offset, length);
    try {
        entry->Lock();
    } catch (...) {
        // An entry that never got its lock would later pose as "already held".
        if (entry->GetCount() == 0) Remove(entry);
        throw;
    }
}

bool KxIOLockTable::TryLock(KxLockType type, int64_t offset, int64_t length) {
    KxLock guard(m_mutex);
    KxIOLock* entry = FindOrInsert(type, offset, length);
    bool locked = false;
    try {
        locked = entry->TryLock();
    } catch (...) {
        if (entry->GetCount() == 0) Remove(entry);
        throw;
    }
    if (!locked && entry->GetCount() == 0) Remove(entry);
    return locked;
}

bool KxIOLockTable::UnLock(KxLockType type, int64_t offset, int64_t length) {
    KxLock guard(m_mutex);
    if (!m_baseLock) KxGenerateException("Base lock not setup", "KxIO");
    m_baseLock->Reset(type, offset, length);
    bool found = false;
    int32_t index = m_locks.FindPosition(m_baseLock.get(), &found) - m_locks.GetBaseIndex();
    if (!found) return true;
    KxIOLock* entry = m_locks[static_cast<size_t>(index)];
    bool released = entry->Unlock();
    if (released) m_locks.erase(m_locks.cbegin() + index);
    return released;
}

void KxIOLockTable::Remove(KxIOLock* pEntry) {
    for (auto it = m_locks.cbegin(); it != m_locks.cend(); ++it) {
        if (*it == pEntry) {
            m_locks.erase(it);
            return;
        }
    }
}

int32_t KxIOLockTable::GetCount() const {
    KxLock guard(m_mutex);
    return m_locks.GetCount();
}

const KxIOLock* KxIOLockTable::GetEntry(int32_t lIndex) const {
    KxLock guard(m_mutex);
    return m_locks.At(lIndex);
}
