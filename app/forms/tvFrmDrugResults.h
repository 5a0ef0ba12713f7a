// The drug results window: runs one drug search while it is built and shows the matches one
// record at a time, with the search text or the matched words marked in the highlight colour.
#pragma once

#include <QMainWindow>
#include <QTextCharFormat>

#include <cstdint>
#include <memory>

#include "kxstring.h"
#include "tvdrugsearch.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTextEdit;
class QToolButton;

class TfrmDrug : public QMainWindow {
    Q_OBJECT

public:
    using MatchedRecords = TvDrugMatch;

    // Runs the whole search; the window is shown when it found something or when a regimen
    // window asked for it. pOwner is not made the Qt parent: the application owns the window.
    TfrmDrug(QWidget* pOwner, bool bCalledFromRegimen, KxString sSearchText);
    ~TfrmDrug() override;

    bool NoMatches() const;

    const KxString& GetSearchText() const;
    const KxVector<MatchedRecords>& GetMatches() const;
    // Position in the matches of the record shown.
    int16_t GetCurrentIndex() const { return m_currentIndex; }
    bool IsCalledFromRegimen() const { return m_calledFromRegimen; }

    // The field boxes in copy-target order: generic name, brand names, category, subcategory,
    // abbreviations, NSC number, primary sites, chemical name, remarks.
    static constexpr int kBoxCount = 9;
    QTextEdit* GetFieldBox(int iCopyTarget) const;
    // The hidden print buffer.
    QTextEdit* GetPrintBuffer() const { return rdtPrint; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    QTextEdit* MakeFieldBox(const char* sName, const char* sLabel, int iLabelLeft, int iLabelTop,
                            int iLeft, int iTop, int iWidth, int iHeight);

    void SetColors();
    void SetUp();
    void SetUpDrugMatchesBox();
    void LoadRecord();
    void MarkMatches();
    void ChangeText(QTextEdit* pBox);
    void RestoreFieldsFont();
    void SetBoxText(QTextEdit* pBox, const KxString& sText);
    void UpdateNavigation();
    QTextEdit* BoxOfField(int16_t wField) const;

    void OnFirstClick();
    void OnPreviousClick();
    void OnNextClick();
    void OnLastClick();
    void OnDrugMatchesChange(int iIndex);
    // True when the key was taken.
    bool OnKeyDown(int iKey);
    void OnEmailClick();

    void tbnFirstRecordClick();
    void tbnPreviousRecordClick();
    void tbnNextRecordClick();
    void tbnLastRecordClick();
    void ddlDrugMatchesChange(int iIndex);
    bool KeyDownCall(int iKey);
    void FieldBoxContextMenu(QTextEdit* pBox, const QPoint& position);
    void popMenuCopyClick();
    void popMenuSelectAllClick();
    void mitFilePrintClick();
    void mitHelpEmailClick();
    void mitHelpHelpClick();
    void mitHelpCitationClick();
    void mitHelpAboutClick();
    void btnNewSearchClick();

    void Report(const KxException& exception);

    std::unique_ptr<TvDrugSearch> m_search;
    bool m_calledFromRegimen;
    int16_t m_currentIndex = 0;
    int16_t m_copyTarget = 0;

    QWidget* m_client = nullptr;
    QLabel* lblYourSearch = nullptr;
    QLabel* lblDrugSearched = nullptr;
    QLabel* lblFound = nullptr;
    QLabel* lblNumResults = nullptr;
    QLabel* lblResults = nullptr;
    QFrame* ToolBar1 = nullptr;
    QToolButton* tbnFirstRecord = nullptr;
    QToolButton* tbnPreviousRecord = nullptr;
    QToolButton* tbnNextRecord = nullptr;
    QToolButton* tbnLastRecord = nullptr;
    QLabel* lblCurrentRecord = nullptr;
    QComboBox* ddlDrugMatches = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* m_fieldLabels[kBoxCount] = {};
    QTextEdit* edtGenericName = nullptr;
    QTextEdit* edtBrandNames = nullptr;
    QTextEdit* edtCategory = nullptr;
    QTextEdit* edtSubcategory = nullptr;
    QTextEdit* edtAbbreviations = nullptr;
    QTextEdit* edtNSCNumber = nullptr;
    QTextEdit* edtPrimarySites = nullptr;
    QTextEdit* edtChemicalName = nullptr;
    QTextEdit* edtRemarks = nullptr;
    QTextEdit* m_boxes[kBoxCount] = {};
    QPushButton* btnNewSearch = nullptr;
    QTextEdit* edtHighlightColor = nullptr;
    QTextEdit* edtRestoreFonts = nullptr;
    QTextEdit* rdtPrint = nullptr;
    QMenu* popMenu = nullptr;
    QAction* popMenuSelectAll = nullptr;
    QAction* popMenuCopy = nullptr;
};
