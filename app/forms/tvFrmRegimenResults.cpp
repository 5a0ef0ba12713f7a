#include "tvFrmRegimenResults.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>
#include <string>

#include "kxblob.h"
#include "kxio.h"
#include "kxrecord.h"
#include "kxtokenizer.h"
#include "tvFrmDrugResults.h"
#include "tvappstate.h"
#include "tvasciitext.h"
#include "tverrorreport.h"
#include "tvforms.h"
#include "tvqt.h"
#include "txdfile.h"

namespace {

constexpr const char* kClass = "TfrmRegimen";

constexpr int kClientWidth = 630;
constexpr int kClientHeight = 497;

// The scroll box grows by one row height up to eight rows, then scrolls.
constexpr int kScrollBoxLeft = 56;
constexpr int kScrollBoxTop = 122;
constexpr int kScrollBoxWidth = 518;
constexpr int kScrollBoxEmptyHeight = 9;
constexpr int kScrollBoxMaxHeight = 265;
constexpr int kRowHeight = 32;
constexpr int kRowBoxTop = 8;
constexpr int kDrugBoxLeft = 8;
constexpr int kBoxWidth = 190;
constexpr int kBoxHeight = 21;
// The code column keeps this much room to the scroll box's right edge.
constexpr int kCodeBoxRightRoom = 28;
constexpr int kExtraCodeHeight = 15;
constexpr int kRowGap = 8;
constexpr int kLabelGap = 7;
// A combination needs this many drugs coded as chemotherapy.
constexpr int kCombinationCount = 2;

// Tool button images: a bar for the ends of the list, a triangle for the direction.
enum class NavImage { First = 0, Prev = 1, Next = 2, Last = 3 };

QIcon NavigationIcon(NavImage image) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 128));
    bool left = image == NavImage::First || image == NavImage::Prev;
    bool bar = image == NavImage::First || image == NavImage::Last;
    QPainterPath triangle;
    if (left) {
        triangle.moveTo(11.5, 3);
        triangle.lineTo(11.5, 13);
        triangle.lineTo(5.5, 8);
    } else {
        triangle.moveTo(4.5, 3);
        triangle.lineTo(4.5, 13);
        triangle.lineTo(10.5, 8);
    }
    triangle.closeSubpath();
    if (bar) {
        triangle.translate(left ? 1 : -1, 0);
        painter.drawRect(left ? QRectF(3, 3, 2, 10) : QRectF(11, 3, 2, 10));
    }
    painter.drawPath(triangle);
    painter.end();
    return QIcon(pixmap);
}

void SetTextColor(QWidget* widget, ColorRole role) {
    QPalette palette = widget->palette();
    QColor color = TvColor(AppColors[role]);
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

void SetBackgroundColor(QWidget* widget, QPalette::ColorRole paletteRole, ColorRole role) {
    QPalette palette = widget->palette();
    palette.setColor(paletteRole, TvColor(AppColors[role]));
    widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const char* sName, const QString& caption, int iLeft, int iTop,
                  bool bold = false) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(sName);
    label->setFont(TvFont("MS Sans Serif", 13, bold));
    label->setTextFormat(Qt::PlainText);
    label->move(iLeft, iTop);
    label->adjustSize();
    return label;
}

// The row box's whole text and its selection, both as the box counts characters.
QString WholeText(QWidget* box) {
    if (auto* line = qobject_cast<QLineEdit*>(box)) return line->text();
    if (auto* rich = qobject_cast<QTextEdit*>(box)) return rich->toPlainText();
    return QString();
}

QString SelectedText(QWidget* box) {
    if (auto* line = qobject_cast<QLineEdit*>(box)) return line->selectedText();
    // The fragment gives line breaks as line feeds, where the cursor's own text would give
    // paragraph separators.
    if (auto* rich = qobject_cast<QTextEdit*>(box))
        return rich->textCursor().selection().toPlainText();
    return QString();
}

} // namespace

TfrmRegimen::TfrmRegimen(QWidget* pOwner, KxString sSearchText)
    : QMainWindow(nullptr), m_owner(pOwner), m_search(sSearchText, TvReporter()) {
    setObjectName("frmRegimen");
    setWindowTitle("Regimen Search Results");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(TvFont("MS Sans Serif", 11));
    BuildControls();
    BuildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    DrugBoxes.clear();
    DrugWindow = nullptr;
    m_search.BuildIgnoreVector();
    m_search.SearchData();
    SetColors();
    if (!NoMatches()) show();
}

