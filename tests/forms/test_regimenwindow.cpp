#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextEdit>
#include <QToolButton>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/searchfixture.h"
#include "formsfixture.h"
#include "tvFrmDrugResults.h"
#include "tvFrmRegimenResults.h"

namespace tvformstest {
namespace {

using Rows = std::vector<tvtest::Row>;

class RegimenWindow : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        DataDirectory = dataDir_.c_str();
        QApplication::clipboard()->clear();
    }

    // Replaces the built regimen data set by these regimens, as {name, drugs, codes}.
    void WriteRegimens(const Rows& regimens) {
        for (const char* extension : DataSetExtensions)
            std::filesystem::remove(dataDir_ + RegimenDataName + extension);
        Rows rows{tvtest::VersionRecord(3)};
        rows.insert(rows.end(), regimens.begin(), regimens.end());
        tvtest::WriteDataSet(dataDir_ + RegimenDataFile, 3, rows);
    }

    template <typename T> static T* Child(const QWidget& window, const char* sName) {
        T* child = window.findChild<T*>(sName);
        EXPECT_NE(child, nullptr) << sName;
        return child;
    }
    static QString Text(const QWidget& window, const char* sLabel) {
        return Child<QLabel>(window, sLabel)->text();
    }
    static std::vector<QString> DrugTexts(const TfrmRegimen& window) {
        std::vector<QString> texts;
        for (QLineEdit* box : window.GetDrugBoxes()) texts.push_back(box->text());
        return texts;
    }
    static std::vector<QString> CodeTexts(const TfrmRegimen& window) {
        std::vector<QString> texts;
        for (QTextEdit* box : window.GetCodeBoxes()) texts.push_back(box->toPlainText());
        return texts;
    }
    static std::vector<QString> ListItems(const TfrmRegimen& window) {
        auto* list = Child<QComboBox>(window, "ddlRegimenMatches");
        std::vector<QString> items;
        for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i));
        return items;
    }
    // First, previous, next, last.
    static std::vector<bool> Enabled(const TfrmRegimen& window) {
        std::vector<bool> enabled;
        for (const char* name : {"tbnFirst", "tbnPrev", "tbnNext", "tbnLast"})
            enabled.push_back(Child<QToolButton>(window, name)->isEnabled());
        return enabled;
    }
    static void ClickButton(const TfrmRegimen& window, const char* sName) {
        Click(Child<QToolButton>(window, sName));
    }
    // A right click on a row box; the pop-up menu it opens is closed again.
    static void RightClick(const TfrmRegimen& window, QWidget* pBox) {
        auto* rich = qobject_cast<QTextEdit*>(pBox);
        QTest::mouseClick(rich != nullptr ? rich->viewport() : pBox, Qt::RightButton);
        Child<QMenu>(window, "popMenu")->hide();
    }
    static void Choose(const TfrmRegimen& window, const char* sAction) {
        Child<QAction>(window, sAction)->trigger();
    }
    std::vector<QString> ReportPaths() const {
        std::vector<QString> paths;
        for (const Question& q : dialogs_.Reports()) paths.push_back(q.callpath);
        return paths;
    }
};

std::vector<QString> Q(std::initializer_list<const char*> texts) {
    std::vector<QString> list;
    for (const char* text : texts) list.push_back(QString::fromLatin1(text));
    return list;
}

