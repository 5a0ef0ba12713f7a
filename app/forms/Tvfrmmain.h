// The main window: the drug and regimen search boxes, the suggestion list of earlier searches
// and the menu. Creating it loads the settings and the history and checks the data sets.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <memory>

#include "kxstring.h"
#include "kxvector.h"
#include "tvhistory.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class TfrmDrug;
class TfrmRegimen;
class tvRegistry;

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 630;
    static constexpr int kClientHeight = 497;
    // HistoryTarget: the box the suggestion list serves.
    static constexpr int16_t kDrugTarget = 0;
    static constexpr int16_t kRegimenTarget = 1;

    explicit TfrmMain(QWidget* pParent = nullptr);
    ~TfrmMain() override;

    void Init();
    void SetCaption();
    void LoadColorsFromRegistry();
    void SetColors();
    void LoadOptionsFromRegistry();
    void LoadHistory();
    void SaveHistory();
    void AddToHistory(KxString sText);
    void GuessFromHistory(KxString sTyped);
    KxString SelectFromHistory();
    // Enters the suggestion list from a search box.
    void History(int16_t wTarget);
    void OnDrugSearch();
    void OnRegimenSearch();
    void OnEmailClick();

    TfrmDrug* GetDrugResults() const;
    TfrmRegimen* GetRegimenResults() const;
    bool GetUseHistory() const { return UseHistory; }
    int16_t GetHistoryTarget() const { return HistoryTarget; }
    const KxString& GetSavedSearchText() const { return SavedSearchText; }
    TvHistory& GetHistory() { return m_history; }
    QWidget* GetClientArea() const { return m_client; }

    // The controls, by their names.
    QLabel* lblTarvio;
    QLabel* imgTarvioLogo;
    QLabel* lblSubTitle;
    QLabel* lblSubTitle2;
    QLabel* lblDrugSearch;
    QLineEdit* edtDrugSearch;
    QPushButton* btnDrugSubmit;
    QListWidget* lstHistory;
    QLabel* lblRegimenSearch;
    QLineEdit* edtRegimenSearch;
    QPushButton* btnRegimenSubmit;

    QMenu* mitFile;
    QMenu* Preferences1;
    QAction* mitFilePreferencesChangeColors;
    QAction* mitFilePreferencesData;
    QAction* mitFilePreferencesUseHistory;
    QAction* N1;
    QAction* mitFileExit;
    QMenu* mitHelp;
    QAction* mitHelpEmail;
    QAction* N2;
    QAction* mitHelpHelp;
    QAction* mitHelpCitation;
    QAction* mitHelpAbout;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void BuildControls();
    void BuildMenu();
    QLineEdit* TargetBox() const;
    void RunTargetSearch();
    void ShowList(bool visible);
    // The list's lines, visibility and height from the history's suggestions.
    void ShowGuesses();
    void SetBoxText(QLineEdit* pBox, const KxString& sText);

    // Event handlers.
    void FormClick();
    void SearchBoxKeyDown(QLineEdit* pBox, int16_t wTarget, int iKey);
    void SearchBoxKeyUp(QLineEdit* pBox, int iKey);
    void lstHistoryClick();
    void lstHistoryDblClick();
    // True when the list's own handling of the key is to be skipped.
    bool lstHistoryKeyDown(int iKey);
    void btnDrugSubmitClick();
    void btnRegimenSubmitClick();
    void mitFilePreferencesChangeColorsClick();
    void mitFilePreferencesDataClick();
    void mitFilePreferencesUseHistoryClick();
    void mitFileExitClick();
    void mitHelpEmailClick();
    void mitHelpHelpClick();
    void mitHelpCitationClick();
    void mitHelpAboutClick();

    QWidget* m_client = nullptr;
    // The application owns them; a window that went by itself leaves a null pointer here.
    QPointer<TfrmDrug> DrugResults;
    QPointer<TfrmRegimen> RegimenResults;
    std::unique_ptr<tvRegistry> Registry;
    bool UseHistory = false;
    int16_t HistoryTarget = kDrugTarget;
    KxString SavedSearchText;
    // HistoryItems, GuessItems and HistoryIndex.
    TvHistory m_history;
};

extern TfrmMain* frmMain;
