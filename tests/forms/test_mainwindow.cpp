#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <fstream>

#include "Tvfrmmain.h"
#include "formsfixture.h"
#include "kxplatform_file.h"
#include "kxplatform_path.h"
#include "tvFrmDrugResults.h"
#include "tvFrmRegimenResults.h"
#include "tvcontact.h"

namespace tvformstest {
namespace {

const char* const kAllMissing =
    "\tDrugData.txd\n\tRegimens.txd\n\tDrugData.kxb\n\tRegimens.kxb\n\tDrugData.klg\n"
    "\tRegimens.klg\n\tDrugData.kxs\n\tRegimens.kxs\n";

// The next control that Tab reaches.
QWidget* NextTabStop(QWidget* pWidget) {
    QWidget* next = pWidget->nextInFocusChain();
    while (next != pWidget && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    return next;
}

QStringList Lines(const QListWidget* pList) {
    QStringList lines;
    for (int i = 0; i < pList->count(); ++i) lines << pList->item(i)->text();
    return lines;
}

class MainWindow : public FormsTest {
protected:
    TfrmMain* Start() {
        frmMain = new TfrmMain();
        frmMain->show();
        QApplication::setActiveWindow(frmMain);
        frmMain->activateWindow();
        return frmMain;
    }

    // A key pressed and let go as a person would: each half goes to the control that has the
    // focus at that moment.
    static QWidget* Focused() {
        if (QWidget* widget = QApplication::focusWidget()) return widget;
        return frmMain->focusWidget() != nullptr ? frmMain->focusWidget() : frmMain;
    }
    static void Key(Qt::Key key) {
        QTest::keyPress(Focused(), key);
        QTest::keyRelease(Focused(), key);
    }
    static void TypeInto(QLineEdit* pBox, const QString& text) {
        Click(pBox);
        pBox->setFocus();
        QTest::keyClicks(pBox, text);
    }
    static void Search(QLineEdit* pBox, const QString& text) {
        TypeInto(pBox, text);
        Key(Qt::Key_Return);
    }

    std::string HistoryFile() const { return historyDir_ + HistoryFileName; }
    std::string RegistryFile() const { return configDir_ + "/tarvio/registry.reg"; }

    // Field 1 of the version record, rewritten in place (same length).
    void SetDataVersion(const char* sDataSet, const std::string& version) {
        std::string path = dataDir_ + sDataSet;
        std::string bytes = kxtest::ReadFile(path);
        size_t lineEnd = bytes.find('\n');
        size_t at = bytes.find(DataVersion);
        ASSERT_LT(at, lineEnd);
        bytes.replace(at, version.size(), version);
        kxtest::WriteFile(path, bytes);
    }
};

TEST_F(MainWindow, StartsWithItsCaptionControlsAndColours) {
    StoreDefaultSettings();
    TfrmMain* main = Start();
    EXPECT_TRUE(dialogs_.log.empty());
    EXPECT_EQ(main->windowTitle(), "Tarvio Version 1.2.0, Drug Database Update 09-14-2007");
    EXPECT_EQ(main->GetClientArea()->size(), QSize(630, 497));
    EXPECT_EQ(std::string(DataDirectory), dataDir_);
    EXPECT_EQ(std::string(HistoryDirectory), historyDir_);
    EXPECT_TRUE(main->GetUseHistory());

    struct Control {
        QWidget* widget;
        QRect geometry;
        QString text;
        int pixelSize;
    };
    const Control controls[] = {
        {main->lblTarvio, {176, 128, 160, 42}, "Tarvio", 37},
        {main->imgTarvioLogo, {408, 112, 108, 108}, "", -1},
        {main->lblSubTitle, {128, 176, 248, 19}, "The Cancer Registrar's Interactive", 17},
        {main->lblSubTitle2, {144, 195, 216, 19}, "Antineoplastic Drug Database", 17},
        {main->lblDrugSearch, {80, 248, 461, 19},
         "Search for a drug (enter all or part of the name or abbreviation)", 17},
        {main->edtDrugSearch, {176, 272, 161, 23}, "", 12},
        {main->btnDrugSubmit, {344, 272, 75, 23}, "Submit", 12},
        {main->lstHistory, {176, 294, 161, 23}, "", 13},
        {main->lblRegimenSearch, {80, 328, 471, 19},
         "Search for a regimen (enter the abbreviation--not case sensitive)", 17},
        {main->edtRegimenSearch, {176, 352, 161, 23}, "", 12},
        {main->btnRegimenSubmit, {344, 352, 75, 23}, "Submit", 12},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.widget->objectName().toStdString());
        QString text;
        if (auto* label = qobject_cast<QLabel*>(c.widget)) text = label->text();
        if (auto* box = qobject_cast<QLineEdit*>(c.widget)) text = box->text();
        if (auto* button = qobject_cast<QPushButton*>(c.widget)) text = button->text();
        EXPECT_EQ(text, c.text);
        // A label may grow to show all of its text, never shrink or move its line.
        QRect at = c.widget->geometry();
        if (qobject_cast<QLabel*>(c.widget) != nullptr && !text.isEmpty()) {
            EXPECT_EQ(at.top(), c.geometry.top());
            EXPECT_EQ(at.height(), c.geometry.height());
            EXPECT_GE(at.width(), c.widget->fontMetrics().horizontalAdvance(text));
            EXPECT_GE(at.width(), c.geometry.width());
            EXPECT_NEAR(at.center().x(), c.geometry.center().x(),
                        at.width() - c.geometry.width() + 1);
        } else {
            EXPECT_EQ(at, c.geometry);
        }
        if (c.pixelSize > 0) {
            EXPECT_EQ(c.widget->font().pixelSize(), c.pixelSize);
        }
    }
    EXPECT_FALSE(main->lstHistory->isVisible());
    EXPECT_EQ(main->lstHistory->focusPolicy(), Qt::ClickFocus);
    EXPECT_FALSE(main->imgTarvioLogo->pixmap().isNull());

    // Tab order: drug box, its button, regimen box, its button.
    EXPECT_EQ(NextTabStop(main->edtDrugSearch), main->btnDrugSubmit);
    EXPECT_EQ(NextTabStop(main->btnDrugSubmit), main->edtRegimenSearch);
    EXPECT_EQ(NextTabStop(main->edtRegimenSearch), main->btnRegimenSubmit);

    // The colours of a first run: light blue ground, white boxes, black text and labels.
    EXPECT_EQ(main->GetClientArea()->palette().color(QPalette::Window), QColor(0x97, 0xDB, 0xFF));
    EXPECT_EQ(main->edtDrugSearch->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(main->lstHistory->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(main->lblDrugSearch->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(AppColors[ColorRole::Highlight], 0x0000FF);

    // The menu, in order; separators are empty.
    QStringList file, preferences, help;
    for (QAction* a : main->mitFile->actions()) file << a->text();
    for (QAction* a : main->Preferences1->actions()) preferences << a->text();
    for (QAction* a : main->mitHelp->actions()) help << a->text();
    EXPECT_EQ(file, QStringList({"Preferences", "", "Exit"}));
    EXPECT_EQ(preferences, QStringList({"Change Colors...", "Change Data Directory...",
                                        "Search History..."}));
    EXPECT_EQ(help, QStringList({"E-Mail Tarvio...", "", "Contents and Index",
                                 "Suggested Citation...", "About..."}));
}

TEST_F(MainWindow, ColoursComeFromTheRegistry) {
    StoreDefaultSettings();
    tvRegistry::SetColor(0x00336699, ColorRole::Background);
    tvRegistry::SetColor(0x00FFFF00, ColorRole::Window);
    tvRegistry::SetColor(0x000000FF, ColorRole::Label);
    tvRegistry::SetColor(0x0000FF00, ColorRole::Text);
    TfrmMain* main = Start();
    EXPECT_EQ(main->GetClientArea()->palette().color(QPalette::Window), QColor(0x99, 0x66, 0x33));
    EXPECT_EQ(main->edtRegimenSearch->palette().color(QPalette::Base), QColor(0x00, 0xFF, 0xFF));
    EXPECT_EQ(main->edtRegimenSearch->palette().color(QPalette::Text), QColor(0x00, 0xFF, 0x00));
    EXPECT_EQ(main->lblTarvio->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0x00));
}

TEST_F(MainWindow, WithoutSettingsUsesTheProgramsOwnDirectoriesAndWritesNoHistory) {
    std::string programDirectory = kxplatform::ExecutableDirectory().value();
    bool hadHistory = kxplatform::FileExists(programDirectory + HistoryFileName);
    TfrmMain* main = Start();
    // The built data sets lie beside the test program as beside the real one.
    EXPECT_TRUE(dialogs_.log.empty());
    EXPECT_EQ(std::string(DataDirectory), programDirectory + "Data/");
    EXPECT_EQ(std::string(HistoryDirectory), programDirectory);
    EXPECT_FALSE(main->GetUseHistory());
    EXPECT_EQ(tvRegistry::GetOption(tvRegistry::kHistoryOption), 0);
    delete main;
    EXPECT_EQ(kxplatform::FileExists(programDirectory + HistoryFileName), hadHistory);
}

TEST_F(MainWindow, MissingFilesAnsweredNoOrYes) {
    std::string empty = dir_ / "Empty/";
    std::filesystem::create_directories(empty);
    for (int answer : {TvIdNo, TvIdYes}) {
        SCOPED_TRACE(answer == TvIdNo ? "No" : "Yes");
        dialogs_.log.clear();
        StoreSettings(empty, historyDir_, false);
        dialogs_.boxAnswers = {answer};
        TfrmMain* main = Start();
        ASSERT_EQ(dialogs_.log.size(), 2u);
        const Question& question = dialogs_.log[0];
        EXPECT_EQ(question.caption, "Missing Files");
        EXPECT_EQ(question.buttons, TvMbYesNo);
        EXPECT_EQ(question.icon, TvMbIconNone);
        EXPECT_EQ(question.text.toStdString(),
                  std::string("Tarvio cannot locate the following files:\n") + kAllMissing +
                      "\nWould you like to browse to their location?");
        // No ends the start-up at once; Yes goes on to the version check of the same directory,
        // which cannot open the drug data set. Either way the window opens.
        const Question& report = dialogs_.log[1];
        EXPECT_EQ(report.dialog, "frmException");
        if (answer == TvIdNo) {
            EXPECT_EQ(report.text.toStdString(),
                      std::string("Tarvio cannot run without the following files:\n") +
                          kAllMissing);
            EXPECT_EQ(report.callpath, "Init() of TfrmMain");
        } else {
            EXPECT_TRUE(report.text.contains("DrugData.txd")) << report.text.toStdString();
            EXPECT_TRUE(report.callpath.endsWith("DataFilesOutOfDate() of tvappstate\nInit() of "
                                                 "TfrmMain"))
                << report.callpath.toStdString();
        }
        EXPECT_TRUE(main->isVisible());
        EXPECT_EQ(main->windowTitle(), "Tarvio Version 1.2.0, Drug Database Update 09-14-2007");
        delete main;
    }
}

TEST_F(MainWindow, OneMissingFileIsNamedAlone) {
    std::filesystem::remove(dataDir_ + "Regimens.klg");
    StoreDefaultSettings(false);
    Start();
    ASSERT_FALSE(dialogs_.log.empty());
    EXPECT_EQ(dialogs_.log[0].text, "Tarvio cannot locate the following files:\n\tRegimens.klg\n"
                                    "\nWould you like to browse to their location?");
}

TEST_F(MainWindow, OutOfDateDataSetsAreReported) {
    for (const char* dataSet : {DrugDataFile, RegimenDataFile}) {
        SCOPED_TRACE(dataSet);
        dialogs_.log.clear();
        CopyDataSets(dataDir_);
        SetDataVersion(dataSet, "1.1.9");
        StoreDefaultSettings(false);
        TfrmMain* main = Start();
        std::vector<Question> reports = dialogs_.Reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].text.toStdString(),
                  std::string("Your data files are out of date.\n Please download the newest "
                              "Tarvio version at:\n ") +
                      TvDownloadPage);
        EXPECT_EQ(reports[0].callpath, "Init() of TfrmMain");
        delete main;
    }
}

TEST_F(MainWindow, HistoryOptionFollowsTheHistoryFile) {
    struct Case {
        const char* name;
        bool create;
        mode_t mode;
        bool expected;
    };
    const Case cases[] = {
        {"writable", true, 0644, true},
        {"read-only", true, 0444, false},
        {"missing", false, 0644, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(HistoryFile());
        if (c.create) kxtest::WriteFile(HistoryFile(), "Gemcitabine ", c.mode);
        StoreSettings(dataDir_, historyDir_, true);
        TfrmMain* main = Start();
        EXPECT_EQ(main->GetUseHistory(), c.expected);
        EXPECT_EQ(tvRegistry::GetOption(tvRegistry::kHistoryOption), c.expected ? 1 : 0);
        EXPECT_EQ(main->GetHistory().GetHistoryItems().GetCount(), c.expected ? 1 : 0);
        delete main;
        ::chmod(HistoryFile().c_str(), 0644);
    }
}

TEST_F(MainWindow, ShortTextsAreRefusedAndStayInTheBox) {
    StoreDefaultSettings();
    TfrmMain* main = Start();
    Search(main->edtDrugSearch, "  ab ");
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].text, "Search String must be 3 or more characters!");
    EXPECT_EQ(dialogs_.Boxes()[0].caption, "");
    EXPECT_EQ(dialogs_.Boxes()[0].buttons, TvMbOk);
    EXPECT_EQ(main->edtDrugSearch->text(), "  ab ");
    EXPECT_EQ(main->GetDrugResults(), nullptr);

