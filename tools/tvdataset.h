// Data sets written from source tables and read back into them, through the engine's own text
// driver. Every field has type B and is read with GetBLOB: its first 8 characters hold a blob
// number, followed either by the text itself (number 0) or by a preview of a text kept in the
// blob file. Texts in the blob file end with a NUL byte.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tvtable.h"

// Texts this long or longer go to the blob file, so that a few long values do not widen every
// line of the data file.
inline constexpr int32_t kMaxInlineText = 95;

// Whether a text is kept in the line of a field of that length: printable ASCII (the driver
// passes nothing else inline), shorter than the room after the blob number, and not ending in a
// blank (the driver strips trailing blanks when it reads a field). The empty text is a blank
// field.
bool StaysInline(const std::string& text, int32_t lFieldLength);

struct TvFieldPlan {
    std::string name;
    int16_t length;
};

// One field per column, each just long enough for the longest text of its column that stays
// inline. Fails, naming the table's file, when a record line or the blob file would outgrow what
// the engine can address.
std::vector<TvFieldPlan> PlanFields(const TvTable& table);

// Writes the data set sDataFile (".txd" and its ".kxs", ".kxb", ".klg", none of which may exist)
// from the table, then reads every field back and compares it with the table.
void WriteDataSet(const TvTable& table, const char* sDataFile);

// The data set as a table: the header line from the field names, then every record, version
// record first, in UTF-8.
void DumpDataSet(const char* sDataFile, std::ostream& out);

// Writes both data sets into a new directory beside sOutDirectory and moves them into place only
// when both are complete, so that a failure leaves sOutDirectory as it was.
void BuildDataSets(const TvTable& drugs, const TvTable& regimens, const char* sOutDirectory);
