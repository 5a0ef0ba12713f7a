// tarvio-cli drug and tarvio-cli regimen: the two searches of the desktop program on the
// command line, as a table best match first or as one JSON object.
//
// Exit status: 0 matches found; 1 none, or the text was refused as too short; a failure of the
// data set is thrown as the KxException the search reported, which the command table prints
// with its call path and answers with 2.
#pragma once

#include <ostream>
#include <string>

// sDataDirectory ends with the separator; sText is UTF-8 as typed.
int RunDrugSearch(const std::string& sDataDirectory, bool json, const std::string& sText,
                  std::ostream& out, std::ostream& err);
int RunRegimenSearch(const std::string& sDataDirectory, bool json, const std::string& sText,
                     std::ostream& out, std::ostream& err);

// The text as a JSON string, quotes included; the text must be UTF-8.
std::string JsonString(const std::string& sUtf8);
