#include "kxexception.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kxplatform_error.h"

namespace {

// The exception's texts live on the C heap so that no operation of the exception itself throws:
// a failed allocation leaves the text as it was.
char* Duplicate(const char* text) {
    if (text == nullptr) text = "";
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy != nullptr) memcpy(copy, text, n);
    return copy;
}

// Renders a printf format into a new, exactly sized buffer; null on failure.
char* Render(const char* format, va_list args) {
    if (format == nullptr) return Duplicate("");
    va_list measure;
    va_copy(measure, args);
    int n = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n < 0) return Duplicate(format);
    char* text = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    if (text == nullptr) return nullptr;
    va_list render;
    va_copy(render, args);
    vsnprintf(text, static_cast<size_t>(n) + 1, format, render);
    va_end(render);
    return text;
}

// Never leaves a member null: an empty static text stands in when even that allocation fails.
char g_empty[1] = {'\0'};

char* OrEmpty(char* text) { return text != nullptr ? text : g_empty; }

void Release(char* text) {
    if (text != g_empty) free(text);
}

void Replace(char*& member, char* text) {
    if (text == nullptr) return;
    Release(member);
    member = text;
}

} // namespace

KxException::KxException() : m_message(OrEmpty(Duplicate(""))), m_source(OrEmpty(Duplicate(""))),
                             m_callpath(OrEmpty(Duplicate(""))) {}

KxException::KxException(const char* format, const char* source, ...) : KxException() {
    va_list args;
    va_start(args, source);
    Replace(m_message, Render(format, args));
    va_end(args);
    Replace(m_source, Duplicate(source));
}

KxException::KxException(const char* format, va_list& args, const char* source) : KxException() {
    Replace(m_message, Render(format, args));
    Replace(m_source, Duplicate(source));
}

KxException::KxException(const std::exception& e, const char* method, const char* className)
    : KxException() {
    Replace(m_message, Duplicate(e.what()));
    Replace(m_source, Duplicate(className));
    AddCallpath(method, className);
}

KxException::KxException(const KxException& other)
    : m_message(OrEmpty(Duplicate(other.m_message))), m_source(OrEmpty(Duplicate(other.m_source))),
      m_callpath(OrEmpty(Duplicate(other.m_callpath))) {}

KxException& KxException::operator=(const KxException& other) {
    if (this != &other) {
        Replace(m_message, Duplicate(other.m_message));
        Replace(m_source, Duplicate(other.m_source));
        Replace(m_callpath, Duplicate(other.m_callpath));
    }
    return *this;
}

KxException::~KxException() {
    Release(m_message);
    Release(m_source);
    Release(m_callpath);
}

const char* KxException::GetErrorMessage() const { return m_message; }

void KxException::SetErrorMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    SetErrorMessageV(format, args);
    va_end(args);
}

void KxException::SetErrorMessageV(const char* format, va_list args) {
    // The message itself as the format would be rendered from a buffer being replaced.
    if (format == nullptr || format == m_message) {
        Replace(m_message, Duplicate(""));
        return;
    }
    Replace(m_message, Render(format, args));
}

void KxException::SetSource(const char* source) { Replace(m_source, Duplicate(source)); }

void KxException::SetCallpath(const char* callpath) { Replace(m_callpath, Duplicate(callpath)); }

void KxException::AddToErrorMessage(const char* text, bool prepend) {
    if (text == nullptr) return;
    size_t a = strlen(m_message), b = strlen(text);
    char* joined = static_cast<char*>(malloc(a + b + 1));
    if (joined == nullptr) return;
    if (prepend) {
        memcpy(joined, text, b);
        memcpy(joined + b, m_message, a + 1);
    } else {
        memcpy(joined, m_message, a);
        memcpy(joined + a, text, b + 1);
    }
    Replace(m_message, joined);
}

void KxException::AddLastSystemError(bool prepend) {
    AddToErrorMessage(kxplatform::LastErrorText().c_str(), prepend);
}

void KxException::AddCallpath(const char* method, const char* className, const char* detail) {
    size_t size = strlen(m_callpath) + 32;
    if (method != nullptr) size += strlen(method);
    if (className != nullptr) size += strlen(className);
    if (detail != nullptr) size += strlen(detail);
    char* path = static_cast<char*>(malloc(size));
    if (path == nullptr) return;
    int n = snprintf(path, size, "%s%s", m_callpath, *m_callpath != '\0' ? "\r\n" : "");
    if (method != nullptr) n += snprintf(path + n, size - n, "%s", method);
    if (className != nullptr) n += snprintf(path + n, size - n, " of %s", className);
    if (detail != nullptr) snprintf(path + n, size - n, " (%s)", detail);
    Replace(m_callpath, path);
}

KxMemoryException::KxMemoryException(const char* message) : KxException("%s", nullptr, message) {}

KxFileException::KxFileException() : m_fileName(OrEmpty(Duplicate(""))) {}

KxFileException::KxFileException(const char* message, const char* source, const char* fileName)
    : KxException("%s", source, message), m_fileName(OrEmpty(Duplicate(fileName))) {}

KxFileException::KxFileException(const KxFileException& other)
    : KxException(other), m_fileName(OrEmpty(Duplicate(other.m_fileName))) {}

KxFileException& KxFileException::operator=(const KxFileException& other) {
    if (this != &other) {
        KxException::operator=(other);
        Replace(m_fileName, Duplicate(other.m_fileName));
    }
    return *this;
}

KxFileException::~KxFileException() { Release(m_fileName); }

void KxFileException::SetFileName(const char* fileName) { Replace(m_fileName, Duplicate(fileName)); }

KxLRECLException::KxLRECLException(const char* message, const char* source, const char* fileName,
                                   int32_t recordLength)
    : KxException("%s", source, message), KxFileException(message, source, fileName),
      m_recordLength(recordLength) {}

void KxGenerateException(const char* format, const char* source, ...) {
    va_list args;
    va_start(args, source);
    KxException e(format, args, source);
    va_end(args);
    throw e;
}

void KxGenerateSystemException(const char* format, bool prepend, const char* source, ...) {
    int code = kxplatform::GetLastError();
    va_list args;
    va_start(args, source);
    KxException e(format, args, source);
    va_end(args);
    e.AddToErrorMessage(kxplatform::ErrorText(code).c_str(), prepend);
    throw e;
}

void KxGenerateFileException(const char* format, const char* source, const char* fileName, ...) {
    va_list args;
    va_start(args, fileName);
    char* text = Render(format, args);
    va_end(args);
    KxFileException e(text != nullptr ? text : "", source, fileName);
    free(text);
    throw e;
}

void KxGenerateLRECLException(const char* message, const char* source, const char* fileName,
                              int32_t recordLength) {
    throw KxLRECLException(message, source, fileName, recordLength);
}

void KxGenerateNotImplementedError(const char* format, const char* source, ...) {
    va_list args;
    va_start(args, source);
    char* text = Render(format, args);
    va_end(args);
    KxNotImplementedError e(text != nullptr ? text : "", source);
    free(text);
    throw e;
}
