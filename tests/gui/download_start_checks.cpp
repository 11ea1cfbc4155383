// Starting a download inside the process: a worker thread that cannot be
// created, and a file chosen in the open-file dialog while a download starts
// under it (that dialog has no owner, so the main dialog stays usable).
#include <process.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/framework/thread.h"
#include "test_dialog.h"
#include "test_files.h"
#include "window_probe.h"

namespace {

constexpr DWORD kStepTimeoutMs = 10000;
// Ids inside Wine's message box.
constexpr int kMessageText = 0xFFFF;
constexpr int kMessageIcon = 1088;
constexpr int kLockedControls[] = {IDC_DOWNLOAD, IDC_PORT_LIST, IDC_LOAD_BINARY_FILE,
                                   IDC_AREA_LIST};

std::uintptr_t failingThreadCreator(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                                    unsigned*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

bool controlsEnabled(HWND window, bool enabled) {
    for (int id : kLockedControls) {
        if (probe::itemEnabled(window, id) != enabled) return false;
    }
    return true;
}

bool hasIcon(HWND box) {
    HWND icon = probe::item(box, kMessageIcon);
    return icon != nullptr && IsWindowVisible(icon) && probe::send(icon, STM_GETICON) != 0;
}

void startWithoutThread(TestDialog& dialog) {
    HWND window = dialog.m_hWnd;
    HWND areaList = probe::item(window, IDC_AREA_LIST);
    SerialPort port;  // never opened: no worker runs to use it
    dialog.SetBootLoaderOnline(&port, 0x12340AFF);
    afxThreadCreator = failingThreadCreator;

    // Pressed without moving the focus, which stays on the area list.
    probe::send(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(areaList), TRUE);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_DOWNLOAD, BN_CLICKED),
                 reinterpret_cast<LPARAM>(probe::item(window, IDC_DOWNLOAD)));
    HWND box = probe::waitForOwnedDialog(window, kStepTimeoutMs);
    probe::waitUntil([&] { return !probe::itemText(box, kMessageText).empty(); }, kStepTimeoutMs);
    const std::wstring text = probe::itemText(box, kMessageText);
    const std::wstring start = L"The download could not be started: ";
    const std::wstring end = L" (error 8).\n";
    std::printf("     the box reads \"%ls\"\n", text.c_str());
    check(box != nullptr && text.size() > start.size() + end.size() &&
              text.compare(0, start.size(), start) == 0 &&
              text.compare(text.size() - end.size(), end.size(), end) == 0,
          "a worker that cannot be created is reported with the system's reason");
    check(box != nullptr && probe::text(box) == AfxGetAppName() && hasIcon(box) &&
              probe::item(box, IDOK) != nullptr && probe::item(box, IDCANCEL) == nullptr,
          "the box has the program's name, the information icon and OK");
    check(!controlsEnabled(window, true), "the controls stay locked while it shows");
    if (box != nullptr) PostMessageW(box, WM_COMMAND, IDOK, 0);
    check(box != nullptr && probe::waitForClosed(box, kStepTimeoutMs), "OK closes the box");

    check(probe::waitUntil([&] { return controlsEnabled(window, true); }, kStepTimeoutMs) &&
              !dialog.IsDownloading(),
          "afterwards the dialog is usable again");
    check(probe::waitUntil([&] { return probe::focusOf(window) == areaList; }, kStepTimeoutMs),
          "the focus is back on the control that had it");

    afxThreadCreator = &_beginthreadex;
    dialog.SetBootLoaderOnline(nullptr, CQuorvelDlg::kNoBootLoader);
}

void chooseFileWhileDownloadStarts(TestDialog& dialog, const std::wstring& path) {
    HWND window = dialog.m_hWnd;
    const std::wstring pathBefore = probe::itemText(window, IDC_IMAGE_PATH);
    const std::wstring infoBefore = probe::itemText(window, IDC_FILE_INFO);
    const ImageBlock* blocks = dialog.GetBlockList();

    PostMessageW(probe::item(window, IDC_LOAD_BINARY_FILE), BM_CLICK, 0, 0);
    HWND open = probe::waitForDialog(GetCurrentProcessId(), L"Open", kStepTimeoutMs);
    check(open != nullptr, "the open-file dialog appears");
    if (open == nullptr) return;
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
