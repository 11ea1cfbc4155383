// The main dialog's connection to the device: the port list, the online button,
// opening the port and showing what runs on the device. The steps themselves
// (re-open, detection, boot switch) are the device session's.
#include <cstdlib>
#include <vector>

#include "app/busy.h"
#include "app/log_view.h"
#include "app/quorvel_dlg.h"
#include "app/to_wide.h"
#include "flashing/device_identity.h"
#include "flashing/messages.h"
#include "serial/owned_port.h"

namespace {

constexpr std::size_t kComPrefixLength = 3;  // "COM"

std::wstring selectedPortName(const CComboBox& portList) {
    const int selection = portList.GetCurSel();
    return selection >= 0 ? portList.GetLBText(selection) : std::wstring();
}

// "COM" and the number, read as _wtoi reads it (0 without digits).
std::int32_t portNumberOf(const std::wstring& name) {
    return name.size() >= kComPrefixLength ? _wtoi(name.c_str() + kComPrefixLength) : 0;
}

// The status label's text: the boot loader's version, or the application's
// version text converted from the thread's code page. After a boot switch the
// identity keeps the application's text beside the boot loader's version.
std::wstring deviceLabel(const DeviceIdentity& identity) {
    if (identity.bootLoader()) return WidenAscii(bootLoaderLabel(identity.bootVersion));
    std::vector<wchar_t> wide(identity.versionText.size() + 1, L'\0');
    const wchar_t* label = ToWide(identity.versionText.c_str(), wide.data(),
                                  static_cast<int>(wide.size()), CP_THREAD_ACP);
    return label != nullptr ? label : L"";
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
    const WaitCursorScope waitCursor(*AfxGetApp());
    if (!connect) {
        ShowOffline();
        m_device.reset();
        LogText(this, WidenAscii(kDisconnectedLine));
        return;
    }

    const std::wstring name = selectedPortName(CComboBox(GetDlgItem(IDC_PORT_LIST)));
    m_device.reset();
    m_device = std::make_unique<DeviceSession>(OwnedPort(createPort(portNumberOf(name))), nullptr);
    if (!m_device->isOpen()) {
        DropPort();
        return;
    }
    if (DetectDevice()) LogText(this, WidenAscii(kConnectedLine));
}

bool CQuorvelDlg::DetectDevice() {
    const WaitCursorScope waitCursor(*AfxGetApp());
    switch (m_device->detect()) {
        case DetectOutcome::Found:
            break;
        case DetectOutcome::PortNotReopened:
            DropPort();
            return false;
        case DetectOutcome::NothingAnswered:
            DropPort();
            GetDlgItem(IDC_ONLINE).SetWindowText(L"offline");
            GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(L"no device");
            return false;
    }
    ShowOnline(m_device->identity());
    return true;
}

void CQuorvelDlg::ShowOnline(const DeviceIdentity& identity) {
    GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(deviceLabel(identity));
    GetDlgItem(IDC_ONLINE).SetWindowText(L"online");
}

void CQuorvelDlg::ShowOffline() {
    GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(L"no device");
    GetDlgItem(IDC_ONLINE).SetWindowText(L"offline");
}

void CQuorvelDlg::DropPort() {
    m_device.reset();
    ShowNoDeviceMessage();
}

void CQuorvelDlg::ShowNoDeviceMessage() {
    MessageBox(WidenAscii(kNoDeviceMessage).c_str(), nullptr, MB_OK | MB_ICONINFORMATION);
}

void CQuorvelDlg::EnterBootLoader() {
    if (m_device->identity().bootLoader()) return;

    const WaitCursorScope waitCursor(*AfxGetApp());
    if (!m_device->requestBootLoaderSwitch()) {
        m_device.reset();
        MessageBox(WidenAscii(kCheckCableMessage).c_str(), nullptr, MB_OK | MB_ICONINFORMATION);
        return;
    }

    const BusyPeriod busy;
    switch (m_device->findBootLoaderAfterSwitch()) {
        case SwitchOutcome::InBootLoader:
            GetDlgItem(IDC_DEVICE_STATUS).SetWindowText(deviceLabel(m_device->identity()));
            break;
        case SwitchOutcome::PortNotReopened:
        case SwitchOutcome::Refused:
            DropPort();
            break;
        case SwitchOutcome::NoBootLoader:
            // The port stays open: the next DOWNLOAD asks the application again.
            ShowNoDeviceMessage();
            break;
    }
}
