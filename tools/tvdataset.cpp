#include "tvdataset.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "kxblob.h"
#include "kxexception.h"
#include "kxfield.h"
#include "kxfilename.h"
#include "kxio.h"
#include "kxplatform_error.h"
#include "kxplatform_file.h"
#include "kxplatform_path.h"
#include "kxrecord.h"
#include "tvappstate.h"
#include "txdfile.h"

namespace {

constexpr const char* kClass = "TvDataSet";
constexpr int32_t kBlobNumberWidth = TXDRec::kxBlobNumberWidth;
// What the blob file can address: its offsets are 32-bit signed, a block takes at least 64
// bytes, and a descriptor 16 bytes after a 12-byte table header.
constexpr int64_t kMaxBlobFileSize = INT32_MAX;
constexpr int64_t kMinBlobBlock = 64;

[[noreturn]] void FailAt(const TvTable& table, int32_t lLine, const char* what) {
    KxGenerateException("%s:%d: %s", "BuildDataSets", table.fileName.c_str(), lLine, what);
}

std::string FileOf(const std::string& directory, const char* sBaseName, const char* sExtension) {
    return directory + "/" + sBaseName + sExtension;
}

// Only the engine's own record type is written here; its fields are all blob fields.
void PutText(KxFileRecord& record, uint16_t uwField, const std::string& text, int32_t lLength) {
    if (text.empty()) {
        record.PutBlank(uwField);
        return;
    }
    // A text for the blob file carries its NUL; the NUL, not being printable, also keeps the
    // driver from putting the text inline.
    uint32_t size = static_cast<uint32_t>(text.size()) + (StaysInline(text, lLength) ? 0 : 1);
    KxBlob blob(text.c_str(), size);
    record.PutBLOB(uwField, blob);
}

void VerifyDataSet(const TvTable& table, const char* sDataFile,
                   const std::vector<TvFieldPlan>& plan) {
    KX_TRY
        TXDFile file;
        file.Open(sDataFile, kxIORead);
        if (file.GetNumberOfRecords() != static_cast<int32_t>(table.rows.size()) ||
            file.GetFieldCount() != plan.size())
            KxGenerateException("%s holds %d records of %d fields after writing %zu of %zu",
                                kClass, sDataFile, file.GetNumberOfRecords(),
                                file.GetFieldCount(), table.rows.size(), plan.size());
        KxTransaction* transaction = file.BeginTransaction(true);
        KxBlob blob;
        for (size_t r = 0; r < table.rows.size(); ++r) {
            file.GotoRecord(static_cast<int32_t>(r) + 1);
            KxFileRecord* record = file.GetCurrentRecord();
            for (uint16_t f = 0; f < plan.size(); ++f) {
                const std::string& text = table.rows[r][f];
                record->GetBLOB(f, blob);
                bool inlineText = record->GetBLOBIndex(f) == 0;
                bool same = text.empty() ? blob.GetSize() == 0
                                         : blob.GetSize() == text.size() + 1 &&
                                               memcmp(blob.GetData(), text.c_str(),
                                                      text.size() + 1) == 0;
                if (!same || inlineText != StaysInline(text, plan[f].length))
                    FailAt(table, table.lines[r],
                           ("column " + table.columns[f] +
                            ": the written data set does not give back the table's text")
                               .c_str());
            }
        }
        file.EndTransaction(transaction);
        file.Close();
    KX_CATCH("VerifyDataSet()", kClass)
}

void RemoveBuildDirectory(const std::string& directory) {
    for (const char* name : {DrugDataName, RegimenDataName})
        for (const char* extension : DataSetExtensions)
            kxplatform::DeleteFile(FileOf(directory, name, extension));
    kxplatform::RemoveDirectory(directory);
}

// A new directory named prefix + a number; mkdir is the test for a name nobody else uses.
std::string MakeBuildDirectory(const std::string& prefix) {
    for (int i = 0; i < 10000; ++i) {
        std::string name = prefix + std::to_string(i);
        if (kxplatform::CreateDirectory(name)) return name;
        if (kxplatform::GetLastError() != EEXIST)
            KxGenerateException("Cannot create the directory \"%s\": %s", kClass, name.c_str(),
                                kxplatform::LastErrorText().c_str());
    }
    KxGenerateException("Cannot find a free name for a directory beginning \"%s\"", kClass,
                        prefix.c_str());
}

void MoveIntoPlace(const std::string& built, const std::string& target) {
    if (!kxplatform::DirectoryExists(target)) {
        if (!kxplatform::RenameFile(built, target))
            KxGenerateException("Cannot move \"%s\" to \"%s\": %s", kClass, built.c_str(),
                                target.c_str(), kxplatform::LastErrorText().c_str());
        return;
    }
    for (const char* name : {DrugDataName, RegimenDataName}) {
        for (const char* extension : DataSetExtensions) {
            std::string from = FileOf(built, name, extension), to = FileOf(target, name, extension);
            if (!kxplatform::RenameFile(from, to))
                KxGenerateException("Cannot move \"%s\" to \"%s\": %s", kClass, from.c_str(),
                                    to.c_str(), kxplatform::LastErrorText().c_str());
        }
    }
    kxplatform::RemoveDirectory(built);
}

} // namespace

