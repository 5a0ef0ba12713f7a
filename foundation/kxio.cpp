#include "kxio.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "kxalloc.h"
#include "kxplatform_error.h"
#include "kxplatform_file.h"
#include "kxplatform_identity.h"

namespace {

const char* const kSource = "KxIO";
const char* const kInterface = "KxIOInterface";

// Append is not handed to the system: a write there ignores its offset, and the buffer's flush
// would then add the whole buffer, old bytes included, to the end. The file classes move to the
// end before each write instead.
bool TranslateFlags(uint32_t ulFlags, kxplatform::OpenFlags& out) {
    if ((ulFlags & (kxIORead | kxIOWrite)) == 0) return false;
    const bool write = (ulFlags & kxIOWrite) != 0;
    out.access = write ? kxplatform::Access::ReadWrite : kxplatform::Access::Read;
    const bool create = (ulFlags & kxIOCreate) != 0, truncate = (ulFlags & kxIOTruncate) != 0;
    if (create && truncate)
        out.disposition = kxplatform::Disposition::CreateOrTruncate;
    else if (create)
        out.disposition = kxplatform::Disposition::OpenOrCreate;
    else if (truncate)
        out.disposition = kxplatform::Disposition::TruncateExisting;
    else
        out.disposition = kxplatform::Disposition::OpenExisting;
    out.append = false;
    out.createMode = write ? 0666 : 0444;
    return true;
}

const char* OpenFailureReason(int code) {
    switch (code) {
        case ENOENT:
        case ENOTDIR: return "No such file or directory.";
        case EMFILE:
        case ENFILE: return "Too many open files.";
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:  // what opening a directory reports where these reasons come from
            return "Permission denied.";
        case EINVAL: return "Invalid access code.";
        default: return "Unknown error.";
    }
}

[[noreturn]] void ThrowOpenFailed(const char* sAction, const char* sName, int code) {
    KxString message;
    message << "Error in " << sAction << " file '" << sName << "'.  " << OpenFailureReason(code);
    throw KxFileOpenFailedException(message, kSource, sName);
}

[[noreturn]] void ThrowNotOpen() { KxGenerateException("File is not open", kSource); }

void CheckSeekFromCurrent(int64_t current, int64_t distance) {
    bool before = current + distance < 0 && distance < 0;
    bool beyond = distance > 0 && current > std::numeric_limits<int64_t>::max() - distance;
    if (before || beyond)
        KxGenerateException("Cannot seek %" PRId64 " bytes from current position, %" PRId64 ".",
                            kInterface, distance, current);
}

void CheckTruncateCount(int64_t count, int64_t size, const char* sName) {
    if (count > size)
        KxGenerateException("Attempt to truncate %" PRId64 " bytes from a file which is %" PRId64
                            " bytes long",
                            kSource, count, size);
}

int64_t SizeOf(kxplatform::File& file, const char* sName) {
    int64_t size = file.Size();
    if (size < 0)
        KxGenerateSystemException("Unable to get file size of file \"%s\" --", false, kInterface,
                                  sName);
    return size;
}

int64_t SeekFile(kxplatform::File& file, int64_t offset, int whence, const char* sName) {
    kxplatform::Whence how = whence == 0   ? kxplatform::Whence::Begin
                             : whence == 1 ? kxplatform::Whence::Current
                                           : kxplatform::Whence::End;
    int64_t result = file.Seek(offset, how);
    if (result < 0)
        KxGenerateSystemException("Unable to position file pointer of \"%s\" to byte %" PRId64
                                  " -- ",
                                  false, kSource, sName, offset);
    return result;
}

void TruncateFile(kxplatform::File& file, int64_t newSize) {
    if (!file.Truncate(newSize))
        KxGenerateException("Win32 Error : %s", kSource, kxplatform::LastErrorText().c_str());
}

void CheckOffset(int64_t offset, int64_t count) {
    if (offset < 0 || count < 0 || offset > std::numeric_limits<int64_t>::max() - count)
        KxGenerateException("Invalid file region of %" PRId64 " bytes at offset %" PRId64, kSource,
                            count, offset);
}

// Rewrites a lock error to name the file, as every lock error of a file object does.
void NameFileInMessage(KxException& e, const char* sFileName) {
    KxString old(e.GetErrorMessage());
    e.SetErrorMessage("%s (%s)", old.GetCString(), sFileName);
}

} // namespace

// ---- KxIOInterface ----

void KxIOInterface::GetStreamName(KxString& sName) const { sName = GetFileName(); }

uint64_t KxIOInterface::GetBytesAvailable() {
    if (!GetIsOpen()) return 0;
    int64_t size = GetFileSize64(), position = Tell64();
    return size > position ? static_cast<uint64_t>(size - position) : 0;
}

int32_t KxIOInterface::GetFileSize() const {
    KX_TRY
        int64_t size = GetFileSize64();
        if (size > std::numeric_limits<int32_t>::max())
            KxGenerateException("File size, %" PRId64 ", is not representable in 32 bits (signed "
                                "long).",
                                kSource, size);
        return static_cast<int32_t>(size);
    KX_CATCH("GetFileSize()", kInterface)
}

int32_t KxIOInterface::Seek(int32_t lDistance, int iWhence) {
    KX_TRY
        int64_t position;
        switch (iWhence) {
            case 0: position = Seek64Absolute(lDistance); break;
            case 1: position = Seek64FromCurrent(lDistance); break;
            case 2: position = Seek64FromEnd(lDistance); break;
            default: KxGenerateException("Invalid value for 'iWhence': %d", kSource, iWhence);
        }
        if (position > std::numeric_limits<int32_t>::max())
            KxGenerateException("The resulting position (%" PRId64 ") is not representable in a "
                                "long int (32 bits, signed).  Use \"Seek64\"().",
                                kSource, position);
        return static_cast<int32_t>(position);
    KX_CATCH("Seek(long,int)", kInterface)
}

