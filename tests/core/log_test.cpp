// Messages, filters, the log file, and the formatter's own rules.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "core/orvane_log.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

std::string Format(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    orvane::FormatTextV(sizeof buffer, buffer, format, args);
    va_end(args);
    return buffer;
}

TEST(FormatText, IntegersIgnoreWidthsAndFlags) {
    EXPECT_EQ(Format("%d", -42), "-42");
    EXPECT_EQ(Format("%i", INT32_MIN), "-2147483648");
    EXPECT_EQ(Format("%u", 4000000000u), "4000000000");
    EXPECT_EQ(Format("%x", 255), "ff");
    EXPECT_EQ(Format("%X", 255), "FF");
    EXPECT_EQ(Format("%o", 8), "10");
    EXPECT_EQ(Format("%5d", 3), "3");
    EXPECT_EQ(Format("0x%08x", 255), "0xff");
    EXPECT_EQ(Format("%-+ #0d", 7), "7");
    EXPECT_EQ(Format("%*d", 12, 9), "9");  // the star consumes its argument
}

TEST(FormatText, StringsCharactersAndOtherConversions) {
    EXPECT_EQ(Format("%s|%s", "abc", static_cast<const char*>(nullptr)), "abc|");
    EXPECT_EQ(Format("%l", 3, "abcdef"), "abc");
    EXPECT_EQ(Format("%l", 10, "ab"), "ab");
    EXPECT_EQ(Format("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(Format("%%|%q"), "%|q");
    EXPECT_EQ(Format("a%eb%Gc"), "abc");  // write nothing, take nothing
    EXPECT_EQ(Format("end%"), "end");
    int32_t count = -1;
    EXPECT_EQ(Format("abc%nd", &count), "abcd");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Format("0x%p", reinterpret_cast<void*>(uintptr_t{0x7f12345678ab})), "0x7f12345678ab");
}

TEST(FormatText, RealsAreCutNotRounded) {
    EXPECT_EQ(Format("%f", 1.5), "1.500000");
    EXPECT_EQ(Format("%.2f", -0.25), "-0.25");
    EXPECT_EQ(Format("%.0f", 0.0), "0.");
    EXPECT_EQ(Format("%.0f", 5.0), "5.");
    EXPECT_EQ(Format("%.3f", -0.0), "0.000");
    EXPECT_EQ(Format("%.2f", 2.999), "2.99");
    EXPECT_EQ(Format("%.1f", 1234.5), "1234.5");
    EXPECT_EQ(Format("%f", HUGE_VAL), "(infinity)");
    EXPECT_EQ(Format("%f", -HUGE_VAL), "-(infinity)");
    EXPECT_EQ(Format("%f", std::nan("")), "(qnan)");
}

// Every integer digit comes from the value itself: a double close below a multiple of ten, or
// with more digits than single precision holds, keeps its own digits.
TEST(FormatText, RealsKeepTheirIntegerDigits) {
    EXPECT_EQ(Format("%f", 9.9999999), "9.999999");
    EXPECT_EQ(Format("%.2f", 19.99999999), "19.99");
    EXPECT_EQ(Format("%.1f", 16777217.0), "16777217.0");
    EXPECT_EQ(Format("%.0f", 123456789.0), "123456789.");
    EXPECT_EQ(Format("%.1f", -2999.96), "-2999.9");
    // Values read from 32-bit reals print as before.
    EXPECT_EQ(Format("%.3f", static_cast<double>(1234.5f)), "1234.500");
    EXPECT_EQ(Format("%.0f", static_cast<double>(16777216.0f)), "16777216.");
}

TEST(FormatText, TruncatesAndAlwaysTerminates) {
    char buffer[8];
    EXPECT_EQ(orvane::FormatText(8, buffer, "%s", "abcdefghij"), 7);
    EXPECT_STREQ(buffer, "abcdefg");
    // A number cut in the middle keeps its lowest digits.
    EXPECT_EQ(orvane::FormatText(8, buffer, "abcde%d", 12345), 7);
    EXPECT_STREQ(buffer, "abcde45");
    // Arguments after the cut are still consumed in order.
    int32_t count = -1;
    EXPECT_EQ(orvane::FormatText(4, buffer, "%d%d%n", 1111, 2, &count), 3);
    EXPECT_EQ(count, 3);
    buffer[0] = 'x';
    EXPECT_EQ(orvane::FormatText(0, buffer, "abc"), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(orvane::FormatText(1, buffer, "abc"), 0);
    EXPECT_EQ(buffer[0], '\0');
}

class MostSerious : public ::testing::Test {
protected:
    void SetUp() override { OrvaneClearMostSeriousMessage(); }
    void TearDown() override {
        OrvaneFilterAllMessages(true);
        OrvaneClearMostSeriousMessage();
    }
};

TEST_F(MostSerious, RecordsTheFirstMessageOfTheHighestType) {
    ASSERT_FALSE(OrvaneLogging());
    orvane::LogMessage(OrvaneIgnoredMessage, OrvaneMemoryOrigin, "ignored");
    EXPECT_EQ(OrvaneGetMostSeriousMessageType(), OrvaneIgnoredMessage);
    EXPECT_STREQ(OrvaneGetMostSeriousMessage(), "");
    orvane::LogMessage(OrvaneWarningMessage, OrvaneMemoryOrigin, "warning %d", 1);
    EXPECT_STREQ(OrvaneGetMostSeriousMessage(), "warning 1");
    orvane::LogMessage(OrvaneErrorMessage, OrvaneMemoryOrigin, "error %d", 1);
    orvane::LogMessage(OrvaneErrorMessage, OrvaneMemoryOrigin, "error %d", 2);
    orvane::LogMessage(OrvaneWarningMessage, OrvaneMemoryOrigin, "warning %d", 2);
    EXPECT_EQ(OrvaneGetMostSeriousMessageType(), OrvaneErrorMessage);
    EXPECT_STREQ(OrvaneGetMostSeriousMessage(), "error 1");
    OrvaneClearMostSeriousMessage();
    EXPECT_EQ(OrvaneGetMostSeriousMessageType(), OrvaneIgnoredMessage);
}

TEST_F(MostSerious, FilteredOriginsAreRecordedButNotOutput) {
    LogCapture log;
    OrvaneFilterMessage(OrvaneStringOrigin, false);
    ORVANE_LOG_ERROR(OrvaneStringOrigin, "filtered %d", 5);
    ORVANE_LOG_WARNING(OrvaneMemoryOrigin, "passes");
    EXPECT_EQ(OrvaneGetMostSeriousMessageType(), OrvaneErrorMessage);
    EXPECT_NE(std::string(OrvaneGetMostSeriousMessage()).find("): filtered 5"), std::string::npos);
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].origin, OrvaneMemoryOrigin);
    OrvaneFilterAllMessages(false);
    ORVANE_LOG_WARNING(OrvaneMemoryOrigin, "dropped");
    EXPECT_EQ(log.messages().size(), 1u);
}

