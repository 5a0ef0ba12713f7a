#include "tvFrmDrugResults.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

#include "kxblob.h"
#include "kxrecord.h"
#include "kxtokenizer.h"
#include "tvappstate.h"
#include "tvasciitext.h"
#include "tverrorreport.h"
#include "tvforms.h"
#include "tvqt.h"
#include "txdfile.h"

namespace {

constexpr const char* kClass = "TfrmDrug";
constexpr int kClientWidth = 630;
constexpr int kClientHeight = 497;
constexpr const char* kEmptyField = "EMPTY";

// Copy-target numbers of the boxes.
enum Box {
    kGenericName = 0,
    kBrandNames,
    kCategory,
    kSubcategory,
    kAbbreviations,
    kNSCNumber,
    kPrimarySites,
    kChemicalName,
    kRemarks,
};

// The box shows CR LF and a lone CR as one line break, as the toolkit does; texts searched in
// the box are brought to the same form, so that offsets stay those of the box.
KxString BoxForm(const KxString& sText) {
    std::string text;
    const char* p = sText.GetCString();
    for (; *p != '\0'; ++p) {
        if (*p == '\r') {
            text += '\n';
            if (p[1] == '\n') ++p;
        } else {
            text += *p;
        }
    }
    return KxString(text.c_str());
}

// The box's text as it counts characters: one per line break.
KxString BoxText(const QTextEdit& box) {
    QString raw = box.document()->toRawText();
    for (QChar& c : raw)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) c = QLatin1Char('\n');
    return TvFromQt(raw);
}

QTextCharFormat TemplateFormat(const QTextEdit& box) {
    QTextCharFormat format;
    format.setFont(box.font());
    format.setForeground(box.palette().color(QPalette::Text));
    return format;
}

// The tool bar's images: first, previous, next, last.
QIcon NavigationIcon(int iImage) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 128));
    bool left = iImage < 2;
    bool bar = iImage == 0 || iImage == 3;
    QPainterPath arrow;
    if (left) {
        arrow.moveTo(bar ? 13 : 11, 3);
        arrow.lineTo(bar ? 13 : 11, 13);
        arrow.lineTo(bar ? 6 : 4, 8);
    } else {
        arrow.moveTo(bar ? 3 : 5, 3);
        arrow.lineTo(bar ? 3 : 5, 13);
        arrow.lineTo(bar ? 10 : 12, 8);
    }
    arrow.closeSubpath();
    painter.drawPath(arrow);
    if (bar) painter.drawRect(left ? QRectF(3, 3, 2, 10) : QRectF(11, 3, 2, 10));
    return QIcon(pixmap);
}

void SetTextColors(QWidget& widget, const QColor& window, const QColor& text) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Base, window);
    palette.setColor(QPalette::Text, text);
    widget.setPalette(palette);
}

void SetLabelColor(QLabel& label, const QColor& color) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, color);
    label.setPalette(palette);
}

} // namespace

TfrmDrug::TfrmDrug(QWidget* pOwner, bool bCalledFromRegimen, KxString sSearchText)
    : QMainWindow(nullptr), m_calledFromRegimen(bCalledFromRegimen) {
    // The application owns the window; the owner only says who asked for it.
    (void)pOwner;
    setObjectName("frmDrug");
    setWindowTitle("Drug Search Results");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    BuildControls();
    BuildMenus();
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

    m_search = std::make_unique<TvDrugSearch>(sSearchText, TvReporter());
    try {
        SetColors();
    } catch (KxException& e) {
        e.AddCallpath("Constructor", kClass);
        Report(e);
    }
    m_search->SearchData();
    if (!NoMatches() || m_calledFromRegimen) show();
}

TfrmDrug::~TfrmDrug() = default;

bool TfrmDrug::NoMatches() const { return m_search->HasNoMatches(); }
const KxString& TfrmDrug::GetSearchText() const { return m_search->GetSearchText(); }
const KxVector<TfrmDrug::MatchedRecords>& TfrmDrug::GetMatches() const {
    return m_search->GetMatches();
}

