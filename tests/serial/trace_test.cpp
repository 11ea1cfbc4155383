#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "serial/serial_port.h"

namespace {

struct TraceCapture {
    std::vector<std::wstring> lines;
    TraceCapture() {
        setDebugOutputHook(
            [](const std::wstring& text, void* self) {
                static_cast<TraceCapture*>(self)->lines.push_back(text);
            },
            this);
    }
    ~TraceCapture() { setDebugOutputHook(nullptr, nullptr); }
};

TEST(TraceBytes, FormatsRunsOfSixteenBytesPerLine) {
    std::vector<unsigned char> bytes(17);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(0xF0 + i);

    TraceCapture sixteen;
    traceBytes(kWriteTracePrefix, bytes.data(), 16);
    ASSERT_EQ(sixteen.lines.size(), 1u);
    EXPECT_EQ(sixteen.lines[0], L"Tx : f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff \n");

    TraceCapture seventeen;
    traceBytes(kReadTracePrefix, bytes.data(), 17);
    ASSERT_EQ(seventeen.lines.size(), 2u);
    EXPECT_EQ(seventeen.lines[1], L"Rx : 00 \n");
}

TEST(TraceBytes, ShortRunAndEmptyRun) {
    TraceCapture capture;
    const unsigned char reply[] = {0x7E, 0x72, 0x76};
    traceBytes(kReadTracePrefix, reply, 0);
    EXPECT_TRUE(capture.lines.empty());
    traceBytes(kReadTracePrefix, reply, sizeof reply);
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0], L"Rx : 7e 72 76 \n");
}

}  // namespace
