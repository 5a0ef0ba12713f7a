#include "tvFrmException.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "tvcontact.h"
#include "tvdialogs.h"
#include "tvforms.h"
#include "tvqt.h"
#include "tvshell.h"

namespace {

constexpr int kFoldedClientHeight = TfrmException::kFoldedHeight - TfrmException::kNonClientHeight;

QPlainTextEdit* MakeMemo(QWidget* pParent, const char* sName, int left, int top, int width,
                         int height) {
    auto* memo = new QPlainTextEdit(pParent);
    memo->setObjectName(sName);
    memo->setGeometry(left, top, width, height);
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Read-only boxes in the button-face colour; the selection stays visible without focus.
    QPalette palette = memo->palette();
    QColor face = palette.color(QPalette::Active, QPalette::Button);
    palette.setColor(QPalette::Base, face);
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    memo->setPalette(palette);
    return memo;
}

QPushButton* MakeButton(QWidget* pParent, const char* sName, const char* sCaption, int top) {
    auto* button = new QPushButton(QString::fromLatin1(sCaption), pParent);
    button->setObjectName(sName);
    button->setGeometry(436, top, 75, 25);
    return button;
}

// The program's line breaks are CR LF; a box shows and hands out plain line feeds.
QString BoxText(const char* sText) {
    QString text = TvToQt(sText);
    text.replace("\r\n", "\n");
    return text;
}

} // namespace

TfrmException::TfrmException(QWidget* pParent) : QDialog(pParent) {
    setObjectName("frmException");
    setWindowTitle("Error");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);

    memError = MakeMemo(this, "memError", 16, 16, 405, 111);
    Label1 = new QLabel("Debugging information:", this);
    Label1->setObjectName("Label1");
    Label1->move(16, 152);
    Label1->adjustSize();
    memCallpath = MakeMemo(this, "memCallpath", 16, 171, 405, 113);
    btnOK = MakeButton(this, "btnOK", "&OK", 16);
    btnEmail = MakeButton(this, "btnEmail", "&E-mail", 58);
    btnDetails = MakeButton(this, "btnDetails", "&Details >>", 104);
    // Enter presses OK through the default button, Esc through the dialog's reject.
    btnOK->setDefault(true);
    btnOK->setAutoDefault(true);
    btnEmail->setAutoDefault(false);
    btnDetails->setAutoDefault(false);
    setTabOrder(btnOK, btnEmail);
    setTabOrder(btnEmail, btnDetails);

    connect(btnOK, &QPushButton::clicked, this, &TfrmException::btnOKClick);
    connect(btnEmail, &QPushButton::clicked, this, &TfrmException::btnEmailClick);
    connect(btnDetails, &QPushButton::clicked, this, &TfrmException::btnDetailsClick);

    SetOuterHeight(kFoldedHeight);
}

void TfrmException::SetOuterHeight(int iHeight) {
    setFixedSize(kClientWidth, iHeight - kNonClientHeight);
}

void TfrmException::ShowError(const KxException& exception) {
    memError->setPlainText(BoxText(exception.GetErrorMessage()));
    memCallpath->setPlainText(BoxText(exception.GetCallpath()));
    // A report raised while the dialog is open replaces what it shows.
    if (isVisible()) return;
    if (QWidget* main = TvMainWindow(); main != nullptr && main->isVisible()) {
        TvCentreOver(*this, *main);
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.x() + area.width() / 2 - width() / 2,
             area.y() + area.height() / 2 - OuterHeight() / 2);
    }
    btnOK->setFocus();
    TvDialogs().ExecModal(*this);
}

void TfrmException::ShowWarning(const char* sCaption, const char* sText) {
    QWidget* parent = isVisible() ? this : QApplication::activeWindow();
    TvDialogs().MessageBox(parent, TvToQt(sText), TvToQt(sCaption), TvMbOk, TvMbIconNone);
}

void TfrmException::btnOKClick() { accept(); }

void TfrmException::btnDetailsClick() {
    if (OuterHeight() <= kFoldedLimit) {
        btnDetails->setText("&Details <<");
        SetOuterHeight(kUnfoldedHeight);
    } else {
        btnDetails->setText("&Details >>");
        SetOuterHeight(kFoldedHeight);
    }
}

KxString TfrmException::MailSubject(const char* sApplicationTitle) {
    KxString subject;
    subject.printf("%s -- Automated Error Message", sApplicationTitle != nullptr ? sApplicationTitle : "");
    return subject;
}

KxString TfrmException::MailBody() const {
    KxString body("--User Info--\n");
    body << TvFromQt(memError->toPlainText()) << "\n\n"
         << "--Extended Info--\n"
         << TvFromQt(memCallpath->toPlainText()) << "\n--End Of Error Message--";
    return body;
}

void TfrmException::btnEmailClick() {
    KxString warning("This will prepare an email to send to the Tarvio support team (");
    warning << TvSupportEmail << ").\n"
            << "\n"
            << "Some versions of Microsoft Outlook will report Tarvio's actions as a potential "
               "virus, and\n"
            << "will ask you if you want to allow this behavior.  It is safe to answer \"Yes\" "
               "to such a warning.\n";
    TvDialogs().MessageBox(this, TvToQt(warning), "Warning", TvMbOk, TvMbIconNone);

    KxString subject = MailSubject(TvFromQt(QApplication::applicationName()));
    switch (TvComposeMail(TvSupportEmail, subject, MailBody())) {
    case TvMailResult::Started: break;
    case TvMailResult::NotAvailable:
        TvDialogs().MessageBox(this, "Message Service not available.", "Warning", TvMbOkCancel,
                               TvMbIconNone);
        break;
    case TvMailResult::Failed:
        TvDialogs().MessageBox(this, "E-mail was not able to be sent.", "Warning", TvMbOkCancel,
                               TvMbIconNone);
        break;
    }
}
