// A whole data set as a damaged disk may hold it: the structure file, the fixed-width data file
// and the blob file, in that order in the input, separated by tvfuzz::kPartMarker. The data set
// is opened as the searches open it, every record gone to and every field read (GetBLOB on each),
// then refreshed and closed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_records.h"
#include "fuzz_support.h"
#include "kxengine.h"
#include "txdfile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    KxEngineStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tvfuzz::ClearDir();
    auto parts = tvfuzz::SplitParts(data, size, 3);
    tvfuzz::WriteFile("fuzz.kxs", parts[0]);
    std::string path = tvfuzz::WriteFile("fuzz.txd", parts[1]);
    tvfuzz::WriteFile("fuzz.kxb", parts[2]);
    try {
        TXDFile file;
        file.Open(path.c_str(), kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        const int32_t count = file.GetNumberOfRecords();
        for (int32_t r = 1; r <= count; ++r) {
            try {
                file.GotoRecord(r);
                file.GetBlobFieldMap().GetCount();
            } catch (KxException&) {
                continue;
            }
            tvfuzz::ReadEveryField(file, *file.GetCurrentRecord());
        }
        tvfuzz::Try([&] { file.GotoRecord(count + 1); });
        tvfuzz::Try([&] { file.GotoRecord(0); });
        file.EndTransaction(transaction);
        file.Refresh();
        if (file.GetNumberOfRecords() != count)
            tvfuzz::Fail("refreshing an unchanged data set changed its record count");
        file.Close();
    } catch (KxException& e) {
        tvfuzz::Refused(e);
    }
    return 0;
}