    // The same two letters are enough for a regimen.
    Search(main->edtRegimenSearch, "  ab ");
    EXPECT_EQ(dialogs_.Boxes().size(), 1u);
    ASSERT_NE(main->GetRegimenResults(), nullptr);
    EXPECT_EQ(main->edtRegimenSearch->text(), "");
    // An empty history file holds one empty entry, which stays in front.
    EXPECT_EQ(kxtest::ReadFile(HistoryFile()), "; ab ");

    Search(main->edtRegimenSearch, " a");
    ASSERT_EQ(dialogs_.Boxes().size(), 2u);
    EXPECT_EQ(dialogs_.Boxes()[1].text, "Search String must be 2 or more characters!");
    EXPECT_EQ(main->edtRegimenSearch->text(), " a");
}

TEST_F(MainWindow, SearchesWithoutMatchesSayNoMatches) {
    StoreDefaultSettings();
    TfrmMain* main = Start();
    for (QLineEdit* box : {main->edtDrugSearch, main->edtRegimenSearch}) {
        dialogs_.log.clear();
        Search(box, " zzqxj ");
        ASSERT_EQ(dialogs_.Boxes().size(), 1u);
        EXPECT_EQ(dialogs_.Boxes()[0].text, "Your search for \"zzqxj\" yielded no matches.");
        EXPECT_EQ(dialogs_.Boxes()[0].caption, "No Matches");
        EXPECT_EQ(box->text(), "");
    }
    EXPECT_EQ(main->GetDrugResults(), nullptr);
    EXPECT_EQ(main->GetRegimenResults(), nullptr);
    EXPECT_EQ(kxtest::ReadFile(HistoryFile()), "");
    EXPECT_EQ(main->GetHistory().GetHistoryItems().GetCount(), 1);
}

TEST_F(MainWindow, SearchesOpenOverTheMainWindowAndFeedTheHistory) {
    StoreDefaultSettings();
    TfrmMain* main = Start();
    main->move(40, 30);

    Search(main->edtRegimenSearch, "FOLFOX");
    QPointer<TfrmRegimen> regimen = main->GetRegimenResults();
    ASSERT_NE(regimen, nullptr);
    EXPECT_EQ(regimen->pos(), main->pos());

    main->edtDrugSearch->setText("cisplatin");
    Click(main->btnDrugSubmit);
    QPointer<TfrmDrug> first = main->GetDrugResults();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->pos(), main->pos());
    EXPECT_EQ(main->edtDrugSearch->text(), "");

