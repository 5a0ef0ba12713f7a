#include "kxplatform_time.h"

#include <sys/utsname.h>

#include <cerrno>
#include <ctime>

#include "kxplatform_error.h"
#include "kxplatform_internal.h"

namespace kxplatform {

namespace {

bool Now(SystemTime& out, bool local) {
    struct timespec now;
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return detail::Fail(errno);
    struct tm parts;
    if (local) ::tzset();
    errno = 0;
    if ((local ? ::localtime_r(&now.tv_sec, &parts) : ::gmtime_r(&now.tv_sec, &parts)) == nullptr)
        return detail::Fail(errno != 0 ? errno : EOVERFLOW);
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    out.hour = parts.tm_hour;
    out.minute = parts.tm_min;
    out.second = parts.tm_sec;
    out.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    out.dayOfWeek = parts.tm_wday;
    return true;
}

} // namespace

bool GetSystemTimeUtc(SystemTime& out) { return Now(out, false); }

bool GetLocalTime(SystemTime& out) { return Now(out, true); }

bool GetOSVersion(OSVersion& out) {
    struct utsname name;
    if (::uname(&name) != 0) return detail::Fail(errno);
    out.sysname = name.sysname;
    out.release = name.release;
    out.version = name.version;
    out.machine = name.machine;
    return true;
}

} // namespace kxplatform
