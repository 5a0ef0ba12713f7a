// What the fuzz targets share: a directory of the process's own for the files a reader is given,
// the splitting of one input into the files of a data set, and the one rule of every target: a
// KxException is an answer to a damaged input, anything else (a crash, a sanitizer report, a
// leak, an escaped standard exception, a hang) is a fault.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "kxexception.h"

namespace tvfuzz {

// Made at first use under the system's temporary directory, removed when the process ends
// normally (a crashing process leaves it for the post-mortem).
class ProcessDir {
public:
    static ProcessDir& Get() {
        static ProcessDir dir;
        return dir;
    }
    const std::string& Path() const { return m_path; }
    // The path of a file in the directory.
    std::string operator/(std::string_view name) const { return m_path + "/" + std::string(name); }

    ProcessDir(const ProcessDir&) = delete;
    ProcessDir& operator=(const ProcessDir&) = delete;

private:
    ProcessDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarvio-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("tarvio fuzz: mkdtemp");
            std::abort();
        }
        m_path = pattern;
    }
    ~ProcessDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    std::string m_path;
};

// Replaces the file's contents by the bytes, making its directories; answers its path.
inline std::string WriteFile(std::string_view name, std::string_view bytes) {
    std::string path = ProcessDir::Get() / name;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "tarvio fuzz: cannot write %s\n", path.c_str());
        std::abort();
    }
    return path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Removes the directory's files, so that one input's files never meet the next one's.
inline void ClearDir() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(ProcessDir::Get().Path(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

// The separator between the files of one input; the seeds carry it, so the mutations keep it.
constexpr std::string_view kPartMarker = "\n=====\n";

// The input cut at the marker into exactly n parts; missing parts are empty, and the last part
// takes the rest.
inline std::vector<std::string_view> SplitParts(const uint8_t* data, size_t size, size_t n) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < n) {
        size_t at = rest.find(kPartMarker);
        if (at == std::string_view::npos) break;
        parts.push_back(rest.substr(0, at));
        rest.remove_prefix(at + kPartMarker.size());
    }
    parts.push_back(rest);
    while (parts.size() < n) parts.emplace_back();
    return parts;
}

// Runs a step that may refuse its input with a KxException.
template <typename Step> void Try(Step step) {
    try {
        step();
    } catch (KxException&) {
    }
}

// With TARVIO_FUZZ_VERBOSE set, says why an input was refused: for checking that the seeds
// reach as far as they should.
inline void Refused(const KxException& e) {
    static const bool verbose = std::getenv("TARVIO_FUZZ_VERBOSE") != nullptr;
    if (verbose) std::fprintf(stderr, "refused: %s\n%s\n", e.GetErrorMessage(), e.GetCallpath());
}

// A fault that no exception shows: a reader that accepted its input and then disagreed with
// itself. Reported as a crash so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "tarvio fuzz: %s\n", what);
    std::abort();
}

}  // namespace tvfuzz
