// The window tests: one offscreen application for the whole run, a scripted dialog service that
// answers every modal question and logs it, a shell that records the links and mails it was
// handed, and for each test a fresh directory with its own copy of the built data sets, its
// own history directory and its own registry file.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kxengine.h"
#include "platform/platform_fixture.h"
#include "tvFrmException.h"
#include "tvapplication.h"
#include "tvappstate.h"
#include "tvdialogs.h"
#include "tvforms.h"
#include "tvqt.h"
#include "tvregistry.h"
#include "tvshell.h"

#ifndef TARVIO_BUILT_DATA_DIR
#error "TARVIO_BUILT_DATA_DIR names the directory of the built data sets"
#endif

namespace tvformstest {

// The offscreen application, made on first use and kept until the process ends.
inline TvApplication& Application() {
    static int argc = 1;
    static char name[] = "test_forms";
    static char* argv[] = {name, nullptr};
    static TvApplication* application = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        auto* app = new TvApplication(argc, argv);
        TvApplication::setApplicationName("Tarvio");
        TvApplication::setQuitOnLastWindowClosed(false);
        return app;
    }();
    return *application;
}

// One modal question as it was asked.
struct Question {
    enum Kind { Box, Color, Folder, Printer, Modal };
    Kind kind = Box;
    QString text;    // a box's text; for the error report dialog, its message
    QString caption; // a box's caption; a modal window's title
    int buttons = 0;
    int icon = 0;
    QString dialog;   // a modal window's object name
    QString callpath; // the error report dialog's call path
};

class ScriptedDialogs : public TvDialogService {
public:
    // Answers in the order the questions come; an empty queue gives the box's default (OK, No
    // for Yes/No, Cancel for OK/Cancel), a rejected modal window, no colour, folder or printer.
    std::deque<int> boxAnswers;
    std::deque<std::function<int(QDialog&)>> modalAnswers;
    std::deque<std::optional<QColor>> colorAnswers;
    std::deque<std::optional<QString>> folderAnswers;
    std::deque<bool> printerAnswers;
    std::vector<Question> log;

    int MessageBox(QWidget*, const QString& text, const QString& caption, int iButtons,
                   int iIcon) override {
        Question q;
        q.kind = Question::Box, q.text = text, q.caption = caption, q.buttons = iButtons;
        q.icon = iIcon;
        log.push_back(q);
        if (!boxAnswers.empty()) {
            int answer = boxAnswers.front();
            boxAnswers.pop_front();
            return answer;
        }
        return iButtons == TvMbYesNo ? TvIdNo : iButtons == TvMbOkCancel ? TvIdCancel : TvIdOk;
    }
    std::optional<QColor> ChooseColor(QWidget*, QColor) override {
        log.push_back(Question{Question::Color, {}, {}, 0, 0, {}, {}});
        return Next(colorAnswers);
    }
    std::optional<QString> ChooseFolder(QWidget*, const QString& start) override {
        log.push_back(Question{Question::Folder, start, {}, 0, 0, {}, {}});
        return Next(folderAnswers);
    }
    bool ChoosePrinter(QWidget*, QPrinter&) override {
        log.push_back(Question{Question::Printer, {}, {}, 0, 0, {}, {}});
        return Next(printerAnswers);
    }
    int ExecModal(QDialog& dialog) override {
        Question q;
        q.kind = Question::Modal, q.caption = dialog.windowTitle(), q.dialog = dialog.objectName();
        if (auto* report = qobject_cast<TfrmException*>(&dialog)) {
            q.text = report->memError->toPlainText();
            q.callpath = report->memCallpath->toPlainText();
        }
        log.push_back(q);
        if (modalAnswers.empty()) return QDialog::Rejected;
        auto answer = modalAnswers.front();
        modalAnswers.pop_front();
        return answer(dialog);
    }

    std::vector<Question> Boxes() const { return OfKind(Question::Box); }
    // The reports shown in the error report dialog.
    std::vector<Question> Reports() const {
        std::vector<Question> reports;
        for (const Question& q : log)
            if (q.kind == Question::Modal && q.dialog == "frmException") reports.push_back(q);
        return reports;
    }
    std::vector<Question> OfKind(Question::Kind kind) const {
        std::vector<Question> found;
        for (const Question& q : log)
            if (q.kind == kind) found.push_back(q);
        return found;
    }

private:
    // An empty queue answers the type's empty value: no colour, no folder, no printer.
    template <typename T> static T Next(std::deque<T>& queue) {
        T answer{};
        if (!queue.empty()) {
            answer = std::move(queue.front());
            queue.pop_front();
        }
        return answer;
    }
};

