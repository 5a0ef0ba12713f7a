// The one way the library and the application report failures: exceptions carrying a message,
// a source (also used as a caption) and a call path that grows while the exception travels out.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <new>

#define KX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

class KxException {
public:
    KxException(const char* format, const char* source, ...) KX_PRINTF(2, 4);
    // By reference, so that a null source given to the constructor above cannot select this one.
    KxException(const char* format, va_list& args, const char* source) KX_PRINTF(2, 0);
    // Converts a standard-library exception caught inside a library method.
    KxException(const std::exception& e, const char* method, const char* className);
    KxException(const KxException& other);
    KxException& operator=(const KxException& other);

    virtual const char* GetErrorMessage() const;
    virtual ~KxException();

    const char* GetSource() const { return m_source; }
    const char* GetCallpath() const { return m_callpath; }

    void SetErrorMessage(const char* format, ...) KX_PRINTF(2, 3);
    void SetErrorMessageV(const char* format, va_list args) KX_PRINTF(2, 0);
    void SetSource(const char* source);
    void SetCallpath(const char* callpath);
    void AddToErrorMessage(const char* text, bool prepend);
    void AddLastSystemError(bool prepend);
    void AddCallpath(const char* method, const char* className, const char* detail = nullptr);

protected:
    // For subclasses, whose virtual base the most derived class constructs.
    KxException();

private:
    char* m_message;
    char* m_source;
    char* m_callpath;
};

class KxMemoryException : public virtual KxException, public std::bad_alloc {
public:
    explicit KxMemoryException(const char* message);
    const char* what() const noexcept override { return GetErrorMessage(); }
};

class KxFileException : public virtual KxException {
public:
    KxFileException(const char* message, const char* source, const char* fileName);
    KxFileException(const KxFileException& other);
    KxFileException& operator=(const KxFileException& other);
    ~KxFileException() override;
    const char* GetFileName() const { return m_fileName; }
    void SetFileName(const char* fileName);

protected:
    KxFileException();

private:
    char* m_fileName;
};

// A file could not be opened (or a deleted one still exists); the message names the action, the
// file and the reason.
class KxFileOpenFailedException : public virtual KxFileException {
public:
    KxFileOpenFailedException(const char* message, const char* source, const char* fileName)
        : KxException("%s", source, message), KxFileException(message, source, fileName) {}
};

class KxLRECLException : public virtual KxFileException {
public:
    KxLRECLException(const char* message, const char* source, const char* fileName,
                     int32_t recordLength);
    int32_t GetRecordLength() const { return m_recordLength; }

private:
    int32_t m_recordLength;
};

// Subclasses that only tell the kind of failure apart; message and source as KxException.
#define KX_DECLARE_EXCEPTION(Name, Base)                                                           \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        Name(const char* message, const char* source) : KxException("%s", source, message) {}     \
                                                                                                   \
    protected:                                                                                     \
        Name() = default;                                                                          \
    };

KX_DECLARE_EXCEPTION(KxNotImplementedError, virtual KxException)
KX_DECLARE_EXCEPTION(KxCanceledException, virtual KxException)
KX_DECLARE_EXCEPTION(KxIOCanceledException, KxCanceledException)
KX_DECLARE_EXCEPTION(KxIOStreamingException, KxException)
KX_DECLARE_EXCEPTION(KxStringTokenizerException, virtual KxException)

class KxStringException : public virtual KxException {
public:
    KxStringException(const char* message, const char* source, char character)
        : KxException("%s", source, message), m_character(character) {}
    char GetCharacter() const { return m_character; }

private:
    char m_character;
};

// The throwing functions: each formats its message completely, then throws.
[[noreturn]] void KxGenerateException(const char* format, const char* source, ...) KX_PRINTF(1, 3);
[[noreturn]] void KxGenerateSystemException(const char* format, bool prepend, const char* source,
                                            ...) KX_PRINTF(1, 4);
[[noreturn]] void KxGenerateFileException(const char* format, const char* source,
                                          const char* fileName, ...) KX_PRINTF(1, 4);
[[noreturn]] void KxGenerateLRECLException(const char* message, const char* source,
                                           const char* fileName, int32_t recordLength);
[[noreturn]] void KxGenerateNotImplementedError(const char* format, const char* source, ...)
    KX_PRINTF(1, 3);

// The catch-add-rethrow convention. Wrap the whole body of an operation that can fail:
//
//     KX_TRY
//         ...body...
//     KX_CATCH("Insert()", "KxString")
//
// The same object is rethrown, so subclasses keep their type.
#define KX_TRY try {
#define KX_CATCH(label, className)                                                                 \
    }                                                                                              \
    catch (KxException & kxCaught_) {                                                              \
        kxCaught_.AddCallpath(label, className);                                                   \
        throw;                                                                                     \
    }
// As KX_CATCH, and a standard-library exception becomes a KxException with this line.
#define KX_CATCH_STD(label, className)                                                             \
    }                                                                                              \
    catch (KxException & kxCaught_) {                                                              \
        kxCaught_.AddCallpath(label, className);                                                   \
        throw;                                                                                     \
    }                                                                                              \
    catch (const std::exception& kxStd_) {                                                         \
        throw KxException(kxStd_, label, className);                                               \
    }
