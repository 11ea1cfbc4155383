// The main dialog's download job: the boot switch when needed, then the image
// transfer on a worker thread with the progress bar, and the outcome.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstring>
#include <cwchar>

#include "app/busy.h"
#include "app/log_view.h"
#include "app/quorvel_dlg.h"
#include "platform/platform.h"
#include "protocol/console.h"
#include "protocol/transfer.h"

namespace {

constexpr std::uint32_t kSettleAfterDownloadMs = 7000;
constexpr const wchar_t* kCloseDuringDownloadQuestion =
    L"A download is running. Closing now leaves the device half-written.\n\nClose anyway?";

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

    EnterBootLoader();
    if (m_bootVersion == kNoBootLoader) return;  // the failure has been shown

    LockControlsForDownload();
    m_shownPercent = -1;
    m_downloading = true;
    m_worker = AfxBeginThread(&CQuorvelDlg::DownloadThreadProc, this, THREAD_PRIORITY_NORMAL, 0, 0,
                              nullptr);
    if (m_worker == nullptr) {
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
    m_onlineEnabledBeforeDownload = GetDlgItem(IDC_ONLINE).IsWindowEnabled();
    GetDlgItem(IDC_ONLINE).EnableWindow(FALSE);
    for (int id : kControlsLockedForDownload) GetDlgItem(id).EnableWindow(FALSE);
}

void CQuorvelDlg::UnlockControlsAfterDownload(bool succeeded) {
    for (int id : kControlsLockedForDownload) GetDlgItem(id).EnableWindow(TRUE);
    // After success the dialog is offline with the online button disabled
    // until a port is selected again.
    GetDlgItem(IDC_ONLINE).EnableWindow(succeeded ? FALSE : m_onlineEnabledBeforeDownload);
}

bool CQuorvelDlg::ConfirmCloseDuringDownload() {
    if (!IsDownloading()) return true;
    return MessageBox(kCloseDuringDownloadQuestion, nullptr,
                      MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void CQuorvelDlg::OnOK() {
    if (ConfirmCloseDuringDownload()) CDialogEx::OnOK();
}

void CQuorvelDlg::OnCancel() {
    if (ConfirmCloseDuringDownload()) CDialogEx::OnCancel();
}