int32_t KxIOInterface::Tell() const {
    KX_TRY
        int64_t position = Tell64();
        if (position > std::numeric_limits<int32_t>::max())
            KxGenerateException("The file position is not representable in a long int (32 bits, "
                                "signed).  Use \"Tell64()\".",
                                kSource);
        return static_cast<int32_t>(position);
    KX_CATCH("Tell()", kInterface)
}

void KxIOInterface::Truncate(int32_t lCount) {
    KX_TRY
        Truncate64(lCount);
    KX_CATCH("Truncate()", kInterface)
}

bool KxIOInterface::Exists(const char* sFileName) {
    if (sFileName == nullptr || *sFileName == '\0') return false;
    return kxplatform::FileExists(sFileName) || kxplatform::DirectoryExists(sFileName);
}

void KxIOInterface::Create(const char* sFileName) {
    KX_TRY
        KxIO file(sFileName, kxIOOpenCreateEmpty);
        file.Close();
    KX_CATCH("Create()", kInterface)
}

void KxIOInterface::Delete(const char* sFileName) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Null pointer to filename", kSource);
        if (kxplatform::DeleteFile(sFileName)) return;
        int code = kxplatform::GetLastError();
        if (Exists(sFileName)) ThrowOpenFailed("deleting", sFileName, code);
    KX_CATCH("Delete()", kInterface)
}

void KxIOInterface::Rename(const char* sNewName, const char* sOldName) {
    KX_TRY
        if (sNewName == nullptr || sOldName == nullptr)
            KxGenerateException("Null pointer to filename", kSource);
        if (kxplatform::RenameFile(sOldName, sNewName)) return;
        Copy(sNewName, sOldName);
        Delete(sOldName);
    KX_CATCH("Rename()", kInterface)
}

void KxIOInterface::Copy(const char* sDestination, const char* sSource,
                         KxProgressReport* pProgress) {
    KX_TRY
        if (sDestination == nullptr || sSource == nullptr)
            KxGenerateException("Null pointer to filename", kSource);
        // Emptying the destination would empty the source, and its write lock would wait
        // forever for this very copy's read lock.
        if (kxplatform::SameFile(sSource, sDestination))
            KxGenerateException("Cannot copy file \"%s\" onto itself", kSource, sSource);
        KxIO source(sSource, kxIOOpenReadShared);
        source.Lock(READ, 0, 0);
        KxIO destination(sDestination, kxIOOpenCopyTarget);
        destination.Lock(WRITE, 0, 0);
        destination.Truncate64(0);
        CopyBlockToFile(source, destination, 0, 0, source.GetFileSize64(), pProgress);
        // Written out while still locked, so nobody reads a half-written copy.
        destination.Flush();
        destination.UnLock(WRITE, 0, 0);
        source.UnLock(READ, 0, 0);
        destination.Close();
        source.Close();
    KX_CATCH("Copy()", kInterface)
}

void KxIOInterface::CopyBlock(KxIOInterface& file, int64_t sourceOffset, int64_t destOffset,
                              int64_t count) {
    KX_TRY
        if (sourceOffset == destOffset || count == 0) return;
        CheckOffset(sourceOffset, count);
        CheckOffset(destOffset, count);
        file.Flush();
        std::unique_ptr<char[]> piece(KxAllocate(kxCopyPieceSize));
        if (destOffset > sourceOffset) {
            // Backwards, so that an overlapping range is read before it is overwritten.
            int64_t remaining = count;
            while (remaining > 0) {
                uint32_t n = static_cast<uint32_t>(std::min<int64_t>(remaining, kxCopyPieceSize));
                remaining -= n;
                file.ReadFrom(sourceOffset + remaining, piece.get(), n, true);
                file.WriteTo(destOffset + remaining, piece.get(), n);
            }
        } else {
            for (int64_t done = 0; done < count;) {
                uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count - done, kxCopyPieceSize));
                file.ReadFrom(sourceOffset + done, piece.get(), n, true);
                file.WriteTo(destOffset + done, piece.get(), n);
                done += n;
            }
        }
    KX_CATCH("CopyBlock()", kInterface)
}

void KxIOInterface::CopyBlockToFile(KxIOInterface& source, KxIOInterface& destination,
                                    int64_t sourceOffset, int64_t destOffset, int64_t count,
                                    KxProgressReport* pProgress) {
    KX_TRY
        CheckOffset(sourceOffset, count);
        CheckOffset(destOffset, count);
        KxProgressReport silent;
        KxProgressReport& report = pProgress != nullptr ? *pProgress : silent;
        source.Flush();
        source.Seek64Absolute(sourceOffset);
        destination.Seek64Absolute(destOffset);

        KxString detail;
        detail.printf("\"%s\" --> \"%s\"", source.GetFileName(), destination.GetFileName());
        report.SetTask("Copying files...");
        report.SetDetail(detail);
        report.SetRange(0, 100000);
        report.SetPosition(0);

        std::unique_ptr<char[]> piece(KxAllocate(kxCopyPieceSize));
        const int64_t pieces = (count + kxCopyPieceSize - 1) / kxCopyPieceSize;
        int64_t remaining = count, done = 0;
        while (remaining > 0) {
            uint32_t n = static_cast<uint32_t>(std::min<int64_t>(remaining, kxCopyPieceSize));
            source.Read(piece.get(), n, true);
            destination.Write(piece.get(), n);
            remaining -= n;
            ++done;
            report.SetPosition(static_cast<int32_t>(done * 100000 / pieces));
            if (!report.Continue()) {
                KxString message;
                message.printf("Block copy canceled; %" PRId64 " bytes remained to be copied",
                               remaining);
                throw KxIOCanceledException(message, kInterface);
            }
        }
        report.SetPosition(100000);
    KX_CATCH("CopyBlockToFile()", kInterface)
}

