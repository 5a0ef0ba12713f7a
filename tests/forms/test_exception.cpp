#include <QPushButton>

#include "formsfixture.h"
#include "tvcontact.h"

namespace tvformstest {
namespace {

// An exception as an operation two calls deep would hand it over.
KxException Failure(const char* sMessage) {
    KxException e("%s", "Source", sMessage);
    e.AddCallpath("Inner()", "KxThing");
    e.AddCallpath("Outer()", "TfrmSomething");
    return e;
}

class ErrorReport : public FormsTest {
protected:
    // While the dialog is up: press a button, then close it.
    void WhileShown(std::function<void(TfrmException&)> action) {
        dialogs_.modalAnswers.push_back([action](QDialog& dialog) {
            auto& report = static_cast<TfrmException&>(dialog);
            action(report);
            return static_cast<int>(QDialog::Accepted);
        });
    }
};

TEST_F(ErrorReport, ShowsMessageAndCallPathAndKeepsTheFoldBetweenReports) {
    EXPECT_EQ(frmException->windowTitle(), "Error");
    EXPECT_EQ(frmException->width(), 521);
    EXPECT_EQ(frmException->height(), 143);
    EXPECT_EQ(frmException->OuterHeight(), 175);

    int heightInside = 0;
    WhileShown([&](TfrmException& report) {
        EXPECT_EQ(report.btnDetails->text(), "&Details >>");
        // The call path lies below the folded client area.
        EXPECT_GE(report.memCallpath->y(), report.height());
        QTest::mouseClick(report.btnDetails, Qt::LeftButton);
        heightInside = report.OuterHeight();
    });
    frmException->ShowError(Failure("First"));
    EXPECT_EQ(heightInside, 323);
    EXPECT_EQ(frmException->btnDetails->text(), "&Details <<");
    EXPECT_GE(frmException->height(), frmException->memCallpath->geometry().bottom());

    WhileShown([&](TfrmException& report) {
        heightInside = report.OuterHeight();
        QTest::mouseClick(report.btnDetails, Qt::LeftButton);
    });
    frmException->ShowError(Failure("Second"));
    EXPECT_EQ(heightInside, 323);
    EXPECT_EQ(frmException->OuterHeight(), 175);
    EXPECT_EQ(frmException->btnDetails->text(), "&Details >>");

    std::vector<Question> reports = dialogs_.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].text, "First");
    EXPECT_EQ(reports[0].callpath, "Inner() of KxThing\nOuter() of TfrmSomething");
    EXPECT_EQ(reports[1].text, "Second");
}

TEST_F(ErrorReport, MailCarriesMessageAndCallPath) {
    WhileShown([](TfrmException& report) { QTest::mouseClick(report.btnEmail, Qt::LeftButton); });
    frmException->ShowError(Failure("M"));

    ASSERT_EQ(shell_.mails.size(), 1u);
    EXPECT_EQ(shell_.mails[0].address, TvSupportEmail);
    EXPECT_EQ(shell_.mails[0].subject, "Tarvio -- Automated Error Message");
    EXPECT_EQ(shell_.mails[0].body, "--User Info--\nM\n\n--Extended Info--\nInner() of KxThing\n"
                                    "Outer() of TfrmSomething\n--End Of Error Message--");
    std::vector<Question> boxes = dialogs_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Warning");
    EXPECT_EQ(boxes[0].buttons, TvMbOk);
    EXPECT_EQ(boxes[0].text.toStdString(),
              std::string("This will prepare an email to send to the Tarvio support team (") +
                  TvSupportEmail +
                  ").\n\nSome versions of Microsoft Outlook will report Tarvio's actions as a "
                  "potential virus, and\nwill ask you if you want to allow this behavior.  It is "
                  "safe to answer \"Yes\" to such a warning.\n");
}

TEST_F(ErrorReport, MailFailuresAreSaidAfterTheWarning) {
    struct Case {
        TvMailResult result;
        const char* text;
    };
    for (const Case& c : {Case{TvMailResult::NotAvailable, "Message Service not available."},
                          Case{TvMailResult::Failed, "E-mail was not able to be sent."}}) {
        SCOPED_TRACE(c.text);
        dialogs_.log.clear();
        shell_.mailResult = c.result;
        bool stillOpen = false;
        WhileShown([&](TfrmException& report) {
            report.setResult(-1);
            QTest::mouseClick(report.btnEmail, Qt::LeftButton);
            stillOpen = report.result() == -1;
        });
        frmException->ShowError(Failure("M"));
        std::vector<Question> boxes = dialogs_.Boxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].caption, "Warning");
        EXPECT_EQ(boxes[1].text, c.text);
        EXPECT_EQ(boxes[1].caption, "Warning");
        EXPECT_EQ(boxes[1].buttons, TvMbOkCancel);
        EXPECT_TRUE(stillOpen);
    }
}

TEST_F(ErrorReport, EnterAndEscapeClose) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        frmException->show();
        QApplication::setActiveWindow(frmException);
        frmException->btnOK->setFocus();
        QTest::keyClick(frmException, key);
        EXPECT_FALSE(frmException->isVisible()) << key;
    }
}

// Windows that throw from an event: the application reports instead of ending.
class ThrowingWidget : public QWidget {
public:
    bool event(QEvent* pEvent) override {
        if (pEvent->type() == QEvent::User) throw Failure("Escaped");
        if (pEvent->type() == QEvent::User + 1) throw std::length_error("too long");
        return QWidget::event(pEvent);
    }
};

TEST_F(ErrorReport, FailuresEscapingEventHandlersAreReported) {
    ThrowingWidget widget;
    QEvent kx(QEvent::User), standard(static_cast<QEvent::Type>(QEvent::User + 1));
    QApplication::sendEvent(&widget, &kx);
    QApplication::sendEvent(&widget, &standard);
    std::vector<Question> reports = dialogs_.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].text, "Escaped");
    EXPECT_TRUE(reports[1].text.contains("too long")) << reports[1].text.toStdString();

    // Without the dialog, a plain box with the source as caption.
    delete frmException;
    frmException = nullptr;
    QApplication::sendEvent(&widget, &kx);
    std::vector<Question> boxes = dialogs_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Escaped");
    EXPECT_EQ(boxes[0].caption, "Source");
}

} // namespace
} // namespace tvformstest
