#include "gui_session.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "window_probe.h"

namespace gui {

const wchar_t* const kNoDeviceMessage = L"The comport is wrong or the device is off. \n";
const wchar_t* const kCheckCableMessage = L"check cable.\n";
const wchar_t* const kNoImageMessage = L"No image is loaded. \nLoad a binary file first.\n";

namespace {

int failureCount = 0;
std::wstring screenshotScript;
// The Quorvel process of the running session, for the watchdog.
std::atomic<HANDLE> runningQuorvel{nullptr};
DWORD watchdogLimitMs = 0;

DWORD WINAPI watchdog(LPVOID) {
    Sleep(watchdogLimitMs);
    std::printf("FAIL the scenario did not end within %lu ms\n", watchdogLimitMs);
    std::fflush(stdout);
    HANDLE process = runningQuorvel.load();
    if (process != nullptr) TerminateProcess(process, 3);
    ExitProcess(3);
}

// The about box's Korean texts are set in the Korean dialog font, Gulim, which a
// Wine prefix lacks: alias it to Nanum Gothic (fonts-nanum) unless the prefix
// already names a replacement. Wine reads the aliases when a program starts.
void provideKoreanDialogFont() {
    HKEY replacements = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Fonts\\Replacements", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &replacements,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    if (RegQueryValueExW(replacements, L"Gulim", nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
        const wchar_t font[] = L"NanumGothic";
        RegSetValueExW(replacements, L"Gulim", 0, REG_SZ, reinterpret_cast<const BYTE*>(font),
                       sizeof font);
    }
    RegCloseKey(replacements);
}

}  // namespace

int failures() { return failureCount; }

void report(bool ok, const std::string& what, const std::string& detail) {
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
    if (!ok) ++failureCount;
}

bool check(bool condition, const std::string& what) {
    report(condition, what);
    return condition;
}

bool checkText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
    const bool ok = actual == expected;
    report(
        ok, what,
        ok ? "" : "got \"" + utf8FromWide(actual) + "\", want \"" + utf8FromWide(expected) + "\"");
    return ok;
}

void note(const std::string& text) {
    std::printf("note %s\n", text.c_str());
    std::fflush(stdout);
}

std::wstring windowsPath(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return path;
    std::wstring converted = L"Z:" + path;
    std::replace(converted.begin(), converted.end(), L'/', L'\\');
    return converted;
}

std::wstring environment(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value != nullptr ? value : L"";
}

QuorvelSession::QuorvelSession(const std::wstring& exe, const std::wstring& desktopName) {
    provideKoreanDialogFont();
    std::wstring command = L"explorer.exe /desktop=" + desktopName + L"," +
                           std::to_wstring(kDesktopWidth) + L"x" + std::to_wstring(kDesktopHeight) +
                           L" \"" + windowsPath(exe) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &explorer_)) {
        report(false, "start explorer with Quorvel", std::to_string(GetLastError()));
        return;
    }
    HDESK desktop = nullptr;
    probe::waitUntil(
        [&] {
            desktop = OpenDesktopW(desktopName.c_str(), 0, FALSE, GENERIC_ALL);
            return desktop != nullptr;
        },
        kStartTimeoutMs);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) {
        report(false, "reach Quorvel's desktop", std::to_string(GetLastError()));
        return;
    }
    dialog_ = probe::waitForDialog(0, L"DOWNLOAD 4.0", kStartTimeoutMs);
    if (!check(dialog_ != nullptr, "main dialog appears with caption \"DOWNLOAD 4.0\"")) return;
    GetWindowThreadProcessId(dialog_, &processId_);
    process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                           FALSE, processId_);
    runningQuorvel = process_;
    // Initialisation ends with the area applied.
    check(probe::waitUntil([&] { return !probe::itemText(dialog_, IDC_AREA_ADDRESS).empty(); },
                           kStepTimeoutMs),
          "dialog initialised");
}

QuorvelSession::~QuorvelSession() {
    if (process_ != nullptr) {
        if (running()) {
            PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
            // A download still running makes the dialog ask first.
            if (!waitForExit(2000)) {
                HWND question = probe::waitForOwnedDialog(dialog_, 1000);
                if (question != nullptr) PostMessageW(question, WM_COMMAND, IDYES, 0);
            }
            if (!waitForExit(kStepTimeoutMs)) {
                report(false, "Quorvel ends when its dialog is cancelled");
                terminate();
            }
        }
        runningQuorvel = nullptr;
        CloseHandle(process_);
    }
    if (explorer_.hProcess != nullptr) {
        // The desktop goes when its last program has ended; don't wait forever.
        if (WaitForSingleObject(explorer_.hProcess, 5000) == WAIT_TIMEOUT) {
            TerminateProcess(explorer_.hProcess, 0);
        }
        CloseHandle(explorer_.hProcess);
        CloseHandle(explorer_.hThread);
    }
}

bool QuorvelSession::running() const { return !waitForExit(0); }

bool QuorvelSession::waitForExit(DWORD timeoutMs) const {
    return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD QuorvelSession::exitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
}

void QuorvelSession::terminate() const {
    if (process_ != nullptr) TerminateProcess(process_, 3);
}

void startWatchdog(DWORD limitMs) {
    watchdogLimitMs = limitMs;
    CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
}

