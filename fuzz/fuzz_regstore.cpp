// The settings file (registry.reg, REGEDIT4 text) as a user's disk may hold it: loaded, the
// program's colours, options and directories read from it, its text formatted, and that text
// loaded again, which must format the same; then values written and the file read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "tvregistry.h"
#include "tvregstore.h"

namespace {

void ReadTheProgramsSettings() {
    for (int32_t role = 0; role < kColorRoleCount; ++role)
        tvfuzz::Try([&] { tvRegistry::GetColor(role); });
    tvfuzz::Try([] { tvRegistry::GetOption(tvRegistry::kHistoryOption); });
    for (int32_t which : {tvRegistry::kDataDirectory, tvRegistry::kHistoryDirectory}) {
        tvfuzz::Try([&] {
            KxString path;
            tvRegistry::GetUserDataPath(path, which);
        });
    }
    tvfuzz::Try([] {
        TvRegStore store;
        if (!store.OpenKey(tvRegistry::kProgramKey, false)) return;
        for (const char* name : {tvRegistry::kDataDirectoryValue, "MRU0", "@", "missing"}) {
            tvfuzz::Try([&] { store.GetDataType(name); });
            tvfuzz::Try([&] { store.ReadString(name); });
            tvfuzz::Try([&] { store.ReadBinaryData(name); });
            tvfuzz::Try([&] { store.ReadFloat(name); });
        }
    });
}

std::string Formatted(const char* sFileName) {
    TvRegStore store(sFileName);
    return store.Format().GetCString();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // TvRegStore's default file, which the settings classes open, lies in the process's directory.
    setenv("XDG_CONFIG_HOME", tvfuzz::ProcessDir::Get().Path().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tvfuzz::ClearDir();
    const std::string path = tvfuzz::WriteFile(
        "tarvio/registry.reg", std::string_view(reinterpret_cast<const char*>(data), size));
    std::string text;
    try {
        text = Formatted(path.c_str());
    } catch (KxException& e) {
        tvfuzz::Refused(e);
        return 0;
    }
    ReadTheProgramsSettings();

    const std::string copy = tvfuzz::WriteFile("copy.reg", text);
    std::string written;
    try {
        if (Formatted(copy.c_str()) != text) tvfuzz::Fail("a formatted settings file formats otherwise when loaded");
        TvRegStore store(copy.c_str());
        store.OpenKey(tvRegistry::kColorsKey, true);
        store.WriteString("Fuzz", "a \"quoted\" \\ text");
        store.WriteFloat("Number", 1.5);
        written = store.Format().GetCString();
    } catch (KxException& e) {
        std::fprintf(stderr, "%s\n%s\n", e.GetErrorMessage(), e.GetCallpath());
        tvfuzz::Fail("a formatted settings file cannot be loaded and written");
    }
    try {
        if (Formatted(copy.c_str()) != written) tvfuzz::Fail("a written settings file reads back otherwise");
    } catch (KxException& e) {
        std::fprintf(stderr, "%s\n%s\n", e.GetErrorMessage(), e.GetCallpath());
        tvfuzz::Fail("a written settings file cannot be loaded");
    }
    return 0;
}
