// The application object: owns every top-level window, and catches a failure that escapes an
// event handler so that it is reported instead of ending the program.
#pragma once

#include <QApplication>

#include <functional>

class KxException;

class TvApplication : public QApplication {
    Q_OBJECT
public:
    TvApplication(int& argc, char** argv);

    bool notify(QObject* pReceiver, QEvent* pEvent) override;

    // How an escaped failure is shown: the error report dialog when it exists, else a message
    // box with the message and the source as its caption.
    static void ReportEscaped(const KxException& exception);
};

// Runs an event handler's body and reports what escapes it as the application would, so that
// no exception unwinds through the toolkit's own frames. Every slot and event filter of our
// windows runs its body through this.
void TvRunHandler(const std::function<void()>& body);
