// DOWNLOAD from the application firmware when the boot switch goes wrong: the
// switch refused, no boot loader after it, the port gone after it; and
// DOWNLOAD with no port to send on (Offline, PortLost) or no image loaded.
#include <windows.h>

#include "dialog_state.h"
#include "download_steps.h"
#include "gui_session.h"
#include "scenarios.h"
#include "simulated_device.h"
#include "window_probe.h"

namespace gui {

namespace {

constexpr const wchar_t* kVersionLabel = L"1.2.3\r\n";
// The boot switch's 3000 ms pause and two unanswered boot-loader queries.
constexpr DWORD kSwitchTimeoutMs = 20000;
constexpr DWORD kTransferTimeoutMs = 30000;

void checkRefusedWithoutPort(HWND dialog, const SimulatedDevice& device, const std::string& state,
                             const std::wstring& button, const std::wstring& label) {
    checkDownloadRefused(dialog, device, state, kNoDeviceMessage, button, label);
}

}  // namespace

int bootSwitchScenario(const std::wstring& exe) {
    SimulatedDevice device;
    if (!check(device.ready(), "the simulated device is given")) return failures();
    QuorvelSession session(exe, L"QuorvelBootSwitch");
    if (!session.ready()) return failures() + 1;
    HWND dialog = session.dialog();
    const HCURSOR arrow = dialogCursor(dialog);

    // Without a port the missing image is not the first thing to tell.
    checkRefusedWithoutPort(dialog, device, "Offline", L"offline", L"no device");

    // No image loaded: no boot switch, nothing sent.
    if (!connectDevice(dialog, device, kVersionLabel)) return failures();
    checkDownloadRefused(dialog, device, "AppOnline without an image", kNoImageMessage, L"online",
                         kVersionLabel, L"no-image-message");
    const ImageFile image(2000);
    if (!loadImage(session, image)) return failures();

    // The application refuses the boot switch: PortLost.
    check(device.command("fault refuse-boot"), "the device will refuse the boot switch");
    std::wstring log = logText(dialog);
    std::size_t mark = device.mark();
    click(dialog, IDC_DOWNLOAD);
    answerMessageBox(dialog, kCheckCableMessage);
    check(device.countSince(mark, "app rx ~dboot") == 1 &&
              device.countSince(mark, "app tx ~dBOOT") == 1,
          "\"~dboot\" was sent and refused");
    checkConnection(dialog, "PortLost", L"online", kVersionLabel);
    checkText(logText(dialog), log, "PortLost: nothing logged");
    checkDownloadControls(dialog, true, "PortLost");
    check(dialogCursor(dialog) == arrow, "PortLost: the arrow is back");
    checkRefusedWithoutPort(dialog, device, "PortLost", L"online", kVersionLabel);

    click(dialog, IDC_ONLINE);
    check(waitForLogEnding(dialog, L"disconnected.\r\n", kStepTimeoutMs),
          "PortLost: the online button disconnects");
    checkConnection(dialog, "Offline", L"offline", L"no device");

    // The switch is accepted but no boot loader answers: still AppOnline.
    check(device.command("fault no-bootloader"), "the device's boot loader will not answer");
    if (!connectDevice(dialog, device, kVersionLabel)) return failures();
    log = logText(dialog);
    mark = device.mark();
    const DWORD start = GetTickCount();
    click(dialog, IDC_DOWNLOAD);
    if (answerMessageBox(dialog, kNoDeviceMessage, true, kSwitchTimeoutMs)) {
        note("boot switch without a boot loader took " + std::to_string(GetTickCount() - start) +
             " ms");
    }
    check(device.countSince(mark, "app rx ~dboot") == 1 &&
              device.countSince(mark, "boot rx version-request") == 2 &&
              device.countSince(mark, "boot rx start") == 0,
          "\"~dboot\", two unanswered boot-loader queries, no transfer");
    checkConnection(dialog, "AppOnline after no boot loader", L"online", kVersionLabel);
    checkText(logText(dialog), log, "no boot loader: nothing logged");
    check(dialogCursor(dialog) == arrow, "no boot loader: the arrow is back");

    // The re-opened port is still the dialog's: with the application back,
    // the next DOWNLOAD switches over it and downloads.
    check(device.command("fault") && device.command("mode app"),
          "the device restarts into a working application");
    mark = device.mark();
    click(dialog, IDC_DOWNLOAD);
    ProgressWatch watch;
    const bool completed = watchTransfer(dialog, kTransferTimeoutMs, watch);
    const DWORD completedAt = GetTickCount();
    const std::size_t completedMark = device.mark();
    if (!check(completed, "the download over the re-opened port completes")) return failures();
    check(device.countSince(mark, "app rx ~dboot") == 1, "it began with the boot switch");
    checkSuccessSteps(dialog, device, completedAt, completedMark, {log, 0, nullptr});
    checkFlashHolds(device, image);

    // The port is gone when it is re-opened after the switch: PortLost.
    check(device.command("mode app"), "the device restarts into its application");
    if (!connectDevice(dialog, device, kVersionLabel)) return failures();
    log = logText(dialog);
    mark = device.mark();
    click(dialog, IDC_DOWNLOAD);
    check(device.waitForLine(mark, "app tx ~Dboot", kStepTimeoutMs) && device.command("vanish"),
          "the device accepts the switch and goes away");
    answerMessageBox(dialog, kNoDeviceMessage, true, kSwitchTimeoutMs);
    checkConnection(dialog, "PortLost after the switch", L"online", kVersionLabel);
    checkText(logText(dialog), log, "port gone: nothing logged");
    check(device.command("appear"), "the device comes back");
    checkRefusedWithoutPort(dialog, device, "PortLost after the switch", L"online", kVersionLabel);
    return failures();
}

}  // namespace gui