    // A second drug search replaces the first window and leaves the regimen window alone.
    Search(main->edtDrugSearch, "CISPLATIN");
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(main->GetDrugResults(), nullptr);
    EXPECT_EQ(main->GetRegimenResults(), regimen.data());
    EXPECT_TRUE(dialogs_.log.empty());

    // One entry for both spellings, the latest kept; the drug search's suggestions are the
    // whole history.
    EXPECT_EQ(kxtest::ReadFile(HistoryFile()), "; FOLFOX; CISPLATIN ");
    const KxVector<KxString>& items = main->GetHistory().GetHistoryItems();
    ASSERT_EQ(items.GetCount(), 3);
    EXPECT_STREQ(items[2], "CISPLATIN");
    EXPECT_EQ(main->GetHistory().GetGuessItems().GetCount(), 3);
}

TEST_F(MainWindow, SuggestionListFollowsTypingAndKeys) {
    kxtest::WriteFile(historyDir_ + HistoryFileName, "Gemcitabine; Paclitaxel; Pemetrexed ");
    StoreSettings(dataDir_, historyDir_, true);
    TfrmMain* main = Start();
    QListWidget* list = main->lstHistory;

    for (QLineEdit* box : {main->edtRegimenSearch, main->edtDrugSearch}) {
        SCOPED_TRACE(box->objectName().toStdString());
        TypeInto(box, "pa");
        EXPECT_TRUE(list->isVisible());
        EXPECT_EQ(Lines(list), QStringList({"Paclitaxel"}));
        Key(Qt::Key_Backspace);
        EXPECT_EQ(Lines(list), QStringList({"Pemetrexed", "Paclitaxel"}));
        EXPECT_EQ(list->height(), 40);
        EXPECT_EQ(list->y(), box->y() + 22);

        Key(Qt::Key_Down);
        EXPECT_EQ(Focused(), list);
        EXPECT_EQ(list->currentRow(), 0);
        EXPECT_EQ(box->text(), "Pemetrexed");
        Key(Qt::Key_Down);
        EXPECT_EQ(box->text(), "Paclitaxel");
        EXPECT_EQ(list->currentRow(), 1);
        Key(Qt::Key_Down); // already at the last suggestion
        EXPECT_EQ(box->text(), "Paclitaxel");
        Key(Qt::Key_Up);
        EXPECT_EQ(box->text(), "Pemetrexed");
        // Up at the top puts the typed text back and returns to the box.
        Key(Qt::Key_Up);
        EXPECT_FALSE(list->isVisible());
        EXPECT_EQ(box->text(), "p");
        EXPECT_EQ(Focused(), box);

        // An empty box suggests everything, newest first; a click on the form hides the list.
        Key(Qt::Key_Backspace);
        EXPECT_EQ(Lines(list), QStringList({"Pemetrexed", "Paclitaxel", "Gemcitabine"}));
        EXPECT_EQ(list->height(), 54);
        Click(main->GetClientArea());
        EXPECT_FALSE(list->isVisible());
    }
    EXPECT_TRUE(dialogs_.log.empty());
}

