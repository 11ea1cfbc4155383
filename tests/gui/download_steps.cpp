#include "download_steps.h"

#include <cwchar>

#include "dialog_state.h"
#include "window_probe.h"

namespace gui {

namespace {

// Two boot-loader queries and the version query may each take 3 s.
constexpr DWORD kDetectTimeoutMs = 15000;
// A detection that finds nothing, shown in a message box, during the pause.
constexpr DWORD kPauseWithDetectionMs = kSettleMs + kDetectTimeoutMs;
// How early the driver may see "finished." for timer and polling jitter.
constexpr DWORD kPauseToleranceMs = 150;

}  // namespace

ImageFile::ImageFile(DWORD size)
    : folder_(makeTestFolder(L"quorvel-image-")),
      file_(makeTestFile(folder_, L"firmware.bin", size)),
      size_(size) {}

ImageFile::~ImageFile() {
    DeleteFileW(file_.path.c_str());
    RemoveDirectoryW(folder_.c_str());
}

bool loadImage(const QuorvelSession& session, const ImageFile& image) {
    HWND dialog = session.dialog();
    if (!chooseFile(session, image.path())) return false;
    const bool shown = probe::waitUntil(
        [&] { return probe::itemText(dialog, IDC_IMAGE_PATH) == image.path(); }, kStepTimeoutMs);
    return check(shown && noMessageBoxFor(dialog, 500),
                 "image of " + std::to_string(image.size()) + " bytes loaded");
}

bool connectDevice(HWND dialog, const SimulatedDevice& device, const std::wstring& label) {
    if (!check(selectPort(dialog, device.portName()), "the device's port is selected")) {
        return false;
    }
    click(dialog, IDC_ONLINE);
    return check(waitForItemText(dialog, IDC_DEVICE_STATUS, label, kDetectTimeoutMs) &&
                     waitForItemText(dialog, IDC_ONLINE, L"online", kStepTimeoutMs),
                 "the device is online as \"" + utf8FromWide(label) + "\"");
}

bool downloadControlsAre(HWND dialog, bool enabled) {
    return probe::itemEnabled(dialog, IDC_DOWNLOAD) == enabled &&
           probe::itemEnabled(dialog, IDC_PORT_LIST) == enabled &&
           probe::itemEnabled(dialog, IDC_LOAD_BINARY_FILE) == enabled &&
           probe::itemEnabled(dialog, IDC_AREA_LIST) == enabled;
}

void checkDownloadControls(HWND dialog, bool enabled, const std::string& situation) {
    const bool all = downloadControlsAre(dialog, enabled);
    check(all, situation + ": DOWNLOAD, port list, \"Load Binary File\" and area list " +
                   (enabled ? "enabled" : "disabled"));
}

void checkDownloadRefused(HWND dialog, const SimulatedDevice& device, const std::string& state,
                          const std::wstring& message, const std::wstring& button,
                          const std::wstring& label, const std::wstring& screenshotName) {
    const std::wstring log = logText(dialog);
    const std::size_t mark = device.mark();
    click(dialog, IDC_DOWNLOAD);
    if (!screenshotName.empty() && probe::waitForOwnedDialog(dialog, kStepTimeoutMs) != nullptr) {
        screenshot(screenshotName);
    }
    answerMessageBox(dialog, message);
    // The simulator would log a command even in part: give it a moment.
    Sleep(300);
    check(device.linesSince(mark).empty(), state + ": DOWNLOAD sends nothing");
    checkConnection(dialog, state + " after DOWNLOAD", button, label);
    checkText(logText(dialog), log, state + ": nothing logged");
    checkDownloadControls(dialog, true, state + " after DOWNLOAD");
}

bool checkFocusOnDownload(HWND dialog, const std::string& situation) {
    return check(probe::waitUntil(
                     [&] { return probe::focusOf(dialog) == probe::item(dialog, IDC_DOWNLOAD); },
                     kStepTimeoutMs),
                 situation + ": DOWNLOAD has the focus again");
}

void pressEnter(HWND dialog) {
    // Keys go to the focused control, or to the active dialog when none has the focus.
    HWND focus = probe::focusOf(dialog);
    PostMessageW(focus != nullptr ? focus : dialog, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(focus != nullptr ? focus : dialog, WM_KEYUP, VK_RETURN, 0xC01C0001);
}

bool watchTransfer(HWND dialog, DWORD timeoutMs, ProgressWatch& watch,
                   const std::wstring& screenshotName, DWORD intervalMs) {
    bool screenshotTaken = screenshotName.empty();
    Screenshot shot;
    bool completed = false;
    probe::waitUntil(
        [&] {
            const int position = progressPosition(dialog);
            if (position >= 0) {
                if (position < watch.highest) watch.neverFell = false;
                if (position > watch.highest) watch.highest = position;
                if (position > 0 && position < 100) watch.movedBetween = true;
            }
            if (!screenshotTaken && position >= 20 && position <= 80) {
                screenshotTaken = true;
                shot = Screenshot::start(screenshotName);
            }
            const std::wstring log = logText(dialog);
            completed = log.size() >= std::wcslen(kCompletedLine) &&
                        log.compare(log.size() - std::wcslen(kCompletedLine), std::wstring::npos,
                                    kCompletedLine) == 0;
            return completed || probe::waitForOwnedDialog(dialog, 0) != nullptr;
        },
        timeoutMs, intervalMs);
    shot.finish();
    return completed;
}

void checkSuccessSteps(HWND dialog, const SimulatedDevice& device, DWORD completedAt,
                       std::size_t completedMark, const SuccessSteps& expected) {
    check(progressPosition(dialog) == 100, "the progress bar stands at 100 when completed");
    checkText(logText(dialog), expected.logBefore + kCompletedLine,
              "the log adds \"download completed. please wait ...\"");
    checkDownloadControls(dialog, false, "during the pause");
    if (expected.message != nullptr) {
        answerMessageBox(dialog, expected.message, true, kPauseWithDetectionMs);
    }

    const std::size_t completedEnd = expected.logBefore.size() + std::wcslen(kCompletedLine);
    const bool finished = probe::waitUntil(
        [&] { return logText(dialog).find(L"finished.\r\n", completedEnd) != std::wstring::npos; },
        kPauseWithDetectionMs);
    const DWORD pause = GetTickCount() - completedAt;
    check(finished, "\"finished.\" follows");
    report(pause + kPauseToleranceMs >= kSettleMs, "\"finished.\" comes after the 7000 ms pause",
           std::to_string(pause) + " ms");
    check(device.countSince(completedMark, "boot rx version-request") == expected.queries,
          "the device is queried " + std::to_string(expected.queries) +
              " times before \"finished.\"");

    check(waitForLogEnding(dialog, L"finished.\r\ndisconnected.\r\n", kStepTimeoutMs),
          "\"disconnected.\" follows");
    checkText(logText(dialog),
              expected.logBefore + kCompletedLine + L"finished.\r\ndisconnected.\r\n",
              "the log reads \"download completed. please wait ...\", \"finished.\", "
              "\"disconnected.\"");
    // The controls come back one after another as the worker's last steps.
    probe::waitUntil([&] { return downloadControlsAre(dialog, true); }, kStepTimeoutMs);
    checkConnection(dialog, "after success", L"offline", L"no device");
    check(!probe::itemEnabled(dialog, IDC_ONLINE), "after success: online button disabled");
    check(progressPosition(dialog) == 0, "after success: progress bar at 0");
    checkDownloadControls(dialog, true, "after success");
}

void checkFlashHolds(const SimulatedDevice& device, const ImageFile& image) {
    const std::vector<unsigned char> flash = device.flash();
    bool same = flash.size() == image.size();
    for (DWORD i = 0; same && i < image.size(); ++i) same = flash[i] == patternByte(i);
    report(same, "the device's flash holds the image byte for byte",
           same ? "" : std::to_string(flash.size()) + " bytes in flash");
}

}  // namespace gui
