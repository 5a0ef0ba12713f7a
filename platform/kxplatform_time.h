// The system clock and the operating system's version.
#pragma once

#include <string>

namespace kxplatform {

struct SystemTime {
    int year = 1;         // e.g. 2007
    int month = 1;        // 1 to 12
    int day = 1;          // 1 to 31
    int hour = 0;         // 0 to 23
    int minute = 0;       // 0 to 59
    int second = 0;       // 0 to 60 (60 in a leap second)
    int millisecond = 0;  // 0 to 999
    int dayOfWeek = 0;    // 0 Sunday to 6 Saturday
};

// The current time in UTC and in the local time zone.
bool GetSystemTimeUtc(SystemTime& out);
bool GetLocalTime(SystemTime& out);

struct OSVersion {
    std::string sysname;  // "Linux"
    std::string release;  // kernel release, e.g. "6.1.0-18-amd64"
    std::string version;  // build text
    std::string machine;  // e.g. "x86_64"
    // sysname and release, e.g. "Linux 6.1.0-18-amd64".
    std::string Text() const { return sysname + " " + release; }
};
bool GetOSVersion(OSVersion& out);

} // namespace kxplatform
