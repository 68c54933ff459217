// The Linux platform layer: files, temporary directory, errors, clocks and the install check.
#include <cerrno>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/orvane_platform.h"

namespace p = orvane::platform;

namespace {

TEST(PlatformFiles, WriteSeekReadAndDelete) {
    char directory[512];
    ASSERT_TRUE(p::GetTemporaryDirectory(directory, sizeof directory));
    ASSERT_EQ(directory[std::string(directory).size() - 1], '/');
    std::string name = std::string(directory) + "orvane_platform_" + std::to_string(getpid());
    p::FileHandle* file = p::OpenFile(name.c_str(), p::OpenMode::WriteTruncate);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(p::WriteFile(file, "hello world", 11), 11);
    EXPECT_EQ(p::SeekFile(file, 6, p::SeekOrigin::Start), 6);
    EXPECT_EQ(p::WriteFile(file, "W", 1), 1);
    EXPECT_EQ(p::GetFileSize(file), 11);
    p::CloseFile(file);

    file = p::OpenFile(name.c_str(), p::OpenMode::Read);
    ASSERT_NE(file, nullptr);
    char buffer[32] = {};
    EXPECT_EQ(p::ReadFile(file, buffer, sizeof buffer), 11);
    EXPECT_STREQ(buffer, "hello World");
    EXPECT_EQ(p::ReadFile(file, buffer, 4), 0);  // at the end
    EXPECT_EQ(p::SeekFile(file, -5, p::SeekOrigin::End), 6);
    p::CloseFile(file);

    EXPECT_TRUE(p::DeleteFile(name.c_str()));
    EXPECT_FALSE(p::DeleteFile(name.c_str()));
    EXPECT_EQ(p::OpenFile(name.c_str(), p::OpenMode::Read), nullptr);
    char text[256];
    p::ErrorText(p::LastError(), text, sizeof text);
    EXPECT_STREQ(text, "No such file or directory");
    EXPECT_EQ(p::OpenFile("/", p::OpenMode::Read), nullptr);  // directories are not files
}

TEST(PlatformFiles, ErrorTextIsAlwaysTerminated) {
    char text[5];
    p::ErrorText(ENOENT, text, sizeof text);
    EXPECT_STREQ(text, "No s");
}

TEST(PlatformFiles, TemporaryDirectoryHonoursTmpdirAndSize) {
    char buffer[8];
    const char* saved = getenv("TMPDIR");
    std::string keep = saved ? saved : "";
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_FALSE(p::GetTemporaryDirectory(buffer, 9 - 1));  // "/var/tmp/" needs 10 bytes
    char big[64];
    EXPECT_TRUE(p::GetTemporaryDirectory(big, sizeof big));
    EXPECT_STREQ(big, "/var/tmp/");
    if (saved) {
        setenv("TMPDIR", keep.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

TEST(PlatformClocks, AdvanceAndSleep) {
    int64_t a = p::MonotonicNanoseconds();
    uint64_t ta = p::ReadTimeStampCounter();
    p::SleepMilliseconds(5);
    EXPECT_GE(p::MonotonicNanoseconds() - a, 5000000);
    EXPECT_GT(p::ReadTimeStampCounter(), ta);
#if defined(__x86_64__)
    EXPECT_TRUE(p::ProcessorHasSSE());
#endif
}

// The tick counter's rate: measured (0) where it is the processor's time-stamp counter, else
// the nanoseconds of the monotonic clock, which the counter must then follow.
TEST(PlatformClocks, AKnownCounterRateIsTheMonotonicClocks) {
    const double rate = p::TimeStampTicksPerSecond();
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(rate, 0.0);
#else
    ASSERT_EQ(rate, 1.0e9);
    const uint64_t t0 = p::ReadTimeStampCounter();
    const int64_t n0 = p::MonotonicNanoseconds();
    p::SleepMilliseconds(20);
    const uint64_t t1 = p::ReadTimeStampCounter();
    const int64_t n1 = p::MonotonicNanoseconds();
    EXPECT_NEAR(double(t1 - t0), double(n1 - n0), 1.0e6);  // within a millisecond
#endif
}

// The millisecond tick follows the monotonic clock (on systems without a coarse clock too).
TEST(PlatformClocks, TicksFollowTheMonotonicClock) {
    const uint32_t t0 = p::TickMilliseconds();
    const int64_t n0 = p::MonotonicNanoseconds();
    p::SleepMilliseconds(30);
    const uint32_t t1 = p::TickMilliseconds();
    const int64_t n1 = p::MonotonicNanoseconds();
    const double ticks = double(uint32_t(t1 - t0)), nanoseconds = double(n1 - n0) / 1.0e6;
    EXPECT_GE(ticks, 25.0);
    EXPECT_LE(ticks, nanoseconds + 10.0);  // the coarse clock lags by at most a few ms
}

TEST(InstallCheck, RefusesSystemDirectoriesWithFoldedPrefixes) {
    const char* const directories[] = {"C:\\Windows", "C:\\Windows\\System32", nullptr};
    char message[1024];
    EXPECT_TRUE(p::IsInstalledInSystemDirectory("c:\\WINDOWS\\system32\\orvane.dll", directories,
                                                message, sizeof message));
    EXPECT_STREQ(message,
                 "orvane.dll has been incorrectly installed as c:\\WINDOWS\\system32\\orvane.dll.  "
                 "To avoid versioning problems, orvane.dll must always be installed in an "
                 "application-specific directory, and never in a system directory.");
    // No separator check: a sibling folder sharing the prefix counts too.
    EXPECT_TRUE(p::IsInstalledInSystemDirectory("C:\\WindowsApps\\orvane.dll", directories, message,
                                                sizeof message));
    EXPECT_FALSE(p::IsInstalledInSystemDirectory("D:\\Game\\orvane.dll", directories, message,
                                                 sizeof message));
    // On Linux no directory is refused.
    EXPECT_FALSE(p::IsInstalledInSystemDirectory("/usr/lib/liborvane.so.2", p::SystemDirectories(),
                                                 message, sizeof message));
}

}  // namespace
