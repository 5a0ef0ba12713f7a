#include "tvdialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace {

TvDialogService g_toolkitDialogs;
TvDialogService* g_dialogs = &g_toolkitDialogs;

QMessageBox::Icon IconOf(int iIcon) {
    switch (iIcon) {
    case TvMbIconError: return QMessageBox::Critical;
    case TvMbIconQuestion: return QMessageBox::Question;
    case TvMbIconWarning: return QMessageBox::Warning;
    case TvMbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

} // namespace

int TvDialogService::MessageBox(QWidget* pParent, const QString& text, const QString& caption,
                                int iButtons, int iIcon) {
    QMessageBox box(IconOf(iIcon), caption.isEmpty() ? QApplication::applicationName() : caption,
                    text, QMessageBox::NoButton, pParent);
    switch (iButtons) {
    case TvMbOkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case TvMbYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return TvIdYes;
    case QMessageBox::No: return TvIdNo;
    case QMessageBox::Cancel: return TvIdCancel;
    case QMessageBox::Ok: return TvIdOk;
    default: break;
    }
    return iButtons == TvMbYesNo ? TvIdNo : iButtons == TvMbOkCancel ? TvIdCancel : TvIdOk;
}

std::optional<QColor> TvDialogService::ChooseColor(QWidget* pParent, QColor initial) {
    QColor chosen = QColorDialog::getColor(initial, pParent);
    if (!chosen.isValid()) return std::nullopt;
    return chosen;
}

std::optional<QString> TvDialogService::ChooseFolder(QWidget* pParent, const QString& start) {
    QString folder = QFileDialog::getExistingDirectory(pParent, QString(), start);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

bool TvDialogService::ChoosePrinter(QWidget* pParent, QPrinter& printer) {
    QPrintDialog dialog(&printer, pParent);
    return dialog.exec() == QDialog::Accepted;
}

int TvDialogService::ExecModal(QDialog& dialog) { return dialog.exec(); }

TvDialogService& TvDialogs() { return *g_dialogs; }

void SetDialogService(TvDialogService* pService) {
    g_dialogs = pService != nullptr ? pService : &g_toolkitDialogs;
}