TEST_F(MostSerious, MessagesNameTheirModuleAndLine) {
    LogCapture log;
    int line = __LINE__ + 1;
    ORVANE_LOG_WARNING(OrvaneMemoryOrigin, "value %d", 7);
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].text, "log_test.cpp(" + std::to_string(line) + "): value 7");
}

TEST_F(MostSerious, OnceOnlyWarningsAppearOnce) {
    LogCapture log;
    for (int i = 0; i < 3; ++i) {
        ORVANE_LOG_WARNING_ONCE(OrvaneMemoryOrigin,
                                "repeated (this message will only appear once)");
    }
    EXPECT_EQ(log.warnings(), 1u);
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(LogFile, AppendsEachMessageWithALineFeed) {
    std::string name = ::testing::TempDir() + "orvane_log_" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream existing(name);
        existing << "old contents\n";
    }
    ASSERT_TRUE(OrvaneSetLogFileName(name.c_str(), false));
    EXPECT_TRUE(OrvaneLogging());
    EXPECT_EQ(ReadFile(name), "old contents\n");
    ASSERT_TRUE(OrvaneSetLogFileName(name.c_str(), true));
    EXPECT_EQ(ReadFile(name), "");
    orvane::LogMessage(OrvaneWarningMessage, OrvaneMemoryOrigin, "first");
    orvane::LogMessage(OrvaneErrorMessage, OrvaneMemoryOrigin, "second");
    EXPECT_EQ(ReadFile(name), "first\nsecond\n");
    EXPECT_TRUE(OrvaneSetLogFileName(nullptr, true));
    EXPECT_FALSE(OrvaneLogging());
    orvane::LogMessage(OrvaneErrorMessage, OrvaneMemoryOrigin, "third");
    EXPECT_EQ(ReadFile(name), "first\nsecond\n");
    EXPECT_FALSE(OrvaneSetLogFileName("/nonexistent-dir/orvane.log", true));
    EXPECT_TRUE(OrvaneLogging());  // the name stays set
    EXPECT_TRUE(OrvaneSetLogFileName("", false));
    EXPECT_FALSE(OrvaneLogging());
    OrvaneClearMostSeriousMessage();
    std::remove(name.c_str());
}

