// Bringing the simulated device online and offline from the dialog: the
// application firmware, the boot loader, nothing answering, a vanished port, a
// port that does not open, and the online button without a selected port.
#include <windows.h>

#include <algorithm>

#include "dialog_state.h"
#include "gui_session.h"
#include "scenarios.h"
#include "simulated_device.h"
#include "window_probe.h"

namespace gui {

namespace {

// Two boot-loader queries and the version query may each take 3 s.
constexpr DWORD kDetectTimeoutMs = 15000;
// How long a press that should change nothing is given to show otherwise.
constexpr DWORD kQuietMs = 1500;

std::vector<std::wstring> sortedPresentPorts() {
    std::vector<std::wstring> ports = presentPorts();
    std::sort(ports.begin(), ports.end());
    return ports;
}

// The online button in Offline without a port that exists: the list is
// refilled and dropped down, and nothing else happens.
void checkRefilledNotConnected(const SimulatedDevice& device, HWND dialog, std::size_t mark,
                               const std::wstring& logBefore, const std::string& situation) {
    HWND portList = probe::item(dialog, IDC_PORT_LIST);
    check(noMessageBoxFor(dialog, kQuietMs), situation + ": no message box");
    check(probe::comboItems(portList) == sortedPresentPorts(),
          situation + ": port list refilled with the present ports");
    check(probe::comboSelection(portList) == CB_ERR, situation + ": no port selected");
    check(probe::send(portList, CB_GETDROPPEDSTATE) == TRUE,
          situation + ": port list dropped down");
    check(probe::itemEnabled(dialog, IDC_ONLINE), situation + ": online button still enabled");
    checkConnection(dialog, situation, L"offline", L"no device");
    checkText(logText(dialog), logBefore, situation + ": log unchanged");
    check(device.linesSince(mark).empty(), situation + ": nothing sent to the device");
    probe::send(portList, CB_SHOWDROPDOWN, FALSE);
}

}  // namespace

int connectScenario(const std::wstring& exe) {
    SimulatedDevice device;
    if (!check(device.ready(), "the simulated device is given")) return failures();
    QuorvelSession session(exe, L"QuorvelConnect");
    if (!session.ready()) return failures() + 1;
    HWND dialog = session.dialog();
    HWND portList = probe::item(dialog, IDC_PORT_LIST);
    const HCURSOR arrow = dialogCursor(dialog);

    // Offline -> AppOnline, with the wait cursor while the device is detected.
    check(selectPort(dialog, device.portName()), "the device's port is listed and selected");
    check(probe::itemEnabled(dialog, IDC_ONLINE), "a selected port enables the online button");
    std::size_t mark = device.mark();
    click(dialog, IDC_ONLINE);
    // The boot-loader queries go unanswered for seconds: the detection is under way.
    check(probe::waitUntil([&] { return currentCursor() != arrow; }, kStepTimeoutMs),
          "the wait cursor shows while the device is detected");
    check(waitForItemText(dialog, IDC_ONLINE, L"online", kDetectTimeoutMs),
          "the application firmware answers");
    checkConnection(dialog, "AppOnline", L"online", L"1.2.3\r\n");
    checkText(logText(dialog), L"connected.\r\n", "AppOnline: log");
    check(currentCursor() == arrow, "AppOnline: the arrow is back");
    check(device.countSince(mark, "app rx ~rv") == 1, "AppOnline: one version query answered");

    // The online button follows the port list's selection in any state.
    probe::send(portList, CB_SETCURSEL, static_cast<WPARAM>(-1));
    notify(dialog, IDC_PORT_LIST, CBN_SELCHANGE);
    check(!probe::itemEnabled(dialog, IDC_ONLINE), "AppOnline: no selection disables the button");
    selectPort(dialog, device.portName());
    check(probe::itemEnabled(dialog, IDC_ONLINE), "AppOnline: a selection enables it again");
    checkConnection(dialog, "AppOnline after selection changes", L"online", L"1.2.3\r\n");

    // AppOnline -> Offline.
    click(dialog, IDC_ONLINE);
    check(waitForItemText(dialog, IDC_ONLINE, L"offline", kStepTimeoutMs),
          "the button disconnects");
    checkConnection(dialog, "Offline", L"offline", L"no device");
    check(waitForLogEnding(dialog, L"connected.\r\ndisconnected.\r\n", kStepTimeoutMs),
          "Offline: log reads \"connected.\", \"disconnected.\"");
    check(probe::itemEnabled(dialog, IDC_ONLINE), "Offline: online button stays enabled");

    // A selected port that has vanished: the list is refilled, nothing connects.
    std::wstring log = logText(dialog);
    probe::send(portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"COM77"));
    check(selectPort(dialog, L"COM77"), "a vanished port COM77 is selected");
    mark = device.mark();
    click(dialog, IDC_ONLINE);
    checkRefilledNotConnected(device, dialog, mark, log, "vanished port");