TEST_F(MainWindow, SuggestionListClicksAndEnter) {
    kxtest::WriteFile(historyDir_ + HistoryFileName, "FOLFOX; cisplatin; carboplatin ");
    StoreSettings(dataDir_, historyDir_, true);
    TfrmMain* main = Start();
    QListWidget* list = main->lstHistory;

    TypeInto(main->edtDrugSearch, "c");
    ASSERT_EQ(Lines(list), QStringList({"carboplatin", "cisplatin"}));
    QRect second = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_EQ(main->edtDrugSearch->text(), "cisplatin");
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
    ASSERT_NE(main->GetDrugResults(), nullptr);
    EXPECT_FALSE(list->isVisible());

    // Enter in the list searches the box it serves.
    TypeInto(main->edtRegimenSearch, "F");
    Key(Qt::Key_Down);
    ASSERT_EQ(Focused(), list);
    Key(Qt::Key_Return);
    EXPECT_NE(main->GetRegimenResults(), nullptr);
    EXPECT_EQ(main->edtRegimenSearch->text(), "");
    EXPECT_TRUE(dialogs_.log.empty());
}

TEST_F(MainWindow, DownWithTheHistoryOffShowsNothing) {
    StoreDefaultSettings(false);
    TfrmMain* main = Start();
    TypeInto(main->edtDrugSearch, "cis");
    Key(Qt::Key_Down);
    EXPECT_FALSE(main->lstHistory->isVisible());
    EXPECT_EQ(main->edtDrugSearch->text(), "cis");
    Key(Qt::Key_Return);
    ASSERT_NE(main->GetDrugResults(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(HistoryFile()));
}

TEST_F(MainWindow, RegistryAndHistoryAfterARun) {
    StoreDefaultSettings();
    TfrmMain* main = Start();
    Search(main->edtDrugSearch, "paclitaxel");
    ASSERT_NE(main->GetDrugResults(), nullptr);
    delete main;
    EXPECT_EQ(kxtest::ReadFile(HistoryFile()), "; paclitaxel ");
    std::string registry = kxtest::ReadFile(RegistryFile());
    EXPECT_EQ(registry.rfind("REGEDIT4", 0), 0u) << registry;
    for (const char* key : {"[HKEY_CURRENT_USER\\Software\\Quillon, Inc.\\Tarvio]",
                            "[HKEY_CURRENT_USER\\Software\\Quillon, Inc.\\Tarvio\\Colors]",
                            "[HKEY_CURRENT_USER\\Software\\Quillon, Inc.\\Tarvio\\Options]"})
        EXPECT_NE(registry.find(key), std::string::npos) << key;
    KxString stored;
    EXPECT_TRUE(tvRegistry::GetUserDataPath(stored, tvRegistry::kHistoryDirectory));
    EXPECT_EQ(std::string(stored), historyDir_);
    EXPECT_EQ(tvRegistry::GetOption(tvRegistry::kHistoryOption), 1);
}

TEST_F(MainWindow, ReadOnlyHistoryWarnsAndLosesTheNewEntry) {
    kxtest::WriteFile(HistoryFile(), "FOLFOX ");
    StoreSettings(dataDir_, historyDir_, true);
    TfrmMain* main = Start();
    ::chmod(HistoryFile().c_str(), 0444);
    Search(main->edtDrugSearch, "cisplatin");
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].caption, "Warning!");
    EXPECT_TRUE(dialogs_.Boxes()[0].text.startsWith(
        QString::fromStdString("Cannot save history.  The file " + HistoryFile())));
    // The reload after the search brings the file's entries back.
    ASSERT_EQ(main->GetHistory().GetHistoryItems().GetCount(), 1);
    EXPECT_STREQ(main->GetHistory().GetHistoryItems()[0], "FOLFOX");
    ::chmod(HistoryFile().c_str(), 0644);
}

TEST_F(MainWindow, EmailMenuOpensTheSupportLink) {
    StoreDefaultSettings();
    TfrmMain* main = Start();
    main->mitHelpEmail->trigger();
    EXPECT_EQ(shell_.links, std::vector<std::string>{std::string("mailto:") + TvSupportEmail});
    EXPECT_TRUE(dialogs_.log.empty());
    shell_.linkResult = false;
    main->mitHelpEmail->trigger();
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].text, "Cannot send email.");
    EXPECT_EQ(dialogs_.Boxes()[0].caption, "Error");
}

} // namespace
} // namespace tvformstest