TEST(LogCallback, GetsItsOwnTextWhenTheLogFileCannotBeOpened) {
    // The log file's platform warning is logged while the message is being output; the
    // message that follows it to the callback must still be the one that was logged.
    LogCapture log;
    EXPECT_FALSE(OrvaneSetLogFileName("/nonexistent-dir/orvane.log", false));
    log.Clear();
    orvane::LogMessage(OrvaneNoteMessage, OrvaneCurveOrigin, "the note %d", 17);
    EXPECT_TRUE(OrvaneSetLogFileName(nullptr, false));
    ASSERT_FALSE(log.messages().empty());
    const auto& last = log.messages().back();
    EXPECT_EQ(last.type, OrvaneNoteMessage);
    EXPECT_EQ(last.origin, OrvaneCurveOrigin);
    EXPECT_EQ(last.text, "the note 17");
    // The platform warning reached the callback on its own, before the note.
    ASSERT_EQ(log.messages().size(), 2u);
    EXPECT_EQ(log.messages()[0].origin, OrvanePlatformOrigin);
    EXPECT_NE(log.messages()[0].text.find("CreateFile failed"), std::string::npos);
}

struct NestingState {
    std::vector<std::string> texts;
    bool nested = false;
};

TEST(LogCallback, TextStaysValidWhileTheCallbackLogs) {
    NestingState state;
    orvane_log_callback callback = {
        [](orvane_log_message_type, orvane_log_message_origin, const char* text, void* user) {
            auto* s = static_cast<NestingState*>(user);
            if (!s->nested) {
                s->nested = true;
                orvane::LogMessage(OrvaneNoteMessage, OrvaneMemoryOrigin, "inner");
            }
            s->texts.push_back(text);
        },
        &state};
    orvane_log_callback previous = OrvaneGetLogCallback();
    OrvaneSetLogCallback(&callback);
    orvane::LogMessage(OrvaneNoteMessage, OrvaneMemoryOrigin, "outer");
    OrvaneSetLogCallback(&previous);
    OrvaneClearMostSeriousMessage();
    ASSERT_EQ(state.texts.size(), 2u);
    EXPECT_EQ(state.texts[0], "inner");
    EXPECT_EQ(state.texts[1], "outer");
}