TfrmRegimen::~TfrmRegimen() { delete DrugWindow.data(); }

bool TfrmRegimen::NoMatches() const { return m_search.HasNoMatches(); }

TfrmDrug* TfrmRegimen::GetDrugWindow() const { return DrugWindow.data(); }

void TfrmRegimen::BuildControls() {
    m_client = new QWidget(this);
    m_client->setObjectName("clientArea");
    m_client->setFixedSize(kClientWidth, kClientHeight);
    m_client->setAutoFillBackground(true);
    setCentralWidget(m_client);

    lblYourSearch = MakeLabel(m_client, "lblYourSearch", "Your search for  \"", 80, 21);
    lblRegimenSearched = MakeLabel(m_client, "lblRegimenSearched", "Regimen", 183, 21, true);
    lblFound = MakeLabel(m_client, "lblFound", "\" found", 246, 21);
    lblNumResults = MakeLabel(m_client, "lblNumResults", "0", 290, 21, true);
    lblResults = MakeLabel(m_client, "lblResults", "results.", 302, 21);

    BuildToolBar();

    Panel1 = new QFrame(m_client);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(0, 77, 638, 4);
    Panel1->setAutoFillBackground(true);
    QPalette separator = Panel1->palette();
    separator.setColor(QPalette::Window, QColor(151, 219, 255));
    Panel1->setPalette(separator);

    lblRegimenConsists =
        MakeLabel(m_client, "lblRegimenConsists", "This regimen consists of:", 64, 98, true);
    lblCodeAs = MakeLabel(m_client, "lblCodeAs", "Code as:", 376, 98, true);

    sbxRegimen = new QScrollArea(m_client);
    sbxRegimen->setObjectName("sbxRegimen");
    sbxRegimen->setGeometry(kScrollBoxLeft, kScrollBoxTop, kScrollBoxWidth,
                            kScrollBoxEmptyHeight);
    sbxRegimen->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    sbxRegimen->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sbxRegimen->setFocusPolicy(Qt::NoFocus);
    sbxRegimen->setWidgetResizable(true);
    m_rows = new QWidget;
    m_rows->setObjectName("sbxRegimenRows");
    sbxRegimen->setWidget(m_rows);

    lblMoreInfo = MakeLabel(m_client, "lblMoreInfo", "Click on drug name for more info", 64, 138);
    QFont italic = lblMoreInfo->font();
    italic.setItalic(true);
    lblMoreInfo->setFont(italic);
    lblMoreInfo->adjustSize();
    lblNote2 = MakeLabel(m_client, "lblNote2",
                         "Code this regimen in each of the treatment fields shown above.", 64, 156);
    lblNote = MakeLabel(m_client, "lblNote",
                        "Note: if two or more drugs are coded as chemotherapy, use code 03, "
                        "combination chemotherapy",
                        64, 177);
    lblNote->setWordWrap(true);
    lblNote->setGeometry(64, 177, 407, 32);
    lblNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblNote->hide();

    btnNewSearch = new QPushButton("&Back", m_client);
    btnNewSearch->setObjectName("btnNewSearch");
    btnNewSearch->setFont(TvFont("Arial", 12));
    btnNewSearch->setGeometry(284, 464, 75, 25);
    btnNewSearch->installEventFilter(this);
    connect(btnNewSearch, &QPushButton::clicked, this, [this] { close(); });

    edtCopy = new QLineEdit(m_client);
    edtCopy->setObjectName("edtCopy");
    edtCopy->hide();
    rdtPrint = new QTextEdit(m_client);
    rdtPrint->setObjectName("rdtPrint");
    rdtPrint->hide();

    popMenu = new QMenu(this);
    popMenu->setObjectName("popMenu");
    QAction* selectAll = popMenu->addAction("Select All");
    selectAll->setObjectName("popMenuSelectAll");
    connect(selectAll, &QAction::triggered, this, [this] { popMenuSelectAllClick(); });
    QAction* copy = popMenu->addAction("Copy");
    copy->setObjectName("popMenuCopy");
    connect(copy, &QAction::triggered, this, [this] { popMenuCopyClick(); });
}

