// Files dropped onto the main dialog, tested inside the process: a drop carries
// a memory handle that belongs to one process, so this program runs the real
// dialog and drops files onto it from a second thread.
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/quorvel_dlg.h"
#include "test_files.h"
#include "window_probe.h"

namespace {

constexpr DWORD kStepTimeoutMs = 10000;
constexpr DWORD kWatchdogMs = 90000;

int failures = 0;

void check(bool condition, const char* what) {
    std::printf("%s %s\n", condition ? "ok  " : "FAIL", what);
    std::fflush(stdout);
    if (!condition) ++failures;
}

// A drop block as the shell makes it: DROPFILES, then the wide paths, each
// NUL-terminated, and a final NUL. The dialog releases it.
HDROP makeDrop(const std::vector<std::wstring>& paths, POINT point) {
    std::size_t characters = 1;
    for (const std::wstring& path : paths) characters += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = point;
    drop->fNC = FALSE;
    drop->fWide = TRUE;
    auto* names = reinterpret_cast<wchar_t*>(drop + 1);
    for (const std::wstring& path : paths) {
        path.copy(names, path.size());
        names += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// The centre of a control, in the dialog's client coordinates.
POINT centreOf(HWND dialog, int id) {
    RECT rect;
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    POINT point{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ScreenToClient(dialog, &point);
    return point;
}

void dropOnto(HWND dialog, const std::vector<std::wstring>& paths, POINT point) {
    SendMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(makeDrop(paths, point)), 0);
}

// The dialog with a way to mark a download as running, as the download's start
// does, without a device to download into.
class DropTestDialog : public CQuorvelDlg {
  public:
    void SetDownloading(bool running) { m_downloading = running; }
};

bool holdsImage(const ImageBlock* block, DWORD size) {
    if (block == nullptr || block->byteCount != static_cast<std::int32_t>(size)) return false;
    for (DWORD i = 0; i < size; ++i) {
        if (block->data[i] != patternByte(i)) return false;
    }
    return true;
}

void runDrops(DropTestDialog& dialog) {
    if (!probe::waitUntil(
            [&] { return dialog.m_hWnd != nullptr && IsWindowVisible(dialog.m_hWnd); },
            kStepTimeoutMs)) {
        check(false, "dialog shows");
        return;
    }
    HWND window = dialog.m_hWnd;
    const std::wstring folder = makeTestFolder(L"quorvel-drop-");
    const TestFile first = makeTestFile(folder, L"first.bin", 1000);
    const TestFile second = makeTestFile(folder, L"second.bin", 2000);
    const TestFile third = makeTestFile(folder, L"third.bin", 3000);
    const TestFile longName = makeTestFile(folder, std::wstring(200, L'n') + L".bin", 64);
    const TestFile oversized = makeTestFile(folder, L"oversized.bin", 212993);

    dropOnto(window, {first.path, second.path, third.path}, centreOf(window, IDC_IMAGE_PATH));
    check(probe::itemText(window, IDC_IMAGE_PATH) == first.path,
          "of three files dropped onto the path field the first is set");
    check(probe::itemText(window, IDC_FILE_INFO) == expectedInfo(first),
          "the info pane shows the first file");
    const ImageBlock* blocks = dialog.GetBlockList();
    check(holdsImage(blocks, 1000) && blocks->targetAddress == 0x108000 && blocks->next == nullptr,
          "the first file is the one block, for 0x108000");
    check(dialog.GetDownloadFlags() == 0xA5A50000u, "the CODE flags word stays set");

    dropOnto(window, {second.path}, centreOf(window, IDC_FILE_INFO));
    check(probe::itemText(window, IDC_IMAGE_PATH) == second.path,
          "a file dropped onto the info pane is set");
    check(probe::itemText(window, IDC_FILE_INFO) == expectedInfo(first) + expectedInfo(second),
          "the info pane adds the second file below the first");
    blocks = dialog.GetBlockList();
    check(holdsImage(blocks, 2000) && blocks->next == nullptr,
          "the second file replaces the first block");

    const std::wstring infoBefore = probe::itemText(window, IDC_FILE_INFO);
    for (int id : {IDC_LOG, IDC_DOWNLOAD, IDC_LOAD_BINARY_FILE, IDC_AREA_ADDRESS}) {
        dropOnto(window, {third.path}, centreOf(window, id));
    }
    dropOnto(window, {third.path}, POINT{2, 2});
    check(probe::itemText(window, IDC_IMAGE_PATH) == second.path &&
              probe::itemText(window, IDC_FILE_INFO) == infoBefore &&
              holdsImage(dialog.GetBlockList(), 2000),
          "drops onto other controls or the dialog itself change nothing");

    dropOnto(window, {longName.path}, centreOf(window, IDC_IMAGE_PATH));
    check(probe::itemText(window, IDC_FILE_INFO) == infoBefore + expectedInfo(longName),
          "a 200-character file name is shown whole");
    const ImageBlock* kept = dialog.GetBlockList();
    check(holdsImage(kept, 64), "the long-named file is loaded");

    // Refused with a message box: post the drop and answer the box.
    PostMessageW(
        window, WM_DROPFILES,
        reinterpret_cast<WPARAM>(makeDrop({oversized.path}, centreOf(window, IDC_IMAGE_PATH))), 0);
    HWND box = probe::waitForOwnedDialog(window, kStepTimeoutMs);
    check(box != nullptr && probe::itemText(box, 0xFFFF) == L"Incompatible File",
          "an oversized dropped image gives \"Incompatible File\"");
    if (box != nullptr) PostMessageW(box, WM_COMMAND, IDOK, 0);
    check(box != nullptr && probe::waitForClosed(box, kStepTimeoutMs), "the message box closes");
    check(dialog.GetBlockList() == kept && holdsImage(kept, 64),
          "the refused image leaves the earlier block in place");

    // While a download runs its blocks are the worker's: a drop is refused.
    const std::wstring pathKept = probe::itemText(window, IDC_IMAGE_PATH);
    const std::wstring infoKept = probe::itemText(window, IDC_FILE_INFO);
    dialog.SetDownloading(true);
    dropOnto(window, {first.path}, centreOf(window, IDC_IMAGE_PATH));
    dialog.SetDownloading(false);
    check(probe::itemText(window, IDC_IMAGE_PATH) == pathKept &&
              probe::itemText(window, IDC_FILE_INFO) == infoKept && dialog.GetBlockList() == kept &&
              holdsImage(kept, 64),
          "a drop during a download changes nothing");

    for (const TestFile* file : {&first, &second, &third, &longName, &oversized}) {
        DeleteFileW(file->path.c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

DWORD WINAPI dropThread(LPVOID parameter) {
    auto* dialog = static_cast<DropTestDialog*>(parameter);
    runDrops(*dialog);
    PostMessageW(dialog->m_hWnd, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

DWORD WINAPI watchdog(LPVOID) {
    Sleep(kWatchdogMs);
    std::printf("FAIL the drop test did not end within %lu ms\n", kWatchdogMs);
    std::fflush(stdout);
    ExitProcess(3);
}

class DropTestApp : public CWinApp {
  public:
    BOOL InitInstance() override {
        CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
        DropTestDialog dialog;
        m_pMainWnd = &dialog;
        HANDLE driver = CreateThread(nullptr, 0, dropThread, &dialog, 0, nullptr);
        dialog.DoModal();
        WaitForSingleObject(driver, INFINITE);
        CloseHandle(driver);
        m_pMainWnd = nullptr;
        return FALSE;
    }

    int ExitInstance() override {
        std::printf("%s\n", failures == 0 ? "PASSED" : "FAILED");
        return failures == 0 ? 0 : 1;
    }
};

DropTestApp theApp;

}  // namespace

// A console program, so that its report reaches the test log.
int wmain() { return runApplication(GetModuleHandleW(nullptr)); }