TEST_F(RegimenWindow, SearchOnTheBuiltDataSetsShowsDrugsAndCodes) {
    TfrmRegimen window(nullptr, "FOLFOX");
    ASSERT_FALSE(window.NoMatches());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Regimen Search Results");
    EXPECT_EQ(window.centralWidget()->size(), QSize(630, 497));
    EXPECT_EQ(Text(window, "lblYourSearch"), "Your search for  \"");
    EXPECT_EQ(Text(window, "lblRegimenSearched"), "FOLFOX");
    EXPECT_EQ(Text(window, "lblFound"), "\" found");
    EXPECT_EQ(Text(window, "lblResults"), "results.");
    std::vector<QString> items = ListItems(window);
    EXPECT_EQ(Text(window, "lblNumResults"), QString::number(items.size()));
    ASSERT_GE(items.size(), 2u);
    // Names that begin with the text come before one that only contains it.
    EXPECT_EQ(items.front(), "1: \"FOLFOX4\"");
    EXPECT_EQ(items.back(), QString::number(items.size()) + ": \"mFOLFOX6\"");

    EXPECT_EQ(DrugTexts(window), Q({"Oxaliplatin", "Leucovorin", "Fluorouracil",
                                    "Fluorouracil by continuous infusion"}));
    EXPECT_EQ(CodeTexts(window), Q({"Chemotherapy", "Ancillary,\ndo not code", "Chemotherapy",
                                    "Chemotherapy"}));
    EXPECT_TRUE(Child<QLabel>(window, "lblNote")->isVisible());

    // The sentence is laid out from the searched text on.
    auto* searched = Child<QLabel>(window, "lblRegimenSearched");
    auto* found = Child<QLabel>(window, "lblFound");
    auto* number = Child<QLabel>(window, "lblNumResults");
    EXPECT_EQ(searched->pos(), QPoint(183, 21));
    EXPECT_EQ(found->x(), searched->x() + searched->width() - 1);
    EXPECT_EQ(number->x(), found->x() + found->width() + 3);
    EXPECT_EQ(Child<QLabel>(window, "lblResults")->x(), number->x() + number->width() + 4);
    EXPECT_TRUE(dialogs_.log.empty());
}

TEST_F(RegimenWindow, TextIsShownAsTypedAndOneMatchSaysResult) {
    TfrmRegimen window(nullptr, "folfox 4");
    EXPECT_EQ(Text(window, "lblRegimenSearched"), "folfox 4");
    EXPECT_EQ(Text(window, "lblNumResults"), "1");
    EXPECT_EQ(Text(window, "lblResults"), "result.");
    EXPECT_EQ(ListItems(window), Q({"1: \"FOLFOX4\""}));
    EXPECT_EQ(Enabled(window), (std::vector<bool>{false, false, false, false}));
}

TEST_F(RegimenWindow, NoMatchesLeavesTheWindowHidden) {
    TfrmRegimen window(nullptr, "ZZQQ");
    EXPECT_TRUE(window.NoMatches());
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(dialogs_.log.empty());
}

TEST_F(RegimenWindow, ControlsStandWhereTheyWereLaidOut) {
    TfrmRegimen window(nullptr, "FOLFOX4");
    const std::pair<const char*, QRect> places[] = {
        {"ToolBar1", QRect(0, 45, 628, 29)},
        {"Panel1", QRect(0, 77, 638, 4)},
        {"btnNewSearch", QRect(284, 464, 75, 25)},
    };
    for (const auto& [name, place] : places)
        EXPECT_EQ(Child<QWidget>(window, name)->geometry(), place) << name;
    auto* note = Child<QLabel>(window, "lblNote");
    EXPECT_EQ(note->x(), 64);
    EXPECT_EQ(note->size(), QSize(407, 32));
    EXPECT_TRUE(note->wordWrap());
    EXPECT_EQ(Child<QComboBox>(window, "ddlRegimenMatches")->geometry().topLeft(), QPoint(173, 2));
    EXPECT_EQ(Child<QComboBox>(window, "ddlRegimenMatches")->width(), 395);
    EXPECT_EQ(Child<QPushButton>(window, "btnNewSearch")->text(), "&Back");
    EXPECT_EQ(Child<QLabel>(window, "lblCurrentRecord")->text(), "Current Record");
    EXPECT_TRUE(Child<QLabel>(window, "lblMoreInfo")->font().italic());
    EXPECT_TRUE(Child<QLabel>(window, "lblCodeAs")->font().bold());

    std::vector<QString> menus;
    for (QAction* menu : window.menuBar()->actions()) {
        menus.push_back(menu->text());
        for (QAction* item : menu->menu()->actions())
            menus.push_back(item->isSeparator() ? QString("-") : item->text());
    }
    EXPECT_EQ(menus, Q({"File", "Print Current Record", "-", "Close", "Help", "E-Mail Tarvio...",
                        "-", "Contents and Index...", "Suggested Citation...", "About..."}));
}

