// The state every window reads: where the data sets and the history live, the five colours, the
// version constants and the names of the data set files; and the two start-up tests of a data
// directory. Nothing here needs the window toolkit.
#pragma once

#include <cstdint>

#include "kxstring.h"

// Directory of the two data sets; ends with the path separator once set.
extern KxString DataDirectory;
// DataDirectory followed by a file name.
KxString InDataDirectory(const char* sFileName);
// Directory of the history file; ends with the path separator once set.
extern KxString HistoryDirectory;

// The numbers are also the registry value names of the colours.
enum class ColorRole : int32_t {
    Background = 0, // window background
    Text = 1,       // text in edit and list boxes
    Label = 2,      // label text
    Highlight = 3,  // marking of matched words in the results windows
    Window = 4,     // background of edit and list boxes
};
inline constexpr int32_t kColorRoleCount = 5;

// Colour references 0x00BBGGRR, indexed by role.
struct AppColorTable {
    int32_t values[kColorRoleCount] = {};

    int32_t& operator[](ColorRole role) { return values[static_cast<int32_t>(role)]; }
    const int32_t& operator[](ColorRole role) const { return values[static_cast<int32_t>(role)]; }
};
extern AppColorTable AppColors;

inline constexpr const char* ProgramVersion = "1.2.0";
inline constexpr const char* DatabaseUpdateDate = "09-14-2007";
// The version both data sets must carry in field 1 of their first record.
inline constexpr const char* DataVersion = "1.2.0";
// Appended to the program's own directory for the default data directory.
inline constexpr const char* DefaultDataSubdirectory = "Data/";
inline constexpr const char* DrugDataName = "DrugData";
inline constexpr const char* DrugDataFile = "DrugData.txd";
inline constexpr const char* RegimenDataName = "Regimens";
inline constexpr const char* RegimenDataFile = "Regimens.txd";
inline constexpr const char* HistoryFileName = "History.txt";

// The files of a data set: data, blob storage, log, structure.
inline constexpr int32_t kDataSetExtensionCount = 4;
inline constexpr const char* DataSetExtensions[kDataSetExtensionCount] = {".txd", ".kxb", ".klg",
                                                                          ".kxs"};

// Appends a tab, the file's name and a line feed to sList for each missing file of the two data
// sets in sDirectory (which ends with the path separator): by extension in the order above, the
// drug data set before the regimen data set. True when anything was appended. A missing file
// is never an exception.
bool CheckMissingFiles(const char* sDirectory, KxString& sList);

// True when the version record of either data set in sDirectory differs from DataVersion. The
// regimen data set is not opened when the drug data set is already out of date. Failures to
// open, lock or read a data set are thrown.
bool DataFilesOutOfDate(const char* sDirectory);
