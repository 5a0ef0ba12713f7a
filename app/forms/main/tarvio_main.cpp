// The desktop program: starts the record-file engine, builds the long-lived windows and runs
// the message loop until the main window closes.
#include <QPointer>
#include <QWidget>

#include <exception>
#include <vector>

#include "Tvfrmmain.h"
#include "kxengine.h"
#include "kxexception.h"
#include "tvFrmException.h"
#include "tvapplication.h"
#include "tvdialogs.h"
#include "tvforms.h"
#include "tvqt.h"

namespace {

// The hand-over to an update program. It stays in developer mode and does nothing; whatever it
// raises never keeps the program from starting.
void CheckForUpdates() {
    try {
    } catch (...) {
    }
}

void ShowStartupFailure(const KxException& exception) {
    TvDialogs().MessageBox(nullptr, TvToQt(exception.GetErrorMessage()),
                           TvToQt(exception.GetSource()), TvMbOk, TvMbIconError);
}

// The application owns every window: the main window goes first, so that what it saves on
// closing can still be reported, then whatever else is open, then the error report dialog.
void ReleaseWindows() {
    delete frmMain;
    frmMain = nullptr;
    std::vector<QPointer<QWidget>> remaining;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget != frmException && widget->parentWidget() == nullptr)
            remaining.emplace_back(widget);
    // A window may delete windows of its own when it goes.
    for (QPointer<QWidget>& widget : remaining) delete widget.data();
    delete frmException;
    frmException = nullptr;
}

} // namespace

int main(int argc, char** argv) {
    TvApplication application(argc, argv);
    try {
        KxEngineStartup();
        CheckForUpdates();
        TvApplication::setApplicationName("Tarvio");
        // The main window's closing ends the program even while results windows are open.
        TvApplication::setQuitOnLastWindowClosed(false);

        frmException = new TfrmException();
        frmMain = new TfrmMain();
        frmMain->show();
        // The about box, the citation window and the colour window are created here once they
        // exist; until then frmAbout, frmCitation and frmColors stay null.

        TvApplication::exec();
    } catch (const KxException& e) {
        ShowStartupFailure(e);
    } catch (const std::exception& e) {
        ShowStartupFailure(KxException(e, "main()", "Tarvio"));
    }
    try {
        ReleaseWindows();
    } catch (...) {
    }
    KxEngineShutdown();
    return 0;
}
