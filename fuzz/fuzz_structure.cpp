// Structure files (.kxs): the fields, file information and user flags of a data set, read by the
// record file base and the text driver. The input is the structure file; the data file beside it
// holds three lines of the record length it names (or none when it names none that fits), so
// that a structure that reads well is also opened and its records read. A structure that opens
// is then written anew and read back, which must give the same fields.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_records.h"
#include "fuzz_support.h"
#include "kxengine.h"
#include "kxini.h"
#include "txdfile.h"

namespace {

// Three lines of blanks of the record length the structure names, with CR LF.
std::string DataFor(const std::string& structurePath) {
    int32_t length = 0;
    try {
        KxIniFile ini(structurePath.c_str(), true);
        length = ini.GetSection("FileInfo")->GetInt("RecordLength", 0);
    } catch (KxException&) {
    }
    if (length < 1 || length > 4096) return {};
    std::string line(static_cast<size_t>(length), ' ');
    line += "\r\n";
    return line + line + line;
}

std::string DescribeFields(const KxFile& file) {
    std::string out;
    for (const KxField* field : file.GetFields())
        out += std::string(field->GetName()) + "/" + std::to_string(field->GetType()) + "/" +
               std::to_string(field->GetLength()) + "/" + std::to_string(field->GetByteOffset()) +
               "\n";
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    KxEngineStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tvfuzz::ClearDir();
    std::string structure = tvfuzz::WriteFile(
        "fuzz.kxs", std::string_view(reinterpret_cast<const char*>(data), size));
    std::string path = tvfuzz::WriteFile("fuzz.txd", DataFor(structure));

    std::string fields;
    try {
        TXDFile file;
        file.Open(path.c_str(), kxIORead);
        fields = DescribeFields(file);
        for (int32_t r = 1; r <= file.GetNumberOfRecords(); ++r) {
            file.GotoRecord(r);
            tvfuzz::ReadEveryField(file, *file.GetCurrentRecord());
        }
        file.Close();
    } catch (KxException& e) {
        tvfuzz::Refused(e);
        return 0;
    }

    try {
        TXDFile file;
        file.Open(path.c_str(), kxIORead);
        file.WriteStructure();
        file.Close();
    } catch (KxException&) {
        return 0;
    }
    try {
        TXDFile again;
        again.Open(path.c_str(), kxIORead);
        std::string read = DescribeFields(again);
        if (read != fields) {
            std::fprintf(stderr, "opened:\n%sread back:\n%swritten:\n%s\n", fields.c_str(),
                         read.c_str(), tvfuzz::ReadFile(structure).c_str());
            tvfuzz::Fail("a structure written anew reads back with other fields");
        }
    } catch (KxException&) {
        tvfuzz::Fail("a structure written anew cannot be opened again");
    }
    return 0;
}
