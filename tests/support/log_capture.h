// Captures the library's messages for the lifetime of a scope.
#ifndef ORVANE_TESTS_LOG_CAPTURE_H
#define ORVANE_TESTS_LOG_CAPTURE_H

#include <string>
#include <vector>

#include "orvane/core.h"

namespace orvane_test {

struct CapturedMessage {
    orvane_log_message_type type;
    orvane_log_message_origin origin;
    std::string text;
};

class LogCapture {
public:
    LogCapture() {
        previous_ = OrvaneGetLogCallback();
        orvane_log_callback callback = {&LogCapture::Receive, this};
        OrvaneSetLogCallback(&callback);
        OrvaneClearMostSeriousMessage();
    }
    ~LogCapture() {
        OrvaneSetLogCallback(&previous_);
        OrvaneClearMostSeriousMessage();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<CapturedMessage>& messages() const { return messages_; }
    size_t Count(orvane_log_message_type type) const {
        size_t n = 0;
        for (const auto& m : messages_)
            n += m.type == type;
        return n;
    }
    size_t errors() const { return Count(OrvaneErrorMessage); }
    size_t warnings() const { return Count(OrvaneWarningMessage); }
    bool Contains(const std::string& fragment) const {
        for (const auto& m : messages_)
            if (m.text.find(fragment) != std::string::npos) return true;
        return false;
    }
    void Clear() { messages_.clear(); }

private:
    static void Receive(orvane_log_message_type type, orvane_log_message_origin origin,
                        const char* text, void* self) {
        static_cast<LogCapture*>(self)->messages_.push_back({type, origin, text});
    }
    orvane_log_callback previous_;
    std::vector<CapturedMessage> messages_;
};

}  // namespace orvane_test

#endif  // ORVANE_TESTS_LOG_CAPTURE_H
