// The main dialog's download job: the boot switch when needed, then the image
// transfer on a worker thread with the progress bar, and the outcome.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>

#include "app/busy.h"
#include "app/log_view.h"
#include "app/quorvel_dlg.h"
#include "app/to_wide.h"
#include "flashing/flash_job.h"
#include "flashing/messages.h"
#include "image/block_list.h"
#include "platform/system_text.h"

namespace {

constexpr const wchar_t* kCloseDuringDownloadQuestion =
    L"A download is running. Closing now leaves the device half-written.\n\nClose anyway?";

// "The download could not be started: <system text> (error N).\n"
std::wstring StartFailureMessage(DWORD error) {
    return L"The download could not be started: " + widePath(systemErrorText(error)) + L" (error " +
           std::to_wstring(error) + L").\n";
}

// Controls that could start a second transfer, touch the port or change the
// blocks while a worker runs.
constexpr int kControlsLockedForDownload[] = {IDC_DOWNLOAD, IDC_PORT_LIST, IDC_LOAD_BINARY_FILE,
                                              IDC_AREA_LIST};

}  // namespace

void CQuorvelDlg::OnBnClickedDownload() {
    // A press that reaches the handler while a worker runs is refused.
    if (IsDownloading()) return;
    if (m_device == nullptr) {
        // Offline, or the port was released after a refused boot switch.
        ShowNoDeviceMessage();
        return;
    }

    if (!holdsImageBytes(m_blockList)) {
        // A transfer of no bytes (no file, or an empty one) would switch the
        // device and report success.
        MessageBox(WidenAscii(kNoImageMessage).c_str(), nullptr, MB_OK | MB_ICONINFORMATION);
        return;
    }

    EnterBootLoader();
    // A failed switch has been shown.
    if (m_device == nullptr || !m_device->identity().bootLoader()) return;

    LockControlsForDownload();
    m_shownPercent = -1;
    m_downloading = true;
    if (AfxBeginThread(&CQuorvelDlg::DownloadThreadProc, this, THREAD_PRIORITY_NORMAL, 0, 0,
                       nullptr) == nullptr) {
        // Told while the controls are still locked, as a failed transfer is.
        MessageBox(StartFailureMessage(::GetLastError()).c_str(), nullptr,
                   MB_OK | MB_ICONINFORMATION);
        m_downloading = false;
        UnlockControlsAfterDownload(false);
    }
}

UINT CQuorvelDlg::DownloadThreadProc(LPVOID param) {
    auto* dialog = static_cast<CQuorvelDlg*>(param);
    const BusyPeriod busy;

    std::int32_t sentBytes = 0;
    const TransferResult transfer = dialog->m_device->transfer(
        dialog->m_blockList, dialog->m_downloadFlags,
        [dialog](std::int32_t sent, std::int32_t total) {
            // 64 bits: sent x 100 overflows 32 bits beyond about 21 MB.
            if (total > 0)
                ShowProgress(dialog, static_cast<std::int32_t>(std::int64_t{sent} * 100 / total));
        },
        sentBytes);
    if (!transfer.ok()) {
        dialog->MessageBox(WidenAscii(communicationErrorMessage(transfer)).c_str(), nullptr,
                           MB_OK | MB_ICONINFORMATION);
        dialog->UnlockControlsAfterDownload(false);
        dialog->m_downloading = false;
        return 0xFFFFFFFFu;
    }

    FlashEvents events;
    events.log = [dialog](const std::string& line) { LogText(dialog, WidenAscii(line)); };
    events.notice = [dialog](const std::string& message) {
        dialog->MessageBox(WidenAscii(message).c_str(), nullptr, MB_OK | MB_ICONINFORMATION);
    };
    events.identified = [dialog](const DeviceIdentity& identity) {
        if (identity.found()) dialog->ShowOnline(identity);
    };
    events.step = [dialog](FlashStep step) {
        if (step == FlashStep::Disconnecting) dialog->ShowOffline();
    };
    // The application's text is still the one from before the boot switch.
    const DeviceIdentity before = dialog->m_device->identity();
    finishDownload(*dialog->m_device, before, events, kSettleAfterDownloadMs);
    dialog->m_device.reset();
    CWnd online = dialog->GetDlgItem(IDC_ONLINE);
    online.EnableWindow(FALSE);
    dialog->GetDlgItem(IDC_PROGRESS).SendMessage(PBM_SETPOS, 0);
    dialog->UnlockControlsAfterDownload(true);
    dialog->m_downloading = false;
    return 0;
}

void CQuorvelDlg::ShowProgress(CQuorvelDlg* dialog, std::int32_t percent) {
    // The bar moves only when the percentage does, by a message the worker
    // does not wait for (waiting would hold up the next packet). Unlike a posted
    // one, it keeps its place among the messages sent after it, so the bar
    // stands at its last position before any log line or box that follows.
    if (percent != dialog->m_shownPercent) {
        dialog->m_shownPercent = percent;
        ::SendNotifyMessageW(dialog->GetDlgItem(IDC_PROGRESS).GetSafeHwnd(), PBM_SETPOS,
                             static_cast<WPARAM>(percent), 0);
    }
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
