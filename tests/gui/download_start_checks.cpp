// Starting a download inside the process: a worker thread that cannot be
// created, and a file chosen in the open-file dialog while a download starts
// under it (that dialog has no owner, so the main dialog stays usable).
#include <process.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/framework/thread.h"
#include "test_dialog.h"
#include "test_files.h"
#include "window_probe.h"

namespace {

constexpr DWORD kStepTimeoutMs = 10000;
constexpr int kMessageText = 0xFFFF;  // the text's id inside Wine's message box

std::uintptr_t failingThreadCreator(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                                    unsigned*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

// Selects the simulated device's port (in its boot loader) and presses the
// online button, as a user would; the online button's text then reads `state`.
bool pressOnline(HWND window, const wchar_t* state) {
    const wchar_t* number = _wgetenv(L"QUORVEL_DEVICE_COM");
    const std::wstring port = L"COM" + std::wstring(number != nullptr ? number : L"");
    HWND portList = probe::item(window, IDC_PORT_LIST);
    const LRESULT index = probe::send(portList, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(port.c_str()));
    probe::send(portList, CB_SETCURSEL, static_cast<WPARAM>(index));
    probe::send(window, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, CBN_SELCHANGE),
                reinterpret_cast<LPARAM>(portList));
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_ONLINE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(probe::item(window, IDC_ONLINE)));
    return probe::waitUntil([&] { return probe::itemText(window, IDC_ONLINE) == state; },
                            kStepTimeoutMs);
}

void startWithoutThread(TestDialog& dialog) {
    HWND window = dialog.m_hWnd;
    HWND areaList = probe::item(window, IDC_AREA_LIST);
    if (!pressOnline(window, L"online")) return check(false, "the boot loader comes online");
    afxThreadCreator = failingThreadCreator;

    // Pressed without moving the focus, which stays on the area list.
    probe::send(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(areaList), TRUE);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_DOWNLOAD, BN_CLICKED),
                 reinterpret_cast<LPARAM>(probe::item(window, IDC_DOWNLOAD)));
    HWND box = probe::waitForOwnedDialog(window, kStepTimeoutMs);
    probe::waitUntil([&] { return !probe::itemText(box, kMessageText).empty(); }, kStepTimeoutMs);
    // The system's text for error 8 is Wine's, so only the frame is fixed.
    const std::wstring text = probe::itemText(box, kMessageText);
    const std::wstring end = L" (error 8).\n";
    check(text.rfind(L"The download could not be started: ", 0) == 0 && text.size() > 50 &&
              text.compare(text.size() - end.size(), end.size(), end) == 0,
          "a worker that cannot be created is reported with the system's reason");
    if (box != nullptr) PostMessageW(box, WM_COMMAND, IDOK, 0);
    check(probe::waitUntil([&] { return probe::itemEnabled(window, IDC_DOWNLOAD); },
                           kStepTimeoutMs) &&
              !dialog.IsDownloading(),
          "after OK the dialog is usable again");
    check(probe::waitUntil([&] { return probe::focusOf(window) == areaList; }, kStepTimeoutMs),
          "the focus is back on the control that had it");

    afxThreadCreator = &_beginthreadex;
    check(pressOnline(window, L"offline"), "the device goes offline again");
}

void chooseFileWhileDownloadStarts(TestDialog& dialog, const std::wstring& path) {
    HWND window = dialog.m_hWnd;
    const std::wstring pathBefore = probe::itemText(window, IDC_IMAGE_PATH);
    const std::wstring infoBefore = probe::itemText(window, IDC_FILE_INFO);
    const ImageBlock* blocks = dialog.GetBlockList();

    PostMessageW(probe::item(window, IDC_LOAD_BINARY_FILE), BM_CLICK, 0, 0);
    HWND open = probe::waitForDialog(GetCurrentProcessId(), L"Open", kStepTimeoutMs);
    if (open == nullptr) return check(false, "the open-file dialog appears");
    dialog.SetDownloading(true);
    check(probe::confirmOpenFile(open, path, kStepTimeoutMs), "a file is chosen");
    // Answered once the button's handler has returned.
    probe::send(window, WM_NULL);
    dialog.SetDownloading(false);
    check(probe::itemText(window, IDC_IMAGE_PATH) == pathBefore &&
              probe::itemText(window, IDC_FILE_INFO) == infoBefore &&
              dialog.GetBlockList() == blocks,
          "a file chosen while a download started changes nothing");
}

}  // namespace

void runDownloadStartChecks(TestDialog& dialog) {
    const std::wstring folder = makeTestFolder(L"quorvel-start-");
    const TestFile image = makeTestFile(folder, L"later.bin", 500);
    if (dialog.GetBlockList() == nullptr) {
        check(false, "an image is loaded before DOWNLOAD");
    } else {
        startWithoutThread(dialog);
        chooseFileWhileDownloadStarts(dialog, image.path);
    }
    DeleteFileW(image.path.c_str());
    RemoveDirectoryW(folder.c_str());
}
