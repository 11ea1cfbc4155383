// The main dialog's download job: the boot switch when needed, then the image
// transfer on a worker thread with the progress bar, and the outcome.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "app/busy.h"
#include "app/log_view.h"
#include "app/quorvel_dlg.h"
#include "image/block_list.h"
#include "platform/platform.h"
#include "protocol/console.h"
#include "protocol/transfer.h"

namespace {

constexpr std::uint32_t kSettleAfterDownloadMs = 7000;
constexpr const wchar_t* kCloseDuringDownloadQuestion =
    L"A download is running. Closing now leaves the device half-written.\n\nClose anyway?";
constexpr const wchar_t* kNoImageMessage = L"No image is loaded. \nLoad a binary file first.\n";

// "The download could not be started: <system text> (error N).\n"
std::wstring StartFailureMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring reason = length > 0 ? std::wstring(text, length) : std::wstring();
    if (text != nullptr) ::LocalFree(text);
    // The system's text ends in a full stop and a line break; the message adds its own.
    while (!reason.empty() && (std::iswspace(reason.back()) || reason.back() == L'.')) {
        reason.pop_back();
    }
    std::wstring message = L"The download could not be started: ";
    if (!reason.empty()) message += reason + L" ";
    return message + L"(error " + std::to_wstring(error) + L").\n";
}

// Controls that could start a second transfer, touch the port or change the
// blocks while a worker runs.
constexpr int kControlsLockedForDownload[] = {IDC_DOWNLOAD, IDC_PORT_LIST, IDC_LOAD_BINARY_FILE,
                                              IDC_AREA_LIST};

}  // namespace

void CQuorvelDlg::OnBnClickedDownload() {
    // A press that reaches the handler while a worker runs is refused.
    if (IsDownloading()) return;
    if (m_port == nullptr) {
        // Offline, or the port was released after a refused boot switch.
        ShowNoDeviceMessage();
        return;
    }

    if (!holdsImageBytes(m_blockList)) {
        // A transfer of no bytes (no file, or an empty one) would switch the
        // device and report success.
        MessageBox(kNoImageMessage, nullptr, MB_OK | MB_ICONINFORMATION);
        return;
    }

    EnterBootLoader();
    if (m_bootVersion == kNoBootLoader) return;  // the failure has been shown

    LockControlsForDownload();
    m_shownPercent = -1;
    m_downloading = true;
    m_worker = AfxBeginThread(&CQuorvelDlg::DownloadThreadProc, this, THREAD_PRIORITY_NORMAL, 0, 0,
                              nullptr);
    if (m_worker == nullptr) {
        // Told while the controls are still locked, as a failed transfer is.
        MessageBox(StartFailureMessage(::GetLastError()).c_str(), nullptr,
                   MB_OK | MB_ICONINFORMATION);
        m_downloading = false;
        UnlockControlsAfterDownload(false);
    }
}

void CQuorvelDlg::EnterBootLoader() {
    if (m_bootVersion != kNoBootLoader) return;

    CWinApp* app = AfxGetApp();
    app->BeginWaitCursor();
    m_deviceLink.port = m_port;
    const bool accepted = requestBootLoader(&m_deviceLink);
    if (accepted) {
        DetectAfterBootSwitch();
        app->RestoreWaitCursor();
        app->EndWaitCursor();
        return;
    }
    MessageBox(L"check cable.\n", nullptr, MB_OK | MB_ICONINFORMATION);
    closePort(m_port);
    m_port = nullptr;
    app->EndWaitCursor();
}

