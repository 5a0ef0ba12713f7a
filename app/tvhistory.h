// The search history: every search that found something, oldest first, kept in History.txt in
// the history directory and offered as suggestions while the user types. Drug and regimen
// searches share it. The main window owns one and mirrors the suggestion list's lines,
// visibility and height into its list box.
#pragma once

#include <cstdint>

#include "kxstring.h"
#include "kxvector.h"
#include "tverrorreport.h"

// True when the file exists and may be written; false when it is read-only or cannot be
// examined (a missing file among them).
bool FileIsWritable(const char* sFileName);

class TvHistory {
public:
    // The suggestion list: 20 pixels a line, at most 54 (it scrolls beyond that); its height
    // before any suggestion was shown.
    static constexpr int32_t kLineHeight = 20;
    static constexpr int32_t kMaxListHeight = 54;
    static constexpr int32_t kInitialListHeight = 23;

    explicit TvHistory(TvErrorReporter& reporter);

    // Appends the search as the newest entry, removing the first earlier entry that differs
    // from it in letter case at most.
    void AddToHistory(KxString sText);
    // Writes the entries to the history file, or warns when the file is read-only or missing.
    // The new contents go to a file beside it that then replaces it, so a failed save leaves
    // the old file whole. Failures are reported.
    void SaveHistory();
    // Replaces the entries by the history file's when the file exists. Failures are reported
    // and keep the entries as they were.
    void LoadHistory();
    // The suggestions for a typed text, newest first: the entries that begin with it, letter
    // case aside. Shows the list when there are any and sizes it for them.
    void GuessFromHistory(KxString sTyped);
    // The suggestion at the history index; outside the suggestions, the vector's index error.
    KxString SelectFromHistory() const;

    // HistoryDirectory followed by the history file's name.
    static KxString GetHistoryFileName();
    // The file's contents for the entries: each followed by "; ", the last by " " only.
    static KxString FormatHistory(const KxVector<KxString>& items);

    KxVector<KxString>& GetHistoryItems() { return m_historyItems; }
    const KxVector<KxString>& GetHistoryItems() const { return m_historyItems; }
    KxVector<KxString>& GetGuessItems() { return m_guessItems; }
    const KxVector<KxString>& GetGuessItems() const { return m_guessItems; }
    int16_t GetHistoryIndex() const { return m_historyIndex; }
    void SetHistoryIndex(int16_t wIndex) { m_historyIndex = wIndex; }
    bool GetListVisible() const { return m_listVisible; }
    void SetListVisible(bool visible) { m_listVisible = visible; }
    int32_t GetListHeight() const { return m_listHeight; }

private:
    void WriteHistoryFile(const KxString& sFileName);

    TvErrorReporter& m_reporter;
    KxVector<KxString> m_historyItems;
    KxVector<KxString> m_guessItems;
    int16_t m_historyIndex = 0;
    bool m_listVisible = false;
    int32_t m_listHeight = kInitialListHeight;
};
