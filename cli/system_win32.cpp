// Windows: arguments come from the wide command line; Ctrl-C and the closing
// console window through the console control handler; the byte trace goes to
// the debugger output.
#include <windows.h>
// After windows.h, which it needs.
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "cli/system.h"

namespace {

constexpr int kDefaultColumns = 80;

// The system ends a process about 5 s after its console window was closed;
// the handler gives the ports' threads and the results this much of it.
constexpr DWORD kCloseWaitMs = 4500;

std::atomic<bool>* interruptFlag = nullptr;
std::atomic<bool>* hangUpFlag = nullptr;
// Set (manual reset) once the results are out.
HANDLE resultsOut = nullptr;

BOOL WINAPI onConsoleControl(DWORD event) {
    const bool ending =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !ending) return FALSE;
    std::atomic<bool>* flag = ending && hangUpFlag != nullptr ? hangUpFlag : interruptFlag;
    if (flag != nullptr) flag->store(true);
    // After these events the process ends as soon as the handler returns:
    // hold it until the ports are closed and the results recorded and printed.
    if (ending && resultsOut != nullptr) WaitForSingleObject(resultsOut, kCloseWaitMs);
    return TRUE;
}

}  // namespace

std::vector<std::string> commandArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool errorStreamIsTerminal() {
    // Lines are redrawn with escape sequences, which a console takes once asked to.
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return false;
    return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int errorStreamColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return kDefaultColumns;
    // The visible window, which may be narrower than the buffer lines wrap at.
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : kDefaultColumns;
}

// The trace goes to the debugger output here, never into the console.
void divertErrorStreamTrace(TraceSink, void*) {}

void setOnInterrupt(std::atomic<bool>& flag, std::atomic<bool>* hangUp) {
    interruptFlag = &flag;
    hangUpFlag = hangUp;
    if (resultsOut == nullptr) resultsOut = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void interruptHandled() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (resultsOut != nullptr) SetEvent(resultsOut);
}

// COMn and \\.\COMn are the system's own names.
std::string portNameProblem(const std::string&) { return std::string(); }