    // The refill left no port selected: the next press opens nothing either.
    click(dialog, IDC_ONLINE);
    checkRefilledNotConnected(device, dialog, mark, log, "no port selected");

    // The port is listed but does not open: the device has gone.
    check(device.command("vanish"), "the device goes away");
    check(selectPort(dialog, device.portName()), "its port is still listed and selected");
    click(dialog, IDC_ONLINE);
    answerMessageBox(dialog, kNoDeviceMessage);
    checkConnection(dialog, "port does not open", L"offline", L"no device");
    checkText(logText(dialog), log, "port does not open: log unchanged");
    check(device.command("appear"), "the device comes back");

    // Offline -> BootOnline: the boot loader answers the first query.
    check(device.command("mode boot"), "the device restarts into its boot loader");
    mark = device.mark();
    click(dialog, IDC_ONLINE);
    check(waitForItemText(dialog, IDC_ONLINE, L"online", kDetectTimeoutMs),
          "the boot loader answers");
    checkConnection(dialog, "BootOnline", L"online", L"boot v2.4.10.15");
    check(waitForLogEnding(dialog, L"disconnected.\r\nconnected.\r\n", kStepTimeoutMs),
          "BootOnline: log adds \"connected.\"");
    check(device.countSince(mark, "boot rx version-request") == 1 &&
              device.countSince(mark, "app rx") == 0,
          "BootOnline: one boot-loader query, no console command");
    check(currentCursor() == arrow, "BootOnline: the arrow is back");

    click(dialog, IDC_ONLINE);
    check(waitForLogEnding(dialog, L"connected.\r\ndisconnected.\r\n", kStepTimeoutMs),
          "BootOnline -> Offline: log adds \"disconnected.\"");
    checkConnection(dialog, "Offline again", L"offline", L"no device");

    // Nothing answers: two boot-loader queries and one version query time out.
    check(device.command("fault silent"), "the device falls silent");
    log = logText(dialog);
    mark = device.mark();
    const DWORD start = GetTickCount();
    click(dialog, IDC_ONLINE);
    if (answerMessageBox(dialog, kNoDeviceMessage, true, kDetectTimeoutMs)) {
        note("detection with nothing answering took " + std::to_string(GetTickCount() - start) +
             " ms");
    }
    check(waitForItemText(dialog, IDC_DEVICE_STATUS, L"no device", kStepTimeoutMs),
          "nothing answers: status label");
    checkConnection(dialog, "nothing answers", L"offline", L"no device");
    checkText(logText(dialog), log, "nothing answers: nothing logged");
    // The boot loader skips the 5 bytes of the version query "~rv\r\n".
    check(device.countSince(mark, "boot rx version-request") == 2 &&
              device.countSince(mark, "boot rx skipped 5 bytes") == 1,
          "nothing answers: two boot-loader queries and one version query were sent");
    check(dialogCursor(dialog) == arrow, "nothing answers: the arrow is back");

    // The device answers again: the same press connects.
    check(device.command("fault"), "the device answers again");
    click(dialog, IDC_ONLINE);
    check(waitForItemText(dialog, IDC_ONLINE, L"online", kDetectTimeoutMs),
          "pressing again connects");
    checkConnection(dialog, "BootOnline again", L"online", L"boot v2.4.10.15");
    return failures();
}

}  // namespace gui
