#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "kxplatform_env.h"
#include "kxplatform_error.h"
#include "kxplatform_time.h"
#include "platform/platform_fixture.h"

using namespace kxplatform;
using kxtest::EnvGuard;

namespace {

int DayOfWeek(int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    ::timegm(&t);
    return t.tm_wday;
}

TEST(SystemTime, UtcMatchesTheClockWithMilliseconds) {
    SystemTime now;
    std::time_t before = std::time(nullptr);
    ASSERT_TRUE(GetSystemTimeUtc(now));
    std::time_t after = std::time(nullptr);
    std::tm parts{};
    parts.tm_year = now.year - 1900;
    parts.tm_mon = now.month - 1;
    parts.tm_mday = now.day;
    parts.tm_hour = now.hour;
    parts.tm_min = now.minute;
    parts.tm_sec = now.second;
    std::time_t seconds = ::timegm(&parts);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
    EXPECT_EQ(now.dayOfWeek, DayOfWeek(now.year, now.month, now.day));
}

TEST(SystemTime, LocalTimeFollowsTheTimeZone) {
    EnvGuard zone("TZ", "KXT-3");  // three hours east of UTC, no daylight saving
    for (int attempt = 0; attempt < 3; ++attempt) {
        SystemTime utc, local;
        ASSERT_TRUE(GetSystemTimeUtc(utc));
        ASSERT_TRUE(GetLocalTime(local));
        if (utc.minute != local.minute) continue;  // a minute boundary passed in between
        EXPECT_EQ(local.hour, (utc.hour + 3) % 24);
        EXPECT_EQ(local.dayOfWeek, DayOfWeek(local.year, local.month, local.day));
        return;
    }
    FAIL() << "minutes kept changing";
}

TEST(OSVersionText, NamesTheKernel) {
    OSVersion version;
    ASSERT_TRUE(GetOSVersion(version));
    EXPECT_EQ(version.sysname, "Linux");
    EXPECT_FALSE(version.release.empty());
    EXPECT_EQ(version.Text(), "Linux " + version.release);
}

TEST(Environment, GetEnvTellsUnsetFromEmpty) {
    {
        EnvGuard set("KX_TEST_VALUE", "a=b c");
        EXPECT_EQ(GetEnv("KX_TEST_VALUE"), std::optional<std::string>("a=b c"));
    }
    {
        EnvGuard empty("KX_TEST_VALUE", std::string());
        EXPECT_EQ(GetEnv("KX_TEST_VALUE"), std::optional<std::string>(""));
    }
    EnvGuard unset("KX_TEST_VALUE", std::nullopt);
    EXPECT_FALSE(GetEnv("KX_TEST_VALUE"));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(GetEnv("A=B"));
    EXPECT_EQ(GetLastError(), EINVAL);
}

TEST(Environment, UserConfigDirectory) {
    const struct {
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        std::string expected;
    } cases[] = {
        {"/cfg/here", "/home/reg", "/cfg/here/"},
        {"/cfg/here/", std::nullopt, "/cfg/here/"},
        {std::string(), "/home/reg", "/home/reg/.config/"},
        {"relative/cfg", "/home/reg", "/home/reg/.config/"},
        {std::nullopt, "/home/reg/", "/home/reg/.config/"},
    };
    for (const auto& c : cases) {
        EnvGuard xdg("XDG_CONFIG_HOME", c.xdg);
        EnvGuard home("HOME", c.home);
        EXPECT_EQ(UserConfigDirectory().value_or("?"), c.expected) << c.xdg.value_or("(unset)");
    }
    // Without HOME the password database still knows a home directory.
    EnvGuard xdg("XDG_CONFIG_HOME", std::nullopt);
    EnvGuard home("HOME", std::nullopt);
    std::optional<std::string> fallback = UserConfigDirectory();
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->substr(fallback->size() - 9), "/.config/");
}

} // namespace
