#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/searchfixture.h"
#include "formsfixture.h"
#include "tvFrmDrugResults.h"
#include "tvasciitext.h"
#include "tvcontact.h"

namespace tvformstest {
namespace {

using Rows = std::vector<tvtest::Row>;

constexpr int32_t kHighlight = 0x2080E0; // a colour reference no other role uses
constexpr int32_t kText = 0x103050;

class DrugWindow : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        DataDirectory = dataDir_.c_str();
        for (int32_t role = 0; role < kColorRoleCount; ++role)
            AppColors.values[role] = tvRegistry::DefaultColors[role];
        AppColors[ColorRole::Highlight] = kHighlight;
        AppColors[ColorRole::Text] = kText;
        QApplication::clipboard()->clear();
    }

    // Replaces the built drug data set by these drugs (records from 2).
    void WriteDrugs(const Rows& drugs) {
        for (const char* extension : DataSetExtensions)
            std::filesystem::remove(dataDir_ + DrugDataName + extension);
        Rows rows{tvtest::VersionRecord(17)};
        rows.insert(rows.end(), drugs.begin(), drugs.end());
        tvtest::WriteDataSet(dataDir_ + DrugDataFile, 17, rows);
    }

    template <typename T> static T* Child(const QWidget& window, const char* sName) {
        T* child = window.findChild<T*>(sName);
        EXPECT_NE(child, nullptr) << sName;
        return child;
    }
    static QString Text(const QWidget& window, const char* sName) {
        if (auto* label = window.findChild<QLabel*>(sName)) return label->text();
        return Child<QTextEdit>(window, sName)->toPlainText();
    }
    // One character per character of the box: '#' in the highlight colour, '.' in the text
    // colour, '?' in any other, and a line feed for a line break.
    static std::string Marks(const QWidget& window, const char* sBox) {
        QTextDocument* document = Child<QTextEdit>(window, sBox)->document();
        std::string marks;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            if (block != document->begin()) marks += '\n';
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                QTextFragment fragment = it.fragment();
                QColor color = fragment.charFormat().foreground().color();
                char mark = color == TvColor(kHighlight) ? '#' : color == TvColor(kText) ? '.' : '?';
                marks.append(static_cast<size_t>(fragment.length()), mark);
            }
        }
        return marks;
    }
    // The marks a box should carry: every occurrence of each pattern, ASCII case folded.
    static std::string Expected(const QString& text, const std::vector<std::string>& patterns) {
        std::string upper = TvUppercased(TvFromQt(text)).GetCString();
        std::string marks(upper.size(), '.');
        for (size_t i = 0; i < upper.size(); ++i)
            if (upper[i] == '\n') marks[i] = '\n';
        for (const std::string& pattern : patterns) {
            std::string p = TvUppercased(pattern.c_str()).GetCString();
            for (size_t at = upper.find(p); at != std::string::npos; at = upper.find(p, at + 1))
                marks.replace(at, p.size(), p.size(), '#');
        }
        return marks;
    }
    static std::vector<QString> Items(const QWidget& window) {
        auto* list = Child<QComboBox>(window, "ddlDrugMatches");
        std::vector<QString> items;
        for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i));
        return items;
    }
    // First, previous, next, last.
    static std::vector<bool> Enabled(const QWidget& window) {
        std::vector<bool> enabled;
        for (const char* name : {"tbnFirstRecord", "tbnPreviousRecord", "tbnNextRecord",
                                 "tbnLastRecord"})
            enabled.push_back(Child<QToolButton>(window, name)->isEnabled());
        return enabled;
    }
    static void ClickTool(const QWidget& window, const char* sName) {
        Click(Child<QToolButton>(window, sName));
    }
    static int ListIndex(const QWidget& window) {
        return Child<QComboBox>(window, "ddlDrugMatches")->currentIndex();
    }
    // The descriptors of this process that refer to the drug data file.
    int OpenDataFiles() const {
        int count = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
            std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
            if (!error && target.filename() == DrugDataFile) ++count;
        }
        return count;
    }
    std::vector<QString> ReportPaths() const {
        std::vector<QString> paths;
        for (const Question& q : dialogs_.Reports()) paths.push_back(q.callpath);
        return paths;
    }
};

