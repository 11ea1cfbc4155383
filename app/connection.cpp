// The main dialog's connection to the device: the port list, the online button,
// opening the port and finding out what runs on the device.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "app/busy.h"
#include "app/log_view.h"
#include "app/quorvel_dlg.h"
#include "app/to_wide.h"
#include "platform/platform.h"
#include "protocol/boot_packet.h"
#include "protocol/console.h"

namespace {

constexpr std::uint32_t kBootSwitchPauseMs = 3000;

// Two tries: a boot loader may miss the first query while it settles.
std::uint32_t queryBootLoaderTwice(PortLink& link) {
    std::uint32_t version = CQuorvelDlg::kNoBootLoader;
    if (queryBootVersion(&link, version) == 0 || queryBootVersion(&link, version) == 0) {
        return version;
    }
    return CQuorvelDlg::kNoBootLoader;
}

// "boot v%i.%i.%i.%i" from the low four bits of each byte, most significant first.
std::wstring bootLoaderLabel(std::uint32_t version) {
    wchar_t label[32];
    std::swprintf(label, sizeof label / sizeof label[0], L"boot v%i.%i.%i.%i",
                  static_cast<int>((version >> 24) & 0x0F),
                  static_cast<int>((version >> 16) & 0x0F), static_cast<int>((version >> 8) & 0x0F),
                  static_cast<int>(version & 0x0F));
    return label;
}

std::wstring selectedPortName(const CComboBox& portList) {
    const int selection = portList.GetCurSel();
    return selection >= 0 ? portList.GetLBText(selection) : std::wstring();
}

}  // namespace

void CQuorvelDlg::OnCbnSelchangePort() {
    if (IsDownloading()) return;
    const int selection = CComboBox(GetDlgItem(IDC_PORT_LIST)).GetCurSel();
    GetDlgItem(IDC_ONLINE).EnableWindow(selection >= 0);
}

void CQuorvelDlg::OnCbnSetfocusPort() {
    if (IsDownloading()) return;
    FillPortList();
}

void CQuorvelDlg::OnBnClickedOnline() {
    // The button can be pressed programmatically even while disabled.
    if (IsDownloading()) return;
    if (GetDlgItem(IDC_ONLINE).GetWindowText() != L"offline") {
        ConnectDevice(false);
        return;
    }

    CComboBox portList(GetDlgItem(IDC_PORT_LIST));
    const std::wstring selected = selectedPortName(portList);
    const PortNameList present = enumeratePorts();
    for (const std::wstring& name : present) {
        if (!selected.empty() && name == selected) {
            ConnectDevice(true);
            return;
        }
    }
    // The port has gone, or none is selected: offer the ports there are now.
    portList.ResetContent();
    for (const std::wstring& name : present) portList.AddString(name);
    portList.ShowDropDown(TRUE);
}

void CQuorvelDlg::ConnectDevice(bool connect) {
    CWinApp* app = AfxGetApp();
    app->BeginWaitCursor();
    if (!connect) {
        m_bootVersion = kNoBootLoader;
        m_versionText = nullptr;
        GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(L"no device");
        GetDlgItem(IDC_ONLINE).SetWindowText(L"offline");
        closePort(m_port);
        m_port = nullptr;
        LogPrintf(this, L"disconnected.\n");
        app->RestoreWaitCursor();
        app->EndWaitCursor();
        return;
    }

    const std::wstring name = selectedPortName(CComboBox(GetDlgItem(IDC_PORT_LIST)));
    // "COM" and the number: the number is read as _wtoi reads it (0 without digits).
    const int number = name.size() >= 3 ? _wtoi(name.c_str() + 3) : 0;
    m_port = createPort(number);
    if (m_port->handle == kInvalidPortHandle) {
        closePort(m_port);
        m_port = nullptr;
        ShowNoDeviceMessage();
        app->EndWaitCursor();
        return;
    }

    DetectDevice();
    if (m_bootVersion != kNoBootLoader || m_versionText != nullptr) {
        LogPrintf(this, L"connected.\n");
    }
    app->RestoreWaitCursor();
    app->EndWaitCursor();
}

void CQuorvelDlg::DetectDevice() {
    CWinApp* app = AfxGetApp();
    app->BeginWaitCursor();
    m_port = reopenPort(m_port);
    if (m_port->handle == kInvalidPortHandle) {
        closePort(m_port);
        m_port = nullptr;
        ShowNoDeviceMessage();
        app->RestoreWaitCursor();
        app->EndWaitCursor();
        return;
    }

    m_deviceLink.port = m_port;
    m_bootVersion = queryBootLoaderTwice(m_deviceLink);
    m_versionText = nullptr;
    if (m_bootVersion == kNoBootLoader) m_versionText = queryAppVersion(&m_deviceLink);

    if (m_bootVersion == kNoBootLoader && m_versionText == nullptr) {
        ShowNoDeviceMessage();
        closePort(m_port);
        m_port = nullptr;
        GetDlgItem(IDC_ONLINE).SetWindowText(L"offline");
        GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(L"no device");
        app->EndWaitCursor();
        return;
    }

    if (m_versionText != nullptr) {
        std::vector<wchar_t> wide(std::strlen(m_versionText) + 1, L'\0');
        const wchar_t* label =
            ToWide(m_versionText, wide.data(), static_cast<int>(wide.size()), CP_THREAD_ACP);
        GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(label != nullptr ? label : L"");
    } else {
        GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(bootLoaderLabel(m_bootVersion));
    }
    GetDlgItem(IDC_ONLINE).SetWindowText(L"online");
    app->RestoreWaitCursor();
    app->EndWaitCursor();
}

void CQuorvelDlg::ShowNoDeviceMessage() {
    MessageBox(L"The comport is wrong or the device is off. \n", nullptr,
               MB_OK | MB_ICONINFORMATION);
}

int CQuorvelDlg::DetectAfterBootSwitch() {
    BeginBusy();
    sleepMilliseconds(kBootSwitchPauseMs);
    m_port = reopenPort(m_port);
    if (m_port->handle == kInvalidPortHandle) {
        closePort(m_port);
        m_port = nullptr;
        ShowNoDeviceMessage();
        EndBusy();
        return -1;
    }

    m_deviceLink.port = m_port;
    m_bootVersion = queryBootLoaderTwice(m_deviceLink);
    // The application's version text stays: the download job reads it afterwards.
    if (m_bootVersion == kNoBootLoader) {
        ShowNoDeviceMessage();
        EndBusy();
        return -1;
    }
    GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(bootLoaderLabel(m_bootVersion));
    EndBusy();
    return 0;
}
