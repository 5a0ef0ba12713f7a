// tarvio-cli: the data set commands of the program without its windows. One function per
// command, all registered in one table of commands that also gives the usage text.
//
// Exit status: 0 success; 1 the data sets are incomplete or out of date (check); 2 a failure,
// with its message (and, for a KxException, its call path) on the error stream.
#pragma once

#include <ostream>
#include <string>
#include <vector>

inline constexpr int kCliSuccess = 0;
inline constexpr int kCliCheckFailed = 1;
inline constexpr int kCliFailure = 2;

// arguments: the command line without the program's name. The engine must be started.
int RunTarvioCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