class RecordingShell : public TvShellService {
public:
    struct Mail {
        std::string address, subject, body;
    };
    bool linkResult = true;
    TvMailResult mailResult = TvMailResult::Started;
    std::vector<std::string> links;
    std::vector<Mail> mails;

    bool OpenLink(const char* sUrl) override {
        links.emplace_back(sUrl != nullptr ? sUrl : "");
        return linkResult;
    }
    TvMailResult ComposeMail(const char* sAddress, const char* sSubject,
                             const char* sBody) override {
        mails.push_back(Mail{sAddress, sSubject, sBody});
        return mailResult;
    }
};

class FormsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Application(); }

    void SetUp() override {
        KxEngineStartup();
        std::filesystem::create_directories(configDir_);
        dataDir_ = dir_ / "Data/";
        historyDir_ = dir_ / "History/";
        std::filesystem::create_directories(historyDir_);
        CopyDataSets(dataDir_);
        DataDirectory = "";
        HistoryDirectory = "";
        AppColors = AppColorTable();
        SetDialogService(&dialogs_);
        SetShellService(&shell_);
        frmException = new TfrmException();
    }

    void TearDown() override {
        // The main window saves on going; everything else open goes after it, the error report
        // dialog last, while this test's directories and services are still in place.
        std::vector<QPointer<QWidget>> windows;
        if (frmMain != nullptr) windows.emplace_back(TvMainWindow());
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget != frmException && widget->parentWidget() == nullptr)
                windows.emplace_back(widget);
        for (QPointer<QWidget>& window : windows) delete window.data();
        frmMain = nullptr;
        delete frmException;
        frmException = nullptr;
        SetDialogService(nullptr);
        SetShellService(nullptr);
        QApplication::processEvents();
    }

    // The eight files of the built data sets into a directory.
    static void CopyDataSets(const std::string& sTo) {
        std::filesystem::create_directories(sTo);
        for (const char* name : {"DrugData", "Regimens"})
            for (const char* extension : DataSetExtensions) {
                std::string file = std::string(name) + extension;
                std::filesystem::copy_file(std::string(TARVIO_BUILT_DATA_DIR) + "/" + file,
                                           sTo + "/" + file,
                                           std::filesystem::copy_options::overwrite_existing);
            }
    }

    // Stores the data and history directories in this test's registry, as a user's earlier
    // choice, and the history option.
    void StoreSettings(const std::string& sData, const std::string& sHistory, bool useHistory) {
        tvRegistry registry;
        tvRegistry::SetUserDataPath(sData.c_str(), tvRegistry::kDataDirectory);
        tvRegistry::SetUserDataPath(sHistory.c_str(), tvRegistry::kHistoryDirectory);
        tvRegistry::SetOption(useHistory ? 1 : 0, tvRegistry::kHistoryOption);
    }
    // The usual start: this test's data sets, its history directory with an empty history.
    void StoreDefaultSettings(bool useHistory = true) {
        if (useHistory) kxtest::WriteFile(historyDir_ + HistoryFileName, "");
        StoreSettings(dataDir_, historyDir_, useHistory);
    }

    static void Type(QWidget* pWidget, const QString& text) { QTest::keyClicks(pWidget, text); }
    static void Press(QWidget* pWidget, Qt::Key key) { QTest::keyClick(pWidget, key); }
    static void Click(QWidget* pWidget) { QTest::mouseClick(pWidget, Qt::LeftButton); }
    static void DoubleClick(QWidget* pWidget, QPoint at = QPoint()) {
        QTest::mouseDClick(pWidget, Qt::LeftButton, Qt::NoModifier, at);
    }

    kxtest::TempDir dir_;
    std::string configDir_ = dir_ / "config";
    kxtest::EnvGuard config_{"XDG_CONFIG_HOME", configDir_};
    std::string dataDir_;
    std::string historyDir_;
    ScriptedDialogs dialogs_;
    RecordingShell shell_;
};

} // namespace tvformstest