void KxIOInterface::GetTempFileName(KxString& sResult, const char* sDirectory,
                                    const char* sPrefix) {
    KX_TRY
        std::string directory = sDirectory != nullptr ? sDirectory : "";
        if (directory.empty()) {
            directory = kxplatform::TempDirectory();
            if (!kxplatform::DirectoryExists(directory))
                KxGenerateException("Could not get temporary path name -- WIN32 : %s", kSource,
                                    kxplatform::LastErrorText().c_str());
        }
        std::optional<std::string> name =
            kxplatform::CreateTempFile(directory, sPrefix != nullptr ? sPrefix : "");
        if (!name)
            KxGenerateException("Could not get temporary file name -- WIN32 : %s", kSource,
                                kxplatform::LastErrorText().c_str());
        sResult = name->c_str();
    KX_CATCH("GetTempFileName", kInterface)
}

int32_t KxIOInterface::GetLongRepresentationOfNativeint(int64_t value) {
    KX_TRY
        if (value < std::numeric_limits<int32_t>::min() ||
            value > std::numeric_limits<int32_t>::max())
            KxGenerateException("64-bit value %" PRId64
                                " is not representable in 32 bits (signed long).",
                                kSource, value);
        return static_cast<int32_t>(value);
    KX_CATCH("GetLongRepresentationOfNativeint(nativeint)", kInterface)
}

// ---- KxIOInterfaceWithLocking ----

void KxIOInterfaceWithLocking::Lock(KxLockType type, int64_t offset, int64_t length) {
    KX_TRY
        try {
            m_lockTable.Lock(type, offset, length);
        } catch (KxException& e) {
            NameFileInMessage(e, GetFileName());
            throw;
        }
    KX_CATCH("Lock()", "KxIOInterfaceWithLocking")
}

bool KxIOInterfaceWithLocking::TryLock(KxLockType type, int64_t offset, int64_t length) {
    KX_TRY
        try {
            return m_lockTable.TryLock(type, offset, length);
        } catch (KxException& e) {
            NameFileInMessage(e, GetFileName());
            throw;
        }
    KX_CATCH("TryLock()", "KxIOInterfaceWithLocking")
}

bool KxIOInterfaceWithLocking::UnLock(KxLockType type, int64_t offset, int64_t length) {
    KX_TRY
        try {
            return m_lockTable.UnLock(type, offset, length);
        } catch (KxException& e) {
            NameFileInMessage(e, GetFileName());
            throw;
        }
    KX_CATCH("UnLock()", "KxIOInterfaceWithLocking")
}

int32_t KxIOInterfaceWithLocking::GetLockCount() const { return m_lockTable.GetCount(); }

const KxIOLock* KxIOInterfaceWithLocking::GetLockEntry(int32_t lIndex) const {
    return m_lockTable.GetEntry(lIndex);
}

void KxIOInterfaceWithLocking::SetupBaseLock() {
    m_lockTable.Clear();
    m_lockTable.SetBaseLock(NewLock(READ, 0, 0));
}

void KxIOInterfaceWithLocking::ReleaseLocks() { m_lockTable.Clear(); }

// ---- KxIO ----
//
// The buffer holds the file bytes [buffer offset, buffer offset + valid). While it is not clean
// those bytes are newer than the file's. The position may lie beyond valid (a seek inside a
// buffer not yet written): the bytes between are then taken from the file, or are zeros past its
// end, as soon as a write reaches past them.

KxIO::KxIO() : m_file(std::make_unique<kxplatform::File>()) {}

KxIO::KxIO(const char* sFile, uint32_t ulFlags) : m_file(std::make_unique<kxplatform::File>()) {
    KX_TRY
        try {
            Open(sFile, ulFlags);
        } catch (...) {
            ForceClose();
            throw;
        }
    KX_CATCH("Constructor(char * sFile...)", kSource)
}

KxIO::KxIO(const KxIO& other)
    : KxIOInterfaceWithLocking(), m_file(std::make_unique<kxplatform::File>()) {
    KX_TRY
        try {
            Copy(other);
        } catch (...) {
            ForceClose();
            throw;
        }
    KX_CATCH("Copy constructor()", kSource)
}

KxIO::~KxIO() { ForceClose(); }

void KxIO::Copy(const KxIO& other) {
    KX_TRY
        SetBufferSize(other.m_bufferSize);
        if (!other.GetIsOpen()) return;
        // The copy reads the file, so what the original holds in its buffer must be there.
        const_cast<KxIO&>(other).Flush();
        // Truncating again would empty the file the original just wrote.
        Open(other.m_fileName, other.m_flags & ~static_cast<uint32_t>(kxIOTruncate));
        m_flags = other.m_flags;
        Seek64Absolute(other.Tell64());
    KX_CATCH("Copy()", kSource)
}

KxIO* KxIO::Clone() const {
    KX_TRY
        return new KxIO(*this);
    KX_CATCH("Clone()", kSource)
}

KxIO* KxIO::NewInstance(const char* sFileName, uint32_t ulFlags) const {
    KX_TRY
        return new KxIO(sFileName, ulFlags);
    KX_CATCH("NewInstance()", kSource)
}

void KxIO::CheckOpen() const {
    if (!m_file->IsOpen()) ThrowNotOpen();
}

