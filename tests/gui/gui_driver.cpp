// Drives the real Quorvel.exe through window messages, one scenario per run:
//   gui_driver --scenario startup|about|openfile [--screenshot-script PATH] QUORVEL_EXE
// Quorvel runs on a Wine virtual desktop of its own (so its caption is drawn);
// screenshots go to $QUORVEL_ARTIFACTS when it is set. Exit code 0 = passed.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_files.h"
#include "window_probe.h"

namespace {

constexpr int kDesktopWidth = 800;
constexpr int kDesktopHeight = 600;
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kStepTimeoutMs = 10000;

// Control ids of the main dialog.
constexpr int kDownload = 1000;
constexpr int kAreaList = 1001;
constexpr int kPortList = 1002;
constexpr int kLoadBinaryFile = 1003;
constexpr int kFileInfo = 1004;
constexpr int kImagePath = 1005;
constexpr int kAreaAddress = 1006;
constexpr int kLog = 1007;
constexpr int kProgress = 1008;
constexpr int kDeviceStatus = 1011;
constexpr int kOnline = 1014;

// Ids inside Wine's message and open-file boxes.
constexpr int kMessageText = 0xFFFF;
constexpr int kMessageIcon = 1088;
constexpr int kOpenFileName = 0x47C;
constexpr int kOpenFilter = 0x470;

int failures = 0;

std::string narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

void report(bool ok, const std::string& what, const std::string& detail = "") {
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
    if (!ok) ++failures;
}

bool check(bool condition, const std::string& what) {
    report(condition, what);
    return condition;
}

bool checkText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
    const bool ok = actual == expected;
    report(ok, what, ok ? "" : "got \"" + narrow(actual) + "\", want \"" + narrow(expected) + "\"");
    return ok;
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

// Quorvel on its own virtual desktop, started through Wine's explorer.
class QuorvelSession {
  public:
    QuorvelSession(const std::wstring& exe, const std::wstring& desktopName) {
        provideKoreanDialogFont();
        std::wstring command = L"explorer.exe /desktop=" + desktopName + L"," +
                               std::to_wstring(kDesktopWidth) + L"x" +
                               std::to_wstring(kDesktopHeight) + L" \"" + windowsPath(exe) + L"\"";
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
        process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId_);
        // Initialisation ends with the area applied.
        check(probe::waitUntil([&] { return !probe::itemText(dialog_, kAreaAddress).empty(); },
                               kStepTimeoutMs),
              "dialog initialised");
    }

    ~QuorvelSession() {
        if (process_ != nullptr) {
            if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
                PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
                if (WaitForSingleObject(process_, kStepTimeoutMs) == WAIT_TIMEOUT) {
                    report(false, "Quorvel ends when its dialog is cancelled");
                }
            }
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

    bool ready() const { return dialog_ != nullptr && process_ != nullptr; }
    HWND dialog() const { return dialog_; }
    DWORD processId() const { return processId_; }
    bool waitForExit(DWORD timeoutMs) const {
        return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
    }

  private:
    PROCESS_INFORMATION explorer_{};
    HWND dialog_ = nullptr;
    DWORD processId_ = 0;
    HANDLE process_ = nullptr;
};

// Saves the virtual desktop as $QUORVEL_ARTIFACTS/<name>.png through a Linux
// helper script (ImageMagick), which Wine runs as a Unix program.
void screenshot(const std::wstring& script, const std::wstring& name) {
    const std::wstring folder = environment(L"QUORVEL_ARTIFACTS");
    if (folder.empty() || script.empty()) {
        std::printf("note no screenshot %s: QUORVEL_ARTIFACTS or the script is not given\n",
                    narrow(name).c_str());
        return;
    }
    Sleep(700);  // let the last repaint reach the screen
    const std::wstring output = folder + L"/" + name + L".png";
    DeleteFileW(windowsPath(output).c_str());
    std::wstring command = L"Z:\\bin\\sh " + script + L" " + output + L" " +
                           std::to_wstring(kDesktopWidth) + L"x" + std::to_wstring(kDesktopHeight);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper{};
    if (!CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &helper)) {
        report(false, "run the screenshot script", std::to_string(GetLastError()));
        return;
    }
    CloseHandle(helper.hThread);
    CloseHandle(helper.hProcess);
    // The script renames the finished picture into place.
    check(probe::waitUntil(
              [&] {
                  return GetFileAttributesW(windowsPath(output).c_str()) != INVALID_FILE_ATTRIBUTES;
              },
              15000),
          "screenshot " + narrow(name) + ".png saved");
}