TEST_F(DrugWindow, SearchShowsTheBestMatchWithTheSearchTextMarked) {
    TfrmDrug window(nullptr, false, "cisplatin");
    ASSERT_FALSE(window.NoMatches());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Drug Search Results");
    EXPECT_EQ(Text(window, "lblYourSearch"), "Your search for \"");
    EXPECT_EQ(Text(window, "lblDrugSearched"), "cisplatin");
    EXPECT_EQ(Text(window, "lblFound"), "\" found ");
    EXPECT_EQ(Text(window, "lblNumResults"), "3");
    EXPECT_EQ(Text(window, "lblResults"), "results.");
    auto* searched = Child<QLabel>(window, "lblDrugSearched");
    auto* found = Child<QLabel>(window, "lblFound");
    auto* number = Child<QLabel>(window, "lblNumResults");
    EXPECT_EQ(searched->pos(), QPoint(162, 21));
    EXPECT_EQ(found->x(), searched->x() + searched->width() - 1);
    EXPECT_EQ(number->x(), found->x() + found->width() + 2);
    EXPECT_EQ(Child<QLabel>(window, "lblResults")->x(), number->x() + number->width() + 4);

    std::vector<QString> items = Items(window);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], "1: \"CISPLATIN\", \"cisplatinum;\", \"cisplatine;\", \"Cisplatin\"");
    EXPECT_EQ(items[1], "2: \"cisplatin\"");
    EXPECT_EQ(ListIndex(window), 0);
    EXPECT_EQ(window.focusWidget(), Child<QComboBox>(window, "ddlDrugMatches"));
    EXPECT_EQ(Enabled(window), (std::vector<bool>{false, false, true, true}));

    EXPECT_EQ(Text(window, "edtGenericName"), "CISPLATIN");
    EXPECT_EQ(Text(window, "edtBrandNames"), "Platinol; Platinol-AQ");
    EXPECT_EQ(Text(window, "edtCategory"), "Chemotherapy");
    EXPECT_EQ(Text(window, "edtNSCNumber"), "119875\n");
    // The search text is found in these boxes, so only it is marked there, wherever it occurs.
    EXPECT_EQ(Marks(window, "edtGenericName"), "#########");
    QString remarks = Text(window, "edtRemarks");
    ASSERT_TRUE(remarks.contains("Cisplatin given with radiation"));
    EXPECT_EQ(Marks(window, "edtRemarks"), Expected(remarks, {"cisplatin"}));
    for (const char* box : {"edtBrandNames", "edtCategory", "edtSubcategory", "edtAbbreviations",
                            "edtNSCNumber", "edtPrimarySites", "edtChemicalName"})
        EXPECT_EQ(Marks(window, box), Expected(Text(window, box), {})) << box;

    // Plain and marked characters take the templates' fonts: Arial 12 px, regular.
    QTextCursor cursor(Child<QTextEdit>(window, "edtGenericName")->document());
    cursor.setPosition(1);
    EXPECT_EQ(cursor.charFormat().font().pixelSize(), 12);
    EXPECT_FALSE(cursor.charFormat().font().bold());
    EXPECT_TRUE(dialogs_.log.empty());
    // Nothing stays open between the user's actions.
    EXPECT_EQ(OpenDataFiles(), 0);
}

TEST_F(DrugWindow, PartOfANameMarksOnlyThatPart) {
    TfrmDrug window(nullptr, false, "cis");
    ASSERT_FALSE(window.NoMatches());
    EXPECT_EQ(Text(window, "edtGenericName"), "CISPLATIN");
    EXPECT_EQ(Marks(window, "edtGenericName"), "###......");
    QString chemical = Text(window, "edtChemicalName");
    EXPECT_EQ(Marks(window, "edtChemicalName"), Expected(chemical, {"cis"}));
}

TEST_F(DrugWindow, WithoutThePhraseEachMatchedWordIsMarked) {
    TfrmDrug window(nullptr, false, "Platinol radiosensitizer xyzzy");
    ASSERT_EQ(window.GetMatches().size(), 1u);
    EXPECT_EQ(Text(window, "edtGenericName"), "CISPLATIN");
    EXPECT_EQ(Marks(window, "edtBrandNames"), "#########.###########");
    QString remarks = Text(window, "edtRemarks");
    EXPECT_EQ(Marks(window, "edtRemarks"),
              Expected(remarks, {"radiosensitizer", "(Platinol)"}));
    EXPECT_EQ(Text(window, "lblNumResults"), "1");
    EXPECT_EQ(Text(window, "lblResults"), "result.");
}

