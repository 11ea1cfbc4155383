// Downloads from the boot loader, one at a time: without an image DOWNLOAD sends
// nothing; with one the transfer is the first thing on the wire; while the
// worker runs, stray presses of DOWNLOAD, the online button, the port list and
// "Load Binary File" change nothing, and closing the dialog asks first ("No"
// keeps it, "Yes" ends the program at once and leaves the port free).
#include <windows.h>

#include <string>

#include "dialog_state.h"
#include "download_steps.h"
#include "gui_session.h"
#include "protocol/boot_packet.h"
#include "scenarios.h"
#include "serial/serial_port.h"
#include "simulated_device.h"
#include "window_probe.h"

namespace gui {

namespace {

constexpr const wchar_t* kBootLabel = L"boot v2.4.10.15";
constexpr const wchar_t* kCloseQuestion =
    L"A download is running. Closing now leaves the device half-written.\n\nClose anyway?";
constexpr DWORD kTransferTimeoutMs = 60000;
// How long a refused press is given to show otherwise.
constexpr DWORD kQuietMs = 1500;

bool startDownload(HWND dialog) {
    click(dialog, IDC_DOWNLOAD);
    return check(probe::waitUntil(
                     [&] {
                         return !probe::itemEnabled(dialog, IDC_DOWNLOAD) &&
                                progressPosition(dialog) > 0;
                     },
                     kStepTimeoutMs),
                 "the download is under way");
}

// The question the dialog asks before it closes during a download.
void answerCloseQuestion(HWND dialog, int answer) {
    HWND box = probe::waitForOwnedDialog(dialog, kStepTimeoutMs);
    if (!check(box != nullptr, "closing asks first")) return;
    probe::waitUntil([&] { return !probe::itemText(box, kMessageText).empty(); }, kStepTimeoutMs);
    checkText(probe::text(box), L"Quorvel", "question caption");
    checkText(probe::itemText(box, kMessageText), kCloseQuestion, "question text");
    check(probe::item(box, IDYES) != nullptr && probe::item(box, IDNO) != nullptr &&
              probe::item(box, IDOK) == nullptr,
          "the question offers Yes and No");
    PostMessageW(box, WM_COMMAND, answer, 0);
    check(probe::waitForClosed(box, kStepTimeoutMs), "the answer closes the question");
}

// A new client opens the device's port with the program's own settings and
// the boot loader answers it: nothing holds the port any more. The cut
// transfer may have left bytes on the line, so the client asks twice, as the
// device detection does, and takes any valid answer.
bool portServesNewClient(const SimulatedDevice& device) {
    SerialPort* port = createPort(std::stoi(utf8FromWide(device.portName().substr(3))));
    PortLink link{port};
    std::uint32_t version = 0;
    const bool answered =
        port->handle != kInvalidPortHandle &&
        (queryBootVersion(&link, version).ok() || queryBootVersion(&link, version).ok());
    closePort(port);
    return answered;
}

}  // namespace

int oneDownloadScenario(const std::wstring& exe) {
    SimulatedDevice device;
    if (!check(device.ready(), "the simulated device is given")) return failures();
    QuorvelSession session(exe, L"QuorvelOneDownload");
    if (!session.ready()) return failures() + 1;
    HWND dialog = session.dialog();
    HWND portList = probe::item(dialog, IDC_PORT_LIST);
    // No image loaded: not even the start command goes out.
    if (!connectDevice(dialog, device, kBootLabel)) return failures();
    checkDownloadRefused(dialog, device, "BootOnline without an image", kNoImageMessage, L"online",
                         kBootLabel);
    const ImageFile image(60000);
    if (!loadImage(session, image)) return failures();

    const std::wstring logBefore = logText(dialog);
    const std::vector<std::wstring> ports = probe::comboItems(portList);
    const int selection = probe::comboSelection(portList);
    const std::size_t mark = device.mark();
    if (!startDownload(dialog)) return failures();

    click(dialog, IDC_DOWNLOAD);
    click(dialog, IDC_ONLINE);
    click(dialog, IDC_LOAD_BINARY_FILE);
    notify(dialog, IDC_PORT_LIST, CBN_SETFOCUS);
    notify(dialog, IDC_PORT_LIST, CBN_SELCHANGE);
    check(probe::waitForDialog(session.processId(), L"Open", kQuietMs) == nullptr,
          "\"Load Binary File\" opens no file dialog");
    check(probe::comboItems(portList) == ports && probe::comboSelection(portList) == selection,
          "the port list is not refilled");
    check(!probe::itemEnabled(dialog, IDC_ONLINE), "the online button stays disabled");
    checkConnection(dialog, "during the download", L"online", kBootLabel);

    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    answerCloseQuestion(dialog, IDNO);
    check(session.running() && IsWindowVisible(dialog), "\"No\" keeps the dialog");
    check(!probe::itemEnabled(dialog, IDC_DOWNLOAD) && progressPosition(dialog) < 100,
          "all of that happened while the transfer ran");

    ProgressWatch watch;
    const bool completed = watchTransfer(dialog, kTransferTimeoutMs, watch);
    const DWORD completedAt = GetTickCount();
    const std::size_t completedMark = device.mark();
    if (!check(completed, "the transfer completes undisturbed")) return failures();
    const std::vector<std::string> lines = device.linesSince(mark);
    check(!lines.empty() && lines.front().rfind("boot rx start", 0) == 0 &&
              device.countSince(mark, "boot rx start") == 1 &&
              device.countSince(mark, "boot rx version-request") == 0 &&
              device.countSince(mark, "app rx") == 0,
          "the boot loader being known, one transfer went out first, and nothing else");
    check(watch.neverFell && watch.highest == 100, "the progress bar rises to 100");
    checkSuccessSteps(dialog, device, completedAt, completedMark, {logBefore, 0, nullptr});
    checkFlashHolds(device, image);

    // "Yes" ends the program in the middle of a download, and with it the
    // worker: the transfer stops short of its end packet.
    if (!connectDevice(dialog, device, kBootLabel) || !startDownload(dialog)) return failures();
    const std::size_t closeMark = device.mark();
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    answerCloseQuestion(dialog, IDYES);
    check(session.waitForExit(kStepTimeoutMs) && session.exitCode() == 0,
          "\"Yes\" ends the program normally");
    Sleep(300);
    check(device.countSince(closeMark, "boot rx end") == 0, "the transfer was cut short");
    check(device.command("mode boot") && portServesNewClient(device),
          "the port is free for the next program");
    return failures();
}

}  // namespace gui