void KxIO::Open(const char* sFileName, uint32_t ulFlags) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Null pointer to filename", kSource);
        kxplatform::OpenFlags flags;
        if (!TranslateFlags(ulFlags, flags)) KxGenerateException("Invalid file flags", kSource);
        // The name may be this object's own, which Close clears.
        KxString name(sFileName);
        Close();
        if (!m_file->Open(name.GetCString(), flags))
            ThrowOpenFailed("opening", name, kxplatform::GetLastError());
        m_flags = ulFlags;
        m_fileName = name;
        int64_t start = (ulFlags & kxIOAppend) ? SeekFile(*m_file, 0, 2, m_fileName) : 0;
        if (!m_buffer) m_buffer.reset(KxAllocate(m_bufferSize));
        m_clean = true;
        m_valid = 0;
        m_position = 0;
        m_bufferOffset = start;
        SetupBaseLock();
        RefillAt(start);
    KX_CATCH("Open", kSource)
}

void KxIO::Close() {
    KX_TRY
        if (!m_file->IsOpen()) {
            ReleaseLocks();
            return;
        }
        // Written before the locks go, so no other process sees the region unlocked but stale.
        WriteBuffer();
        ReleaseLocks();
        KxString name(m_fileName);
        bool closed = m_file->Close();
        m_fileName.Clear();
        m_flags = 0;
        m_bufferOffset = 0;
        m_valid = 0;
        m_position = 0;
        if (!closed)
            KxGenerateSystemException("Could not close file \"%s\" -- ", false, kSource,
                                      name.GetCString());
    KX_CATCH("Close()", kSource)
}

void KxIO::ForceClose() noexcept {
    try {
        Close();
        return;
    } catch (...) {
    }
    // The buffer could not be written; the error was reported to whoever closed before.
    try {
        ReleaseLocks();
    } catch (...) {
    }
    m_file->Close();
    m_clean = true;
    m_valid = 0;
    m_position = 0;
    m_bufferOffset = 0;
    m_flags = 0;
    try {
        m_fileName.Clear();
    } catch (...) {
    }
}

void KxIO::WriteBuffer() {
    if (m_clean) return;
    if (m_valid > 0) {
        int64_t written = m_file->WriteAt(m_bufferOffset, m_buffer.get(),
                                          static_cast<size_t>(m_valid));
        if (written < 0)
            KxGenerateException("Unable to write %" PRId32 " bytes at offset %" PRId64
                                " of file \"%s\"",
                                kSource, m_valid, m_bufferOffset, m_fileName.GetCString());
        if (written < m_valid)
            KxGenerateException("Only able to write %" PRId64 " bytes of %" PRId32
                                " bytes at offset %" PRId64 " of file \"%s\"",
                                kSource, written, m_valid, m_bufferOffset,
                                m_fileName.GetCString());
    }
    m_clean = true;
}

void KxIO::RefillAt(int64_t offset) {
    WriteBuffer();
    m_bufferOffset = offset;
    m_valid = 0;
    m_position = 0;
    int64_t got = m_file->ReadAt(offset, m_buffer.get(), static_cast<size_t>(m_bufferSize));
    if (got < 0)
        KxGenerateException("Unable to read %" PRId32 " bytes at offset %" PRId64
                            " of file \"%s\"",
                            kSource, m_bufferSize, offset, m_fileName.GetCString());
    m_valid = static_cast<int32_t>(got);
}

// Makes [valid, lEnd) of the buffer hold what the file has there (zeros past its end), so that
// writing beyond valid never puts stale buffer bytes into the file.
void KxIO::GrowValidTo(int32_t lEnd) {
    if (lEnd <= m_valid) return;
    size_t gap = static_cast<size_t>(lEnd - m_valid);
    char* p = m_buffer.get() + m_valid;
    int64_t got = m_file->ReadAt(m_bufferOffset + m_valid, p, gap);
    if (got < 0)
        KxGenerateException("Unable to read %" PRId32 " bytes at offset %" PRId64
                            " of file \"%s\"",
                            kSource, static_cast<int32_t>(gap), m_bufferOffset + m_valid,
                            m_fileName.GetCString());
    memset(p + got, 0, gap - static_cast<size_t>(got));
    m_valid = lEnd;
}

int64_t KxIO::LogicalEnd() const {
    return std::max(SizeOf(*m_file, m_fileName), m_bufferOffset + m_valid);
}

int64_t KxIO::SysFileSeek(int64_t offset, int whence) {
    KX_TRY
        return SeekFile(*m_file, offset, whence, m_fileName);
    KX_CATCH("SysFileSeek(nativeint,int)", kSource)
}

uint32_t KxIO::Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) {
    KX_TRY
        CheckOpen();
        if (ulCount == 0) return 0;
        if ((m_flags & kxIORead) == 0)
            KxGenerateException("Attempt to read from a write-only file", kSource);
        char* out = static_cast<char*>(pBuffer);
        uint32_t done = 0;
        while (done < ulCount) {
            if (m_position >= m_valid) {
                RefillAt(m_bufferOffset + m_position);
                if (m_valid == 0) break;
            }
            uint32_t n = std::min(ulCount - done, static_cast<uint32_t>(m_valid - m_position));
            memcpy(out + done, m_buffer.get() + m_position, n);
            m_position += static_cast<int32_t>(n);
            done += n;
        }
        if (done < ulCount && mustReadAll)
            KxGenerateException("Unable to perform a required read at offset %" PRId64
                                " of \"%s\"",
                                kSource, Tell64(), m_fileName.GetCString());
        return done;
    KX_CATCH("Read", kSource)
}