void TfrmRegimen::BuildToolBar() {
    ToolBar1 = new QFrame(m_client);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setGeometry(0, 45, 628, 29);
    ToolBar1->setAutoFillBackground(true);
    ToolBar1->setBackgroundRole(QPalette::Button);

    // From the left: a separator, first, previous, a separator, the label, the list, next,
    // last, a separator; separators are 8 wide, buttons 25.
    auto makeButton = [this](const char* sName, NavImage image, int iLeft,
                             void (TfrmRegimen::*handler)()) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(sName);
        button->setIcon(NavigationIcon(image));
        button->setIconSize(QSize(16, 16));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setGeometry(iLeft, 2, 25, 22);
        button->setEnabled(false);
        connect(button, &QToolButton::clicked, this, [this, handler] {
            try {
                (this->*handler)();
            } catch (KxException& e) {
                TvReporter().ShowError(e);
            }
        });
        return button;
    };
    tbnFirst = makeButton("tbnFirst", NavImage::First, 8, &TfrmRegimen::OnFirstClick);
    tbnPrev = makeButton("tbnPrev", NavImage::Prev, 33, &TfrmRegimen::OnPrevClick);

    lblCurrentRecord = new QLabel("Current Record", ToolBar1);
    lblCurrentRecord->setObjectName("lblCurrentRecord");
    lblCurrentRecord->setFont(TvFont("MS Sans Serif", 13, true));
    lblCurrentRecord->setGeometry(70, 2, 103, 22);
    lblCurrentRecord->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    ddlRegimenMatches = new QComboBox(ToolBar1);
    ddlRegimenMatches->setObjectName("ddlRegimenMatches");
    ddlRegimenMatches->setEditable(false);
    ddlRegimenMatches->setGeometry(173, 2, 395, 22);
    ddlRegimenMatches->installEventFilter(this);
    connect(ddlRegimenMatches, &QComboBox::currentIndexChanged, this, [this](int iIndex) {
        try {
            OnRegimenMatchesChange(iIndex);
        } catch (KxException& e) {
            TvReporter().ShowError(e);
        }
    });

    tbnNext = makeButton("tbnNext", NavImage::Next, 568, &TfrmRegimen::OnNextClick);
    tbnLast = makeButton("tbnLast", NavImage::Last, 593, &TfrmRegimen::OnLastClick);
}

void TfrmRegimen::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    QMenu* file = bar->addMenu("File");
    file->setObjectName("mitFile");
    QAction* print = file->addAction("Print Current Record");
    print->setObjectName("mitFilePrint");
    connect(print, &QAction::triggered, this, [this] { TvPrintRegimen(this); });
    file->addSeparator();
    QAction* closeItem = file->addAction("Close");
    closeItem->setObjectName("mitFileClose");
    connect(closeItem, &QAction::triggered, this, [this] { close(); });

    QMenu* help = bar->addMenu("Help");
    help->setObjectName("mitHelp");
    QAction* email = help->addAction("E-Mail Tarvio...");
    email->setObjectName("mitHelpEmail");
    connect(email, &QAction::triggered, this, [this] {
        try {
            OnEmailClick();
        } catch (KxException& e) {
            TvReporter().ShowError(e);
        }
    });
    help->addSeparator();
    QAction* contents = help->addAction("Contents and Index...");
    contents->setObjectName("mitHelpHelp");
    connect(contents, &QAction::triggered, this, [this] { TvShowHelp(this); });
    QAction* citation = help->addAction("Suggested Citation...");
    citation->setObjectName("mitHelpCitation");
    connect(citation, &QAction::triggered, this, [this] { TvShowCitation(this); });
    QAction* about = help->addAction("About...");
    about->setObjectName("mitHelpAbout");
    connect(about, &QAction::triggered, this, [this] { TvShowAbout(this); });
}

void TfrmRegimen::SetColors() {
    KX_TRY
        SetBackgroundColor(m_client, QPalette::Window, ColorRole::Background);
        SetTextColor(ddlRegimenMatches, ColorRole::Text);
        for (QLabel* label : {lblYourSearch, lblRegimenSearched, lblNumResults, lblFound,
                              lblResults, lblRegimenConsists, lblCodeAs, lblCurrentRecord,
                              lblMoreInfo, lblNote, lblNote2})
            SetTextColor(label, ColorRole::Label);
    KX_CATCH_STD("SetColors()", kClass)
}

