#include "tvappstate.h"

#include "kxblob.h"
#include "kxfilename.h"
#include "kxio.h"
#include "kxrecord.h"
#include "txdfile.h"

KxString DataDirectory;
KxString HistoryDirectory;
AppColorTable AppColors;

namespace {

constexpr const char* kUnit = "tvappstate";

// directory + separator + base name, made absolute; the doubled separator after a directory
// that already ends with one collapses.
KxFileName DataSetName(const char* sDirectory, const char* sBaseName) {
    KxString path(sDirectory);
    path << "/" << sBaseName;
    return KxFileName(path.GetCString());
}

// Field 1 of record 1, read under the same transaction bracket as the searches use.
KxString ReadDataVersion(const char* sDirectory, const char* sBaseName) {
    KX_TRY
        KxFileName name = DataSetName(sDirectory, sBaseName);
        name.SetExtension(".txd");
        TXDFile file;
        file.Open(name.GetFullPath(), kxIORead);
        KxTransaction* transaction = file.BeginTransaction(true);
        file.GotoRecord(1);
        KxBlob blob;
        file.GetCurrentRecord()->GetBLOB(1, blob);
        KxString version(blob.GetText());
        file.EndTransaction(transaction);
        file.Close();
        return version;
    KX_CATCH("ReadDataVersion()", kUnit)
}

} // namespace

bool CheckMissingFiles(const char* sDirectory, KxString& sList) {
    KX_TRY
        KxFileName names[2] = {DataSetName(sDirectory, DrugDataName),
                               DataSetName(sDirectory, RegimenDataName)};
        bool missing = false;
        for (const char* extension : DataSetExtensions) {
            for (KxFileName& name : names) {
                name.SetExtension(extension);
                if (KxIOInterface::Exists(name.GetFullPath())) continue;
                sList << "\t" << name.GetNameWithExtension() << "\n";
                missing = true;
            }
        }
        return missing;
    KX_CATCH("CheckMissingFiles()", kUnit)
}

bool DataFilesOutOfDate(const char* sDirectory) {
    KX_TRY
        if (ReadDataVersion(sDirectory, DrugDataName) != DataVersion) return true;
        return ReadDataVersion(sDirectory, RegimenDataName) != DataVersion;
    KX_CATCH("DataFilesOutOfDate()", kUnit)
}

KxString InDataDirectory(const char* sFileName) {
    KxString name(DataDirectory);
    name += sFileName;
    return name;
}