void KxIO::Write(const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        CheckOpen();
        if ((m_flags & kxIOWrite) == 0)
            KxGenerateException("Attempt to write to a read-only file", kSource);
        if (ulCount == 0) return;
        if (m_flags & kxIOAppend) {
            int64_t end = LogicalEnd();
            if (Tell64() != end) Seek64Absolute(end);
        }
        const char* in = static_cast<const char*>(pBuffer);
        uint32_t remaining = ulCount;
        while (remaining > 0) {
            uint32_t space = static_cast<uint32_t>(m_bufferSize - m_position);
            GrowValidTo(m_position);
            m_clean = false;
            if (remaining <= space) {
                memcpy(m_buffer.get() + m_position, in, remaining);
                m_position += static_cast<int32_t>(remaining);
                if (m_valid < m_position) m_valid = m_position;
                return;
            }
            memcpy(m_buffer.get() + m_position, in, space);
            in += space;
            remaining -= space;
            m_valid = m_bufferSize;
            m_position = m_bufferSize;
            RefillAt(m_bufferOffset + m_bufferSize);
        }
    KX_CATCH("Write()", kSource)
}

void KxIO::Flush() {
    KX_TRY
        if (!m_file->IsOpen()) return;
        int64_t position = Tell64();
        WriteBuffer();
        Seek64Absolute(position);
    KX_CATCH("Flush()", kSource)
}

const char* KxIO::GetFileName() const { return m_fileName.GetCString(); }

int64_t KxIO::GetFileSize64() const {
    KX_TRY
        return SizeOf(*m_file, m_fileName);
    KX_CATCH("GetFileSize64()", kSource)
}

bool KxIO::GetIsEOF() const {
    KX_TRY
        if (!m_file->IsOpen()) return true;
        return Tell64() >= LogicalEnd();
    KX_CATCH("GetIsEOF()", kSource)
}

uint64_t KxIO::GetBytesAvailable() {
    if (!m_file->IsOpen()) return 0;
    int64_t end = LogicalEnd(), position = Tell64();
    return end > position ? static_cast<uint64_t>(end - position) : 0;
}

bool KxIO::GetIsOpen() const { return m_file->IsOpen(); }

uint32_t KxIO::GetOpenFlags() const { return m_flags; }

int64_t KxIO::Seek64Absolute(int64_t offset) {
    KX_TRY
        CheckOpen();
        int64_t windowEnd = m_bufferOffset + (m_clean ? m_valid : m_bufferSize);
        if (offset >= m_bufferOffset && offset <= windowEnd) {
            m_position = static_cast<int32_t>(offset - m_bufferOffset);
            return offset;
        }
        WriteBuffer();
        int64_t position = SysFileSeek(offset, 0);
        RefillAt(position);
        return position;
    KX_CATCH("Seek64Absolute(nativeint)", kSource)
}

int64_t KxIO::Seek64FromCurrent(int64_t distance) {
    KX_TRY
        CheckOpen();
        int64_t current = Tell64();
        CheckSeekFromCurrent(current, distance);
        return Seek64Absolute(current + distance);
    KX_CATCH("Seek64FromCurrent(nativeint)", kSource)
}

int64_t KxIO::Seek64FromEnd(int64_t distance) {
    KX_TRY
        CheckOpen();
        WriteBuffer();
        int64_t position = SysFileSeek(distance, 2);
        RefillAt(position);
        return position;
    KX_CATCH("Seek64FromEnd(nativeint)", kSource)
}

int64_t KxIO::Tell64() const { return m_bufferOffset + m_position; }

void KxIO::Truncate64(int64_t count) {
    KX_TRY
        CheckOpen();
        if (count < 0)
            KxGenerateException("Cannot truncate %" PRId64 " bytes from file, %s.", kSource, count,
                                m_fileName.GetCString());
        // Written first, so that the size compared and cut includes the buffered bytes.
        WriteBuffer();
        int64_t size = SizeOf(*m_file, m_fileName);
        CheckTruncateCount(count, size, m_fileName);
        if ((m_flags & kxIOWrite) == 0)
            KxGenerateException("Attempt to truncate file \"%s\" without write permission.",
                                kSource, m_fileName.GetCString());
        int64_t newSize = count == 0 ? 0 : size - count;
        TruncateFile(*m_file, newSize);
        int64_t kept = std::max<int64_t>(0, newSize - m_bufferOffset);
        if (m_valid > kept) m_valid = static_cast<int32_t>(kept);
        Seek64Absolute(0);
    KX_CATCH("Truncate64(nativeint)", kSource)
}

uint32_t KxIO::PositionedRead(int64_t offset, void* pBuffer, uint32_t ulCount) {
    KX_TRY
        int64_t got = m_file->ReadAt(offset, pBuffer, ulCount);
        if (got < 0)
            KxGenerateSystemException("Could not read %" PRIu32 " bytes at %" PRId64
                                      " in file \"%s\" -- ",
                                      false, kSource, ulCount, offset, m_fileName.GetCString());
        return static_cast<uint32_t>(got);
    KX_CATCH("PositionedRead()", kSource)
}

void KxIO::PositionedWrite(int64_t offset, const void* pBuffer, uint32_t ulCount) {
    int64_t put = m_file->WriteAt(offset, pBuffer, ulCount);
    if (put < static_cast<int64_t>(ulCount))
        KxGenerateSystemException("Unable to write %" PRIu32 " bytes at position %" PRId64
                                  " of file \"%s\" -- ",
                                  false, kSource, ulCount, offset, m_fileName.GetCString());
}

