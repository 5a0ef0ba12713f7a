// The application object: owns every top-level window, and catches a failure that escapes an
// event handler so that it is reported instead of ending the program.
#pragma once

#include <QApplication>

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
