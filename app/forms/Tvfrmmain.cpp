#include "Tvfrmmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <exception>

#include "kxexception.h"
#include "kxio.h"
#include "kxplatform_path.h"
#include "tvFrmDrugResults.h"
#include "tvFrmRegimenResults.h"
#include "tvapplication.h"
#include "tvappstate.h"
#include "tvcontact.h"
#include "tvdialogs.h"
#include "tvforms.h"
#include "tvqt.h"
#include "tvregistry.h"

namespace {

constexpr const char* kClass = "TfrmMain";
constexpr int kListLeft = 176;
constexpr int kListOffset = 22;
constexpr int kListItemHeight = 16;

// The logo: a capsule across a ring, drawn at any size on a transparent ground.
QPixmap TarvioLogo(int iSize) {
    QPixmap pixmap(iSize, iSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = iSize;
    painter.setPen(QPen(QColor(0x1F, 0x4E, 0x8C), s * 0.06));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
    painter.translate(s / 2, s / 2);
    painter.rotate(-40);
    const qreal length = s * 0.62, thickness = s * 0.26;
    QPainterPath capsule;
    capsule.addRoundedRect(QRectF(-length / 2, -thickness / 2, length, thickness), thickness / 2,
                           thickness / 2);
    QPainterPath left, right;
    left.addRect(QRectF(-length / 2, -thickness / 2, length / 2, thickness));
    right.addRect(QRectF(0, -thickness / 2, length / 2, thickness));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xC8, 0x2A, 0x2A));
    painter.drawPath(capsule.intersected(left));
    painter.setBrush(QColor(0xF4, 0xF4, 0xF4));
    painter.drawPath(capsule.intersected(right));
    painter.setPen(QPen(QColor(0x40, 0x40, 0x40), s * 0.015));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(capsule);
    return pixmap;
}

