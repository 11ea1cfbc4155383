#include <atomic>
#include <mutex>

#include "platform/platform.h"
#include "platform/platform_backend.h"

namespace {

std::mutex hookMutex;
DebugOutputHook currentHook = nullptr;
void* currentHookContext = nullptr;
// Read on every port read and write, so without taking the lock.
std::atomic<bool> hookInstalled{false};
std::atomic<TickSource> currentTickSource{nullptr};
std::atomic<bool> realTimeTicks{true};

}  // namespace

void setDebugOutputHook(DebugOutputHook hook, void* context) {
    std::lock_guard<std::mutex> lock(hookMutex);
    currentHook = hook;
    currentHookContext = context;
    hookInstalled.store(hook != nullptr);
}

bool debugOutputListened() { return hookInstalled.load() || systemDebugOutputListened(); }

void debugOutput(const std::wstring& text) {
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        if (currentHook != nullptr) {
            currentHook(text, currentHookContext);
            return;
        }
    }
    systemDebugOutput(text);
}

void setTickSource(TickSource source, bool runsInRealTime) {
    realTimeTicks.store(source == nullptr || runsInRealTime);
    currentTickSource.store(source);
}

bool ticksRunInRealTime() { return realTimeTicks.load(); }

std::uint32_t tickCount() {
    TickSource source = currentTickSource.load();
    return source != nullptr ? source() : systemTickCount();
}
