#include "tvhistory.h"

#include <algorithm>
#include <string>

#include "kxfilename.h"
#include "kxio.h"
#include "kxplatform_file.h"
#include "kxtokenizer.h"
#include "tvappstate.h"
#include "tvasciitext.h"

namespace {

constexpr const char* kClass = "TfrmMain";

} // namespace

bool FileIsWritable(const char* sFileName) {
    if (sFileName == nullptr || *sFileName == '\0') return false;
    std::optional<bool> readOnly = kxplatform::IsReadOnly(sFileName);
    return readOnly.has_value() && !*readOnly;
}

TvHistory::TvHistory(TvErrorReporter& reporter) : m_reporter(reporter) {}

KxString TvHistory::GetHistoryFileName() {
    KxString name(HistoryDirectory);
    name += HistoryFileName;
    return name;
}

void TvHistory::AddToHistory(KxString sText) {
    KX_TRY
        KxString upper = TvUppercased(sText);
        for (int32_t i = 0; i < m_historyItems.GetCount(); ++i) {
            if (TvUppercased(m_historyItems[static_cast<size_t>(i)]) == upper) {
                m_historyItems.RemoveAt(i);
                break;
            }
        }
        m_historyItems.push_back(sText);
    KX_CATCH_STD("AddToHistory()", kClass)
}

KxString TvHistory::FormatHistory(const KxVector<KxString>& items) {
    KxString text;
    for (const KxString& item : items) text << item << "; ";
    // The last separator keeps only its blank.
    if (!items.empty()) text.Remove(text.GetLength() - 2, 1);
    return text;
}

void TvHistory::SaveHistory() {
    try {
        KxString fileName = GetHistoryFileName();
        if (!FileIsWritable(fileName)) {
            KxString message;
            message << "Cannot save history.  The file " << fileName
                    << " is currently 'Read-Only.'\nChange the history file location or turn "
                       "off history feature to stop seeing this message.";
            m_reporter.ShowWarning("Warning!", message);
            return;
        }
        WriteHistoryFile(fileName);
    } catch (KxException& e) {
        e.AddCallpath("SaveHistory()", kClass);
        m_reporter.ShowError(e);
    }
}

// Deleting the file and writing it anew would lose the history to a full disk; the new text
// goes to a file beside it, reaches the disk, and only then takes the old file's name.
void TvHistory::WriteHistoryFile(const KxString& sFileName) {
    KxString text = FormatHistory(m_historyItems);
    KxFileName name(sFileName);
    KxString directory(name.GetLocation());
    KxString tempName;
    KxIO::GetTempFileName(tempName, directory, "~History");
    try {
        // The copy gives the new file the old one's permission bits; its contents go at once.
        if (!kxplatform::CopyFile(sFileName.GetCString(), tempName.GetCString()))
            KxGenerateSystemException("Could not copy \"%s\" to \"%s\" -- ", false, kClass,
                                      sFileName.GetCString(), tempName.GetCString());
        {
            KxIO out(tempName, kxIOOpenCreateEmpty);
            out.Write(text.GetCString(), static_cast<uint32_t>(text.GetLength()));
            out.Close();
        }
        kxplatform::File written;
        if (!written.Open(tempName.GetCString(), kxplatform::OpenFlags{}) || !written.Sync())
            KxGenerateSystemException("Could not write \"%s\" to disk -- ", false, kClass,
                                      tempName.GetCString());
        written.Close();
        if (!kxplatform::RenameFile(tempName.GetCString(), sFileName.GetCString()))
            KxGenerateSystemException("Could not replace \"%s\" by \"%s\" -- ", false, kClass,
                                      sFileName.GetCString(), tempName.GetCString());
    } catch (...) {
        kxplatform::DeleteFile(tempName.GetCString());
        throw;
    }
}

void TvHistory::LoadHistory() {
    try {
        KxString fileName = GetHistoryFileName();
        if (!KxIO::Exists(fileName)) return;
        KxString line;
        {
            KxIO in(fileName, kxIORead);
            in.ReadLine(line);
            in.Close();
        }
        line.DeblankTrailing();
        // An empty line is one empty entry, as the tokenizer gives it.
        KxVector<KxString> items;
        KxStringTokenizer pieces(line, ";");
        while (pieces.GetRemainingTokenCount() > 0) items.push_back(pieces.GetNextToken());
        m_historyItems.swap(items);
    } catch (KxException& e) {
        e.AddCallpath("LoadHistory()", kClass);
        m_reporter.ShowError(e);
    }
}

void TvHistory::GuessFromHistory(KxString sTyped) {
    KX_TRY
        m_listVisible = false;
        m_guessItems.clear();
        KxString typed = TvUppercased(sTyped);
        for (int32_t i = m_historyItems.GetCount() - 1; i >= 0; --i) {
            const KxString& item = m_historyItems[static_cast<size_t>(i)];
            if (TvUppercased(item).BeginsWith(typed)) m_guessItems.push_back(item);
        }
        if (!m_guessItems.empty()) {
            m_listVisible = true;
            m_listHeight = static_cast<int32_t>(
                std::min<int64_t>(static_cast<int64_t>(kLineHeight) * m_guessItems.GetCount(),
                                  kMaxListHeight));
        }
    KX_CATCH_STD("GuessFromHistory()", kClass)
}

KxString TvHistory::SelectFromHistory() const {
    KX_TRY
        return m_guessItems.At(m_historyIndex);
    KX_CATCH("SelectFromHistory()", kClass)
}