bool StaysInline(const std::string& text, int32_t lFieldLength) {
    if (text.empty()) return true;
    if (static_cast<int64_t>(text.size()) >= lFieldLength - kBlobNumberWidth) return false;
    if (text.back() == ' ') return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::vector<TvFieldPlan> PlanFields(const TvTable& table) {
    KX_TRY
        std::vector<TvFieldPlan> plan;
        int64_t recordLength = 0;
        for (size_t c = 0; c < table.columns.size(); ++c) {
            int32_t room = 1;
            for (const std::vector<std::string>& row : table.rows) {
                int32_t size = static_cast<int32_t>(row[c].size());
                if (size < kMaxInlineText && StaysInline(row[c], kBlobNumberWidth + size + 1))
                    room = std::max(room, size + 1);
            }
            plan.push_back({table.columns[c], static_cast<int16_t>(kBlobNumberWidth + room)});
            recordLength += kBlobNumberWidth + room;
        }
        if (recordLength > TXDFile::kxMaxRecordLength) {
            std::string what = "the " + std::to_string(table.columns.size()) +
                               " columns need records of " + std::to_string(recordLength) +
                               " bytes, more than the " +
                               std::to_string(TXDFile::kxMaxRecordLength) + " a data file allows";
            FailAt(table, 1, what.c_str());
        }

        int64_t blobBytes = 0, blobCount = 0;
        for (size_t r = 0; r < table.rows.size(); ++r) {
            for (size_t c = 0; c < plan.size(); ++c) {
                const std::string& text = table.rows[r][c];
                if (StaysInline(text, plan[c].length)) continue;
                blobBytes += std::max<int64_t>(static_cast<int64_t>(text.size()) + 1,
                                               kMinBlobBlock);
                ++blobCount;
            }
            if (4 + blobBytes + 12 + 16 * blobCount > kMaxBlobFileSize)
                FailAt(table, table.lines[r],
                       "the long texts up to this line do not fit in a blob file, which holds "
                       "at most 2147483647 bytes");
        }
        return plan;
    KX_CATCH_STD("PlanFields()", kClass)
}

void WriteDataSet(const TvTable& table, const char* sDataFile) {
    KX_TRY
        std::vector<TvFieldPlan> plan = PlanFields(table);
        KxPointerVector<KxField> fields;
        for (size_t i = 0; i < plan.size(); ++i) {
            auto field = std::make_unique<KxField>();
            field->SetName(plan[i].name.c_str(), nullptr, nullptr, static_cast<int32_t>(i));
            field->SetDefinition(static_cast<uint16_t>(i), 'B', plan[i].length, 0, -1);
            fields.push_back(field.get());
            field.release();
        }

        TXDFile file;
        file.PackFields(fields);
        file.Create(sDataFile, fields, 0, false);
        file.Open(sDataFile, kxIORead | kxIOWrite);
        KxTransaction* transaction = file.BeginTransaction(true);
        std::unique_ptr<KxFileRecord> record(file.GetNewRecord());
        for (const std::vector<std::string>& row : table.rows) {
            record->Clear();
            for (uint16_t f = 0; f < plan.size(); ++f) PutText(*record, f, row[f], plan[f].length);
            file.DataAppend(*record);
        }
        file.EndTransaction(transaction);
        file.Close();

        // The log is only tested for presence; it starts empty whatever opening left in it.
        KxFileName log(sDataFile);
        log.SetExtension(".klg");
        KxIOInterface::Create(log.GetFullPath());

        VerifyDataSet(table, sDataFile, plan);
    KX_CATCH_STD("WriteDataSet()", kClass)
}

void DumpDataSet(const char* sDataFile, std::ostream& out) {
    KX_TRY
        TXDFile file;
        file.Open(sDataFile, kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        std::vector<std::string> fields;
        for (uint16_t f = 0; f < file.GetFieldCount(); ++f)
            fields.emplace_back(file.FieldGetInfo(f).GetName());
        out << FormatTableLine(fields);

        KxBlob blob;
        for (int32_t r = 1; r <= file.GetNumberOfRecords(); ++r) {
            try {
                file.GotoRecord(r);
                KxFileRecord* record = file.GetCurrentRecord();
                for (uint16_t f = 0; f < fields.size(); ++f) {
                    record->GetBLOB(f, blob);
                    fields[f] = blob.GetText();
                }
                out << FormatTableLine(fields);
            } catch (KxException& e) {
                std::string prefix = "record " + std::to_string(r) + ": ";
                e.AddToErrorMessage(prefix.c_str(), true);
                throw;
            }
        }
        file.EndTransaction(transaction);
        file.Close();
        out.flush();
    KX_CATCH_STD("DumpDataSet()", kClass)
}

void BuildDataSets(const TvTable& drugs, const TvTable& regimens, const char* sOutDirectory) {
    KX_TRY
        std::optional<std::string> full = kxplatform::FullPath(sOutDirectory);
        if (!full)
            KxGenerateException("Cannot resolve the directory \"%s\": %s", kClass, sOutDirectory,
                                kxplatform::LastErrorText().c_str());
        std::string target = *full;
        while (target.size() > 1 && target.back() == '/') target.pop_back();
        size_t slash = target.rfind('/');
        if (target == "/" || slash == std::string::npos)
            KxGenerateException("\"%s\" cannot hold the data sets", kClass, sOutDirectory);
        std::string parent = slash == 0 ? "/" : target.substr(0, slash);
        if (kxplatform::FileExists(target))
            KxGenerateException("\"%s\" exists and is not a directory", kClass, target.c_str());
        if (!kxplatform::CreateDirectories(parent))
            KxGenerateException("Cannot create the directory \"%s\": %s", kClass, parent.c_str(),
                                kxplatform::LastErrorText().c_str());

        std::string built =
            MakeBuildDirectory((slash == 0 ? "/." : parent + "/.") + target.substr(slash + 1) +
                               ".build-");
        try {
            WriteDataSet(drugs, FileOf(built, DrugDataName, ".txd").c_str());
            WriteDataSet(regimens, FileOf(built, RegimenDataName, ".txd").c_str());
        } catch (...) {
            RemoveBuildDirectory(built);
            throw;
        }
        MoveIntoPlace(built, target);
    KX_CATCH_STD("BuildDataSets()", kClass)
}