QLabel* MakeLabel(QWidget* pParent, const char* sName, const char* sText, int left, int top,
                  int width, int height, int iFontHeight) {
    auto* label = new QLabel(QString::fromLatin1(sText), pParent);
    label->setObjectName(sName);
    label->setGeometry(left, top, width, height);
    label->setFont(TvFont("Arial", iFontHeight));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// The labels were laid out for a rendering a few per cent narrower than the metric-compatible
// faces give here; a label grows to its text as a self-sizing label would, about its centre
// when its text is centred, so that no text is cut off.
void FitToText(QLabel* pLabel) {
    int width = pLabel->fontMetrics().horizontalAdvance(pLabel->text()) + 2;
    if (width <= pLabel->width()) return;
    QRect box = pLabel->geometry();
    int left = (pLabel->alignment() & Qt::AlignHCenter) ? box.center().x() + 1 - width / 2
                                                        : box.left();
    pLabel->setGeometry(left, box.top(), width, box.height());
}

bool IsEnter(int iKey) { return iKey == Qt::Key_Return || iKey == Qt::Key_Enter; }

void SetColorsOf(QWidget* pWidget, QPalette::ColorRole ground, int32_t lGround,
                 QPalette::ColorRole text, int32_t lText) {
    QPalette palette = pWidget->palette();
    palette.setColor(ground, TvColor(lGround));
    palette.setColor(text, TvColor(lText));
    pWidget->setPalette(palette);
}

// The hourglass over the window and its button for as long as a search runs.
class WaitCursor {
public:
    WaitCursor(QWidget* pWindow, QWidget* pButton) : m_window(pWindow), m_button(pButton) {
        m_window->setCursor(Qt::WaitCursor);
        m_button->setCursor(Qt::WaitCursor);
    }
    ~WaitCursor() {
        m_window->unsetCursor();
        m_button->unsetCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    QWidget* m_window;
    QWidget* m_button;
};

} // namespace

TfrmMain::TfrmMain(QWidget* pParent) : QMainWindow(pParent), m_history(TvReporter()) {
    setObjectName("frmMain");
    setWindowTitle("Tarvio");
    setWindowIcon(QIcon(TarvioLogo(64)));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    BuildControls();
    BuildMenu();
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    try {
        Init();
        TvSetupHelp(false);
    } catch (const KxException& e) {
        TvReporter().ShowError(e);
    }
}

TfrmMain::~TfrmMain() {
    try {
        if (UseHistory) SaveHistory();
        Registry.reset();
        TvSetupHelp(true);
    } catch (...) {
    }
    if (frmMain == this) frmMain = nullptr;
}

void TfrmMain::BuildControls() {
    m_client = new QWidget(this);
    m_client->setObjectName("client");
    m_client->setFixedSize(kClientWidth, kClientHeight);
    m_client->setAutoFillBackground(true);
    setCentralWidget(m_client);

    lblTarvio = MakeLabel(m_client, "lblTarvio", "Tarvio", 176, 128, 160, 42, 37);
    imgTarvioLogo = new QLabel(m_client);
    imgTarvioLogo->setObjectName("imgTarvioLogo");
    imgTarvioLogo->setGeometry(408, 112, 108, 108);
    imgTarvioLogo->setPixmap(TarvioLogo(108));
    imgTarvioLogo->setAttribute(Qt::WA_TranslucentBackground);
    lblSubTitle = MakeLabel(m_client, "lblSubTitle", "The Cancer Registrar's Interactive", 128,
                            176, 248, 19, 17);
    lblSubTitle->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblSubTitle2 = MakeLabel(m_client, "lblSubTitle2", "Antineoplastic Drug Database", 144, 195,
                             216, 19, 17);
    lblDrugSearch = MakeLabel(m_client, "lblDrugSearch",
                              "Search for a drug (enter all or part of the name or abbreviation)",
                              80, 248, 461, 19, 17);

    edtDrugSearch = new QLineEdit(m_client);
    edtDrugSearch->setObjectName("edtDrugSearch");
    edtDrugSearch->setGeometry(176, 272, 161, 23);
    edtDrugSearch->setFont(TvFont("Arial", 12));
    btnDrugSubmit = new QPushButton("Submit", m_client);
    btnDrugSubmit->setObjectName("btnDrugSubmit");
    btnDrugSubmit->setGeometry(344, 272, 75, 23);
    btnDrugSubmit->setFont(TvFont("Arial", 12));

    lblRegimenSearch = MakeLabel(m_client, "lblRegimenSearch",
                                 "Search for a regimen (enter the abbreviation--not case sensitive)",
                                 80, 328, 471, 19, 17);
    edtRegimenSearch = new QLineEdit(m_client);
    edtRegimenSearch->setObjectName("edtRegimenSearch");
    edtRegimenSearch->setGeometry(176, 352, 161, 23);
    edtRegimenSearch->setFont(TvFont("Arial", 12));
    btnRegimenSubmit = new QPushButton("Submit", m_client);
    btnRegimenSubmit->setObjectName("btnRegimenSubmit");
    btnRegimenSubmit->setGeometry(344, 352, 75, 23);
    btnRegimenSubmit->setFont(TvFont("Arial", 12));

    // Made last so that it lies over the controls below the box it serves.
    lstHistory = new QListWidget(m_client);
    lstHistory->setObjectName("lstHistory");
    lstHistory->setGeometry(kListLeft, 294, 161, TvHistory::kInitialListHeight);
    lstHistory->setFont(TvFont("MS Sans Serif", 13));
    lstHistory->setFocusPolicy(Qt::ClickFocus);
    lstHistory->setUniformItemSizes(true);
    lstHistory->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstHistory->hide();

    for (QLabel* label : {lblTarvio, lblSubTitle, lblSubTitle2, lblDrugSearch, lblRegimenSearch})
        FitToText(label);

    setTabOrder(edtDrugSearch, btnDrugSubmit);
    setTabOrder(btnDrugSubmit, edtRegimenSearch);
    setTabOrder(edtRegimenSearch, btnRegimenSubmit);

    for (QObject* watched : {static_cast<QObject*>(m_client), static_cast<QObject*>(edtDrugSearch),
                             static_cast<QObject*>(edtRegimenSearch),
                             static_cast<QObject*>(lstHistory)})
        watched->installEventFilter(this);
    connect(btnDrugSubmit, &QPushButton::clicked, this,
            [this] { TvRunHandler([this] { btnDrugSubmitClick(); }); });
    connect(btnRegimenSubmit, &QPushButton::clicked, this,
            [this] { TvRunHandler([this] { btnRegimenSubmitClick(); }); });
    connect(lstHistory, &QListWidget::clicked, this,
            [this] { TvRunHandler([this] { lstHistoryClick(); }); });
    connect(lstHistory, &QListWidget::doubleClicked, this,
            [this] { TvRunHandler([this] { lstHistoryDblClick(); }); });
}

void TfrmMain::BuildMenu() {
    auto action = [this](QMenu* menu, const char* sName, const char* sCaption,
                         void (TfrmMain::*handler)()) {
        QAction* item = menu->addAction(QString::fromLatin1(sCaption));
        item->setObjectName(sName);
        connect(item, &QAction::triggered, this,
                [this, handler] { TvRunHandler([this, handler] { (this->*handler)(); }); });
        return item;
    };
    // The captions carry no accelerators.
    mitFile = menuBar()->addMenu("File");
    mitFile->setObjectName("mitFile");
    Preferences1 = mitFile->addMenu("Preferences");
    Preferences1->setObjectName("Preferences1");
    mitFilePreferencesChangeColors = action(Preferences1, "mitFilePreferencesChangeColors",
                                            "Change Colors...",
                                            &TfrmMain::mitFilePreferencesChangeColorsClick);
    mitFilePreferencesData = action(Preferences1, "mitFilePreferencesData",
                                    "Change Data Directory...",
                                    &TfrmMain::mitFilePreferencesDataClick);
    mitFilePreferencesUseHistory = action(Preferences1, "mitFilePreferencesUseHistory",
                                          "Search History...",
                                          &TfrmMain::mitFilePreferencesUseHistoryClick);
    N1 = mitFile->addSeparator();
    N1->setObjectName("N1");
    mitFileExit = action(mitFile, "mitFileExit", "Exit", &TfrmMain::mitFileExitClick);

    mitHelp = menuBar()->addMenu("Help");
    mitHelp->setObjectName("mitHelp");
    mitHelpEmail = action(mitHelp, "mitHelpEmail", "E-Mail Tarvio...", &TfrmMain::mitHelpEmailClick);
    N2 = mitHelp->addSeparator();
    N2->setObjectName("N2");
    mitHelpHelp = action(mitHelp, "mitHelpHelp", "Contents and Index", &TfrmMain::mitHelpHelpClick);
    mitHelpCitation = action(mitHelp, "mitHelpCitation", "Suggested Citation...",
                             &TfrmMain::mitHelpCitationClick);
    mitHelpAbout = action(mitHelp, "mitHelpAbout", "About...", &TfrmMain::mitHelpAboutClick);
}

TfrmDrug* TfrmMain::GetDrugResults() const { return DrugResults.data(); }
TfrmRegimen* TfrmMain::GetRegimenResults() const { return RegimenResults.data(); }

// ---- start-up ------------------------------------------------------------------------------

void TfrmMain::Init() {
    try {
        DrugResults = nullptr;
        RegimenResults = nullptr;
        Registry = std::make_unique<tvRegistry>();
        SetCaption();
        LoadColorsFromRegistry();
        LoadOptionsFromRegistry();
        if (UseHistory) LoadHistory();

        KxString list;
        if (CheckMissingFiles(DataDirectory, list)) {
            KxString question("Tarvio cannot locate the following files:\n");
            question << list << "\nWould you like to browse to their location?";
            int answer = TvDialogs().MessageBox(this, TvToQt(question), "Missing Files",
                                                TvMbYesNo, TvMbIconNone);
            if (answer == TvIdYes) {
                // Whatever the dialog did, the files are not looked for again.
                TvShowDataDirectory(nullptr, 0);
            } else {
                KxGenerateException("Tarvio cannot run without the following files:\n%s",
                                    "Missing Files", list.GetCString());
            }
        }
        if (DataFilesOutOfDate(DataDirectory))
            KxGenerateException(
                "Your data files are out of date.\n Please download the newest Tarvio version "
                "at:\n %s",
                "Files Out of Date!", TvDownloadPage);
    } catch (KxException& e) {
        e.AddCallpath("Init()", kClass);
        TvReporter().ShowError(e);
    } catch (const std::exception& e) {
        TvReporter().ShowError(KxException(e, "Init()", kClass));
    }
}

void TfrmMain::SetCaption() {
    KX_TRY
        KxString caption("Tarvio Version ");
        caption << ProgramVersion << ", Drug Database Update " << DatabaseUpdateDate;
        setWindowTitle(TvToQt(caption));
    KX_CATCH_STD("SetCaption()", kClass)
}

void TfrmMain::LoadColorsFromRegistry() {
    try {
        for (ColorRole role : {ColorRole::Background, ColorRole::Highlight, ColorRole::Label,
                               ColorRole::Text, ColorRole::Window})
            AppColors[role] = tvRegistry::GetColor(role);
        SetColors();
    } catch (KxException& e) {
        e.AddCallpath("LoadColorsFromRegistry()", kClass);
        TvReporter().ShowError(e);
    }
}

void TfrmMain::SetColors() {
    KX_TRY
        QPalette ground = m_client->palette();
        ground.setColor(QPalette::Window, TvColor(AppColors[ColorRole::Background]));
        m_client->setPalette(ground);
        for (QWidget* box : {static_cast<QWidget*>(edtDrugSearch),
                             static_cast<QWidget*>(edtRegimenSearch),
                             static_cast<QWidget*>(lstHistory)})
            SetColorsOf(box, QPalette::Base, AppColors[ColorRole::Window], QPalette::Text,
                        AppColors[ColorRole::Text]);
        for (QLabel* label : {lblTarvio, lblSubTitle, lblSubTitle2, lblDrugSearch, lblRegimenSearch})
            SetColorsOf(label, QPalette::Window, AppColors[ColorRole::Background],
                        QPalette::WindowText, AppColors[ColorRole::Label]);
    KX_CATCH_STD("SetColors()", kClass)
}

void TfrmMain::LoadOptionsFromRegistry() {
    KX_TRY
        KxString programDirectory(kxplatform::ExecutableDirectory().value_or("./").c_str());
        KxString path;
        if (tvRegistry::GetUserDataPath(path, tvRegistry::kDataDirectory)) {
            DataDirectory = path;
        } else {
            DataDirectory = programDirectory;
            DataDirectory += DefaultDataSubdirectory;
        }
        path.Clear();
        if (tvRegistry::GetUserDataPath(path, tvRegistry::kHistoryDirectory))
            HistoryDirectory = path;
        else
            HistoryDirectory = programDirectory;
        // A missing or read-only history file turns the feature off for later runs too.
        UseHistory = tvRegistry::GetOption(tvRegistry::kHistoryOption) != 0 &&
                     FileIsWritable(TvHistory::GetHistoryFileName());
        tvRegistry::SetOption(UseHistory ? 1 : 0, tvRegistry::kHistoryOption);
    KX_CATCH_STD("LoadOptionsFromRegistry()", kClass)
}

// ---- history -------------------------------------------------------------------------------

void TfrmMain::LoadHistory() { m_history.LoadHistory(); }

void TfrmMain::SaveHistory() { m_history.SaveHistory(); }

void TfrmMain::AddToHistory(KxString sText) { m_history.AddToHistory(sText); }

void TfrmMain::GuessFromHistory(KxString sTyped) {
    m_history.GuessFromHistory(sTyped);
    KX_TRY
        ShowGuesses();
    KX_CATCH_STD("GuessFromHistory()", kClass)
}

KxString TfrmMain::SelectFromHistory() { return m_history.SelectFromHistory(); }

void TfrmMain::ShowGuesses() {
    lstHistory->clear();
    for (const KxString& guess : m_history.GetGuessItems()) {
        auto* item = new QListWidgetItem(TvToQt(guess), lstHistory);
        item->setSizeHint(QSize(item->sizeHint().width(), kListItemHeight));
    }
    if (m_history.GetListVisible()) {
        lstHistory->resize(lstHistory->width(), m_history.GetListHeight());
        lstHistory->raise();
    }
    lstHistory->setVisible(m_history.GetListVisible());
}

void TfrmMain::ShowList(bool visible) {
    m_history.SetListVisible(visible);
    if (visible) lstHistory->raise();
    lstHistory->setVisible(visible);
}

void TfrmMain::History(int16_t wTarget) {
    KX_TRY
        m_history.SetHistoryIndex(0);
        if (m_history.GetGuessItems().empty()) return;
        lstHistory->setFocus();
        lstHistory->setCurrentRow(0);
        SetBoxText(wTarget == kDrugTarget ? edtDrugSearch : edtRegimenSearch, SelectFromHistory());
    KX_CATCH_STD("History", kClass)
}

// ---- searches ------------------------------------------------------------------------------

void TfrmMain::OnDrugSearch() {
    try {
        KxString text = TvFromQt(edtDrugSearch->text());
        text.DeblankLeading();
        text.DeblankTrailing();
        ShowList(false);
        if (text.GetLength() < 3) {
            TvDialogs().MessageBox(this, "Search String must be 3 or more characters!", QString(),
                                   TvMbOk, TvMbIconNone);
            return;
        }
        delete DrugResults.data();
        DrugResults = nullptr;
        {
            WaitCursor wait(this, btnDrugSubmit);
            DrugResults = new TfrmDrug(nullptr, false, text);
        }
        DrugResults->move(pos());
        if (DrugResults->NoMatches()) {
            delete DrugResults.data();
            DrugResults = nullptr;
            KxString message("Your search for \"");
            message << text << "\" yielded no matches.";
            TvDialogs().MessageBox(this, TvToQt(message), "No Matches", TvMbOk, TvMbIconNone);
        } else if (UseHistory) {
            AddToHistory(text);
            SaveHistory();
            LoadHistory();
            // The list keeps the lines it shows.
            m_history.GetGuessItems() = m_history.GetHistoryItems();
        }
        edtDrugSearch->clear();
    } catch (KxException& e) {
        e.AddCallpath("OnDrugSearch()", kClass);
        TvDialogs().MessageBox(this, TvToQt(e.GetErrorMessage()), TvToQt(e.GetCallpath()), TvMbOk,
                               TvMbIconNone);
        TvReporter().ShowError(e);
    } catch (const std::exception& e) {
        KxException converted(e, "OnDrugSearch()", kClass);
        TvDialogs().MessageBox(this, TvToQt(converted.GetErrorMessage()),
                               TvToQt(converted.GetCallpath()), TvMbOk, TvMbIconNone);
        TvReporter().ShowError(converted);
    }
}

void TfrmMain::OnRegimenSearch() {
    try {
        KxString text = TvFromQt(edtRegimenSearch->text());
        text.DeblankLeading();
        text.DeblankTrailing();
        ShowList(false);
        if (text.GetLength() < 2) {
            TvDialogs().MessageBox(this, "Search String must be 2 or more characters!", QString(),
                                   TvMbOk, TvMbIconNone);
            return;
        }
        delete RegimenResults.data();
        RegimenResults = nullptr;
        {
            WaitCursor wait(this, btnRegimenSubmit);
            RegimenResults = new TfrmRegimen(nullptr, text);
        }
        RegimenResults->move(pos());
        if (RegimenResults->NoMatches()) {
            delete RegimenResults.data();
            RegimenResults = nullptr;
            KxString message("Your search for \"");
            message << text << "\" yielded no matches.";
            TvDialogs().MessageBox(this, TvToQt(message), "No Matches", TvMbOk, TvMbIconNone);
        } else if (UseHistory) {
            AddToHistory(text);
            SaveHistory();
            LoadHistory();
        }
        edtRegimenSearch->clear();
    } catch (KxException& e) {
        e.AddCallpath("OnRegimenSearch()", kClass);
        TvReporter().ShowError(e);
    } catch (const std::exception& e) {
        TvReporter().ShowError(KxException(e, "OnRegimenSearch()", kClass));
    }
}

void TfrmMain::OnEmailClick() {
    KX_TRY
        TvEmailSupport(this);
    KX_CATCH_STD("OnEmailClick()", kClass)
}

// ---- keys and mouse ------------------------------------------------------------------------

QLineEdit* TfrmMain::TargetBox() const {
    return HistoryTarget == kDrugTarget ? edtDrugSearch : edtRegimenSearch;
}

void TfrmMain::RunTargetSearch() {
    if (HistoryTarget == kDrugTarget) OnDrugSearch();
    else OnRegimenSearch();
}

void TfrmMain::SetBoxText(QLineEdit* pBox, const KxString& sText) { pBox->setText(TvToQt(sText)); }

bool TfrmMain::eventFilter(QObject* pWatched, QEvent* pEvent) {
    bool taken = false;
    TvRunHandler([&] {
        QEvent::Type type = pEvent->type();
        auto* box = qobject_cast<QLineEdit*>(pWatched);
        if (box != edtDrugSearch && box != edtRegimenSearch) box = nullptr;
        if (type == QEvent::MouseButtonPress) {
            if (pWatched == m_client || box != nullptr) FormClick();
            return;
        }
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return;
        auto* key = static_cast<QKeyEvent*>(pEvent);
        if (box != nullptr) {
            if (type == QEvent::KeyPress) {
                SearchBoxKeyDown(box, box == edtDrugSearch ? kDrugTarget : kRegimenTarget,
                                 key->key());
                // The box itself would do nothing with Enter but pass it on to the window.
                taken = IsEnter(key->key());
            } else if (!key->isAutoRepeat()) {
                SearchBoxKeyUp(box, key->key());
            }
        } else if (pWatched == lstHistory && type == QEvent::KeyPress) {
            taken = lstHistoryKeyDown(key->key());
        }
    });
    return taken || QMainWindow::eventFilter(pWatched, pEvent);
}

void TfrmMain::FormClick() { ShowList(false); }

void TfrmMain::SearchBoxKeyDown(QLineEdit* pBox, int16_t wTarget, int iKey) {
    HistoryTarget = wTarget;
    if (IsEnter(iKey)) RunTargetSearch();
    lstHistory->move(kListLeft, pBox->y() + kListOffset);
    if (iKey == Qt::Key_Down && UseHistory) {
        SavedSearchText = TvFromQt(pBox->text());
        ShowList(true);
        History(wTarget);
    }
}

void TfrmMain::SearchBoxKeyUp(QLineEdit* pBox, int iKey) {
    if (iKey == Qt::Key_Up) {
        ShowList(false);
        return;
    }
    if (iKey == Qt::Key_Tab || iKey == Qt::Key_Backtab) return;
    if (UseHistory) GuessFromHistory(TvFromQt(pBox->text()));
}

bool TfrmMain::lstHistoryKeyDown(int iKey) {
    if (iKey == Qt::Key_Tab || iKey == Qt::Key_Backtab) {
        ShowList(false);
        return false;
    }
    if (IsEnter(iKey)) {
        RunTargetSearch();
        return true;
    }
    int16_t index = m_history.GetHistoryIndex();
    if (iKey == Qt::Key_Up) {
        if (index > 0) {
            m_history.SetHistoryIndex(static_cast<int16_t>(index - 1));
            SetBoxText(TargetBox(), SelectFromHistory());
        } else {
            ShowList(false);
            SetBoxText(TargetBox(), SavedSearchText);
            TargetBox()->setFocus();
        }
    } else if (iKey == Qt::Key_Down) {
        if (index < m_history.GetGuessItems().GetCount() - 1) {
            m_history.SetHistoryIndex(static_cast<int16_t>(index + 1));
            SetBoxText(TargetBox(), SelectFromHistory());
        }
    }
    return false;
}

void TfrmMain::lstHistoryClick() {
    if (!lstHistory->isVisible()) return;
    if (QListWidgetItem* item = lstHistory->currentItem()) TargetBox()->setText(item->text());
}

void TfrmMain::lstHistoryDblClick() { RunTargetSearch(); }

void TfrmMain::btnDrugSubmitClick() { OnDrugSearch(); }

void TfrmMain::btnRegimenSubmitClick() { OnRegimenSearch(); }

// ---- menu ----------------------------------------------------------------------------------

void TfrmMain::mitFilePreferencesChangeColorsClick() {
    TvShowColors(this);
    SetColors();
}

void TfrmMain::mitFilePreferencesDataClick() { TvShowDataDirectory(nullptr, 0); }

void TfrmMain::mitFilePreferencesUseHistoryClick() {
    if (TvShowDataDirectory(nullptr, 1) != QDialog::Accepted) return;
    tvRegistry::SetUserDataPath(HistoryDirectory, tvRegistry::kHistoryDirectory);
    UseHistory = tvRegistry::GetOption(tvRegistry::kHistoryOption) != 0;
    if (!KxIOInterface::Exists(TvHistory::GetHistoryFileName())) m_history.GetHistoryItems().clear();
    LoadHistory();
}

void TfrmMain::mitFileExitClick() { close(); }

void TfrmMain::mitHelpEmailClick() { OnEmailClick(); }

void TfrmMain::mitHelpHelpClick() { TvShowHelp(this); }

void TfrmMain::mitHelpCitationClick() { TvShowCitation(this); }

void TfrmMain::mitHelpAboutClick() { TvShowAbout(this); }

void TfrmMain::closeEvent(QCloseEvent* pEvent) {
    // Closing the main window ends the program, whatever else is open.
    pEvent->accept();
    QCoreApplication::quit();
}