TEST_F(DrugWindow, ButtonsListAndPageKeysStepThroughTheMatches) {
    TfrmDrug window(nullptr, false, "cisplatin");
    ASSERT_EQ(window.GetMatches().size(), 3u);
    auto* list = Child<QComboBox>(window, "ddlDrugMatches");
    auto at = [&](int index, const char* name) {
        EXPECT_EQ(window.GetCurrentIndex(), index);
        EXPECT_EQ(ListIndex(window), index);
        EXPECT_EQ(Text(window, "edtGenericName"), name);
    };

    ClickTool(window, "tbnNextRecord");
    at(1, "AMIFOSTINE");
    EXPECT_EQ(Enabled(window), (std::vector<bool>{true, true, true, true}));
    // The marks of the record before are gone; this one's remarks carry its own.
    EXPECT_EQ(Marks(window, "edtGenericName"), "..........");
    EXPECT_EQ(Marks(window, "edtRemarks"), Expected(Text(window, "edtRemarks"), {"cisplatin"}));
    // A field holding "EMPTY" shows empty.
    EXPECT_EQ(Text(window, "edtChemicalName"), "");

    ClickTool(window, "tbnLastRecord");
    at(2, "SODIUM THIOSULFATE");
    EXPECT_EQ(Enabled(window), (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(Text(window, "edtNSCNumber"), "\n");
    Press(list, Qt::Key_PageDown);
    at(2, "SODIUM THIOSULFATE");
    ClickTool(window, "tbnPreviousRecord");
    at(1, "AMIFOSTINE");
    ClickTool(window, "tbnFirstRecord");
    at(0, "CISPLATIN");
    EXPECT_EQ(Enabled(window), (std::vector<bool>{false, false, true, true}));
    Press(list, Qt::Key_PageUp);
    at(0, "CISPLATIN");

    // Page Down and Page Up from the list, a field box and the Back button.
    Press(list, Qt::Key_PageDown);
    at(1, "AMIFOSTINE");
    Press(Child<QTextEdit>(window, "edtRemarks"), Qt::Key_PageDown);
    at(2, "SODIUM THIOSULFATE");
    Press(Child<QPushButton>(window, "btnNewSearch"), Qt::Key_PageUp);
    at(1, "AMIFOSTINE");

    // Choosing in the list.
    Press(list, Qt::Key_Up);
    at(0, "CISPLATIN");
    Press(list, Qt::Key_End);
    at(2, "SODIUM THIOSULFATE");
    EXPECT_EQ(Marks(window, "edtGenericName"), "..................");
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(dialogs_.log.empty());
    EXPECT_EQ(OpenDataFiles(), 0);
}

TEST_F(DrugWindow, OneMatchLeavesTheButtonsDisabledAndThePageKeysIdle) {
    TfrmDrug window(nullptr, false, "amifostine");
    ASSERT_EQ(window.GetMatches().size(), 1u);
    EXPECT_EQ(Text(window, "lblNumResults"), "1");
    EXPECT_EQ(Text(window, "lblResults"), "result.");
    EXPECT_EQ(Enabled(window), (std::vector<bool>(4, false)));
    auto* list = Child<QComboBox>(window, "ddlDrugMatches");
    Press(list, Qt::Key_PageDown);
    Press(list, Qt::Key_PageUp);
    EXPECT_EQ(window.GetCurrentIndex(), 0);
    EXPECT_EQ(Text(window, "edtGenericName"), "AMIFOSTINE");
    EXPECT_TRUE(dialogs_.log.empty());
}

TEST_F(DrugWindow, EscBackAndCloseHideTheWindow) {
    for (int way = 0; way < 3; ++way) {
        TfrmDrug window(nullptr, false, "cisplatin");
        ASSERT_TRUE(window.isVisible());
        if (way == 0) Press(Child<QComboBox>(window, "ddlDrugMatches"), Qt::Key_Escape);
        if (way == 1) Click(Child<QPushButton>(window, "btnNewSearch"));
        if (way == 2) Child<QAction>(window, "mitFileClose")->trigger();
        EXPECT_FALSE(window.isVisible()) << way;
    }
    TfrmDrug window(nullptr, false, "cisplatin");
    Press(Child<QTextEdit>(window, "edtGenericName"), Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(DrugWindow, NoMatchFromTheMainWindowStaysHiddenFromARegimenShowsEmpty) {
    TfrmDrug hidden(nullptr, false, "zzqqxx");
    EXPECT_TRUE(hidden.NoMatches());
    EXPECT_FALSE(hidden.isVisible());

    TfrmDrug window(nullptr, true, "zzqqxx");
    EXPECT_TRUE(window.NoMatches());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Text(window, "lblDrugSearched"), "Drug");
    EXPECT_EQ(Text(window, "lblNumResults"), "0");
    EXPECT_EQ(Text(window, "lblResults"), "results.");
    EXPECT_TRUE(Items(window).empty());
    EXPECT_EQ(Enabled(window), (std::vector<bool>(4, false)));
    for (int i = 0; i < TfrmDrug::kBoxCount; ++i)
        EXPECT_EQ(window.GetFieldBox(i)->toPlainText(), "") << i;
    Press(Child<QComboBox>(window, "ddlDrugMatches"), Qt::Key_PageDown);
    EXPECT_TRUE(dialogs_.log.empty());
}

TEST_F(DrugWindow, FieldsAreShownAsTheBoxesLayThemOut) {
    struct Case {
        std::map<int, std::string> fields;
        const char* nsc;
        const char* remarks;
    };
    const Case cases[] = {
        {{{11, "12345; 67890"}, {14, "EMPTY"}, {15, "Second part"}}, "12345\n67890\n",
         "Second part\n"},
        {{{11, "EMPTY"}, {14, "First part"}, {15, "Second part"}}, "\n",
         "First part\nSecond part\n"},
        {{{11, ""}, {14, "Only the first"}}, "\n", "Only the first\n"},
        {{{11, "1;2;3"}}, "1\n2\n3\n", ""},
    };
    Rows drugs;
    for (const Case& c : cases) {
        std::map<int, std::string> fields = c.fields;
        fields[5] = "ZZDRUG";
        fields[0] = "EMPTY";
        drugs.push_back(tvtest::Drug(fields));
    }
    WriteDrugs(drugs);
    TfrmDrug window(nullptr, false, "zzdrug");
    ASSERT_EQ(window.GetMatches().size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Text(window, "edtNSCNumber"), cases[i].nsc) << i;
        EXPECT_EQ(Text(window, "edtRemarks"), cases[i].remarks) << i;
        EXPECT_EQ(Text(window, "edtCategory"), "") << i;
        EXPECT_EQ(Marks(window, "edtGenericName"), "######") << i;
        ClickTool(window, "tbnNextRecord");
    }
    EXPECT_TRUE(dialogs_.log.empty());
}

TEST_F(DrugWindow, MarksLandOnTheWordsAfterLineBreaksAndAccentedLetters) {
    WriteDrugs({tvtest::Drug({{5, "ZZNAME"},
                              {14, "Caf\xE9 line\r\nsecond zzword here\rthird zzword"},
                              {15, "\xC9t\xE9 zzword"}})});
    TfrmDrug window(nullptr, false, "zzword");
    ASSERT_EQ(window.GetMatches().size(), 1u);
    EXPECT_EQ(Text(window, "edtRemarks"),
              QString::fromUtf8("Café line\nsecond zzword here\nthird zzword\nÉté zzword\n"));
    EXPECT_EQ(Marks(window, "edtRemarks"), ".........\n.......######.....\n......######\n"
                                           "....######\n");
}

TEST_F(DrugWindow, EachMatchedWordIsMarkedWhereAnotherWordWasMarkedFirst) {
    // The matched words are Zetaplus, Zeta and Zetaplus: Zeta stands alone after the place
    // where Zetaplus was marked, and must be marked as well.
    WriteDrugs({tvtest::Drug({{5, "ZZNAME"}, {9, "Zetaplus Zeta"}})});
    TfrmDrug window(nullptr, false, "zeta zetaplus");
    ASSERT_EQ(window.GetMatches().size(), 1u);
    EXPECT_EQ(Marks(window, "edtBrandNames"), "########.####");
}

TEST_F(DrugWindow, RecordThatFailsToLoadIsReportedAndTheWindowStaysUsable) {
    TfrmDrug window(nullptr, false, "cisplatin");
    ASSERT_EQ(window.GetMatches().size(), 3u);
    std::string data = dataDir_ + DrugDataFile;
    std::filesystem::rename(data, data + ".away");

    ClickTool(window, "tbnNextRecord");
    std::vector<QString> paths = ReportPaths();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_TRUE(paths[0].endsWith("LoadRecord() of TfrmDrug")) << paths[0].toStdString();
    // The boxes keep what they showed; the list and the buttons follow the record asked for.
    EXPECT_EQ(Text(window, "edtGenericName"), "CISPLATIN");
    EXPECT_EQ(ListIndex(window), 1);
    EXPECT_EQ(Enabled(window), (std::vector<bool>{true, true, true, true}));
    ClickTool(window, "tbnLastRecord");
    Press(Child<QComboBox>(window, "ddlDrugMatches"), Qt::Key_PageDown);
    EXPECT_EQ(window.GetCurrentIndex(), 2);
    EXPECT_EQ(Enabled(window), (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(dialogs_.Reports().size(), 2u);

    std::filesystem::rename(data + ".away", data);
    ClickTool(window, "tbnPreviousRecord");
    EXPECT_EQ(Text(window, "edtGenericName"), "AMIFOSTINE");
    EXPECT_EQ(dialogs_.Reports().size(), 2u);
    EXPECT_EQ(OpenDataFiles(), 0);
}

TEST_F(DrugWindow, MissingDataSetGivesOneReportAndNoMatches) {
    std::filesystem::remove(dataDir_ + DrugDataFile);
    TfrmDrug window(nullptr, false, "cisplatin");
    EXPECT_TRUE(window.NoMatches());
    EXPECT_FALSE(window.isVisible());
    std::vector<QString> paths = ReportPaths();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_TRUE(paths[0].endsWith("SearchData() of TfrmDrug")) << paths[0].toStdString();
}

TEST_F(DrugWindow, SelectAllAndCopyTakeTheBoxLastRightClicked) {
    TfrmDrug window(nullptr, false, "cisplatin");
    QClipboard* clipboard = QApplication::clipboard();
    auto* generic = Child<QTextEdit>(window, "edtGenericName");
    auto* remarks = Child<QTextEdit>(window, "edtRemarks");

    // Before any right click, Copy takes the generic name box's selection.
    QTextCursor cursor = generic->textCursor();
    cursor.setPosition(0);
    cursor.setPosition(3, QTextCursor::KeepAnchor);
    generic->setTextCursor(cursor);
    Child<QAction>(window, "popMenuCopy")->trigger();
    EXPECT_EQ(clipboard->text(), "CIS");

    QTest::mouseClick(remarks->viewport(), Qt::RightButton);
    Child<QAction>(window, "popMenuSelectAll")->trigger();
    Child<QAction>(window, "popMenuCopy")->trigger();
    EXPECT_EQ(clipboard->text(), remarks->toPlainText());

    // The pop-up menu opens over a box and names it as well.
    auto* brands = Child<QTextEdit>(window, "edtBrandNames");
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5),
                                brands->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(brands->viewport(), &menuEvent);
    auto* menu = Child<QMenu>(window, "popMenu");
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    Child<QAction>(window, "popMenuSelectAll")->trigger();
    Child<QAction>(window, "popMenuCopy")->trigger();
    EXPECT_EQ(clipboard->text(), "Platinol; Platinol-AQ");
    EXPECT_EQ(Child<QAction>(window, "popMenuCopy")->shortcut(), QKeySequence("Ctrl+C"));

    // Ctrl+C in a box copies that box's selection.
    cursor = remarks->textCursor();
    cursor.setPosition(0);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    remarks->setTextCursor(cursor);
    QTest::keyClick(remarks, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), remarks->toPlainText().left(4));
}

TEST_F(DrugWindow, ControlsStandWhereTheyWereLaidOutInTheirColours) {
    TfrmDrug window(nullptr, false, "amifostine");
    EXPECT_EQ(window.centralWidget()->size(), QSize(630, 497));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    struct Place {
        const char* name;
        QRect place;
    };
    const Place boxes[] = {
        {"edtGenericName", QRect(152, 88, 169, 45)},   {"edtBrandNames", QRect(152, 138, 169, 45)},
        {"edtCategory", QRect(408, 88, 121, 45)},      {"edtSubcategory", QRect(408, 138, 121, 45)},
        {"edtAbbreviations", QRect(152, 188, 169, 45)}, {"edtNSCNumber", QRect(408, 188, 121, 45)},
        {"edtPrimarySites", QRect(152, 238, 377, 45)}, {"edtChemicalName", QRect(152, 288, 377, 63)},
        {"edtRemarks", QRect(152, 356, 377, 97)},
    };
    for (int i = 0; i < TfrmDrug::kBoxCount; ++i) {
        QTextEdit* box = Child<QTextEdit>(window, boxes[i].name);
        EXPECT_EQ(window.GetFieldBox(i), box) << boxes[i].name;
        EXPECT_EQ(box->geometry(), boxes[i].place) << boxes[i].name;
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_FALSE(box->focusPolicy() & Qt::TabFocus) << boxes[i].name;
        EXPECT_EQ(box->palette().color(QPalette::Base), TvColor(AppColors[ColorRole::Window]));
        EXPECT_EQ(box->palette().color(QPalette::Text), TvColor(kText));
        EXPECT_EQ(box->font().pixelSize(), 12);
        EXPECT_TRUE(box->font().bold());
    }
    const std::pair<const char*, QPoint> labels[] = {
        {"Generic Name", {68, 88}},   {"Brand Name(s)", {63, 138}}, {"Category", {353, 88}},
        {"Subcategory", {332, 138}},  {"Abbreviation(s)", {62, 188}}, {"NSC Number", {332, 188}},
        {"Primary Sites", {71, 238}}, {"Chemical Name", {59, 288}}, {"Remarks", {96, 356}},
    };
    for (const auto& [caption, place] : labels) {
        QLabel* found = nullptr;
        for (QLabel* label : window.findChildren<QLabel*>())
            if (label->text() == caption) found = label;
        ASSERT_NE(found, nullptr) << caption;
        EXPECT_EQ(found->pos(), place) << caption;
        EXPECT_TRUE(found->font().bold());
        EXPECT_EQ(found->font().pixelSize(), 12);
        EXPECT_EQ(found->palette().color(QPalette::WindowText),
                  TvColor(AppColors[ColorRole::Label]));
    }
    EXPECT_EQ(Child<QWidget>(window, "ToolBar1")->geometry(), QRect(0, 45, 628, 29));
    EXPECT_EQ(Child<QWidget>(window, "Panel1")->geometry(), QRect(0, 77, 641, 4));
    EXPECT_EQ(Child<QWidget>(window, "Panel1")->palette().color(QPalette::Window),
              QColor(151, 219, 255));
    EXPECT_EQ(window.centralWidget()->palette().color(QPalette::Window),
              TvColor(AppColors[ColorRole::Background]));
    EXPECT_EQ(Child<QComboBox>(window, "ddlDrugMatches")->geometry(), QRect(173, 2, 395, 22));
    for (const char* name : {"tbnFirstRecord", "tbnPreviousRecord", "tbnNextRecord",
                             "tbnLastRecord"})
        EXPECT_EQ(Child<QToolButton>(window, name)->width(), 25) << name;
    auto* back = Child<QPushButton>(window, "btnNewSearch");
    EXPECT_EQ(back->geometry(), QRect(284, 464, 75, 25));
    EXPECT_EQ(back->text(), "&Back");
    EXPECT_EQ(Text(window, "lblCurrentRecord"), "Current Record");
    EXPECT_TRUE(Child<QLabel>(window, "lblCurrentRecord")->font().bold());
    EXPECT_EQ(Child<QLabel>(window, "lblYourSearch")->font().pixelSize(), 13);
    EXPECT_TRUE(Child<QLabel>(window, "lblDrugSearched")->font().bold());
    EXPECT_FALSE(Child<QTextEdit>(window, "edtHighlightColor")->isVisible());
    EXPECT_FALSE(Child<QTextEdit>(window, "rdtPrint")->isVisible());

    std::vector<QString> menus;
    for (QAction* menu : window.menuBar()->actions()) {
        menus.push_back(menu->text());
        for (QAction* item : menu->menu()->actions())
            menus.push_back(item->isSeparator() ? QString("-") : item->text());
    }
    EXPECT_EQ(menus, (std::vector<QString>{"File", "Print Current Record", "-", "Close", "Help",
                                           "E-Mail Tarvio...", "-", "Contents and Index...",
                                           "Suggested Citation...", "About..."}));
    std::vector<QString> popup;
    for (QAction* item : Child<QMenu>(window, "popMenu")->actions())
        popup.push_back(item->isSeparator() ? QString("-") : item->text());
    EXPECT_EQ(popup, (std::vector<QString>{"Select All", "-", "Copy"}));
}

TEST_F(DrugWindow, EmailOpensTheSupportAddressAndSaysWhenItCannot) {
    TfrmDrug window(nullptr, false, "amifostine");
    Child<QAction>(window, "mitHelpEmail")->trigger();
    ASSERT_EQ(shell_.links.size(), 1u);
    EXPECT_EQ(shell_.links[0], std::string("mailto:") + TvSupportEmail);
    EXPECT_TRUE(dialogs_.Boxes().empty());
    shell_.linkResult = false;
    Child<QAction>(window, "mitHelpEmail")->trigger();
    std::vector<Question> boxes = dialogs_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot send email.");
    EXPECT_EQ(boxes[0].caption, "Error");
}

} // namespace
} // namespace tvformstest
