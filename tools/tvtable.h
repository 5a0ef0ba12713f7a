// The source tables of the data sets: UTF-8 text, one record a line ending with a line feed,
// fields separated by tabs, a header line naming the columns, and a line break inside a field
// written as the two characters backslash and n. Reading converts to the program's own
// Windows-1252 and checks everything a data set could not carry faithfully; writing does the
// reverse, so that a table read and written again is the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A data set holds at most this many records, version record included: the program's record
// numbers are 16-bit.
inline constexpr int32_t kMaxDataSetRecords = 32767;

struct TvTable {
    // As given by the caller; every message names it.
    std::string fileName;
    // The header's column names (ASCII).
    std::vector<std::string> columns;
    // Windows-1252 texts, line breaks as line feeds; row 0 is the version record.
    std::vector<std::vector<std::string>> rows;
    // The source line of each row, for messages about it.
    std::vector<int32_t> lines;
};

// How many columns a table must have.
struct TvTableShape {
    int32_t minColumns;
    int32_t maxColumns;
};

// Parses and checks a table. A failure is a KxException whose message begins with
// "<file name>:<line>: ".
TvTable ParseTable(std::string_view text, const char* sFileName, const TvTableShape& shape);
// Reads the file and parses it.
TvTable ReadTable(const char* sFileName, const TvTableShape& shape);

// One table line, with its line feed, from Windows-1252 fields. Fails for a text the table form
// cannot carry (a tab, a control character other than the line feed, a backslash before an n).
std::string FormatTableLine(const std::vector<std::string>& fields);

// Whether a text is a data version such as 1.2.0: digit groups separated by single dots.
bool IsVersionText(std::string_view text);
