// Synthetic data sets for benchmarks: tables with the columns of the shipped ones and texts of
// realistic sizes (short names and codes kept inline, long remarks with line breaks in the blob
// file). The same counts and seed always give the same tables, on every machine.
#pragma once

#include <cstdint>

#include "tvtable.h"

inline constexpr uint64_t kDefaultGeneratorSeed = 20070914;

// records counts the version record; 1 .. kMaxDataSetRecords.
TvTable GenerateDrugTable(int32_t lRecords, uint64_t seed);
// Each regimen combines drugs of the given drug table, coded as their records say.
TvTable GenerateRegimenTable(const TvTable& drugs, int32_t lRecords, uint64_t seed);