void TfrmRegimen::ShowFailure(KxException& e, const char* sLabel) {
    e.AddCallpath(sLabel, kClass);
    TvReporter().ShowError(e);
}

void TfrmRegimen::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // A window restored from the task bar keeps the regimen it shows.
    if (!event->spontaneous()) FormShow();
}

void TfrmRegimen::FormShow() { Setup(); }

void TfrmRegimen::Setup() {
    try {
        const KxVector<MatchedRecord>& matches = GetMatches();
        CurrentIndex = 0;
        lblRegimenSearched->setText(TvToQt(m_search.GetSearchText()));
        lblNumResults->setText(QString::number(matches.size()));
        lblResults->setText(matches.size() < 2 ? "result." : "results.");
        for (QLabel* label : {lblRegimenSearched, lblNumResults, lblResults}) label->adjustSize();

        lblFound->move(lblRegimenSearched->x() + lblRegimenSearched->width() - 1, lblFound->y());
        lblNumResults->move(lblFound->x() + lblFound->width() + 3, lblNumResults->y());
        lblResults->move(lblNumResults->x() + lblNumResults->width() + 4, lblResults->y());

        if (!matches.empty()) {
            LoadRecord();
            SetupRegimenMatchBox();
            ddlRegimenMatches->setFocus();
            QSignalBlocker quiet(ddlRegimenMatches);
            ddlRegimenMatches->setCurrentIndex(0);
        }
    } catch (KxException& e) {
        ShowFailure(e, "Setup()");
    }
}

void TfrmRegimen::SetupRegimenMatchBox() {
    try {
        QSignalBlocker quiet(ddlRegimenMatches);
        ddlRegimenMatches->clear();
        const KxVector<MatchedRecord>& matches = GetMatches();
        for (size_t i = 0; i < matches.size(); ++i)
            ddlRegimenMatches->addItem(QString::number(i + 1) + ": \"" +
                                       TvToQt(matches[i].RegimenName) + "\"");
    } catch (KxException& e) {
        ShowFailure(e, "SetupRegimenMatchBox()");
    }
}

void TfrmRegimen::ReadRegimen(KxString& sDrugList, KxString& sCodeList) const {
    const MatchedRecord& match = GetMatches().At(CurrentIndex);
    TXDFile file;
    file.Open(m_search.GetDataFileName(), kxIORead);
    KxTransaction* transaction = file.BeginTransaction(true);
    file.GotoRecord(match.RecordNumber);
    KxFileRecord& record = *file.GetCurrentRecord();
    KxBlob blob;
    record.GetBLOB(1, blob);
    sDrugList = blob.GetText();
    record.GetBLOB(2, blob);
    sCodeList = blob.GetText();
    file.EndTransaction(transaction);
    file.Close();
}