TEST_F(RegimenWindow, RowsGrowTheScrollBoxAndStackTheNotesBelowIt) {
    WriteRegimens({{"THREE", "A; B; C", "Chemo; Chemo; Chemo"},
                   {"TEN", "A;B;C;D;E;F;G;H;I;J", "1;2;3;4;5;6;7;8;9;10"},
                   {"TWOCODES", "A; B; C", "01; 02, 03; 04"},
                   {"TALL", "A;B;C;D;E;F;G", "1,2,3;1,2,3;1,2,3;1,2,3;1,2,3;1,2,3;1,2,3"}});
    TfrmRegimen window(nullptr, "T");
    ASSERT_EQ(window.GetMatches().size(), 4u);
    QScrollArea* box = window.GetScrollBox();
    auto tops = [&window] {
        std::vector<int> found;
        for (int i = 0; i < window.GetCodeBoxes().GetCount(); ++i) {
            EXPECT_EQ(window.GetDrugBoxes()[i]->y(), window.GetCodeBoxes()[i]->y());
            found.push_back(window.GetCodeBoxes()[i]->y());
        }
        return found;
    };

    // Three one-code rows: 9 + 3 x 32 while they are made, then fitted to the last row.
    window.SetupRegimenScrollBox(3);
    EXPECT_EQ(box->height(), 105);
    window.RefreshRegimenScrollBox();
    EXPECT_EQ(tops(), (std::vector<int>{8, 37, 66}));
    EXPECT_EQ(box->height(), 96);

    // What the window shows for the first regimen is laid out the same way.
    ClickButton(window, "tbnNext");
    ClickButton(window, "tbnPrev");
    EXPECT_EQ(box->geometry(), QRect(56, 122, 518, 96));
    EXPECT_EQ(tops(), (std::vector<int>{8, 37, 66}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(window.GetDrugBoxes()[i]->geometry(), QRect(8, 8 + 29 * i, 190, 21));
        EXPECT_EQ(window.GetCodeBoxes()[i]->geometry(), QRect(300, 8 + 29 * i, 190, 21));
    }
    EXPECT_EQ(Child<QLabel>(window, "lblCodeAs")->pos(), QPoint(356, 98));
    auto* moreInfo = Child<QLabel>(window, "lblMoreInfo");
    auto* note2 = Child<QLabel>(window, "lblNote2");
    EXPECT_EQ(moreInfo->y(), 122 + 96 + 7);
    EXPECT_EQ(note2->y(), moreInfo->y() + moreInfo->height() + 7);
    EXPECT_EQ(Child<QLabel>(window, "lblNote")->y(), note2->y() + note2->height() + 7);

    // Ten rows: the box stops at 265 and scrolls.
    ClickButton(window, "tbnNext");
    EXPECT_EQ(window.GetCodeBoxes().GetCount(), 10);
    EXPECT_EQ(box->height(), 265);
    QApplication::processEvents();
    EXPECT_GT(box->verticalScrollBar()->maximum(), 0);

    // A two-part code shows on two lines in a taller box; the rows below move down.
    ClickButton(window, "tbnNext");
    EXPECT_EQ(CodeTexts(window), Q({"01", "02,\n03", "04"}));
    EXPECT_EQ(window.GetCodeBoxes()[1]->height(), 36);
    EXPECT_EQ(tops(), (std::vector<int>{8, 37, 81}));
    EXPECT_EQ(box->height(), 81 + 21 + 9);

    // Tall code boxes on fewer than eight rows never push the notes off the window.
    ClickButton(window, "tbnNext");
    EXPECT_EQ(window.GetCodeBoxes()[0]->height(), 51);
    EXPECT_EQ(box->height(), 265);
    EXPECT_LE(Child<QLabel>(window, "lblNote")->geometry().bottom(), 497);
}

TEST_F(RegimenWindow, ListsEqualNamesThenBeginningThenContaining) {
    WriteRegimens({{"AC", "Doxorubicin; Cyclophosphamide", "Chemo; Chemo"},
                   {"AC-T", "Doxorubicin; Cyclophosphamide; Paclitaxel", "Chemo; Chemo; Chemo"},
                   {"CMF-AC", "Cyclophosphamide", "Chemo"}});
    for (const char* text : {"AC", "ac", "a-c"}) {
        TfrmRegimen window(nullptr, text);
        EXPECT_EQ(ListItems(window), Q({"1: \"AC\"", "2: \"AC-T\"", "3: \"CMF-AC\""})) << text;
    }
}

TEST_F(RegimenWindow, NavigationStepsThroughTheMatches) {
    WriteRegimens({{"AC", "Doxorubicin; Cyclophosphamide", "Chemo; Chemo"},
                   {"AC-T", "Doxorubicin; Cyclophosphamide; Paclitaxel", "Chemo; Chemo; Chemo"},
                   {"CMF-AC", "Cyclophosphamide", "Chemo"}});
    TfrmRegimen window(nullptr, "AC");
    auto* list = Child<QComboBox>(window, "ddlRegimenMatches");
    auto at = [&](int index, const std::vector<bool>& enabled) {
        EXPECT_EQ(window.GetCurrentIndex(), index);
        EXPECT_EQ(list->currentIndex(), index);
        EXPECT_EQ(window.GetDrugBoxes().GetCount(), index == 0 ? 2 : index == 1 ? 3 : 1);
        EXPECT_EQ(Enabled(window), enabled);
    };
    const std::vector<bool> start{false, false, true, true}, middle{true, true, true, true},
        end{true, true, false, false};
    at(0, start);
    ClickButton(window, "tbnNext");
    at(1, middle);
    ClickButton(window, "tbnLast");
    at(2, end);
    ClickButton(window, "tbnPrev");
    at(1, middle);
    ClickButton(window, "tbnFirst");
    at(0, start);

    // Page keys on the list move by one and no further, whatever the list itself would do.
    Press(list, Qt::Key_PageDown);
    at(1, middle);
    Press(list, Qt::Key_PageDown);
    Press(list, Qt::Key_PageDown);
    at(2, end);
    Press(window.GetDrugBoxes()[0], Qt::Key_PageUp);
    at(1, middle);
    Press(&window, Qt::Key_PageUp);
    Press(&window, Qt::Key_PageUp);
    at(0, start);
    // The user's choice in the list.
    Press(list, Qt::Key_Down);
    at(1, middle);
    EXPECT_TRUE(dialogs_.log.empty());
}

TEST_F(RegimenWindow, EscBackAndCloseHideTheWindow) {
    const std::vector<std::pair<const char*, std::function<void(TfrmRegimen&)>>> ways = {
        {"Esc on the window", [](TfrmRegimen& w) { Press(&w, Qt::Key_Escape); }},
        {"Esc on a code box",
         [](TfrmRegimen& w) { Press(w.GetCodeBoxes()[0], Qt::Key_Escape); }},
        {"Esc on the Back button",
         [](TfrmRegimen& w) { Press(Child<QPushButton>(w, "btnNewSearch"), Qt::Key_Escape); }},
        {"Back", [](TfrmRegimen& w) { Click(Child<QPushButton>(w, "btnNewSearch")); }},
        {"Close", [](TfrmRegimen& w) { Choose(w, "mitFileClose"); }},
    };
    for (const auto& [way, act] : ways) {
        TfrmRegimen window(nullptr, "FOLFOX4");
        ASSERT_TRUE(window.isVisible());
        act(window);
        EXPECT_FALSE(window.isVisible()) << way;
    }
}

TEST_F(RegimenWindow, DrugClickOpensOneDrugWindowWithoutTheIgnorePhrase) {
    TfrmRegimen window(nullptr, "FOLFOX4");
    window.move(40, 30);
    ASSERT_EQ(window.GetDrugBoxes().GetCount(), 4);
    EXPECT_EQ(window.GetDrugWindow(), nullptr);

    Click(window.GetDrugBoxes()[3]);
    QPointer<TfrmDrug> first = window.GetDrugWindow();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(std::string(first->GetSearchText().GetCString()), "Fluorouracil");
    EXPECT_TRUE(first->IsCalledFromRegimen());
    EXPECT_FALSE(first->NoMatches());
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->pos(), window.pos());

    Click(window.GetDrugBoxes()[0]);
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(window.GetDrugWindow(), nullptr);
    EXPECT_EQ(std::string(window.GetDrugWindow()->GetSearchText().GetCString()), "Oxaliplatin");

    // A right click is for copying, not for opening.
    QPointer<TfrmDrug> second = window.GetDrugWindow();
    RightClick(window, window.GetDrugBoxes()[1]);
    EXPECT_EQ(window.GetDrugWindow(), second.data());
}