QTextEdit* TfrmDrug::GetFieldBox(int iCopyTarget) const {
    return iCopyTarget >= 0 && iCopyTarget < kBoxCount ? m_boxes[iCopyTarget] : nullptr;
}

void TfrmDrug::Report(const KxException& exception) { TvReporter().ShowError(exception); }

// ---- controls --------------------------------------------------------------------------------

void TfrmDrug::BuildControls() {
    m_client = new QWidget(this);
    m_client->setObjectName("ClientArea");
    m_client->setFixedSize(kClientWidth, kClientHeight);
    m_client->setAutoFillBackground(true);
    setCentralWidget(m_client);

    QFont sentence = TvFont("Arial", 13);
    QFont sentenceBold = TvFont("Arial", 13, true);
    auto label = [&](const char* name, const char* caption, const QFont& font, int left, int top,
                     QWidget* parent) {
        QLabel* l = new QLabel(parent);
        l->setObjectName(name);
        l->setTextFormat(Qt::PlainText);
        l->setFont(font);
        l->setText(caption);
        l->move(left, top);
        l->adjustSize();
        return l;
    };
    lblYourSearch = label("lblYourSearch", "Your search for \"", sentence, 64, 21, m_client);
    lblDrugSearched = label("lblDrugSearched", "Drug", sentenceBold, 162, 21, m_client);
    lblFound = label("lblFound", "\" found ", sentence, 196, 21, m_client);
    lblNumResults = label("lblNumResults", "0", sentenceBold, 242, 21, m_client);
    lblResults = label("lblResults", "results.", sentence, 255, 21, m_client);

    // The tool bar: separator, first, previous, separator, label, list, next, last, separator.
    ToolBar1 = new QFrame(m_client);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setGeometry(0, 45, 628, 29);
    ToolBar1->setAutoFillBackground(true);
    QPalette barPalette = ToolBar1->palette();
    barPalette.setColor(QPalette::Window, barPalette.color(QPalette::Button));
    ToolBar1->setPalette(barPalette);
    auto toolButton = [&](const char* name, int image, int left) {
        QToolButton* b = new QToolButton(ToolBar1);
        b->setObjectName(name);
        b->setIcon(NavigationIcon(image));
        b->setIconSize(QSize(16, 16));
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setGeometry(left, 2, 25, 22);
        b->setEnabled(false);
        return b;
    };
    tbnFirstRecord = toolButton("tbnFirstRecord", 0, 8);
    tbnPreviousRecord = toolButton("tbnPreviousRecord", 1, 33);
    lblCurrentRecord =
        label("lblCurrentRecord", "Current Record", TvFont("Arial", 12, true), 72, 6, ToolBar1);
    ddlDrugMatches = new QComboBox(ToolBar1);
    ddlDrugMatches->setObjectName("ddlDrugMatches");
    ddlDrugMatches->setEditable(false);
    ddlDrugMatches->setFont(TvFont("Arial", 12));
    ddlDrugMatches->setGeometry(173, 2, 395, 22);
    ddlDrugMatches->installEventFilter(this);
    tbnNextRecord = toolButton("tbnNextRecord", 2, 568);
    tbnLastRecord = toolButton("tbnLastRecord", 3, 593);
    connect(tbnFirstRecord, &QToolButton::clicked, this, &TfrmDrug::tbnFirstRecordClick);
    connect(tbnPreviousRecord, &QToolButton::clicked, this, &TfrmDrug::tbnPreviousRecordClick);
    connect(tbnNextRecord, &QToolButton::clicked, this, &TfrmDrug::tbnNextRecordClick);
    connect(tbnLastRecord, &QToolButton::clicked, this, &TfrmDrug::tbnLastRecordClick);
    // Only a choice of the user's; the window's own selection of the current item is silent.
    connect(ddlDrugMatches, &QComboBox::activated, this, &TfrmDrug::ddlDrugMatchesChange);

    Panel1 = new QFrame(m_client);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(0, 77, 641, 4);
    Panel1->setAutoFillBackground(true);
    QPalette linePalette = Panel1->palette();
    linePalette.setColor(QPalette::Window, QColor(151, 219, 255));
    Panel1->setPalette(linePalette);

    popMenu = new QMenu(this);
    popMenu->setObjectName("popMenu");
    popMenuSelectAll = popMenu->addAction("Select All");
    popMenuSelectAll->setObjectName("popMenuSelectAll");
    popMenu->addSeparator();
    popMenuCopy = popMenu->addAction("Copy");
    popMenuCopy->setObjectName("popMenuCopy");
    popMenuCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    connect(popMenuSelectAll, &QAction::triggered, this, &TfrmDrug::popMenuSelectAllClick);
    connect(popMenuCopy, &QAction::triggered, this, &TfrmDrug::popMenuCopyClick);

    edtGenericName = MakeFieldBox("edtGenericName", "Generic Name", 68, 88, 152, 88, 169, 45);
    edtBrandNames = MakeFieldBox("edtBrandNames", "Brand Name(s)", 63, 138, 152, 138, 169, 45);
    edtCategory = MakeFieldBox("edtCategory", "Category", 353, 88, 408, 88, 121, 45);
    edtSubcategory = MakeFieldBox("edtSubcategory", "Subcategory", 332, 138, 408, 138, 121, 45);
    edtAbbreviations =
        MakeFieldBox("edtAbbreviations", "Abbreviation(s)", 62, 188, 152, 188, 169, 45);
    edtNSCNumber = MakeFieldBox("edtNSCNumber", "NSC Number", 332, 188, 408, 188, 121, 45);
    edtPrimarySites =
        MakeFieldBox("edtPrimarySites", "Primary Sites", 71, 238, 152, 238, 377, 45);
    edtChemicalName =
        MakeFieldBox("edtChemicalName", "Chemical Name", 59, 288, 152, 288, 377, 63);
    edtRemarks = MakeFieldBox("edtRemarks", "Remarks", 96, 356, 152, 356, 377, 97);

    btnNewSearch = new QPushButton("&Back", m_client);
    btnNewSearch->setObjectName("btnNewSearch");
    btnNewSearch->setFont(TvFont("MS Sans Serif", 11));
    btnNewSearch->setGeometry(284, 464, 75, 25);
    btnNewSearch->installEventFilter(this);
    connect(btnNewSearch, &QPushButton::clicked, this, &TfrmDrug::btnNewSearchClick);

    // Templates of the marked and the plain characters, and the print buffer.
    auto hidden = [&](const char* name, const QFont& font) {
        QTextEdit* box = new QTextEdit(m_client);
        box->setObjectName(name);
        box->setFont(font);
        box->setReadOnly(true);
        box->hide();
        return box;
    };
    edtHighlightColor = hidden("edtHighlightColor", TvFont("Arial", 12));
    edtRestoreFonts = hidden("edtRestoreFonts", TvFont("Arial", 12));
    rdtPrint = hidden("rdtPrint", TvFont("Courier New", 13));
}