void TfrmRegimen::LoadRecord() {
    try {
        KxString drugList;
        KxString codeList;
        ReadRegimen(drugList, codeList);

        // Everything is worked out before the rows change, so that a regimen that cannot be
        // shown leaves the one shown before in place.
        KxStringTokenizer drugs(drugList, ";");
        KxStringTokenizer codes(codeList, ";");
        int32_t lRows = drugs.GetRemainingTokenCount();
        if (lRows != codes.GetRemainingTokenCount())
            KxGenerateException("The regimen \"%s\" lists %d drugs but %d coding entries.",
                                kClass, GetMatches().At(CurrentIndex).RegimenName.GetCString(),
                                static_cast<int>(lRows),
                                static_cast<int>(codes.GetRemainingTokenCount()));
        if (lRows > INT16_MAX)
            KxGenerateException("The regimen \"%s\" lists %d drugs; a window shows at most %d.",
                                kClass, GetMatches().At(CurrentIndex).RegimenName.GetCString(),
                                static_cast<int>(lRows), static_cast<int>(INT16_MAX));
        KxVector<QString> drugTexts;
        KxVector<QString> codeTexts;
        KxVector<int> codeHeights;
        int chemotherapy = 0;
        for (int32_t k = 0; k < lRows; ++k) {
            drugTexts.push_back(TvToQt(drugs.GetNextToken()));
            const KxString& code = codes.GetNextToken();
            if (TvUppercased(code).Find("CHEMO") >= 0) ++chemotherapy;
            KxStringTokenizer parts(code, ",");
            KxString joined;
            int height = kBoxHeight;
            while (parts.GetRemainingTokenCount() > 0) {
                joined += parts.GetNextToken();
                if (parts.GetRemainingTokenCount() > 0) {
                    joined += ",\n";
                    height += kExtraCodeHeight;
                }
            }
            codeTexts.push_back(TvToQt(joined));
            codeHeights.push_back(height);
        }

        SetupRegimenScrollBox(static_cast<int16_t>(lRows));
        for (QTextEdit* box : CodeBoxes) SetBackgroundColor(box, QPalette::Base, ColorRole::Window);
        for (int32_t k = 0; k < lRows; ++k) {
            DrugBoxes.At(k)->setText(drugTexts.At(k));
            DrugBoxes.At(k)->setCursorPosition(0);
            QTextEdit* box = CodeBoxes.At(k);
            box->resize(box->width(), codeHeights.At(k));
            box->setPlainText(codeTexts.At(k));
        }
        RefreshRegimenScrollBox();
        m_shownIndex = CurrentIndex;

        {
            QSignalBlocker quiet(ddlRegimenMatches);
            ddlRegimenMatches->setCurrentIndex(CurrentIndex);
        }
        ddlRegimenMatches->setFocus();
        lblNote->setVisible(chemotherapy >= kCombinationCount);
        int32_t lLast = static_cast<int32_t>(GetMatches().size()) - 1;
        tbnFirst->setEnabled(CurrentIndex > 0);
        tbnPrev->setEnabled(CurrentIndex > 0);
        tbnNext->setEnabled(CurrentIndex < lLast);
        tbnLast->setEnabled(CurrentIndex < lLast);
    } catch (KxException& e) {
        // The rows, the list and the buttons go on showing the regimen shown before, and the
        // position goes back to it, so that the next step starts from what the user sees.
        if (m_shownIndex >= 0) {
            CurrentIndex = m_shownIndex;
            QSignalBlocker quiet(ddlRegimenMatches);
            ddlRegimenMatches->setCurrentIndex(CurrentIndex);
        } else {
            // Nothing shown yet: the buttons lead on from the regimen that failed.
            int32_t lLast = static_cast<int32_t>(GetMatches().size()) - 1;
            tbnFirst->setEnabled(CurrentIndex > 0);
            tbnPrev->setEnabled(CurrentIndex > 0);
            tbnNext->setEnabled(CurrentIndex < lLast);
            tbnLast->setEnabled(CurrentIndex < lLast);
        }
        ShowFailure(e, "LoadRecord()");
    }
}

void TfrmRegimen::RestackLabels() {
    lblMoreInfo->move(lblMoreInfo->x(), sbxRegimen->y() + sbxRegimen->height() + kLabelGap);
    lblNote2->move(lblNote2->x(), lblMoreInfo->y() + lblMoreInfo->height() + kLabelGap);
    lblNote->move(lblNote->x(), lblNote2->y() + lblNote2->height() + kLabelGap);
}