uint32_t KxIO::ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount, bool mustReadAll) {
    KX_TRY
        CheckOpen();
        if (ulCount == 0) return 0;
        if ((m_flags & kxIORead) == 0)
            KxGenerateException("Attempt to read from a write-only file", kSource);
        CheckOffset(offset, ulCount);
        char* out = static_cast<char*>(pBuffer);
        const int64_t end = offset + ulCount;
        const int64_t windowStart = m_bufferOffset, windowEnd = m_bufferOffset + m_valid;
        uint32_t done = 0;
        bool complete = true;
        if (offset < windowStart) {
            uint32_t n = static_cast<uint32_t>(std::min(end, windowStart) - offset);
            done = PositionedRead(offset, out, n);
            complete = done == n;
        }
        if (complete) {
            int64_t from = std::max(offset, windowStart), to = std::min(end, windowEnd);
            if (from < to) {
                memcpy(out + (from - offset), m_buffer.get() + (from - windowStart),
                       static_cast<size_t>(to - from));
                done += static_cast<uint32_t>(to - from);
            }
            if (end > windowEnd) {
                int64_t after = std::max(offset, windowEnd);
                done += PositionedRead(after, out + (after - offset),
                                       static_cast<uint32_t>(end - after));
            }
        }
        if (mustReadAll && done < ulCount)
            KxGenerateException("Unable to read %" PRIu32 " bytes from position %" PRId64
                                " of file \"%s\"; file length is %" PRId64,
                                kSource, ulCount, offset, m_fileName.GetCString(), LogicalEnd());
        return done;
    KX_CATCH("ReadFrom()", kSource)
}

void KxIO::WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        CheckOpen();
        if ((m_flags & kxIOWrite) == 0)
            KxGenerateException("Attempt to write to a read-only file", kSource);
        if (ulCount == 0) return;
        CheckOffset(offset, ulCount);
        const char* in = static_cast<const char*>(pBuffer);
        const int64_t end = offset + ulCount;
        const int64_t windowStart = m_bufferOffset, windowEnd = m_bufferOffset + m_valid;
        if (offset < windowStart)
            PositionedWrite(offset, in, static_cast<uint32_t>(std::min(end, windowStart) - offset));
        if (end > windowEnd) {
            int64_t after = std::max(offset, windowEnd);
            PositionedWrite(after, in + (after - offset), static_cast<uint32_t>(end - after));
        }
        int64_t from = std::max(offset, windowStart), to = std::min(end, windowEnd);
        if (from < to) {
            memcpy(m_buffer.get() + (from - windowStart), in + (from - offset),
                   static_cast<size_t>(to - from));
            m_clean = false;
        }
    KX_CATCH("WriteTo()", kSource)
}

KxIOLock* KxIO::NewLock(KxLockType type, int64_t offset, int64_t length) {
    return new KxOSLock(m_file.get(), type, offset, length);
}

void KxIO::SetBufferSize(int32_t lSize) {
    KX_TRY
        lSize = std::clamp(lSize, kxMinBufferSize, kxMaxBufferSize);
        if (!m_buffer) {
            m_buffer.reset(KxAllocate(lSize));
            m_bufferSize = lSize;
            return;
        }
        if (lSize == m_bufferSize) return;
        const bool open = m_file->IsOpen();
        if (lSize > m_bufferSize) {
            if (open) WriteBuffer();
            std::unique_ptr<char[]> block(KxAllocate(lSize));
            memcpy(block.get(), m_buffer.get(), static_cast<size_t>(m_bufferSize));
            m_buffer = std::move(block);
            m_bufferSize = lSize;
            return;
        }
        std::unique_ptr<char[]> block(KxAllocate(lSize));
        if (open) {
            WriteBuffer();
            int64_t position = Tell64();
            m_buffer = std::move(block);
            m_bufferSize = lSize;
            RefillAt(position);
        } else {
            m_buffer = std::move(block);
            m_bufferSize = lSize;
            m_valid = 0;
            m_position = 0;
        }
    KX_CATCH("SetBufferSize()", kSource)
}

// ---- KxIOUnbuffered ----

namespace {
const char* const kUnbuffered = "KxIOUnbuffered";
}

KxIOUnbuffered::KxIOUnbuffered() : m_file(std::make_unique<kxplatform::File>()) {}

KxIOUnbuffered::KxIOUnbuffered(const char* sFile, uint32_t ulFlags)
    : m_file(std::make_unique<kxplatform::File>()) {
    KX_TRY
        try {
            Open(sFile, ulFlags);
        } catch (...) {
            ReleaseLocks();
            throw;
        }
    KX_CATCH("Constructor(char * sFile...)", kUnbuffered)
}

KxIOUnbuffered::KxIOUnbuffered(const KxIOUnbuffered& other)
    : KxIOInterfaceWithLocking(), m_file(std::make_unique<kxplatform::File>()) {
    KX_TRY
        try {
            if (other.GetIsOpen()) {
                Open(other.m_fileName, other.m_flags & ~static_cast<uint32_t>(kxIOTruncate));
                m_flags = other.m_flags;
                m_position = other.m_position;
            }
        } catch (...) {
            ReleaseLocks();
            throw;
        }
    KX_CATCH("Copy constructor()", kUnbuffered)
}

KxIOUnbuffered::~KxIOUnbuffered() {
    try {
        Close();
    } catch (...) {
    }
    ReleaseLocks();
}

KxIOUnbuffered* KxIOUnbuffered::Clone() const {
    KX_TRY
        return new KxIOUnbuffered(*this);
    KX_CATCH("Clone()", kUnbuffered)
}

KxIOUnbuffered* KxIOUnbuffered::NewInstance(const char* sFileName, uint32_t ulFlags) const {
    KX_TRY
        return new KxIOUnbuffered(sFileName, ulFlags);
    KX_CATCH("NewInstance()", kUnbuffered)
}

void KxIOUnbuffered::CheckOpen() const {
    if (!m_file->IsOpen()) ThrowNotOpen();
}

int64_t KxIOUnbuffered::SysFileSeek(int64_t offset, int whence) {
    KX_TRY
        return SeekFile(*m_file, offset, whence, m_fileName);
    KX_CATCH("SysFileSeek(nativeint,int)", kUnbuffered)
}

