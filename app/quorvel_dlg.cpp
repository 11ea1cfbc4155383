// The main dialog's frame: construction, initialisation, message map, icon,
// system menu and cursor.
#include "app/quorvel_dlg.h"

#include <commctrl.h>

#include "app/about_dlg.h"
#include "app/busy.h"
#include "serial/serial_port.h"

namespace {

constexpr const wchar_t* kCaption = L"DOWNLOAD ";
constexpr const wchar_t* kVersion = L"4.0";
constexpr int kMenuTextCapacity = 128;  // the about item's text, terminator included

}  // namespace

CQuorvelDlg::CQuorvelDlg() : CDialogEx(IDD_QUORVEL_DIALOG) {
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

// The blocks are left to the end of the process; no worker runs any more (a
// close during a download ends the process at once).
CQuorvelDlg::~CQuorvelDlg() = default;

const MessageMap& CQuorvelDlg::GetMessageMap() const {
    using D = CQuorvelDlg;
    static const MessageMapEntry entries[] = {
        ON_WM_SYSCOMMAND(&D::OnSysCommand),
        ON_WM_PAINT(&D::OnPaint),
        ON_WM_QUERYDRAGICON(&D::OnQueryDragIcon),
        ON_WM_DROPFILES(&D::OnDropFiles),
        ON_CBN_SELCHANGE(IDC_PORT_LIST, &D::OnCbnSelchangePort),
        ON_CBN_SELCHANGE(IDC_AREA_LIST, &D::OnCbnSelchangeArea),
        ON_BN_CLICKED(IDC_LOAD_BINARY_FILE, &D::OnBnClickedLoadBinaryFile),
        ON_BN_CLICKED(IDC_DOWNLOAD, &D::OnBnClickedDownload),
        ON_BN_CLICKED(IDC_ONLINE, &D::OnBnClickedOnline),
        ON_WM_SETCURSOR(&D::OnSetCursor),
        ON_CBN_SETFOCUS(IDC_PORT_LIST, &D::OnCbnSetfocusPort),
    };
    static const MessageMap map{entries, sizeof entries / sizeof entries[0]};
    return map;
}

BOOL CQuorvelDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();

    HMENU systemMenu = GetSystemMenu(FALSE);
    wchar_t aboutText[kMenuTextCapacity];
    if (systemMenu != nullptr &&
        ::LoadStringW(AfxGetInstanceHandle(), IDS_ABOUTBOX, aboutText, kMenuTextCapacity) > 0) {
        ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText);
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    SetWindowText(std::wstring(kCaption) + kVersion);

    g_mainDialog = this;
    m_blockList = nullptr;
    m_downloadFlags = 0;

    FillPortList();

    CComboBox areaList(GetDlgItem(IDC_AREA_LIST));
    areaList.AddString(L"CODE");
    CComboBox(GetDlgItem(IDC_PORT_LIST)).SetCueBanner(L"select comport");
    areaList.SetCueBanner(L"select area");
    areaList.SetCurSel(0);
    ApplyArea();

    m_imagePath.clear();
    return TRUE;
}

void CQuorvelDlg::FillPortList() {
    CComboBox portList(GetDlgItem(IDC_PORT_LIST));
    portList.ResetContent();
    for (const std::wstring& name : enumeratePorts()) portList.AddString(name);
}

void CQuorvelDlg::OnSysCommand(UINT id, LPARAM lParam) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialogEx::OnSysCommand(id, lParam);
    }
}

void CQuorvelDlg::OnPaint() {
    if (!IsIconic()) {
        CDialogEx::OnPaint();
        return;
    }
    PAINTSTRUCT paint;
    HDC context = ::BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context));
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(&client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(context, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
}

HCURSOR CQuorvelDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

BOOL CQuorvelDlg::OnSetCursor(HWND window, UINT hitTest, UINT message) {
    if (g_busyCounter.value() > 0 && g_mainDialog != nullptr) {
        // The busy period's wait is open, so this shows the wait cursor
        // without nesting a further wait for every cursor request.
        g_mainDialog->RestoreWaitCursor();
        return TRUE;
    }
    return CDialogEx::OnSetCursor(window, hitTest, message);
}