TEST_F(RegimenWindow, DrugEntriesAreSearchedCleaned) {
    WriteRegimens({{"PH", "Cisplatin high-dose;   ; HIGH-DOSE Methotrexate", "Chemo; 01; Chemo"}});
    TfrmRegimen window(nullptr, "PH");
    const std::pair<int, const char*> clicks[] = {{0, "Cisplatin"}, {1, ""}, {2, "Methotrexate"}};
    for (const auto& [row, searched] : clicks) {
        Click(window.GetDrugBoxes()[row]);
        ASSERT_NE(window.GetDrugWindow(), nullptr) << row;
        EXPECT_EQ(std::string(window.GetDrugWindow()->GetSearchText().GetCString()), searched);
        // Shown whatever it found, none included.
        EXPECT_TRUE(window.GetDrugWindow()->isVisible()) << row;
    }
}

TEST_F(RegimenWindow, CombinationNoteNeedsTwoDrugsCodedAsChemotherapy) {
    WriteRegimens({{"R1", "A; B", "chemo; Chemotherapy 03"},
                   {"R2", "A; B", "Chemotherapy; Hormone"},
                   {"R3", "A; B; C", "ancillary, do not code; CHEMO; 01"},
                   {"R4", "A; B; C", "cHeMo, 01; x; CHEMOTHERAPY"}});
    TfrmRegimen window(nullptr, "R");
    auto* note = Child<QLabel>(window, "lblNote");
    std::vector<bool> shown;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) ClickButton(window, "tbnNext");
        shown.push_back(note->isVisible());
    }
    EXPECT_EQ(shown, (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(note->text(), "Note: if two or more drugs are coded as chemotherapy, use code 03, "
                            "combination chemotherapy");
}

TEST_F(RegimenWindow, RegimenThatCannotBeShownIsReportedAndTheShownOneStays) {
    WriteRegimens({{"AC", "Doxorubicin; Cyclophosphamide", "Chemo; Chemo"},
                   {"AC-X", "Doxorubicin; Cyclophosphamide", "Chemo"},
                   {"AC-T", "Doxorubicin; Cyclophosphamide; Paclitaxel", "Chemo; Chemo; Chemo"}});
    TfrmRegimen window(nullptr, "AC");
    auto* list = Child<QComboBox>(window, "ddlRegimenMatches");
    ClickButton(window, "tbnNext");
    ASSERT_EQ(dialogs_.Reports().size(), 1u);
    EXPECT_TRUE(dialogs_.Reports()[0].text.contains("AC-X"));
    EXPECT_TRUE(ReportPaths()[0].contains("LoadRecord() of TfrmRegimen"));
    EXPECT_EQ(DrugTexts(window), Q({"Doxorubicin", "Cyclophosphamide"}));
    EXPECT_EQ(window.GetCurrentIndex(), 0);
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(Enabled(window), (std::vector<bool>{false, false, true, true}));

    // The list can still reach the regimens after it.
    Press(list, Qt::Key_End);
    EXPECT_EQ(window.GetCurrentIndex(), 2);
    EXPECT_EQ(DrugTexts(window), Q({"Doxorubicin", "Cyclophosphamide", "Paclitaxel"}));

    // A data set gone since the search: reported, and the window stays as it was.
    for (const char* extension : DataSetExtensions)
        std::filesystem::remove(dataDir_ + RegimenDataName + extension);
    ClickButton(window, "tbnFirst");
    ASSERT_EQ(dialogs_.Reports().size(), 2u);
    EXPECT_TRUE(ReportPaths()[1].contains("LoadRecord() of TfrmRegimen"));
    EXPECT_EQ(window.GetCurrentIndex(), 2);
    EXPECT_EQ(window.GetDrugBoxes().GetCount(), 3);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(RegimenWindow, FirstRegimenThatCannotBeShownLeavesTheOthersReachable) {
    WriteRegimens({{"AC", "Doxorubicin; Cyclophosphamide", "Chemo"},
                   {"AC-T", "Doxorubicin; Cyclophosphamide; Paclitaxel", "Chemo; Chemo; Chemo"}});
    TfrmRegimen window(nullptr, "AC");
    ASSERT_EQ(dialogs_.Reports().size(), 1u);
    EXPECT_TRUE(ReportPaths()[0].contains("LoadRecord() of TfrmRegimen"));
    EXPECT_EQ(window.GetDrugBoxes().GetCount(), 0);
    EXPECT_EQ(ListItems(window), Q({"1: \"AC\"", "2: \"AC-T\""}));
    ASSERT_TRUE(Child<QToolButton>(window, "tbnNext")->isEnabled());
    ClickButton(window, "tbnNext");
    EXPECT_EQ(window.GetDrugBoxes().GetCount(), 3);
}

TEST_F(RegimenWindow, CopyTakesTheSelectionOrTheWholeBox) {
    TfrmRegimen window(nullptr, "FOLFOX4");
    QClipboard* clipboard = QApplication::clipboard();
    auto* copyBox = Child<QLineEdit>(window, "edtCopy");

    // Nothing remembered yet: Select All changes nothing, Copy has nothing to copy.
    Choose(window, "popMenuSelectAll");
    Choose(window, "popMenuCopy");
    EXPECT_EQ(copyBox->text(), "");
    EXPECT_EQ(clipboard->text(), "");

    // The selection at the right click.
    QLineEdit* drug = window.GetDrugBoxes()[3];
    drug->setSelection(0, 12);
    RightClick(window, drug);
    EXPECT_EQ(clipboard->text(), "Fluorouracil");
    EXPECT_EQ(copyBox->text(), "Fluorouracil");

    // The whole box after Select All, line breaks included.
    QTextEdit* code = window.GetCodeBoxes()[1];
    RightClick(window, code);
    Choose(window, "popMenuSelectAll");
    EXPECT_EQ(code->textCursor().selectionStart(), 0);
    EXPECT_EQ(code->textCursor().selectionEnd(), code->toPlainText().size());
    Choose(window, "popMenuCopy");
    EXPECT_EQ(clipboard->text(), "Ancillary,\ndo not code");

    // The remembered box goes with its row: after a rebuild Select All has nothing to select.
    copyBox->clear();
    window.SetupRegimenScrollBox(2);
    Choose(window, "popMenuSelectAll");
    EXPECT_EQ(copyBox->text(), "");
}

TEST_F(RegimenWindow, EmailFailureIsSaidInABox) {
    TfrmRegimen window(nullptr, "FOLFOX4");
    shell_.linkResult = false;
    Choose(window, "mitHelpEmail");
    ASSERT_EQ(shell_.links.size(), 1u);
    EXPECT_EQ(shell_.links[0].rfind("mailto:", 0), 0u);
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].text, "Cannot send email.");
    EXPECT_EQ(dialogs_.Boxes()[0].caption, "Error");
}

} // namespace
} // namespace tvformstest