void KxIOUnbuffered::Open(const char* sFileName, uint32_t ulFlags) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Null pointer to filename", kSource);
        kxplatform::OpenFlags flags;
        if (!TranslateFlags(ulFlags, flags)) KxGenerateException("Invalid file flags", kSource);
        KxString name(sFileName);
        Close();
        if (!m_file->Open(name.GetCString(), flags))
            ThrowOpenFailed("opening", name, kxplatform::GetLastError());
        m_flags = ulFlags;
        m_fileName = name;
        m_position = (ulFlags & kxIOAppend) ? SysFileSeek(0, 2) : 0;
        SetupBaseLock();
    KX_CATCH("Open", kUnbuffered)
}

void KxIOUnbuffered::Close() {
    KX_TRY
        ReleaseLocks();
        if (!m_file->IsOpen()) return;
        KxString name(m_fileName);
        bool closed = m_file->Close();
        m_fileName.Clear();
        m_flags = 0;
        m_position = 0;
        if (!closed)
            KxGenerateSystemException("Could not close file \"%s\" -- ", false, kSource,
                                      name.GetCString());
    KX_CATCH("Close()", kUnbuffered)
}

void KxIOUnbuffered::Flush() {}

uint32_t KxIOUnbuffered::Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) {
    KX_TRY
        CheckOpen();
        if (ulCount == 0) return 0;
        if ((m_flags & kxIORead) == 0)
            KxGenerateException("Attempt to read from a write-only file", kSource);
        int64_t got = m_file->ReadAt(m_position, pBuffer, ulCount);
        if (got < 0 || (mustReadAll && got < ulCount))
            KxGenerateException("Unable to read %" PRIu32 " bytes from \"%s\"", kSource, ulCount,
                                m_fileName.GetCString());
        m_position += got;
        return static_cast<uint32_t>(got);
    KX_CATCH("Read", kUnbuffered)
}

void KxIOUnbuffered::Write(const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        CheckOpen();
        if ((m_flags & kxIOWrite) == 0)
            KxGenerateException("Attempt to write to a read-only file", kSource);
        if (ulCount == 0) return;
        if (m_flags & kxIOAppend) m_position = SizeOf(*m_file, m_fileName);
        int64_t put = m_file->WriteAt(m_position, pBuffer, ulCount);
        if (put < static_cast<int64_t>(ulCount))
            KxGenerateException("Could not write %" PRIu32 " bytes to \"%s\"", kSource, ulCount,
                                m_fileName.GetCString());
        m_position += put;
    KX_CATCH("Write()", kUnbuffered)
}

const char* KxIOUnbuffered::GetFileName() const { return m_fileName.GetCString(); }

int64_t KxIOUnbuffered::GetFileSize64() const {
    KX_TRY
        return SizeOf(*m_file, m_fileName);
    KX_CATCH("GetFileSize64()", kUnbuffered)
}

bool KxIOUnbuffered::GetIsEOF() const {
    KX_TRY
        if (!m_file->IsOpen()) return true;
        return m_position >= SizeOf(*m_file, m_fileName);
    KX_CATCH("GetIsEOF()", kUnbuffered)
}

bool KxIOUnbuffered::GetIsOpen() const { return m_file->IsOpen(); }

uint32_t KxIOUnbuffered::GetOpenFlags() const { return m_flags; }

uint32_t KxIOUnbuffered::ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount,
                                  bool mustReadAll) {
    KX_TRY
        CheckOpen();
        if (ulCount == 0) return 0;
        if ((m_flags & kxIORead) == 0)
            KxGenerateException("Attempt to read from a write-only file", kSource);
        CheckOffset(offset, ulCount);
        int64_t got = m_file->ReadAt(offset, pBuffer, ulCount);
        if (got < 0)
            KxGenerateSystemException("Could not read %" PRIu32 " bytes at %" PRId64
                                      " in file \"%s\" -- ",
                                      false, kSource, ulCount, offset, m_fileName.GetCString());
        if (mustReadAll && got < ulCount)
            KxGenerateException("Unable to read %" PRIu32 " bytes from position %" PRId64
                                " of file \"%s\"; file length is %" PRId64,
                                kSource, ulCount, offset, m_fileName.GetCString(),
                                SizeOf(*m_file, m_fileName));
        return static_cast<uint32_t>(got);
    KX_CATCH("ReadFrom()", kUnbuffered)
}

void KxIOUnbuffered::WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        CheckOpen();
        if ((m_flags & kxIOWrite) == 0)
            KxGenerateException("Attempt to write to a read-only file", kSource);
        if (ulCount == 0) return;
        CheckOffset(offset, ulCount);
        int64_t put = m_file->WriteAt(offset, pBuffer, ulCount);
        if (put < static_cast<int64_t>(ulCount))
            KxGenerateSystemException("Unable to write %" PRIu32 " bytes at position %" PRId64
                                      " of file \"%s\" -- ",
                                      false, kSource, ulCount, offset, m_fileName.GetCString());
    KX_CATCH("WriteTo()", kUnbuffered)
}

int64_t KxIOUnbuffered::Seek64Absolute(int64_t offset) {
    KX_TRY
        CheckOpen();
        m_position = SysFileSeek(offset, 0);
        return m_position;
    KX_CATCH("Seek64Absolute(nativeint)", kUnbuffered)
}

int64_t KxIOUnbuffered::Seek64FromCurrent(int64_t distance) {
    KX_TRY
        CheckOpen();
        CheckSeekFromCurrent(m_position, distance);
        return Seek64Absolute(m_position + distance);
    KX_CATCH("Seek64FromCurrent(nativeint)", kUnbuffered)
}

int64_t KxIOUnbuffered::Seek64FromEnd(int64_t distance) {
    KX_TRY
        CheckOpen();
        m_position = SysFileSeek(distance, 2);
        return m_position;
    KX_CATCH("Seek64FromEnd(nativeint)", kUnbuffered)
}

int64_t KxIOUnbuffered::Tell64() const { return m_position; }

