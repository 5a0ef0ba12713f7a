// Fixtures shared by the record file tests: data sets written byte by byte in a fresh temporary
// directory, and the read path of the application over them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kxcatch.h"
#include "kxblob.h"
#include "kxengine.h"
#include "platform/platform_fixture.h"
#include "txdfile.h"

namespace kxtest {

// Structure file lines, each ended with CR LF as the engine's writer does.
inline std::string Lines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\r\n";
    return out;
}

// One line of a data file: the fields' texts, each padded with blanks to its width, then the
// line end.
inline std::string Line(std::initializer_list<std::pair<std::string, size_t>> fields,
                        const std::string& end = "\r\n") {
    std::string out;
    for (const auto& [text, width] : fields) {
        std::string padded = text;
        padded.resize(width, ' ');
        out += padded;
    }
    return out + end;
}

// The 8-character blob number prefix followed by an inline text.
inline std::string Inline(const std::string& text) { return "0       " + text; }
inline std::string Stored(int32_t number, const std::string& preview = "") {
    std::string out = std::to_string(number);
    out.resize(8, ' ');
    return out + preview;
}

// 32-bit little-endian numbers, for .kxb files written by the tests.
inline std::string LE(std::initializer_list<int32_t> values) {
    std::string out;
    for (int32_t v : values) {
        uint32_t u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i) out += static_cast<char>((u >> (8 * i)) & 0xFF);
    }
    return out;
}

// A blob file holding the given blobs, each referred to once, in one block each at the start.
inline std::string BlobFileOf(const std::vector<std::string>& blobs) {
    std::string data;
    std::string table;
    int32_t offset = 4;
    for (const std::string& blob : blobs) {
        table += LE({1, offset, static_cast<int32_t>(blob.size()), static_cast<int32_t>(blob.size())});
        data += blob;
        offset += static_cast<int32_t>(blob.size());
    }
    return LE({offset}) + data + LE({-1, -1, static_cast<int32_t>(blobs.size())}) + table;
}

inline std::string TextOf(const KxBlob& blob) {
    return std::string(static_cast<const char*>(blob.GetData()), blob.GetSize());
}

// The application's read path: open for reading, a writing transaction, every field of every
// record through GetBLOB (the first fieldLimit fields), taken as a NUL-terminated text.
inline std::vector<std::vector<std::string>> ReadEveryField(const std::string& path,
                                                            const char* password = nullptr,
                                                            uint16_t fieldLimit = UINT16_MAX) {
    std::vector<std::vector<std::string>> records;
    TXDFile file;
    file.Open(path.c_str(), kxIORead, password);
    KxTransaction* transaction = file.BeginTransaction(true);
    for (int32_t r = 1; r <= file.GetNumberOfRecords(); ++r) {
        file.GotoRecord(r);
        std::vector<std::string> fields;
        for (uint16_t f = 0; f < file.GetFieldCount() && f < fieldLimit; ++f) {
            KxBlob blob;
            file.GetCurrentRecord()->GetBLOB(f, blob);
            fields.emplace_back(blob.GetText());
        }
        records.push_back(fields);
    }
    file.EndTransaction(transaction);
    file.Close();
    return records;
}

// Every test starts with the engine's registries built; building them again changes nothing.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { KxEngineStartup(); }

    std::string Path(const std::string& name) const { return dir_ / name; }
    void Write(const std::string& name, const std::string& bytes) const {
        WriteFile(dir_ / name, bytes);
    }
    std::string Read(const std::string& name) const { return ReadFile(dir_ / name); }

    TempDir dir_;
};

} // namespace kxtest
