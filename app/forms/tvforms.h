// The long-lived windows of the program and the services they share. The program entry creates
// them in the order error report, main window, about box, citation window, colour window; each
// pointer stays null until its window exists.
#pragma once

class QWidget;
class TfrmMain;
class TfrmException;
class TfrmAbout;
class TfrmCitation;
class TfrmColors;
class TvErrorReporter;

extern TfrmException* frmException;
extern TfrmMain* frmMain;
extern TfrmAbout* frmAbout;
extern TfrmCitation* frmCitation;
extern TfrmColors* frmColors;

// frmMain as a widget, or null.
QWidget* TvMainWindow();

// The one channel through which the windows report failures and warnings: the error report
// dialog, or plain message boxes while it does not exist. It looks for the dialog at each
// report, so it may be kept for as long as the program runs.
TvErrorReporter& TvReporter();

// Places a window of its own size centred over another (integer halves, truncated).
void TvCentreOver(QWidget& window, const QWidget& over);

// "E-Mail Tarvio...": opens a message to the support address in the user's mail program; when
// that fails, says "Cannot send email." and answers false.
bool TvEmailSupport(QWidget* pParent);

// Starts (bRelease false) or stops (true) the help viewer.
void TvSetupHelp(bool bRelease);
// "Contents and Index": the help's introduction, with this window as owner.
void TvShowHelp(QWidget* pParent);
// The about box and the citation window, centred over the window that asks, shown modally.
void TvShowAbout(QWidget* pOver);
void TvShowCitation(QWidget* pOver);
// The colour preferences, centred over the window that asks, shown modally.
void TvShowColors(QWidget* pOver);
// The directory dialog in mode 0 (data directory) or 1 (history file directory), shown
// modally; its modal result (QDialog::Accepted when the user accepted it).
int TvShowDataDirectory(QWidget* pOwner, int iMode);
// "Print Current Record" of the results windows.
void TvPrintDrug(QWidget* pWindow);
void TvPrintRegimen(QWidget* pWindow);