// A callback that logs on every call is cut off after a few nested levels instead of
// recursing until the stack runs out; every level still gets its own text.
TEST(LogCallback, ACallbackThatAlwaysLogsEnds) {
    std::vector<std::string> texts;
    orvane_log_callback callback = {
        [](orvane_log_message_type, orvane_log_message_origin, const char* text, void* user) {
            auto* received = static_cast<std::vector<std::string>*>(user);
            orvane::LogMessage(OrvaneNoteMessage, OrvaneMemoryOrigin, "level %d",
                               static_cast<int>(received->size()));
            received->push_back(text);
        },
        &texts};
    orvane_log_callback previous = OrvaneGetLogCallback();
    OrvaneSetLogCallback(&callback);
    orvane::LogMessage(OrvaneNoteMessage, OrvaneMemoryOrigin, "outer");
    OrvaneSetLogCallback(&previous);
    OrvaneClearMostSeriousMessage();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_LT(texts.size(), 100u);
    EXPECT_EQ(texts.front(), "level 0");  // the innermost message is delivered first
    EXPECT_EQ(texts.back(), "outer");
}

TEST(LogCallback, IsCopiedAndReturned) {
    int calls = 0;
    orvane_log_callback callback = {[](orvane_log_message_type, orvane_log_message_origin,
                                       const char*, void* user) { ++*static_cast<int*>(user); },
                                    &calls};
    OrvaneSetLogCallback(&callback);
    orvane_log_callback got = OrvaneGetLogCallback();
    EXPECT_EQ(got.Function, callback.Function);
    EXPECT_EQ(got.UserData, &calls);
    orvane::LogMessage(OrvaneNoteMessage, OrvaneMemoryOrigin, "note");
    OrvaneSetLogCallback(nullptr);
    orvane::LogMessage(OrvaneNoteMessage, OrvaneMemoryOrigin, "note");
    EXPECT_EQ(calls, 1);
    OrvaneClearMostSeriousMessage();
}

// A callback installed or removed while another thread logs: every message reaches one whole
// callback, its function always with its own user data.
struct Receiver {
    std::atomic<int> calls{0};
    std::atomic<int> mismatches{0};
};
Receiver g_firstReceiver, g_secondReceiver;

void ReceiveFirst(orvane_log_message_type, orvane_log_message_origin, const char*, void* user) {
    ++g_firstReceiver.calls;
    if (user != &g_firstReceiver) ++g_firstReceiver.mismatches;
}

void ReceiveSecond(orvane_log_message_type, orvane_log_message_origin, const char*, void* user) {
    ++g_secondReceiver.calls;
    if (user != &g_secondReceiver) ++g_secondReceiver.mismatches;
}

TEST(LogThreads, CallbacksChangeWhileAnotherThreadLogs) {
    orvane_log_callback previous = OrvaneGetLogCallback();
    const orvane_log_callback first = {&ReceiveFirst, &g_firstReceiver};
    const orvane_log_callback second = {&ReceiveSecond, &g_secondReceiver};
    std::atomic<bool> done{false};
    std::thread logger([&done] {
        for (int i = 0; i < 3000; ++i)
            orvane::LogMessage(OrvaneNoteMessage, OrvaneMemoryOrigin, "message %d", i);
        done = true;
    });
    for (int i = 0; !done; ++i)
        OrvaneSetLogCallback(i % 3 == 0 ? &first : i % 3 == 1 ? &second : nullptr);
    logger.join();
    OrvaneSetLogCallback(&previous);
    OrvaneClearMostSeriousMessage();
    EXPECT_EQ(g_firstReceiver.mismatches, 0);
    EXPECT_EQ(g_secondReceiver.mismatches, 0);
    EXPECT_LE(g_firstReceiver.calls + g_secondReceiver.calls, 3000);
}

TEST(LogThreads, ConcurrentMessagesArriveWhole) {
    LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i)
                orvane::LogMessage(OrvaneWarningMessage, OrvaneMemoryOrigin, "thread %d message %d",
                                   t, i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    ASSERT_EQ(log.messages().size(), 2000u);
    for (const auto& m : log.messages())
        EXPECT_EQ(m.text.rfind("thread ", 0), 0u);
}

}  // namespace