void setScreenshotScript(const std::wstring& script) { screenshotScript = script; }

// The helper script (ImageMagick) runs as a Unix program, which Wine starts.
Screenshot Screenshot::start(const std::wstring& name) {
    Screenshot shot;
    shot.name_ = name;
    const std::wstring folder = environment(L"QUORVEL_ARTIFACTS");
    if (folder.empty() || screenshotScript.empty()) {
        note("no screenshot " + utf8FromWide(name) +
             ": QUORVEL_ARTIFACTS or the script is not given");
        return shot;
    }
    const std::wstring output = windowsPath(folder + L"/" + name + L".png");
    DeleteFileW(output.c_str());
    std::wstring command = L"Z:\\bin\\sh " + screenshotScript + L" " + folder + L"/" + name +
                           L".png " + std::to_wstring(kDesktopWidth) + L"x" +
                           std::to_wstring(kDesktopHeight);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper{};
    if (!CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &helper)) {
        report(false, "run the screenshot script", std::to_string(GetLastError()));
        return shot;
    }
    CloseHandle(helper.hThread);
    CloseHandle(helper.hProcess);
    shot.output_ = output;
    return shot;
}

void Screenshot::finish() const {
    if (output_.empty()) return;
    // The script renames the finished picture into place.
    check(
        probe::waitUntil(
            [&] { return GetFileAttributesW(output_.c_str()) != INVALID_FILE_ATTRIBUTES; }, 15000),
        "screenshot " + utf8FromWide(name_) + ".png saved");
}

void screenshot(const std::wstring& name) {
    Sleep(700);  // let the last repaint reach the screen
    Screenshot::start(name).finish();
}

void click(HWND dialog, int id) { PostMessageW(probe::item(dialog, id), BM_CLICK, 0, 0); }

void notify(HWND dialog, int id, WORD code) {
    probe::send(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                reinterpret_cast<LPARAM>(probe::item(dialog, id)));
}

bool selectPort(HWND dialog, const std::wstring& name) {
    HWND portList = probe::item(dialog, IDC_PORT_LIST);
    const std::ptrdiff_t index = indexOf(probe::comboItems(portList), name);
    if (index < 0) return false;
    probe::send(portList, CB_SETCURSEL, static_cast<WPARAM>(index));
    notify(dialog, IDC_PORT_LIST, CBN_SELCHANGE);
    return true;
}

bool answerMessageBox(HWND dialog, const std::wstring& text, bool withIcon, DWORD timeoutMs) {
    HWND box = probe::waitForOwnedDialog(dialog, timeoutMs);
    if (!check(box != nullptr, "message box \"" + utf8FromWide(text) + "\" appears")) return false;
    // A box can be visible a moment before its texts are set.
    probe::waitUntil([&] { return !probe::itemText(box, kMessageText).empty(); }, kStepTimeoutMs);
    checkText(probe::text(box), L"Quorvel", "message box caption");
    checkText(probe::itemText(box, kMessageText), text, "message box text");
    // Wine keeps the icon control in every box; it holds an icon only when asked for.
    HWND icon = probe::item(box, kMessageIcon);
    const bool hasIcon =
        icon != nullptr && IsWindowVisible(icon) && probe::send(icon, STM_GETICON) != 0;
    check(hasIcon == withIcon,
          withIcon ? "message box shows the information icon" : "message box shows no icon");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return check(probe::waitForClosed(box, kStepTimeoutMs), "OK closes the message box");
}

bool chooseFile(const QuorvelSession& session, const std::wstring& path) {
    HWND dialog = session.dialog();
    click(dialog, IDC_LOAD_BINARY_FILE);
    HWND open = probe::waitForDialog(session.processId(), L"Open", kStepTimeoutMs);
    if (!check(open != nullptr, "the open-file dialog appears")) return false;
    HWND filter = probe::item(open, kOpenFilter);
    const std::vector<std::wstring> filters = probe::comboItems(filter);
    check(filters.size() == 2 && probe::comboSelection(filter) == 0 && filters[0] == L"Binary" &&
              filters[1] == L"All",
          "open-file filters Binary and All, Binary preselected");
    if (path.empty()) {
        PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
        return check(probe::waitForClosed(open, kStepTimeoutMs), "open-file dialog cancelled");
    }
    return check(probe::confirmOpenFile(open, path, kStepTimeoutMs), "open-file dialog confirmed");
}

bool noMessageBoxFor(HWND dialog, DWORD forMs) {
    return probe::waitForOwnedDialog(dialog, forMs) == nullptr;
}

std::vector<std::wstring> presentPorts() {
    std::vector<std::wstring> names;
    constexpr int kHighestPort = 254;        // as the dialog's port list looks
    constexpr DWORD kTargetCapacity = 1000;  // the target itself is not used
    wchar_t target[kTargetCapacity];
    for (int number = 0; number <= kHighestPort; ++number) {
        const std::wstring name = L"COM" + std::to_wstring(number);
        if (QueryDosDeviceW(name.c_str(), target, kTargetCapacity) != 0) names.push_back(name);
    }
    return names;
}

std::ptrdiff_t indexOf(const std::vector<std::wstring>& items, const std::wstring& name) {
    const auto found = std::find(items.begin(), items.end(), name);
    return found == items.end() ? -1 : found - items.begin();
}

}  // namespace gui