QTextEdit* TfrmDrug::MakeFieldBox(const char* sName, const char* sLabel, int iLabelLeft,
                                  int iLabelTop, int iLeft, int iTop, int iWidth, int iHeight) {
    QTextEdit* box = new QTextEdit(m_client);
    box->setObjectName(sName);
    box->setFont(TvFont("Arial", 12, true));
    box->setReadOnly(true);
    box->setUndoRedoEnabled(false);
    box->setAcceptRichText(false);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setFocusPolicy(Qt::ClickFocus);
    box->viewport()->setCursor(Qt::ArrowCursor);
    box->setGeometry(iLeft, iTop, iWidth, iHeight);
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    box->installEventFilter(this);
    box->viewport()->installEventFilter(this);
    connect(box, &QTextEdit::customContextMenuRequested, this,
            [this, box](const QPoint& position) { FieldBoxContextMenu(box, position); });

    QLabel* label = new QLabel(m_client);
    label->setObjectName(QString("lbl") + QString(sName).mid(3));
    label->setTextFormat(Qt::PlainText);
    label->setFont(TvFont("Arial", 12, true));
    label->setText(sLabel);
    label->move(iLabelLeft, iLabelTop);
    label->adjustSize();

    int index = 0;
    while (index < kBoxCount && m_boxes[index] != nullptr) ++index;
    m_boxes[index] = box;
    m_fieldLabels[index] = label;
    return box;
}

