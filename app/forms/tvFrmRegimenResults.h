// The regimen results window: shows the regimens a search found one at a time, each drug of the
// regimen on a row with how it is to be coded, and opens a drug search when a drug is clicked.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <cstdint>

#include "kxstring.h"
#include "kxvector.h"
#include "tvregimensearch.h"

class QComboBox;
class QEvent;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMouseEvent;
class QPushButton;
class QScrollArea;
class QShowEvent;
class QKeyEvent;
class QTextEdit;
class QToolButton;
class TfrmDrug;

class TfrmRegimen : public QMainWindow {
    Q_OBJECT

public:
    using MatchedRecord = TvRegimenMatch;

    // Runs the search and shows the window when it found anything. The owner is handed on to
    // the drug windows opened from here; the window itself is top-level.
    TfrmRegimen(QWidget* pOwner, KxString sSearchText);
    ~TfrmRegimen() override;

    bool NoMatches() const;

    const KxVector<MatchedRecord>& GetMatches() const { return m_search.GetMatches(); }
    int16_t GetCurrentIndex() const { return CurrentIndex; }
    // The drug window last opened from this window, or null.
    TfrmDrug* GetDrugWindow() const;
    const KxVector<QLineEdit*>& GetDrugBoxes() const { return DrugBoxes; }
    const KxVector<QTextEdit*>& GetCodeBoxes() const { return CodeBoxes; }
    QScrollArea* GetScrollBox() const { return sbxRegimen; }

    // The steps of showing a regimen; each reports or passes on its failures itself.
    void Setup();
    void SetupRegimenMatchBox();
    void LoadRecord();
    void SetupRegimenScrollBox(int16_t wRows);
    void RefreshRegimenScrollBox();
    void SetColors();
    void OnDrugEditBoxClick(QLineEdit* pBox);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void BuildToolBar();
    void FormShow();
    // Esc, Page Down and Page Up of every control; true when the key was used.
    bool FormKeyDown(int key);
    void EditBoxMouseUp(QWidget* pBox, QMouseEvent* event);
    void RestackLabels();
    // Reads the drug and code lists of the regimen at CurrentIndex from the data set.
    void ReadRegimen(KxString& sDrugList, KxString& sCodeList) const;
    void ShowFailure(KxException& e, const char* sLabel);

    void OnFirstClick();
    void OnPrevClick();
    void OnNextClick();
    void OnLastClick();
    void OnRegimenMatchesChange(int iIndex);
    void OnEmailClick();
    void popMenuCopyClick();
    void popMenuSelectAllClick();

    // The window the drug windows are opened for (not a Qt parent).
    QWidget* m_owner;
    TvRegimenSearch m_search;

    int16_t CurrentIndex = 0;
    // The position in the match list of the regimen whose rows are shown; -1 before the first.
    int16_t m_shownIndex = -1;
    KxVector<QLineEdit*> DrugBoxes;
    KxVector<QTextEdit*> CodeBoxes;
    // Owned; guarded, since whoever ends the program may delete every top-level window.
    QPointer<TfrmDrug> DrugWindow;
    QWidget* CopyBox = nullptr;
    KxString CopyBoxText;

    QWidget* m_client = nullptr;
    QLabel* lblYourSearch = nullptr;
    QLabel* lblRegimenSearched = nullptr;
    QLabel* lblFound = nullptr;
    QLabel* lblNumResults = nullptr;
    QLabel* lblResults = nullptr;
    QFrame* ToolBar1 = nullptr;
    QToolButton* tbnFirst = nullptr;
    QToolButton* tbnPrev = nullptr;
    QToolButton* tbnNext = nullptr;
    QToolButton* tbnLast = nullptr;
    QLabel* lblCurrentRecord = nullptr;
    QComboBox* ddlRegimenMatches = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* lblRegimenConsists = nullptr;
    QLabel* lblCodeAs = nullptr;
    QScrollArea* sbxRegimen = nullptr;
    QWidget* m_rows = nullptr;
    QLabel* lblMoreInfo = nullptr;
    QLabel* lblNote2 = nullptr;
    QLabel* lblNote = nullptr;
    QPushButton* btnNewSearch = nullptr;
    QLineEdit* edtCopy = nullptr;
    QTextEdit* rdtPrint = nullptr;
    QMenu* popMenu = nullptr;
};