std::vector<std::wstring> presentPorts() {
    std::vector<std::wstring> names;
    wchar_t target[1000];
    for (int number = 0; number <= 254; ++number) {
        const std::wstring name = L"COM" + std::to_wstring(number);
        if (QueryDosDeviceW(name.c_str(), target, 1000) != 0) names.push_back(name);
    }
    return names;
}

std::ptrdiff_t indexOf(const std::vector<std::wstring>& items, const std::wstring& name) {
    const auto found = std::find(items.begin(), items.end(), name);
    return found == items.end() ? -1 : found - items.begin();
}

void notify(HWND dialog, int id, WORD code) {
    probe::send(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                reinterpret_cast<LPARAM>(probe::item(dialog, id)));
}

int startupScenario(const std::wstring& exe, const std::wstring& script) {
    QuorvelSession session(exe, L"QuorvelStartup");
    if (!session.ready()) return 1;
    HWND dialog = session.dialog();

    struct ControlCase {
        int id;
        const wchar_t* text;
        bool enabled;
    };
    const ControlCase controls[] = {
        {kDownload, L"DOWNLOAD", true},
        {kLoadBinaryFile, L"Load Binary File", true},
        {kDeviceStatus, L"no device", true},
        {kOnline, L"offline", false},
        {kAreaAddress, L"0x008000(212992)", false},
        {kFileInfo, L"", false},
        {kImagePath, L"", false},
        {kLog, L"", false},
        {kAreaList, L"CODE", true},
        {kPortList, L"", true},
    };
    for (const ControlCase& control : controls) {
        const std::string name = "control " + std::to_string(control.id);
        checkText(probe::itemText(dialog, control.id), control.text, name + " text");
        check(probe::itemEnabled(dialog, control.id) == control.enabled,
              name + (control.enabled ? " enabled" : " disabled"));
    }
    check(!probe::itemEnabled(dialog, kProgress), "progress bar disabled");
    check(probe::send(probe::item(dialog, kProgress), PBM_GETPOS) == 0, "progress bar at 0");
    check(probe::focusOf(dialog) == probe::item(dialog, kDownload), "DOWNLOAD has the focus");

    HWND areaList = probe::item(dialog, kAreaList);
    check(probe::comboItems(areaList) == std::vector<std::wstring>{L"CODE"},
          "area list offers CODE alone");
    check(probe::comboSelection(areaList) == 0, "CODE is selected");

    HWND portList = probe::item(dialog, kPortList);
    const std::vector<std::wstring> items = probe::comboItems(portList);
    std::vector<std::wstring> expected = presentPorts();
    std::sort(expected.begin(), expected.end());
    std::string listed;
    for (const std::wstring& item : items) listed += narrow(item) + " ";
    report(items == expected, "port list holds the present ports in sorted order", listed);
    check(indexOf(items, L"COM1") >= 0, "port list holds COM1");
    if (!environment(L"QUORVEL_WINE_PORT_DIR").empty()) {
        check(indexOf(items, L"COM2") >= 0 && indexOf(items, L"COM10") >= 0,
              "port list holds the prefix's COM2 and COM10");
    }
    if (indexOf(items, L"COM2") >= 0 && indexOf(items, L"COM10") >= 0) {
        check(indexOf(items, L"COM1") < indexOf(items, L"COM10") &&
                  indexOf(items, L"COM10") < indexOf(items, L"COM2"),
              "ports sort as COM1, COM10, COM2");
    }
    check(probe::comboSelection(portList) == CB_ERR, "no port selected");

    screenshot(script, L"main-dialog");

    // Selecting a port enables the online button; refilling the list on focus
    // drops the selection but leaves the button alone; no selection disables it.
    probe::send(portList, CB_SETCURSEL, static_cast<WPARAM>(indexOf(items, L"COM1")));
    notify(dialog, kPortList, CBN_SELCHANGE);
    check(probe::itemEnabled(dialog, kOnline), "a selected port enables the online button");
    notify(dialog, kPortList, CBN_SETFOCUS);
    check(probe::comboSelection(portList) == CB_ERR && probe::comboItems(portList) == items,
          "focus refills the port list");
    check(probe::itemEnabled(dialog, kOnline), "refilling leaves the online button enabled");
    notify(dialog, kPortList, CBN_SELCHANGE);
    check(!probe::itemEnabled(dialog, kOnline), "no selection disables the online button");

    // Escape in the dialog ends the program.
    PostMessageW(probe::focusOf(dialog), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    check(session.waitForExit(kStepTimeoutMs), "Escape ends the program");
    return failures;
}

HWND openAboutBox(HWND dialog, WPARAM command) {
    PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
    return probe::waitForOwnedDialog(dialog, kStepTimeoutMs);
}

int aboutScenario(const std::wstring& exe, const std::wstring& script) {
    QuorvelSession session(exe, L"QuorvelAbout");
    if (!session.ready()) return 1;
    HWND dialog = session.dialog();

    HWND about = openAboutBox(dialog, 0x10);
    if (!check(about != nullptr, "system command 0x10 opens the about box")) return failures;
    checkText(probe::text(about), L"Skelmar 정보", "about box caption");
    const std::vector<std::wstring> texts = probe::childTexts(about);
    check(indexOf(texts, L"Skelmar, 버전 1.0") >= 0, "about box names the version");
    checkText(probe::itemText(about, IDOK), L"확인", "about box OK button");
    check(!probe::enabled(dialog), "main dialog waits while the about box shows");
    screenshot(script, L"about-box");

    PostMessageW(about, WM_COMMAND, IDOK, 0);
    check(probe::waitForClosed(about, kStepTimeoutMs), "OK closes the about box");

    about = openAboutBox(dialog, 0x1F);
    if (check(about != nullptr, "system command 0x1F opens the about box too")) {
        PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
        check(probe::waitForClosed(about, kStepTimeoutMs), "Escape closes the about box");
    }
    check(probe::waitUntil([&] { return probe::enabled(dialog); }, kStepTimeoutMs),
          "main dialog usable again");

    // Other system commands keep their default meaning.
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    check(session.waitForExit(kStepTimeoutMs), "the close command ends the program");
    return failures;
}

// Presses "Load Binary File" and answers the open-file dialog with `path`
// (or cancels it when the path is empty).
bool chooseFile(const QuorvelSession& session, const std::wstring& path) {
    HWND dialog = session.dialog();
    PostMessageW(probe::item(dialog, kLoadBinaryFile), BM_CLICK, 0, 0);
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
    HWND nameBox = probe::item(open, kOpenFileName);
    HWND combo = FindWindowExW(nameBox, nullptr, L"ComboBox", nullptr);
    HWND edit = combo != nullptr ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : nullptr;
    if (!check(edit != nullptr, "open-file name field found")) return false;
    probe::send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(open, WM_COMMAND, IDOK, 0);
    return check(probe::waitForClosed(open, kStepTimeoutMs), "open-file dialog confirmed");
}

// Checks the message box the dialog shows next, then presses its OK button.
void answerMessageBox(HWND dialog, const std::wstring& text, bool withIcon) {
    HWND box = probe::waitForOwnedDialog(dialog, kStepTimeoutMs);
    if (!check(box != nullptr, "message box \"" + narrow(text) + "\" appears")) return;
    checkText(probe::text(box), L"Quorvel", "message box caption");
    checkText(probe::itemText(box, kMessageText), text, "message box text");
    // Wine keeps the icon control in every box; it holds an icon only when asked for.
    HWND icon = probe::item(box, kMessageIcon);
    const bool hasIcon =
        icon != nullptr && IsWindowVisible(icon) && probe::send(icon, STM_GETICON) != 0;
    check(hasIcon == withIcon,
          withIcon ? "message box shows the information icon" : "message box shows no icon");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    check(probe::waitForClosed(box, kStepTimeoutMs), "OK closes the message box");
}

int openFileScenario(const std::wstring& exe, const std::wstring& script) {
    const std::wstring folder = makeTestFolder(L"quorvel-gui-");
    const TestFile fits = makeTestFile(folder, L"firmware.bin", 212992);
    const TestFile tooLarge = makeTestFile(folder, L"oversized.bin", 212993);
    const TestFile held = makeTestFile(folder, L"held.bin", 100);

    {
        QuorvelSession session(exe, L"QuorvelOpenFile");
        if (!session.ready()) return 1;
        HWND dialog = session.dialog();

        if (chooseFile(session, fits.path)) {
            check(probe::waitUntil([&] { return probe::itemText(dialog, kImagePath) == fits.path; },
                                   kStepTimeoutMs),
                  "the chosen path fills the path field");
            checkText(probe::itemText(dialog, kFileInfo), expectedInfo(fits),
                      "info pane shows name, size and UTC date");
            check(probe::dialogsOf(session.processId()).size() == 1,
                  "a CODE image of 212992 bytes loads without a message");
            checkText(probe::itemText(dialog, kAreaAddress), L"0x008000(212992)",
                      "address field unchanged");
        }
        screenshot(script, L"main-dialog-loaded");

        if (chooseFile(session, tooLarge.path)) {
            answerMessageBox(dialog, L"Incompatible File", true);
            checkText(probe::itemText(dialog, kFileInfo),
                      expectedInfo(fits) + expectedInfo(tooLarge),
                      "info pane keeps the first file's lines above the second's");
            checkText(probe::itemText(dialog, kImagePath), tooLarge.path,
                      "refused file still fills the path field");
        }

        // Held open by another program: the file cannot be examined, so its
        // size counts as -1 and the loader finds the size wrong.
        HANDLE holder =
            CreateFileW(held.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        const std::wstring infoBefore = probe::itemText(dialog, kFileInfo);
        if (chooseFile(session, held.path)) {
            answerMessageBox(dialog, L"Wrong Block Size", false);
            checkText(probe::itemText(dialog, kFileInfo), infoBefore,
                      "info pane unchanged for a file held open");
        }
        CloseHandle(holder);

        const std::wstring pathBefore = probe::itemText(dialog, kImagePath);
        if (chooseFile(session, L"")) {
            checkText(probe::itemText(dialog, kImagePath), pathBefore,
                      "cancelling the open-file dialog changes nothing");
        }
    }

    for (const TestFile* file : {&fits, &tooLarge, &held}) DeleteFileW(file->path.c_str());
    RemoveDirectoryW(folder.c_str());
    return failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring scenario;
    std::wstring script;
    std::wstring exe;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--scenario" && i + 1 < argc) {
            scenario = argv[++i];
        } else if (argument == L"--screenshot-script" && i + 1 < argc) {
            script = argv[++i];
        } else {
            exe = argument;
        }
    }
    if (exe.empty()) {
        std::printf("usage: gui_driver --scenario NAME [--screenshot-script PATH] QUORVEL_EXE\n");
        return 2;
    }
    int result = 2;
    if (scenario == L"startup") {
        result = startupScenario(exe, script);
    } else if (scenario == L"about") {
        result = aboutScenario(exe, script);
    } else if (scenario == L"openfile") {
        result = openFileScenario(exe, script);
    } else {
        std::printf("unknown scenario %s\n", narrow(scenario).c_str());
    }
    std::printf("%s\n", result == 0 ? "PASSED" : "FAILED");
    return result == 0 ? 0 : 1;
}
