// Small drug and regimen data sets for the search tests, written through the engine's own
// writer into a fresh temporary directory: every field a blob field, short printable texts
// inline, the rest in the blob file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kxblob.h"
#include "kxengine.h"
#include "kxfield.h"
#include "kxio.h"
#include "kxrecord.h"
#include "platform/platform_fixture.h"
#include "tvappstate.h"
#include "tverrorreport.h"
#include "txdfile.h"

namespace tvtest {

using Row = std::vector<std::string>;

// Room after the blob number for an inline text.
constexpr int16_t kInlineRoom = 40;

inline bool FitsInline(const std::string& text) {
    if (text.size() + 1 >= static_cast<size_t>(kInlineRoom) || text.back() == ' ') return false;
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

inline void WriteDataSet(const std::string& path, int16_t wFieldCount,
                         const std::vector<Row>& rows) {
    KxPointerVector<KxField> fields;
    for (int16_t i = 0; i < wFieldCount; ++i) {
        auto field = std::make_unique<KxField>();
        field->SetName(("f" + std::to_string(i)).c_str(), nullptr, nullptr, i);
        field->SetDefinition(static_cast<uint16_t>(i), 'B', TXDRec::kxBlobNumberWidth + kInlineRoom,
                             0, -1);
        fields.push_back(field.release());
    }
    TXDFile file;
    file.PackFields(fields);
    file.Create(path.c_str(), fields, 0, false);
    file.Open(path.c_str(), kxIORead | kxIOWrite);
    KxTransaction* transaction = file.BeginTransaction(true);
    std::unique_ptr<KxFileRecord> record(file.GetNewRecord());
    for (const Row& row : rows) {
        record->Clear();
        for (size_t f = 0; f < row.size(); ++f) {
            const std::string& text = row[f];
            if (text.empty()) {
                record->PutBlank(static_cast<uint16_t>(f));
                continue;
            }
            // A text for the blob file carries its NUL.
            uint32_t size = static_cast<uint32_t>(text.size()) + (FitsInline(text) ? 0 : 1);
            KxBlob blob(text.c_str(), size);
            record->PutBLOB(static_cast<uint16_t>(f), blob);
        }
        file.DataAppend(*record);
    }
    file.EndTransaction(transaction);
    file.Close();
}

// A drug record from its non-empty fields.
inline Row Drug(const std::map<int, std::string>& fields) {
    Row row(17);
    for (const auto& [number, text] : fields) row[static_cast<size_t>(number)] = text;
    return row;
}

inline Row VersionRecord(int16_t wFieldCount, const std::string& text = "") {
    Row row(static_cast<size_t>(wFieldCount));
    row[0] = text;
    row[1] = DataVersion;
    return row;
}

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override { KxEngineStartup(); }

    std::string Path(const std::string& name) const { return dir_ / name; }

    // Record 1 is the version record; the drugs follow from record 2.
    std::string WriteDrugs(const std::vector<Row>& drugs, const std::string& name = "DrugData") {
        std::vector<Row> rows{VersionRecord(17)};
        rows.insert(rows.end(), drugs.begin(), drugs.end());
        std::string path = Path(name + ".txd");
        WriteDataSet(path, 17, rows);
        return path;
    }
    // Regimens as {name, drugs, codes}.
    std::string WriteRegimens(const std::vector<Row>& regimens,
                              const std::string& name = "Regimens") {
        std::vector<Row> rows{VersionRecord(3)};
        rows.insert(rows.end(), regimens.begin(), regimens.end());
        std::string path = Path(name + ".txd");
        WriteDataSet(path, 3, rows);
        return path;
    }

    // Replaces the line end of a record (from 1) by blanks, which only a read of that record
    // notices.
    void DamageLineEnd(const std::string& path, int32_t lRecord) const {
        std::string bytes = kxtest::ReadFile(path);
        size_t lineLength = bytes.find('\n') + 1;
        size_t end = lineLength * static_cast<size_t>(lRecord) - 1;
        bytes[end] = ' ';
        if (bytes[end - 1] == '\r') bytes[end - 1] = ' ';
        kxtest::WriteFile(path, bytes);
    }

    kxtest::TempDir dir_;
    TvRecordingReporter reporter_;
};

} // namespace tvtest
