// How the application logic reports what it cannot handle itself, without knowing about windows.
// The error report dialog implements it for the desktop program; the command-line tool and the
// tests keep the reports instead.
#pragma once

#include <vector>

#include "kxexception.h"
#include "kxstring.h"

class TvErrorReporter {
public:
    virtual ~TvErrorReporter() = default;
    // A caught exception, after the reporting operation has added its own call-path line: shows
    // its message and call path and returns when the user has seen them.
    virtual void ShowError(const KxException& exception) = 0;
    // A plain message box with an OK button for a user-level condition.
    virtual void ShowWarning(const char* sCaption, const char* sText) = 0;
};

// Keeps a copy of every report, in order.
class TvRecordingReporter : public TvErrorReporter {
public:
    struct Report {
        bool isError = false;
        // Errors: the exception's message, source and call path. Warnings: text and caption
        // (in source).
        KxString message;
        KxString source;
        KxString callpath;
    };

    void ShowError(const KxException& exception) override;
    void ShowWarning(const char* sCaption, const char* sText) override;

    const std::vector<Report>& GetReports() const { return m_reports; }
    int32_t GetErrorCount() const;
    // The first error report, or null.
    const Report* GetFirstError() const;
    void Clear() { m_reports.clear(); }

private:
    std::vector<Report> m_reports;
};
