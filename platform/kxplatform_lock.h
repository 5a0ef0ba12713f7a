// Byte-range locks of an open File, with the semantics of region locks on the file object.
//
// Locks belong to the File object (its open file description), not to the process or thread:
// two File objects on the same file exclude each other even inside one process, and an exclusive
// lock works on a file opened for reading only. See kxplatform_lock.cpp for how.
#pragma once

#include <cstdint>
#include <string>

#include "kxplatform_file.h"

namespace kxplatform {

enum class LockType {
    Read,   // shared
    Write,  // exclusive
};

enum class TryLockResult {
    Locked,
    WouldBlock,  // another file object holds a conflicting lock
    Error,       // GetLastError tells why
};

// A region is [offset, offset + length). A length of 0, or one that reaches beyond the largest
// file offset, means "from offset to the end of any possible file".
//
// One File may hold several locks whose regions overlap or nest (even equal regions, one per
// call); each byte is held as strongly as the strongest lock covering it, and unlocking one
// region releases only what no other lock of the same File still covers. A Write lock over bytes
// the same File holds for Read upgrades them.

// The lock calls of one File may come from several threads; they must not overlap its Open or
// Close.

// Waits until the lock is granted. Interrupting signals do not end the wait.
bool LockRegion(File& file, LockType type, int64_t offset, int64_t length);
// Returns at once.
TryLockResult TryLockRegion(File& file, LockType type, int64_t offset, int64_t length);
// Releases one lock taken with the same type, offset and length (a lock of the other type on
// the same region if there is none of this type). Unlocking a region not locked does nothing.
bool UnlockRegion(File& file, LockType type, int64_t offset, int64_t length);

enum class LockMethod {
    None,           // no lock taken yet through this File
    Companion,      // a lock file in the shared lock directory
    OwnDescriptor,  // the lock directory was unusable: the data file's own descriptor
};
LockMethod GetLockMethod(const File& file);

// The shared directory of lock files, ending with '/'; /tmp/kxlocks/ unless changed.
std::string LockDirectory();
// Changes the lock directory for this process, for tests. Processes only exclude each other when
// they use the same directory; set it before the first lock.
void SetLockDirectory(const std::string& directory);

// Capability bits of region locking. kCapabilityExtendedLocks: shared and exclusive locks with
// 64-bit regions. OSCapabilities() is 7 when open-file-description locks work, 1 otherwise.
inline constexpr int kCapabilityExtendedLocks = 0x2;
int OSCapabilities();

} // namespace kxplatform
