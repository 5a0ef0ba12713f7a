// Every modal question the windows ask goes through the dialog service in force, so that tests
// can answer it instead of a person. Nothing else in the windows opens a message box, a colour,
// folder or printer dialog, or runs a modal window of its own.
#pragma once

#include <QColor>
#include <QString>

#include <optional>

class QDialog;
class QPrinter;
class QWidget;

// Buttons of a message box.
inline constexpr int TvMbOk = 0;
inline constexpr int TvMbOkCancel = 1;
inline constexpr int TvMbYesNo = 4;
// Icons of a message box.
inline constexpr int TvMbIconNone = 0;
inline constexpr int TvMbIconError = 0x10;
inline constexpr int TvMbIconQuestion = 0x20;
inline constexpr int TvMbIconWarning = 0x30;
inline constexpr int TvMbIconInformation = 0x40;
// The button that closed a message box (also the result of a box closed without a button:
// Cancel where there is one, No for Yes/No, else OK).
inline constexpr int TvIdOk = 1;
inline constexpr int TvIdCancel = 2;
inline constexpr int TvIdYes = 6;
inline constexpr int TvIdNo = 7;

class TvDialogService {
public:
    virtual ~TvDialogService() = default;
    // An empty caption gives the application's title.
    virtual int MessageBox(QWidget* pParent, const QString& text, const QString& caption,
                           int iButtons, int iIcon);
    virtual std::optional<QColor> ChooseColor(QWidget* pParent, QColor initial);
    virtual std::optional<QString> ChooseFolder(QWidget* pParent, const QString& start);
    // True when the user chose a printer, which is then set up in printer.
    virtual bool ChoosePrinter(QWidget* pParent, QPrinter& printer);
    // Shows one of our modal windows and returns its result (QDialog::Accepted or Rejected).
    virtual int ExecModal(QDialog& dialog);
};

// The service in force; SetDialogService(nullptr) puts the toolkit's dialogs back.
TvDialogService& TvDialogs();
void SetDialogService(TvDialogService* pService);
