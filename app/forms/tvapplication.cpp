#include "tvapplication.h"

#include <exception>

#include "kxexception.h"
#include "tverrorreport.h"
#include "tvforms.h"

TvApplication::TvApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TvApplication::ReportEscaped(const KxException& exception) {
    // A failure while reporting must not escape from here either.
    try {
        TvReporter().ShowError(exception);
    } catch (...) {
    }
}

void TvRunHandler(const std::function<void()>& body) {
    try {
        body();
    } catch (const KxException& e) {
        TvApplication::ReportEscaped(e);
    } catch (const std::exception& e) {
        TvApplication::ReportEscaped(KxException(e, "event handler", "TvApplication"));
    }
}

bool TvApplication::notify(QObject* pReceiver, QEvent* pEvent) {
    try {
        return QApplication::notify(pReceiver, pEvent);
    } catch (const KxException& e) {
        ReportEscaped(e);
    } catch (const std::exception& e) {
        ReportEscaped(KxException(e, "notify()", "TvApplication"));
    } catch (...) {
        ReportEscaped(KxException("Unknown failure in an event handler", "TvApplication"));
    }
    return false;
}
