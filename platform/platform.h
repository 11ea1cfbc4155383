// The few operating-system services the layers above need besides the port:
// a millisecond tick count, a pause and the debugger output channel.
#pragma once

#include <cstdint>
#include <string>

// Milliseconds since an arbitrary start, wrapping after 2^32 ms (about 49.7 days).
// Deadlines must therefore be compared through unsigned differences.
std::uint32_t tickCount();

void sleepMilliseconds(std::uint32_t milliseconds);

// Sends one line of text to the debugger output channel (or to a capture hook).
void debugOutput(const std::wstring& text);

// True when a line sent now would reach someone: a capture hook, an attached
// debugger or a debug-output viewer on Windows, QUORVEL_TRACE on Linux. Callers
// skip formatting their trace lines otherwise, which is most of the trace's cost.
bool debugOutputListened();

// Tests capture the debugger output by installing a hook; nullptr restores the
// normal channel. The hook may be called from any thread.
using DebugOutputHook = void (*)(const std::wstring& text, void* context);
void setDebugOutputHook(DebugOutputHook hook, void* context);

// Tests replace the tick source to check behaviour across the counter's wrap;
// nullptr restores the real clock. A source that keeps pace with real time
// (an offset clock) says so, and waits keep blocking in the operating system.
using TickSource = std::uint32_t (*)();
void setTickSource(TickSource source, bool runsInRealTime = false);
// False while a tick source runs on time of its own, which the operating system
// cannot wait for: waits for device bytes then poll instead of blocking.
bool ticksRunInRealTime();

// Elapsed milliseconds from start to now, correct across the counter's wrap.
inline std::uint32_t ticksSince(std::uint32_t start) { return tickCount() - start; }