void TfrmRegimen::SetupRegimenScrollBox(int16_t wRows) {
    KX_TRY
        // A remembered box goes with its row.
        CopyBox = nullptr;
        CopyBoxText = "";
        for (QLineEdit* box : DrugBoxes) delete box;
        for (QTextEdit* box : CodeBoxes) delete box;
        DrugBoxes.clear();
        CodeBoxes.clear();
        int32_t lRows = wRows > 0 ? wRows : 0;
        DrugBoxes.reserve(static_cast<size_t>(lRows));
        CodeBoxes.reserve(static_cast<size_t>(lRows));

        sbxRegimen->resize(sbxRegimen->width(), kScrollBoxEmptyHeight);
        QFont windowFont = font();
        for (int32_t i = 0; i < lRows; ++i) {
            if (sbxRegimen->height() < kScrollBoxMaxHeight) {
                sbxRegimen->resize(sbxRegimen->width(), sbxRegimen->height() + kRowHeight);
                RestackLabels();
            }
            int top = i * kRowHeight + kRowBoxTop;

            auto* drug = new QLineEdit(m_rows);
            drug->setObjectName(QString("edtDrug%1").arg(i));
            drug->setFont(windowFont);
            drug->setReadOnly(true);
            drug->setFocusPolicy(Qt::ClickFocus);
            drug->setCursor(Qt::PointingHandCursor);
            drug->setContextMenuPolicy(Qt::PreventContextMenu);
            drug->setGeometry(kDrugBoxLeft, top, kBoxWidth, kBoxHeight);
            SetTextColor(drug, ColorRole::Text);
            SetBackgroundColor(drug, QPalette::Base, ColorRole::Window);
            drug->installEventFilter(this);
            DrugBoxes.push_back(drug);

            auto* code = new QTextEdit(m_rows);
            code->setObjectName(QString("rdtCode%1").arg(i));
            code->setFont(windowFont);
            code->setReadOnly(true);
            code->setFocusPolicy(Qt::ClickFocus);
            code->setLineWrapMode(QTextEdit::NoWrap);
            code->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            code->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            code->document()->setDocumentMargin(2);
            code->viewport()->setCursor(Qt::ArrowCursor);
            code->setContextMenuPolicy(Qt::PreventContextMenu);
            code->viewport()->setContextMenuPolicy(Qt::PreventContextMenu);
            code->setGeometry(sbxRegimen->width() - kBoxWidth - kCodeBoxRightRoom, top, kBoxWidth,
                              kBoxHeight);
            SetTextColor(code, ColorRole::Text);
            code->installEventFilter(this);
            code->viewport()->installEventFilter(this);
            CodeBoxes.push_back(code);

            drug->show();
            code->show();
        }
        if (!CodeBoxes.empty())
            lblCodeAs->move(CodeBoxes.At(0)->x() + sbxRegimen->x(), lblCodeAs->y());
        m_rows->setMinimumHeight(0);
    KX_CATCH_STD("SetupRegimenScrollBox()", kClass)
}

void TfrmRegimen::RefreshRegimenScrollBox() {
    KX_TRY
        for (int32_t i = 1; i < CodeBoxes.GetCount(); ++i) {
            QTextEdit* above = CodeBoxes.At(i - 1);
            int top = above->y() + above->height() + kRowGap;
            CodeBoxes.At(i)->move(CodeBoxes.At(i)->x(), top);
            DrugBoxes.At(i)->move(DrugBoxes.At(i)->x(), top);
        }
        if (CodeBoxes.empty()) return;
        QTextEdit* lastCode = CodeBoxes.back();
        int bottom = DrugBoxes.back()->y() + lastCode->height();
        if (sbxRegimen->height() < kScrollBoxMaxHeight) {
            // Tall code entries on few rows would push the notes below the window; the box
            // scrolls instead, as it does from the ninth row on.
            int height = std::min(bottom + kScrollBoxEmptyHeight, kScrollBoxMaxHeight);
            sbxRegimen->resize(sbxRegimen->width(), height);
            RestackLabels();
        }
        // The scroll range ends with the last row, as the rows stand.
        m_rows->setMinimumHeight(bottom);
    KX_CATCH_STD("RefreshRegimenScrollBox()", kClass)
}

void TfrmRegimen::OnDrugEditBoxClick(QLineEdit* pBox) {
    KX_TRY
        KxString text = m_search.RemoveIgnoreWords(TvFromQt(pBox->text()));
        text.DeblankLeading();
        text.DeblankTrailing();
        delete DrugWindow.data();
        DrugWindow = new TfrmDrug(m_owner, true, text);
        DrugWindow->move(pos());
        DrugWindow->show();
    KX_CATCH_STD("OnDrugEditBoxClick()", kClass)
}

void TfrmRegimen::OnFirstClick() {
    KX_TRY
        CurrentIndex = 0;
        LoadRecord();
    KX_CATCH("OnFirstClick()", kClass)
}

void TfrmRegimen::OnPrevClick() {
    KX_TRY
        if (CurrentIndex <= 0) return;
        --CurrentIndex;
        LoadRecord();
    KX_CATCH("OnPrevClick()", kClass)
}

void TfrmRegimen::OnNextClick() {
    KX_TRY
        if (CurrentIndex >= static_cast<int32_t>(GetMatches().size()) - 1) return;
        ++CurrentIndex;
        LoadRecord();
    KX_CATCH("OnNextClick()", kClass)
}