void TfrmDrug::BuildMenus() {
    QMenu* file = menuBar()->addMenu("File");
    file->setObjectName("mitFile");
    QAction* print = file->addAction("Print Current Record");
    print->setObjectName("mitFilePrint");
    file->addSeparator();
    QAction* close = file->addAction("Close");
    close->setObjectName("mitFileClose");
    QMenu* help = menuBar()->addMenu("Help");
    help->setObjectName("mitHelp");
    QAction* email = help->addAction("E-Mail Tarvio...");
    email->setObjectName("mitHelpEmail");
    help->addSeparator();
    QAction* contents = help->addAction("Contents and Index...");
    contents->setObjectName("mitHelpHelp");
    QAction* citation = help->addAction("Suggested Citation...");
    citation->setObjectName("mitHelpCitation");
    QAction* about = help->addAction("About...");
    about->setObjectName("mitHelpAbout");
    connect(print, &QAction::triggered, this, &TfrmDrug::mitFilePrintClick);
    connect(close, &QAction::triggered, this, &TfrmDrug::btnNewSearchClick);
    connect(email, &QAction::triggered, this, &TfrmDrug::mitHelpEmailClick);
    connect(contents, &QAction::triggered, this, &TfrmDrug::mitHelpHelpClick);
    connect(citation, &QAction::triggered, this, &TfrmDrug::mitHelpCitationClick);
    connect(about, &QAction::triggered, this, &TfrmDrug::mitHelpAboutClick);
}

// ---- showing a record ------------------------------------------------------------------------

void TfrmDrug::SetColors() {
    KX_TRY
        QColor background = TvColor(AppColors[ColorRole::Background]);
        QColor text = TvColor(AppColors[ColorRole::Text]);
        QColor labelColor = TvColor(AppColors[ColorRole::Label]);
        QColor highlight = TvColor(AppColors[ColorRole::Highlight]);
        QColor window = TvColor(AppColors[ColorRole::Window]);

        QPalette clientPalette = m_client->palette();
        clientPalette.setColor(QPalette::Window, background);
        m_client->setPalette(clientPalette);

        // A list that cannot be typed into is drawn as a button.
        QPalette listPalette = ddlDrugMatches->palette();
        listPalette.setColor(QPalette::Base, window);
        listPalette.setColor(QPalette::Button, window);
        listPalette.setColor(QPalette::Text, text);
        listPalette.setColor(QPalette::ButtonText, text);
        ddlDrugMatches->setPalette(listPalette);
        for (QTextEdit* box : m_boxes) SetTextColors(*box, window, text);
        SetTextColors(*edtRestoreFonts, window, text);

        for (QLabel* l : m_fieldLabels) SetLabelColor(*l, labelColor);
        for (QLabel* l :
             {lblCurrentRecord, lblYourSearch, lblDrugSearched, lblFound, lblNumResults, lblResults})
            SetLabelColor(*l, labelColor);

        QPalette markPalette = edtHighlightColor->palette();
        markPalette.setColor(QPalette::Text, highlight);
        edtHighlightColor->setPalette(markPalette);
    KX_CATCH_STD("SetColors()", kClass)
}

void TfrmDrug::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (event->spontaneous()) return;
    try {
        SetUp();
    } catch (KxException& e) {
        e.AddCallpath("OnShow()", kClass);
        Report(e);
    }
}

