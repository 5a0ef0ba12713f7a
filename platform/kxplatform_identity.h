// Whether two names lead to one file, whatever links and spellings lie between them.
#pragma once

#include <string>

namespace kxplatform {

// True when both names exist and are the same file (same device and inode); false otherwise,
// with GetLastError telling why when one of them cannot be examined.
bool SameFile(const std::string& first, const std::string& second);

} // namespace kxplatform
