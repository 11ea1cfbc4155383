// Drives the real Quorvel.exe through window messages, one scenario per run:
//   gui_driver --scenario NAME [--screenshot-script PATH] QUORVEL_EXE
// Quorvel runs on a Wine virtual desktop of its own (so its caption is drawn);
// screenshots go to $QUORVEL_ARTIFACTS when it is set. Device scenarios run
// under scripts/with-device.sh. Exit code 0 = passed.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "gui_session.h"
#include "scenarios.h"
#include "test_files.h"
#include "window_probe.h"

namespace gui {

int startupScenario(const std::wstring& exe) {
    QuorvelSession session(exe, L"QuorvelStartup");
    if (!session.ready()) return 1;
    HWND dialog = session.dialog();

    struct ControlCase {
        int id;
        const wchar_t* text;
        bool enabled;
    };
    const ControlCase controls[] = {
        {IDC_DOWNLOAD, L"DOWNLOAD", true},
        {IDC_LOAD_BINARY_FILE, L"Load Binary File", true},
        {IDC_DEVICE_STATUS, L"no device", true},
        {IDC_ONLINE, L"offline", false},
        {IDC_AREA_ADDRESS, L"0x008000(212992)", false},
        {IDC_FILE_INFO, L"", false},
        {IDC_IMAGE_PATH, L"", false},
        {IDC_LOG, L"", false},
        {IDC_AREA_LIST, L"CODE", true},
        {IDC_PORT_LIST, L"", true},
    };
    for (const ControlCase& control : controls) {
        const std::string name = "control " + std::to_string(control.id);
        checkText(probe::itemText(dialog, control.id), control.text, name + " text");
        check(probe::itemEnabled(dialog, control.id) == control.enabled,
              name + (control.enabled ? " enabled" : " disabled"));
    }
    check(!probe::itemEnabled(dialog, IDC_PROGRESS), "progress bar disabled");
    check(probe::send(probe::item(dialog, IDC_PROGRESS), PBM_GETPOS) == 0, "progress bar at 0");
    check(probe::focusOf(dialog) == probe::item(dialog, IDC_DOWNLOAD), "DOWNLOAD has the focus");

    HWND areaList = probe::item(dialog, IDC_AREA_LIST);
    check(probe::comboItems(areaList) == std::vector<std::wstring>{L"CODE"},
          "area list offers CODE alone");
    check(probe::comboSelection(areaList) == 0, "CODE is selected");

    HWND portList = probe::item(dialog, IDC_PORT_LIST);
    const std::vector<std::wstring> items = probe::comboItems(portList);
    std::vector<std::wstring> expected = presentPorts();
    std::sort(expected.begin(), expected.end());
    std::string listed;
    for (const std::wstring& item : items) listed += utf8FromWide(item) + " ";
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

    screenshot(L"main-dialog");

    // Selecting a port enables the online button; refilling the list on focus
    // drops the selection but leaves the button alone; no selection disables it.
    probe::send(portList, CB_SETCURSEL, static_cast<WPARAM>(indexOf(items, L"COM1")));
    notify(dialog, IDC_PORT_LIST, CBN_SELCHANGE);
    check(probe::itemEnabled(dialog, IDC_ONLINE), "a selected port enables the online button");
    notify(dialog, IDC_PORT_LIST, CBN_SETFOCUS);
    check(probe::comboSelection(portList) == CB_ERR && probe::comboItems(portList) == items,
          "focus refills the port list");
    check(probe::itemEnabled(dialog, IDC_ONLINE), "refilling leaves the online button enabled");
    notify(dialog, IDC_PORT_LIST, CBN_SELCHANGE);
    check(!probe::itemEnabled(dialog, IDC_ONLINE), "no selection disables the online button");

    // Escape in the dialog ends the program.
    PostMessageW(probe::focusOf(dialog), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    check(session.waitForExit(kStepTimeoutMs), "Escape ends the program");
    return failures();
}

namespace {

HWND openAboutBox(HWND dialog, WPARAM command) {
    PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
    return probe::waitForOwnedDialog(dialog, kStepTimeoutMs);
}

}  // namespace

int aboutScenario(const std::wstring& exe) {
    QuorvelSession session(exe, L"QuorvelAbout");
    if (!session.ready()) return 1;
    HWND dialog = session.dialog();

    HWND about = openAboutBox(dialog, 0x10);
    if (!check(about != nullptr, "system command 0x10 opens the about box")) return failures();
    checkText(probe::text(about), L"Skelmar 정보", "about box caption");
    const std::vector<std::wstring> texts = probe::childTexts(about);
    check(indexOf(texts, L"Skelmar, 버전 1.0") >= 0, "about box names the version");
    checkText(probe::itemText(about, IDOK), L"확인", "about box OK button");
    check(!probe::enabled(dialog), "main dialog waits while the about box shows");
    screenshot(L"about-box");

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
    return failures();
}

int openFileScenario(const std::wstring& exe) {
    const std::wstring folder = makeTestFolder(L"quorvel-gui-");
    const TestFile fits = makeTestFile(folder, L"firmware.bin", 212992);
    const TestFile tooLarge = makeTestFile(folder, L"oversized.bin", 212993);
    const TestFile held = makeTestFile(folder, L"held.bin", 100);

    {
        QuorvelSession session(exe, L"QuorvelOpenFile");
        if (!session.ready()) return 1;
        HWND dialog = session.dialog();

        if (chooseFile(session, fits.path)) {
            check(probe::waitUntil(
                      [&] { return probe::itemText(dialog, IDC_IMAGE_PATH) == fits.path; },
                      kStepTimeoutMs),
                  "the chosen path fills the path field");
            checkText(probe::itemText(dialog, IDC_FILE_INFO), expectedInfo(fits),
                      "info pane shows name, size and UTC date");
            check(probe::dialogsOf(session.processId()).size() == 1,
                  "a CODE image of 212992 bytes loads without a message");
            checkText(probe::itemText(dialog, IDC_AREA_ADDRESS), L"0x008000(212992)",
                      "address field unchanged");
        }
        screenshot(L"main-dialog-loaded");

        if (chooseFile(session, tooLarge.path)) {
            answerMessageBox(dialog, L"Incompatible File", true);
            checkText(probe::itemText(dialog, IDC_FILE_INFO),
                      expectedInfo(fits) + expectedInfo(tooLarge),
                      "info pane keeps the first file's lines above the second's");
            checkText(probe::itemText(dialog, IDC_IMAGE_PATH), tooLarge.path,
                      "refused file still fills the path field");
        }

        // Held open by another program: the file cannot be examined, so its
        // size counts as -1 and the loader finds the size wrong.
        HANDLE holder =
            CreateFileW(held.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        const std::wstring infoBefore = probe::itemText(dialog, IDC_FILE_INFO);
        if (chooseFile(session, held.path)) {
            answerMessageBox(dialog, L"Wrong Block Size", false);
            checkText(probe::itemText(dialog, IDC_FILE_INFO), infoBefore,
                      "info pane unchanged for a file held open");
        }
        CloseHandle(holder);

        const std::wstring pathBefore = probe::itemText(dialog, IDC_IMAGE_PATH);
        if (chooseFile(session, L"")) {
            checkText(probe::itemText(dialog, IDC_IMAGE_PATH), pathBefore,
                      "cancelling the open-file dialog changes nothing");
        }
    }

    for (const TestFile* file : {&fits, &tooLarge, &held}) DeleteFileW(file->path.c_str());
    RemoveDirectoryW(folder.c_str());
    return failures();
}

}  // namespace gui

namespace {

using Scenario = int (*)(const std::wstring& exe);

struct ScenarioEntry {
    const wchar_t* name;
    Scenario run;
    DWORD limitMs;  // the watchdog's limit
};

const ScenarioEntry kScenarios[] = {
    {L"startup", gui::startupScenario, 120000},
    {L"about", gui::aboutScenario, 120000},
    {L"openfile", gui::openFileScenario, 120000},
    {L"connect", gui::connectScenario, 150000},
    {L"download_app", gui::downloadFromAppScenario, 150000},
    {L"download_failures", gui::downloadFailuresScenario, 150000},
    {L"download_bl", gui::downloadBlScenario, 150000},
    {L"boot_switch", gui::bootSwitchScenario, 150000},
    {L"one_download", gui::oneDownloadScenario, 150000},
    {L"download_timing", gui::downloadTimingScenario, 150000},
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring scenario;
    std::wstring exe;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--scenario" && i + 1 < argc) {
            scenario = argv[++i];
        } else if (argument == L"--screenshot-script" && i + 1 < argc) {
            gui::setScreenshotScript(argv[++i]);
        } else {
            exe = argument;
        }
    }
    if (exe.empty()) {
        std::printf("usage: gui_driver --scenario NAME [--screenshot-script PATH] QUORVEL_EXE\n");
        return 2;
    }
    for (const ScenarioEntry& entry : kScenarios) {
        if (scenario != entry.name) continue;
        gui::startWatchdog(entry.limitMs);
        const int result = entry.run(exe);
        std::printf("%s\n", result == 0 ? "PASSED" : "FAILED");
        return result == 0 ? 0 : 1;
    }
    std::printf("unknown scenario %s\n", utf8FromWide(scenario).c_str());
    return 2;
}