void KxIOUnbuffered::Truncate64(int64_t count) {
    KX_TRY
        CheckOpen();
        if (count < 0)
            KxGenerateException("Cannot truncate %" PRId64 " bytes from file, %s.", kSource, count,
                                m_fileName.GetCString());
        int64_t size = SizeOf(*m_file, m_fileName);
        CheckTruncateCount(count, size, m_fileName);
        if ((m_flags & kxIOWrite) == 0)
            KxGenerateException("Attempt to truncate file \"%s\" without write permission.",
                                kSource, m_fileName.GetCString());
        TruncateFile(*m_file, count == 0 ? 0 : size - count);
        m_position = 0;
    KX_CATCH("Truncate64(nativeint)", kUnbuffered)
}

KxIOLock* KxIOUnbuffered::NewLock(KxLockType type, int64_t offset, int64_t length) {
    return new KxOSLock(m_file.get(), type, offset, length);
}

// ---- KxIOProxy ----

namespace {
const char* const kProxy = "KxIOProxy";
}

KxIOProxy::KxIOProxy(KxIOInterface& target, int64_t position)
    : m_target(&target), m_position(position) {}

KxIOProxy* KxIOProxy::Clone() const {
    KX_TRY
        return new KxIOProxy(*this);
    KX_CATCH_STD("Clone()", kProxy)
}

KxIOInterface* KxIOProxy::NewInstance(const char* sFileName, uint32_t ulFlags) const {
    KX_TRY
        return m_target->NewInstance(sFileName, ulFlags);
    KX_CATCH("NewInstance()", kProxy)
}

uint32_t KxIOProxy::Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) {
    KX_TRY
        uint32_t got = m_target->ReadFrom(m_position, pBuffer, ulCount, mustReadAll);
        m_position += got;
        return got;
    KX_CATCH("Read", kProxy)
}

void KxIOProxy::Write(const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        m_target->WriteTo(m_position, pBuffer, ulCount);
        m_position += ulCount;
    KX_CATCH("Write()", kProxy)
}

void KxIOProxy::Close() {
    KX_TRY
        m_target->Close();
        m_position = 0;
    KX_CATCH("Close()", kProxy)
}

void KxIOProxy::Flush() {
    KX_TRY
        m_target->Flush();
    KX_CATCH("Flush()", kProxy)
}

const char* KxIOProxy::GetFileName() const { return m_target->GetFileName(); }

int64_t KxIOProxy::GetFileSize64() const {
    KX_TRY
        return m_target->GetFileSize64();
    KX_CATCH("GetFileSize64()", kProxy)
}

bool KxIOProxy::GetIsEOF() const {
    KX_TRY
        if (!m_target->GetIsOpen()) return true;
        // The target's size counts only what has reached the file.
        m_target->Flush();
        return m_position >= m_target->GetFileSize64();
    KX_CATCH("GetIsEOF()", kProxy)
}

bool KxIOProxy::GetIsOpen() const { return m_target->GetIsOpen(); }

uint32_t KxIOProxy::GetOpenFlags() const { return m_target->GetOpenFlags(); }

void KxIOProxy::Lock(KxLockType type, int64_t offset, int64_t length) {
    KX_TRY
        m_target->Lock(type, offset, length);
    KX_CATCH("Lock()", kProxy)
}

bool KxIOProxy::TryLock(KxLockType type, int64_t offset, int64_t length) {
    KX_TRY
        return m_target->TryLock(type, offset, length);
    KX_CATCH("TryLock()", kProxy)
}

bool KxIOProxy::UnLock(KxLockType type, int64_t offset, int64_t length) {
    KX_TRY
        return m_target->UnLock(type, offset, length);
    KX_CATCH("UnLock()", kProxy)
}

KxIOLock* KxIOProxy::NewLock(KxLockType type, int64_t offset, int64_t length) {
    return m_target->NewLock(type, offset, length);
}

void KxIOProxy::Open(const char* sFileName, uint32_t ulFlags) {
    KX_TRY
        m_target->Open(sFileName, ulFlags);
        m_position = m_target->Tell64();
    KX_CATCH("Open", kProxy)
}

uint32_t KxIOProxy::ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount, bool mustReadAll) {
    KX_TRY
        return m_target->ReadFrom(offset, pBuffer, ulCount, mustReadAll);
    KX_CATCH("ReadFrom()", kProxy)
}

void KxIOProxy::WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        m_target->WriteTo(offset, pBuffer, ulCount);
    KX_CATCH("WriteTo()", kProxy)
}

int64_t KxIOProxy::Seek64Absolute(int64_t offset) {
    KX_TRY
        if (offset < 0)
            KxGenerateException("Unable to position file pointer of \"%s\" to byte %" PRId64,
                                kSource, m_target->GetFileName(), offset);
        m_position = offset;
        return m_position;
    KX_CATCH("Seek64Absolute(nativeint)", kProxy)
}

int64_t KxIOProxy::Seek64FromCurrent(int64_t distance) {
    KX_TRY
        CheckSeekFromCurrent(m_position, distance);
        m_position += distance;
        return m_position;
    KX_CATCH("Seek64FromCurrent(nativeint)", kProxy)
}

int64_t KxIOProxy::Seek64FromEnd(int64_t distance) {
    KX_TRY
        m_target->Flush();
        int64_t size = m_target->GetFileSize64();
        CheckSeekFromCurrent(size, distance);
        m_position = size + distance;
        return m_position;
    KX_CATCH("Seek64FromEnd(nativeint)", kProxy)
}

int64_t KxIOProxy::Tell64() const { return m_position; }

void KxIOProxy::Truncate64(int64_t count) {
    KX_TRY
        m_target->Truncate64(count);
        m_position = 0;
    KX_CATCH("Truncate64(nativeint)", kProxy)
}
