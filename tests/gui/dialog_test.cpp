// The main dialog tested inside the process: this program runs the real dialog
// and works it from a second thread. Files are dropped onto it (a drop carries
// a memory handle that belongs to one process), and a download is started where
// the start itself goes wrong or a file is chosen meanwhile (test_dialog.h).
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_dialog.h"
#include "test_files.h"
#include "window_probe.h"

namespace {

constexpr DWORD kStepTimeoutMs = 10000;
constexpr DWORD kWatchdogMs = 90000;

int failures = 0;

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

bool holdsImage(const ImageBlock* block, DWORD size) {
    if (block == nullptr || block->byteCount != static_cast<std::int32_t>(size)) return false;
    for (DWORD i = 0; i < size; ++i) {
        if (block->data[i] != patternByte(i)) return false;
    }
    return true;
}

}  // namespace

void check(bool condition, const char* what) {
    std::printf("%s %s\n", condition ? "ok  " : "FAIL", what);
    std::fflush(stdout);
    if (!condition) ++failures;
}

void runDrops(TestDialog& dialog) {
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

namespace {

// Set when the dialog is closed during a download, so that its return from
// DoModal shows it was destroyed under the worker.
bool closedDuringDownload = false;

// Last, as it ends the program: a close confirmed during a download ends the
// process at once, with exit code 0, before the dialog can go.
void closeDuringDownload(TestDialog& dialog) {
    std::printf("     a close confirmed during a download must end this program with code 0\n");
    std::fflush(stdout);
    closedDuringDownload = true;
    dialog.SetDownloading(true);
    PostMessageW(dialog.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    HWND question = probe::waitForOwnedDialog(dialog.m_hWnd, kStepTimeoutMs);
    check(question != nullptr, "closing during a download asks first");
    if (question != nullptr) PostMessageW(question, WM_COMMAND, IDYES, 0);
    Sleep(kStepTimeoutMs);
    check(false, "\"Yes\" ends the process");
}

DWORD WINAPI testThread(LPVOID parameter) {
    auto* dialog = static_cast<TestDialog*>(parameter);
    runDrops(*dialog);
    runDownloadStartChecks(*dialog);
    // Ending the process would hide earlier failures.
    if (failures == 0) {
        closeDuringDownload(*dialog);
    } else {
        PostMessageW(dialog->m_hWnd, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
}

DWORD WINAPI watchdog(LPVOID) {
    Sleep(kWatchdogMs);
    std::printf("FAIL the dialog test did not end within %lu ms\n", kWatchdogMs);
    std::fflush(stdout);
    ExitProcess(3);
}

class DialogTestApp : public CWinApp {
  public:
    BOOL InitInstance() override {
        CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
        // The open-file dialog uses the shell's COM services, as in the program.
        CShellManager shellManager;
        TestDialog dialog;
        m_pMainWnd = &dialog;
        HANDLE driver = CreateThread(nullptr, 0, testThread, &dialog, 0, nullptr);
        dialog.DoModal();
        if (closedDuringDownload) check(false, "the dialog closed while a download ran");
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

DialogTestApp theApp;

}  // namespace

// A console program, so that its report reaches the test log.
int wmain() { return runApplication(GetModuleHandleW(nullptr)); }