UINT CQuorvelDlg::DownloadThreadProc(LPVOID param) {
    auto* dialog = static_cast<CQuorvelDlg*>(param);
    BeginBusy();

    int status;
    {
        TransferSession session(dialog->m_port);
        status = transferImage(dialog->m_blockList, session, dialog, dialog->m_downloadFlags,
                               &CQuorvelDlg::ShowProgress);
    }

    if (status != 0) {
        wchar_t message[64];
        std::swprintf(message, sizeof message / sizeof message[0], L"Communication Error \n%i",
                      status);
        dialog->MessageBox(message, nullptr, MB_OK | MB_ICONINFORMATION);
        dialog->UnlockControlsAfterDownload(false);
        dialog->m_downloading = false;
        EndBusy();
        return 0xFFFFFFFFu;
    }

    LogPrintf(dialog, L"download completed. please wait ...\n");
    sleepMilliseconds(kSettleAfterDownloadMs);
    if (dialog->m_versionText != nullptr && std::strncmp(dialog->m_versionText, "bl-", 3) == 0) {
        dialog->DetectDevice();
    }
    LogPrintf(dialog, L"finished.\n");
    dialog->ConnectDevice(false);
    CWnd online = dialog->GetDlgItem(IDC_ONLINE);
    online.SetWindowText(L"offline");
    online.EnableWindow(FALSE);
    dialog->GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(L"no device");
    dialog->GetDlgItem(IDC_PROGRESS).SendMessage(PBM_SETPOS, 0);
    dialog->UnlockControlsAfterDownload(true);
    dialog->m_downloading = false;
    EndBusy();
    return 0;
}

int CQuorvelDlg::ShowProgress(void* context, std::int32_t percent) {
    auto* dialog = static_cast<CQuorvelDlg*>(context);
    // The bar moves only when the percentage does: a message to the dialog's
    // thread after every packet would hold up the next one for nothing.
    if (percent != dialog->m_shownPercent) {
        dialog->m_shownPercent = percent;
        dialog->GetDlgItem(IDC_PROGRESS).SendMessage(PBM_SETPOS, static_cast<WPARAM>(percent));
    }
    return percent;
}

void CQuorvelDlg::LockControlsForDownload() {
    m_focusBeforeDownload = ::GetFocus();
    m_onlineEnabledBeforeDownload = GetDlgItem(IDC_ONLINE).IsWindowEnabled();
    GetDlgItem(IDC_ONLINE).EnableWindow(FALSE);
    for (int id : kControlsLockedForDownload) GetDlgItem(id).EnableWindow(FALSE);
}

void CQuorvelDlg::UnlockControlsAfterDownload(bool succeeded) {
    for (int id : kControlsLockedForDownload) GetDlgItem(id).EnableWindow(TRUE);
    // After success the dialog is offline with the online button disabled
    // until a port is selected again.
    GetDlgItem(IDC_ONLINE).EnableWindow(succeeded ? FALSE : m_onlineEnabledBeforeDownload);
    RestoreFocusAfterDownload();
}

// Disabling the focused control left the focus nowhere, so Enter would no
// longer press DOWNLOAD. The focus goes back where it was, or to DOWNLOAD if
// that control is not usable now. Posted: the dialog moves the focus (and the
// default button) on its own thread, whichever thread unlocks.
void CQuorvelDlg::RestoreFocusAfterDownload() {
    HWND target = m_focusBeforeDownload;
    if (target == nullptr || !::IsChild(m_hWnd, target) || !::IsWindowEnabled(target)) {
        target = GetDlgItem(IDC_DOWNLOAD).m_hWnd;
    }
    ::PostMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

bool CQuorvelDlg::ConfirmCloseDuringDownload() {
    if (!IsDownloading()) return true;
    const bool confirmed = MessageBox(kCloseDuringDownloadQuestion, nullptr,
                                      MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    // The worker uses this dialog, its port and its blocks until its transfer
    // ends, and a transfer cannot be cut short. The dialog lives on
    // InitInstance's stack, so it must not go while the worker runs: a close
    // confirmed during a download ends the process here. The worker ends with
    // it, and the system closes the port's handle, which frees the port.
    if (confirmed && IsDownloading()) ::ExitProcess(0);
    return confirmed;
}

void CQuorvelDlg::OnOK() {
    if (ConfirmCloseDuringDownload()) CDialogEx::OnOK();
}

void CQuorvelDlg::OnCancel() {
    if (ConfirmCloseDuringDownload()) CDialogEx::OnCancel();
}
