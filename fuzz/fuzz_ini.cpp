// INI files (structure files, the format dictionary, tarvio.ini) as a damaged disk may hold them:
// read lazily and whole, every value read in every form, then written and read back, which must
// give the same sections, lines and comments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "kxini.h"

namespace {

// Only sections with lines are written, so only they take part in the comparison.
std::vector<std::string> Describe(KxIniFile& ini) {
    std::vector<std::string> out;
    for (int32_t s = 0; s < ini.GetNumSections(); ++s) {
        KxIniSection* section = ini.GetSection(s);
        if (section->GetNumLines() == 0) continue;
        std::string text = section->GetName() != nullptr ? section->GetName() : "(none)";
        for (int32_t i = 0; i <= section->GetNumLines(); ++i) {
            for (const KxString& comment : section->GetComments(i))
                text += "\n;" + std::string(comment.GetCString());
            if (i == section->GetNumLines()) break;
            const KxIniLine* line = section->GetLine(i);
            text += "\n" + std::string(line->GetKey()) + "=" +
                    (line->GetValue() != nullptr ? line->GetValue() : "(unset)");
        }
        out.push_back(text);
    }
    return out;
}

void ReadEveryValue(KxIniFile& ini) {
    for (int32_t s = 0; s < ini.GetNumSections(); ++s) {
        const char* name = ini.GetSectionName(s);
        KxIniSection* section = ini.GetSection(s);
        if (name != nullptr) {
            ini.GetSectionIndex(name, 0, false);
            ini.GetSectionIndex(name, s, true);
        }
        for (int32_t i = 0; i < section->GetNumLines(); ++i) {
            const char* key = section->GetLine(i)->GetKey();
            section->FindKey(key);
            section->GetString(key, "");
            char text[16];
            section->GetString(key, "", text, sizeof text);
            section->GetInt(key, -1);
            section->GetBool(key, false);
            char bytes[9];
            try {
                section->GetBinaryString(key, bytes, sizeof bytes, ' ');
            } catch (KxException&) {
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = tvfuzz::WriteFile(
        "fuzz.ini", std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        KxIniFile lazy(path.c_str(), false);
        ReadEveryValue(lazy);
    } catch (KxException&) {
    }

    std::vector<std::string> before;
    try {
        KxIniFile whole(path.c_str(), true);
        before = Describe(whole);
        whole.Write(true);
    } catch (KxException&) {
        return 0;
    }
    try {
        KxIniFile again(path.c_str(), true);
        if (Describe(again) != before) tvfuzz::Fail("an INI file read back differs from what was written");
    } catch (KxException&) {
        tvfuzz::Fail("an INI file that was written cannot be read back");
    }
    return 0;
}
