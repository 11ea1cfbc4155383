// Downloads into the simulated device through the dialog: from the application
// firmware (with the boot switch); a refused packet and the retry, then a
// device that falls silent in the middle of the transfer; a version text
// beginning "bl-".
#include <windows.h>

#include "dialog_state.h"
#include "download_steps.h"
#include "gui_session.h"
#include "scenarios.h"
#include "simulated_device.h"
#include "window_probe.h"

namespace gui {

namespace {

constexpr const wchar_t* kBootLabel = L"boot v2.4.10.15";
// An unpaced transfer of 60 000 bytes takes a few seconds; at 115 200 baud,
// about six; the boot switch adds three and a half.
constexpr DWORD kTransferTimeoutMs = 60000;
// A silent device is given up after 20 s without a byte.
constexpr DWORD kSilenceTimeoutMs = 40000;
constexpr DWORD kSilenceLimitMs = 20000;
// The simulator refuses this data packet of the first download (status 2).
constexpr DWORD kRefusedPacket = 60;
constexpr DWORD kChunkBytes = 236;  // data bytes of a full 64-word packet

bool waitForDownloadStart(HWND dialog) {
    return check(
        probe::waitUntil([&] { return !probe::itemEnabled(dialog, IDC_DOWNLOAD); }, kStepTimeoutMs),
        "the download starts");
}

// While a failed transfer's box shows, the download still holds the dialog.
HWND waitForFailureBox(HWND dialog, DWORD timeoutMs) {
    HWND box = probe::waitForOwnedDialog(dialog, timeoutMs);
    if (box != nullptr) checkDownloadControls(dialog, false, "while the failure shows");
    return box;
}

// The device falls silent in the middle of a transfer: the worker gives up
// after 20 s without a byte, and the dialog stays online and usable.
void checkSilentDevice(HWND dialog, SimulatedDevice& device, HCURSOR arrow) {
    check(device.command("mode app") && device.command("fault hangup@5"),
          "the device restarts into its application and will fall silent at packet 5");
    if (!connectDevice(dialog, device, L"1.2.3\r\n")) return;
    const std::wstring logBefore = logText(dialog);

    click(dialog, IDC_DOWNLOAD);
    if (!waitForDownloadStart(dialog)) return;
    const DWORD start = GetTickCount();
    const HWND box = waitForFailureBox(dialog, kSilenceTimeoutMs);
    const DWORD waited = GetTickCount() - start;
    report(box != nullptr && waited >= kSilenceLimitMs - 500,
           "the transfer gives up after 20 s of silence", std::to_string(waited) + " ms");
    answerMessageBox(dialog, L"Communication Error \n-10001");

    check(probe::waitUntil([&] { return downloadControlsAre(dialog, true); }, kStepTimeoutMs),
          "the download ends");
    checkConnection(dialog, "SwitchedOnline after the silence", L"online", kBootLabel);
    checkDownloadControls(dialog, true, "after the silence");
    check(probe::itemEnabled(dialog, IDC_ONLINE), "after the silence: online button enabled");
    checkText(logText(dialog), logBefore, "after the silence: nothing logged");
    check(dialogCursor(dialog) == arrow, "after the silence: the arrow is back");

    click(dialog, IDC_ONLINE);
    check(waitForLogEnding(dialog, L"disconnected.\r\n", kStepTimeoutMs),
          "the dialog is usable: the online button disconnects from SwitchedOnline");
    checkConnection(dialog, "Offline", L"offline", L"no device");
}

}  // namespace

int downloadFromAppScenario(const std::wstring& exe) {
    SimulatedDevice device;
    if (!check(device.ready(), "the simulated device is given")) return failures();
    QuorvelSession session(exe, L"QuorvelDownloadApp");
    if (!session.ready()) return failures() + 1;
    HWND dialog = session.dialog();
    const ImageFile image(60000);
    // Upper-case "BL-" is not the boot loader's mark: no query after the transfer.
    if (!loadImage(session, image) || !connectDevice(dialog, device, L"BL-2.0\r\n")) {
        return failures();
    }
    const HCURSOR arrow = dialogCursor(dialog);
    screenshot(L"online-application");

    const std::wstring logBefore = logText(dialog);
    const std::size_t mark = device.mark();
    click(dialog, IDC_DOWNLOAD);
    check(device.waitForLine(mark, "app rx ~dboot", kStepTimeoutMs), "\"~dboot\" is sent");
    // The user-interface thread pauses 3000 ms before it asks for the boot loader.
    check(probe::waitUntil([&] { return currentCursor() != arrow; }, kStepTimeoutMs),
          "the wait cursor shows during the boot switch");
    const HCURSOR wait = currentCursor();
    check(waitForItemText(dialog, IDC_DEVICE_STATUS, kBootLabel, kStepTimeoutMs),
          "after the pause the boot loader is found");
    checkConnection(dialog, "SwitchedOnline", L"online", kBootLabel);
    if (!waitForDownloadStart(dialog)) return failures();
    checkDownloadControls(dialog, false, "during the download");
    check(!probe::itemEnabled(dialog, IDC_ONLINE), "during the download: online button disabled");
    // The worker begins its busy period once it runs, a moment after the lock.
    check(probe::waitUntil([&] { return dialogCursor(dialog) == wait; }, kStepTimeoutMs),
          "during the download: the wait cursor shows");

    ProgressWatch watch;
    const bool completed = watchTransfer(dialog, kTransferTimeoutMs, watch, L"download-progress");
    const DWORD completedAt = GetTickCount();
    const std::size_t completedMark = device.mark();
    if (!check(completed, "the transfer completes")) return failures();
    check(watch.movedBetween && watch.neverFell && watch.highest == 100,
          "the progress bar rises to 100");
    check(device.countSince(mark, "boot rx start flags=a5a50000") == 1,
          "one transfer with the CODE flags word");

    checkSuccessSteps(dialog, device, completedAt, completedMark, {logBefore, 0, nullptr});
    check(dialogCursor(dialog) == arrow, "after success: the arrow is back");
    checkFlashHolds(device, image);
    screenshot(L"download-success");

    check(selectPort(dialog, device.portName()) && probe::itemEnabled(dialog, IDC_ONLINE),
          "selecting a port makes the online button usable again");

    // Enter presses DOWNLOAD again; offline, that asks for a device.
    checkFocusOnDownload(dialog, "after success");
    pressEnter(dialog);
    answerMessageBox(dialog, kNoDeviceMessage);
    return failures();
}

int downloadFailuresScenario(const std::wstring& exe) {
    SimulatedDevice device;
    if (!check(device.ready(), "the simulated device is given")) return failures();
    QuorvelSession session(exe, L"QuorvelDownloadFailures");
    if (!session.ready()) return failures() + 1;
    HWND dialog = session.dialog();
    const ImageFile image(60000);
    if (!loadImage(session, image) || !connectDevice(dialog, device, L"1.2.3\r\n")) {
        return failures();
    }
    const HCURSOR arrow = dialogCursor(dialog);

    // After the boot switch the transfer is refused at one packet (status 2).
    const std::wstring logBefore = logText(dialog);
    std::size_t mark = device.mark();
    click(dialog, IDC_DOWNLOAD);
    waitForFailureBox(dialog, kTransferTimeoutMs);
    answerMessageBox(dialog, L"Communication Error \n-9978");
    check(device.countSince(mark, "app rx ~dboot") == 1, "the download began with the boot switch");
    check(device.countSince(mark, "boot rx data") == kRefusedPacket,
          "the transfer stopped at the refused packet");
    check(probe::waitUntil(
              [&] {
                  return downloadControlsAre(dialog, true) &&
                         probe::itemEnabled(dialog, IDC_ONLINE);
              },
              kStepTimeoutMs),
          "the download ends");
    checkConnection(dialog, "SwitchedOnline after the error", L"online", kBootLabel);
    check(probe::itemEnabled(dialog, IDC_ONLINE), "after the error: online button enabled");
    checkDownloadControls(dialog, true, "after the error");
    const int expectedProgress =
        static_cast<int>((kRefusedPacket - 1) * kChunkBytes * 100 / image.size());
    check(progressPosition(dialog) == expectedProgress,
          "after the error: the progress bar keeps its last position " +
              std::to_string(expectedProgress));
    checkText(logText(dialog), logBefore, "after the error: nothing logged");
    check(dialogCursor(dialog) == arrow, "after the error: the arrow is back");

    // The boot loader stays known: Enter retries at once.
    checkFocusOnDownload(dialog, "after the error");
    mark = device.mark();
    pressEnter(dialog);
    ProgressWatch watch;
    const bool completed = watchTransfer(dialog, kTransferTimeoutMs, watch);
    const DWORD completedAt = GetTickCount();
    const std::size_t completedMark = device.mark();
    if (!check(completed, "the retried transfer completes")) return failures();
    check(watch.highest == 100, "the progress bar reaches 100");
    check(device.countSince(mark, "app rx") == 0 &&
              device.countSince(mark, "boot rx version-request") == 0 &&
              device.countSince(mark, "boot rx start") == 1,
          "the retry sends the transfer alone, without a boot switch");
    checkSuccessSteps(dialog, device, completedAt, completedMark, {logBefore, 0, nullptr});
    checkFlashHolds(device, image);
    checkSilentDevice(dialog, device, arrow);
    return failures();
}

int downloadBlScenario(const std::wstring& exe) {
    SimulatedDevice device;
    if (!check(device.ready(), "the simulated device is given")) return failures();
    QuorvelSession session(exe, L"QuorvelDownloadBl");
    if (!session.ready()) return failures() + 1;
    HWND dialog = session.dialog();
    const ImageFile image(60000);
    if (!loadImage(session, image) || !connectDevice(dialog, device, L"bl-1.0\r\n")) {
        return failures();
    }

    // "bl-": the device is detected again during the pause, and answers.
    std::wstring logBefore = logText(dialog);
    click(dialog, IDC_DOWNLOAD);
    ProgressWatch watch;
    bool completed = watchTransfer(dialog, kTransferTimeoutMs, watch);
    DWORD completedAt = GetTickCount();
    std::size_t completedMark = device.mark();
    if (!check(completed, "the transfer completes")) return failures();
    checkSuccessSteps(dialog, device, completedAt, completedMark, {logBefore, 1, nullptr});
    checkFlashHolds(device, image);

    // Once more, and this time nothing answers the detection after the pause:
    // its message shows, and the job still finishes and disconnects.
    check(device.command("mode app"), "the device restarts into its application");
    if (!connectDevice(dialog, device, L"bl-1.0\r\n")) return failures();
    logBefore = logText(dialog);
    click(dialog, IDC_DOWNLOAD);
    completed = watchTransfer(dialog, kTransferTimeoutMs, watch);
    completedAt = GetTickCount();
    completedMark = device.mark();
    check(device.command("fault silent"), "the device falls silent after the transfer");
    if (!check(completed, "the second transfer completes")) return failures();
    checkSuccessSteps(dialog, device, completedAt, completedMark, {logBefore, 2, kNoDeviceMessage});
    return failures();
}

}  // namespace gui