void TfrmRegimen::OnLastClick() {
    KX_TRY
        if (GetMatches().empty()) return;
        CurrentIndex = static_cast<int16_t>(GetMatches().size() - 1);
        LoadRecord();
    KX_CATCH("OnLastClick()", kClass)
}

void TfrmRegimen::OnRegimenMatchesChange(int iIndex) {
    KX_TRY
        if (iIndex < 0 || iIndex >= static_cast<int>(GetMatches().size())) return;
        CurrentIndex = static_cast<int16_t>(iIndex);
        LoadRecord();
    KX_CATCH("OnRegimenMatchesChange()", kClass)
}

void TfrmRegimen::OnEmailClick() {
    KX_TRY
        TvEmailSupport(this);
    KX_CATCH_STD("OnEmailClick()", kClass)
}

bool TfrmRegimen::FormKeyDown(int key) {
    KX_TRY
        int32_t lLast = static_cast<int32_t>(GetMatches().size()) - 1;
        switch (key) {
        case Qt::Key_Escape:
            close();
            return true;
        case Qt::Key_PageDown:
            if (CurrentIndex < lLast) {
                ++CurrentIndex;
                LoadRecord();
            }
            return true;
        case Qt::Key_PageUp:
            if (CurrentIndex > 0) {
                --CurrentIndex;
                LoadRecord();
            }
            return true;
        default: return false;
        }
    KX_CATCH("FormKeyDown()", kClass)
}

void TfrmRegimen::keyPressEvent(QKeyEvent* event) {
    bool used = false;
    try {
        used = FormKeyDown(event->key());
    } catch (KxException& e) {
        used = true;
        TvReporter().ShowError(e);
    }
    if (used) event->accept();
    else QMainWindow::keyPressEvent(event);
}

bool TfrmRegimen::eventFilter(QObject* watched, QEvent* event) {
    try {
        if (event->type() == QEvent::KeyPress) {
            if (watched == ddlRegimenMatches || watched == btnNewSearch ||
                qobject_cast<QLineEdit*>(watched) != nullptr ||
                qobject_cast<QTextEdit*>(watched) != nullptr)
                return FormKeyDown(static_cast<QKeyEvent*>(event)->key());
            return false;
        }
        if (event->type() != QEvent::MouseButtonRelease) return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        QWidget* box = nullptr;
        if (auto* drug = qobject_cast<QLineEdit*>(watched); drug != nullptr && drug->parent() == m_rows)
            box = drug;
        else if (auto* viewport = qobject_cast<QWidget*>(watched);
                 viewport != nullptr && viewport->parent() != nullptr &&
                 qobject_cast<QTextEdit*>(viewport->parent()) != nullptr &&
                 viewport->parent()->parent() == m_rows)
            box = static_cast<QWidget*>(viewport->parent());
        if (box == nullptr) return false;
        if (mouse->button() == Qt::RightButton) {
            EditBoxMouseUp(box, mouse);
            popMenu->popup(mouse->globalPosition().toPoint());
            return true;
        }
        if (mouse->button() == Qt::LeftButton && box == watched &&
            box->rect().contains(mouse->position().toPoint()))
            OnDrugEditBoxClick(static_cast<QLineEdit*>(box));
        return false;
    } catch (KxException& e) {
        TvReporter().ShowError(e);
        return true;
    }
}

void TfrmRegimen::EditBoxMouseUp(QWidget* pBox, QMouseEvent* event) {
    if (event->button() != Qt::RightButton) return;
    QString selection = SelectedText(pBox);
    if (!selection.isEmpty()) QApplication::clipboard()->setText(selection);
    edtCopy->setText(selection);
    CopyBox = pBox;
    CopyBoxText = TvFromQt(WholeText(pBox));
}

void TfrmRegimen::popMenuSelectAllClick() {
    if (CopyBox == nullptr) return;
    edtCopy->setText(TvToQt(CopyBoxText));
    int length = CopyBoxText.GetLength();
    if (auto* line = qobject_cast<QLineEdit*>(CopyBox)) {
        line->setSelection(0, length);
    } else if (auto* rich = qobject_cast<QTextEdit*>(CopyBox)) {
        QTextCursor cursor = rich->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(length, QTextCursor::KeepAnchor);
        rich->setTextCursor(cursor);
    }
}

void TfrmRegimen::popMenuCopyClick() {
    QString text = edtCopy->text();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}