void TfrmDrug::SetUp() {
    try {
        const KxVector<MatchedRecords>& matches = GetMatches();
        if (matches.empty()) return;
        m_currentIndex = 0;
        lblDrugSearched->setText(TvToQt(GetSearchText()));
        lblDrugSearched->adjustSize();
        lblNumResults->setText(QString::number(matches.GetCount()));
        lblNumResults->adjustSize();
        lblResults->setText(matches.GetCount() < 2 ? "result." : "results.");
        lblResults->adjustSize();
        // The sentence runs on from the search text, each label as wide as its text.
        lblFound->move(lblDrugSearched->x() + lblDrugSearched->width() - 1, lblFound->y());
        lblNumResults->move(lblFound->x() + lblFound->width() + 2, lblNumResults->y());
        lblResults->move(lblNumResults->x() + lblNumResults->width() + 4, lblResults->y());

        LoadRecord();
        SetUpDrugMatchesBox();
        ddlDrugMatches->setFocus();
        QSignalBlocker quiet(ddlDrugMatches);
        ddlDrugMatches->setCurrentIndex(0);
    } catch (KxException& e) {
        e.AddCallpath("SetUp()", kClass);
        Report(e);
    }
}

void TfrmDrug::SetUpDrugMatchesBox() {
    KX_TRY
        QSignalBlocker quiet(ddlDrugMatches);
        ddlDrugMatches->clear();
        const KxVector<MatchedRecords>& matches = GetMatches();
        QStringList items;
        items.reserve(matches.GetCount());
        for (int32_t i = 0; i < matches.GetCount(); ++i) {
            KxString item;
            item << static_cast<int32_t>(i + 1) << ": ";
            bool first = true;
            for (const char* word : matches.At(i).MatchedWords) {
                if (!first) item << ", ";
                item << "\"" << word << "\"";
                first = false;
            }
            items.append(TvToQt(item));
        }
        ddlDrugMatches->addItems(items);
    KX_CATCH_STD("SetUpDrugMatchesBox()", kClass)
}

