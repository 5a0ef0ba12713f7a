// What the data and history directory dialog decides, without the window: how it is laid out in
// each mode, what its edit box starts with, and what "Ok", "Use Default" and "Clear History" do.
// The window shows the texts, carries out the outcome (message box, focus, closing) and keeps
// nothing of its own.
#pragma once

#include <cstdint>

#include "kxstring.h"
#include "tvregistry.h"

// The dialog's modes, which are also the registry's directory numbers.
inline constexpr uint8_t kDataDirectoryMode = 0;
inline constexpr uint8_t kHistoryDirectoryMode = 1;

// The folder picker's title.
inline constexpr const char* kBrowseDirectoryTitle = "Select a directory:";

// True when the path names an existing directory; a path that does not exist gives false.
bool PathIsDirectory(const char* sPath);

// The directory a mode falls back to: the program's own directory followed by
// DefaultDataSubdirectory for the data directory, the program's directory alone for the
// history directory. Both end with the path separator. Also the start-up defaults.
KxString TvDefaultUserDataPath(uint8_t uMode);

// What "Ok" leaves for the window to do.
struct TvDirectoryOkOutcome {
    // The edit box's text after blanks, foreign separators and trailing separators are gone;
    // the window writes it back into the box whatever else happens.
    KxString boxText;
    // Close with the OK result: the choice is in effect and stored.
    bool accepted = false;
    // When not accepted: a message box with an OK button, after which the edit box gets the
    // focus and the dialog stays open.
    KxString messageText;
    KxString messageCaption;
};

class TvDirectoryDialog {
public:
    // Makes sure the registry holds its defaults, and in the history mode reads whether "Use
    // History" starts ticked.
    explicit TvDirectoryDialog(uint8_t uMode);
    TvDirectoryDialog(const TvDirectoryDialog&) = delete;
    TvDirectoryDialog& operator=(const TvDirectoryDialog&) = delete;

    uint8_t GetMode() const { return m_mode; }
    bool IsHistoryMode() const { return m_mode == kHistoryDirectoryMode; }
    // "Set Data Files Directory" or "History File Options".
    const char* GetCaption() const;
    // "Data Directory" or "History File Directory".
    const char* GetLabel() const;
    // "Use History" and "Clear History" show in the history mode, "Use Default" in the data mode.
    bool ShowsUseHistory() const { return IsHistoryMode(); }
    bool ShowsClearHistory() const { return IsHistoryMode(); }
    bool ShowsUseDefault() const { return !IsHistoryMode(); }
    bool GetUseHistoryTicked() const { return m_useHistoryTicked; }

    // The edit box when the dialog is shown: the stored directory of the mode, else its default.
    KxString GetInitialText() const;
    // "Use Default": the mode's default.
    KxString GetDefaultText() const;

    // "Ok", in its order: the box's text is stripped of blanks and normalised; a directory that
    // does not exist, or (data mode) lacks files of the data sets, is refused; the history mode
    // probes that it can write there, creates the history file when missing and stores the "Use
    // History" choice as option 0 (off when the history file is not writable). An accepted
    // directory, ending with the separator, becomes DataDirectory or HistoryDirectory and is
    // stored in the registry. A refused one changes nothing. Other failures are thrown with
    // "OnOkClick()" of "TdlgDataDirectory" in the call path.
    TvDirectoryOkOutcome Ok(const KxString& sBoxText, bool useHistoryTicked);

    // "Clear History": deletes the history file in the current HistoryDirectory (not the box's)
    // when it exists. The dialog stays open.
    static void ClearHistory();

private:
    uint8_t m_mode;
    bool m_useHistoryTicked = false;
    tvRegistry m_registry;
};
