// The history file (History.txt) as a user's disk may hold it: loaded, searched for suggestions,
// added to, saved and loaded again, which must give back what was saved. Failures are reported
// through the reporter, never thrown.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tvappstate.h"
#include "tverrorreport.h"
#include "tvhistory.h"

namespace {

std::vector<std::string> Items(const TvHistory& history) {
    std::vector<std::string> items;
    for (const KxString& item : history.GetHistoryItems()) items.emplace_back(item.GetCString());
    return items;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    HistoryDirectory = (tvfuzz::ProcessDir::Get().Path() + "/").c_str();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tvfuzz::ClearDir();
    tvfuzz::WriteFile(HistoryFileName, std::string_view(reinterpret_cast<const char*>(data), size));
    TvRecordingReporter reporter;
    TvHistory history(reporter);
    history.LoadHistory();
    if (reporter.GetErrorCount() > 0) return 0;

    // The suggestions for the start of each entry, and picking each of them.
    for (const KxString& item : std::vector<KxString>(history.GetHistoryItems().begin(),
                                                      history.GetHistoryItems().end())) {
        KxString typed(item);
        if (typed.GetLength() > 2) typed.Truncate(2);
        history.GuessFromHistory(typed);
        for (int32_t i = 0; i < history.GetGuessItems().GetCount(); ++i) {
            history.SetHistoryIndex(static_cast<int16_t>(i));
            history.SelectFromHistory();
        }
    }
    if (!history.GetHistoryItems().empty()) history.AddToHistory(history.GetHistoryItems()[0]);
    history.AddToHistory("cisplatin");

    const std::vector<std::string> saved = Items(history);
    history.SaveHistory();
    if (reporter.GetErrorCount() > 0) return 0;
    TvHistory again(reporter);
    again.LoadHistory();
    if (reporter.GetErrorCount() > 0) tvfuzz::Fail("a saved history file cannot be loaded");
    if (Items(again) != saved) {
        for (const std::string& item : saved) std::fprintf(stderr, "saved  [%s]\n", item.c_str());
        for (const std::string& item : Items(again)) std::fprintf(stderr, "loaded [%s]\n", item.c_str());
        tvfuzz::Fail("a saved history loads back otherwise");
    }
    return 0;
}
