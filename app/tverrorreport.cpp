#include "tverrorreport.h"

void TvRecordingReporter::ShowError(const KxException& exception) {
    Report report;
    report.isError = true;
    report.message = exception.GetErrorMessage();
    report.source = exception.GetSource();
    report.callpath = exception.GetCallpath();
    m_reports.push_back(report);
}

void TvRecordingReporter::ShowWarning(const char* sCaption, const char* sText) {
    Report report;
    report.message = sText;
    report.source = sCaption;
    m_reports.push_back(report);
}

int32_t TvRecordingReporter::GetErrorCount() const {
    int32_t count = 0;
    for (const Report& report : m_reports) count += report.isError ? 1 : 0;
    return count;
}

const TvRecordingReporter::Report* TvRecordingReporter::GetFirstError() const {
    for (const Report& report : m_reports)
        if (report.isError) return &report;
    return nullptr;
}
