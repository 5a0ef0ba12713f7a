// The error report dialog: every caught failure is shown here with its message, its call path
// folded away as debugging information, and a button that mails both to the support team.
// One instance, made at program start and reused for every report.
#pragma once

#include <QDialog>

#include "kxstring.h"
#include "tverrorreport.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TfrmException : public QDialog, public TvErrorReporter {
    Q_OBJECT
public:
    // The outer heights folded and unfolded, and the largest height that counts as folded.
    static constexpr int kFoldedHeight = 175;
    static constexpr int kUnfoldedHeight = 323;
    static constexpr int kFoldedLimit = 300;
    // What the title bar and the single fixed border add to the client area's height.
    static constexpr int kNonClientHeight = 32;
    static constexpr int kClientWidth = 521;

    explicit TfrmException(QWidget* pParent = nullptr);

    // Shows the exception's message and call path and returns when the dialog is closed. The
    // details stay folded or unfolded as the previous report left them.
    void ShowError(const KxException& exception) override;
    // A plain message box with an OK button.
    void ShowWarning(const char* sCaption, const char* sText) override;

    int OuterHeight() const { return height() + kNonClientHeight; }
    bool DetailsShown() const { return OuterHeight() > kFoldedLimit; }

    // The subject and the text of the support mail for what the boxes show.
    static KxString MailSubject(const char* sApplicationTitle);
    KxString MailBody() const;

    QPlainTextEdit* memError;
    QLabel* Label1;
    QPlainTextEdit* memCallpath;
    QPushButton* btnOK;
    QPushButton* btnEmail;
    QPushButton* btnDetails;

public slots:
    void btnOKClick();
    void btnEmailClick();
    void btnDetailsClick();

private:
    void SetOuterHeight(int iHeight);
};

extern TfrmException* frmException;
