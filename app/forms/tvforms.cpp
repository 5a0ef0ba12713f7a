#include "tvforms.h"

#include <QDialog>
#include <QWidget>

#include "Tvfrmmain.h"
#include "tvFrmException.h"
#include "tvcontact.h"
#include "tvdialogs.h"
#include "tverrorreport.h"
#include "tvqt.h"
#include "tvshell.h"

TfrmException* frmException = nullptr;
TfrmMain* frmMain = nullptr;
TfrmAbout* frmAbout = nullptr;
TfrmCitation* frmCitation = nullptr;
TfrmColors* frmColors = nullptr;

namespace {

// Resolves the error report dialog at each report, so that a window may keep the reporter for
// its lifetime; before the dialog exists (and after it is gone) reports are plain boxes.
class TvFormsReporter : public TvErrorReporter {
public:
    void ShowError(const KxException& exception) override {
        if (frmException != nullptr) {
            frmException->ShowError(exception);
            return;
        }
        TvDialogs().MessageBox(nullptr, TvToQt(exception.GetErrorMessage()),
                               TvToQt(exception.GetSource()), TvMbOk, TvMbIconError);
    }
    void ShowWarning(const char* sCaption, const char* sText) override {
        if (frmException != nullptr) {
            frmException->ShowWarning(sCaption, sText);
            return;
        }
        TvDialogs().MessageBox(nullptr, TvToQt(sText), TvToQt(sCaption), TvMbOk, TvMbIconNone);
    }
};

} // namespace

QWidget* TvMainWindow() { return frmMain; }

TvErrorReporter& TvReporter() {
    static TvFormsReporter reporter;
    return reporter;
}

void TvCentreOver(QWidget& window, const QWidget& over) {
    QPoint topLeft = over.pos();
    int left = topLeft.x() + over.width() / 2 - window.width() / 2;
    int top = topLeft.y() + over.height() / 2 - window.height() / 2;
    window.move(left, top);
}

bool TvEmailSupport(QWidget* pParent) {
    if (TvOpenLink(TvMailtoLink(TvSupportEmail))) return true;
    TvDialogs().MessageBox(pParent, "Cannot send email.", "Error", TvMbOk, TvMbIconNone);
    return false;
}

// The help viewer, the about box, the citation window, the colour window, the directory
// dialog and printing come with their own modules; until then these do nothing.
void TvSetupHelp(bool) {}
void TvShowHelp(QWidget*) {}
void TvShowAbout(QWidget*) {}
void TvShowCitation(QWidget*) {}
void TvShowColors(QWidget*) {}
int TvShowDataDirectory(QWidget*, int) { return QDialog::Rejected; }
void TvPrintDrug(QWidget*) {}
void TvPrintRegimen(QWidget*) {}