void TfrmDrug::SetBoxText(QTextEdit* pBox, const KxString& sText) {
    QTextCursor cursor(pBox->document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(TvToQt(BoxForm(sText)), TemplateFormat(*edtRestoreFonts));
}

QTextEdit* TfrmDrug::BoxOfField(int16_t wField) const {
    switch (wField) {
    case 0: return edtCategory;
    case 1: return edtSubcategory;
    case 5: return edtGenericName;
    case 8: return edtAbbreviations;
    case 9: return edtBrandNames;
    case 10: return edtChemicalName;
    case 11: return edtNSCNumber;
    case 12: return edtPrimarySites;
    case 14:
    case 15: return edtRemarks;
    default: return nullptr;
    }
}

void TfrmDrug::LoadRecord() {
    try {
        const MatchedRecords& match = GetMatches().At(m_currentIndex);
        TXDFile file;
        file.Open(m_search->GetDataFileName(), kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        file.GotoRecord(match.RecordNumber);
        RestoreFieldsFont();

        KxString remarks;
        KxBlob blob;
        for (int16_t f = 0; f < kDrugFieldCount; ++f) {
            if (!SearchedFields[f]) continue;
            file.GetCurrentRecord()->GetBLOB(static_cast<uint16_t>(f), blob);
            KxString text(blob.GetText());
            if (text == kEmptyField) text.Clear();
            if (f == 11) {
                // One NSC number a line.
                KxString numbers;
                KxStringTokenizer parts(text, ";");
                while (parts.GetRemainingTokenCount() > 0) numbers << parts.GetNextToken() << "\n";
                SetBoxText(edtNSCNumber, numbers);
            } else if (f == 14 || f == 15) {
                if (!text.IsEmpty()) remarks << text << "\n";
            } else if (QTextEdit* box = BoxOfField(f)) {
                SetBoxText(box, text);
            }
            SetBoxText(edtRemarks, remarks);
        }
        MarkMatches();
        file.EndTransaction(transaction);
        file.Close();
    } catch (KxException& e) {
        e.AddCallpath("LoadRecord()", kClass);
        Report(e);
    }
    // Also after a failure, so that the list and the buttons agree with the current index and
    // keep the navigation in range.
    UpdateNavigation();
}

void TfrmDrug::UpdateNavigation() {
    {
        QSignalBlocker quiet(ddlDrugMatches);
        ddlDrugMatches->setCurrentIndex(m_currentIndex < ddlDrugMatches->count() ? m_currentIndex
                                                                                 : -1);
    }
    ddlDrugMatches->setFocus();
    int32_t count = GetMatches().GetCount();
    tbnFirstRecord->setEnabled(m_currentIndex > 0);
    tbnPreviousRecord->setEnabled(m_currentIndex > 0);
    tbnNextRecord->setEnabled(m_currentIndex < count - 1);
    tbnLastRecord->setEnabled(m_currentIndex < count - 1);
}

void TfrmDrug::RestoreFieldsFont() {
    KX_TRY
        QTextCharFormat plain = TemplateFormat(*edtRestoreFonts);
        for (QTextEdit* box : {edtGenericName, edtBrandNames, edtAbbreviations, edtChemicalName,
                               edtPrimarySites, edtRemarks, edtCategory, edtNSCNumber,
                               edtSubcategory}) {
            QTextCursor cursor(box->document());
            cursor.select(QTextCursor::Document);
            cursor.setCharFormat(plain);
            box->setCurrentCharFormat(plain);
        }
    KX_CATCH_STD("RestoreFieldsFont()", kClass)
}

void TfrmDrug::MarkMatches() {
    KX_TRY
        const MatchedRecords& match = GetMatches().At(m_currentIndex);
        for (int16_t field : match.FieldNumbers)
            if (QTextEdit* box = BoxOfField(field)) ChangeText(box);
    KX_CATCH_STD("MarkMatches()", kClass)
}

void TfrmDrug::ChangeText(QTextEdit* pBox) {
    KX_TRY
        const MatchedRecords& match = GetMatches().At(m_currentIndex);
        KxString text = TvUppercased(BoxText(*pBox));
        KxString phrase = TvUppercased(BoxForm(GetSearchText()));
        QTextCharFormat mark = TemplateFormat(*edtHighlightColor);
        for (const char* word : match.MatchedWords) {
            // The whole search text where the box holds it, otherwise the matched word.
            KxString pattern = phrase;
            int32_t position = text.Find(pattern);
            if (position < 0) {
                pattern = TvUppercased(BoxForm(word));
                position = text.Find(pattern);
            }
            int32_t length = pattern.GetLength();
            // An empty pattern is found where it is looked for and marks nothing.
            if (length == 0) continue;
            while (position >= 0) {
                QTextCursor cursor(pBox->document());
                cursor.setPosition(position);
                cursor.setPosition(position + length, QTextCursor::KeepAnchor);
                cursor.setCharFormat(mark);
                position = text.Find(pattern, position + length);
            }
        }
    KX_CATCH_STD("ChangeText", kClass)
}

// ---- navigation ------------------------------------------------------------------------------

void TfrmDrug::OnFirstClick() {
    KX_TRY
        m_currentIndex = 0;
        LoadRecord();
    KX_CATCH_STD("OnFirstClick()", kClass)
}

void TfrmDrug::OnPreviousClick() {
    KX_TRY
        m_currentIndex = static_cast<int16_t>(m_currentIndex - 1);
        LoadRecord();
    KX_CATCH_STD("OnPreviousClick()", kClass)
}

void TfrmDrug::OnNextClick() {
    KX_TRY
        m_currentIndex = static_cast<int16_t>(m_currentIndex + 1);
        LoadRecord();
    KX_CATCH_STD("OnNextClick()", kClass)
}

void TfrmDrug::OnLastClick() {
    KX_TRY
        m_currentIndex = static_cast<int16_t>(GetMatches().GetCount() - 1);
        LoadRecord();
    KX_CATCH_STD("OnLastClick()", kClass)
}

void TfrmDrug::OnDrugMatchesChange(int iIndex) {
    KX_TRY
        if (iIndex < 0 || iIndex >= GetMatches().GetCount()) return;
        m_currentIndex = static_cast<int16_t>(iIndex);
        LoadRecord();
    KX_CATCH_STD("OnDrugMatchesChange()", kClass)
}

bool TfrmDrug::OnKeyDown(int iKey) {
    KX_TRY
        int32_t count = GetMatches().GetCount();
        switch (iKey) {
        case Qt::Key_Escape: close(); return true;
        case Qt::Key_PageDown:
            if (m_currentIndex < count - 1) {
                m_currentIndex = static_cast<int16_t>(m_currentIndex + 1);
                LoadRecord();
            }
            return true;
        case Qt::Key_PageUp:
            if (m_currentIndex > 0) {
                m_currentIndex = static_cast<int16_t>(m_currentIndex - 1);
                LoadRecord();
            }
            return true;
        default: return false;
        }
    KX_CATCH_STD("OnKeyDown()", kClass)
}

void TfrmDrug::OnEmailClick() {
    KX_TRY
        TvEmailSupport(this);
    KX_CATCH_STD("OnEmailClick()", kClass)
}

// ---- event handlers --------------------------------------------------------------------------

void TfrmDrug::tbnFirstRecordClick() {
    try {
        OnFirstClick();
    } catch (KxException& e) {
        e.AddCallpath("tbnFirstClick()", kClass);
        Report(e);
    }
}

void TfrmDrug::tbnPreviousRecordClick() {
    try {
        OnPreviousClick();
    } catch (KxException& e) {
        e.AddCallpath("tbnPreviousClick()", kClass);
        Report(e);
    }
}

void TfrmDrug::tbnNextRecordClick() {
    try {
        OnNextClick();
    } catch (KxException& e) {
        e.AddCallpath("tbnNextClick()", kClass);
        Report(e);
    }
}

void TfrmDrug::tbnLastRecordClick() {
    try {
        OnLastClick();
    } catch (KxException& e) {
        e.AddCallpath("tbnLastClick()", kClass);
        Report(e);
    }
}

void TfrmDrug::ddlDrugMatchesChange(int iIndex) {
    KX_TRY
        OnDrugMatchesChange(iIndex);
    KX_CATCH("ddlDrugMatchesChange()", kClass)
}

bool TfrmDrug::KeyDownCall(int iKey) { return OnKeyDown(iKey); }

bool TfrmDrug::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        bool keyed = watched == ddlDrugMatches || watched == btnNewSearch;
        for (QTextEdit* box : m_boxes) keyed = keyed || watched == box;
        if (keyed && KeyDownCall(static_cast<QKeyEvent*>(event)->key())) return true;
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        for (int i = 0; i < kBoxCount; ++i)
            if (watched == m_boxes[i]->viewport()) m_copyTarget = static_cast<int16_t>(i);
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmDrug::FieldBoxContextMenu(QTextEdit* pBox, const QPoint& position) {
    // The menu may open on the press, before the release that names the box.
    for (int i = 0; i < kBoxCount; ++i)
        if (m_boxes[i] == pBox) m_copyTarget = static_cast<int16_t>(i);
    popMenu->popup(pBox->viewport()->mapToGlobal(position));
}

void TfrmDrug::popMenuCopyClick() { m_boxes[m_copyTarget]->copy(); }

void TfrmDrug::popMenuSelectAllClick() { m_boxes[m_copyTarget]->selectAll(); }

void TfrmDrug::mitFilePrintClick() { TvPrintDrug(this); }

void TfrmDrug::mitHelpEmailClick() { OnEmailClick(); }

void TfrmDrug::mitHelpHelpClick() { TvShowHelp(this); }

void TfrmDrug::mitHelpCitationClick() { TvShowCitation(this); }

void TfrmDrug::mitHelpAboutClick() { TvShowAbout(this); }

void TfrmDrug::btnNewSearchClick() { close(); }
