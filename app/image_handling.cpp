// The main dialog's target area and image file: the area list, the
// "Load Binary File" button and files dropped onto the file fields.
#include <windows.h>
// After windows.h, which they need.
#include <commdlg.h>
#include <shellapi.h>

#include <vector>

#include "app/log_view.h"
#include "app/quorvel_dlg.h"
#include "app/to_wide.h"
#include "image/area_table.h"
#include "image/file_access.h"
#include "image/file_info.h"
#include "image/image_placement.h"
#include "image/size_rule.h"

namespace {

constexpr DWORD kOpenPathCapacity = 2000;

// Writes the file's three info lines into the pane and returns its size
// (saturated to 32 bits), or -1 when the file cannot be opened exclusively.
std::int32_t ShowFileInfo(const std::wstring& path, HWND pane) {
    FileFacts facts;
    if (!readFileFacts(path, facts)) return -1;
    for (const std::wstring& line : fileInfoLines(splitFileName(path), facts.size, facts.lastWrite))
        AppendText(pane, line);
    return clampFileSize(facts.size);
}

}  // namespace

void CQuorvelDlg::ApplyArea() {
    CComboBox areaList(GetDlgItem(IDC_AREA_LIST));
    const int selection = areaList.GetCurSel();
    const std::wstring areaText = selection >= 0 ? areaList.GetLBText(selection) : L"";

    CWnd addressField = GetDlgItem(IDC_AREA_ADDRESS);
    addressField.EnableWindow(FALSE);
    AreaState area{m_downloadFlags, m_areaBase, m_areaSize};
    const AddressField field = applyArea(areaText, area);
    m_downloadFlags = area.downloadFlags;
    m_areaBase = area.areaBase;
    m_areaSize = area.areaSize;
    if (field.enabled) addressField.EnableWindow(TRUE);
    addressField.SetWindowText(field.text);
}

void CQuorvelDlg::SetImageFile(const std::wstring& path) {
    GetDlgItem(IDC_IMAGE_PATH).SetWindowText(path);
    const std::int32_t fileSize = ShowFileInfo(path, GetDlgItem(IDC_FILE_INFO).m_hWnd);
    m_imagePath = path;
    m_imageFileSize = fileSize;
    ApplyArea();

    AreaState area{m_downloadFlags, m_areaBase, m_areaSize};
    // A block this replaces stays allocated: a running transfer may still walk it.
    const PlacementResult placement =
        placeImageFile(m_imagePath, m_imageFileSize, area, m_blockList);
    m_downloadFlags = area.downloadFlags;
    m_areaSize = area.areaSize;

    const std::wstring refusal = WidenAscii(imageOutcomeText(placement.outcome));
    switch (placement.outcome) {
        case ImageOutcome::Incompatible:
            MessageBox(refusal.c_str(), nullptr, MB_OK | MB_ICONINFORMATION);
            break;
        case ImageOutcome::WrongBlockSize:
            MessageBox(refusal.c_str(), nullptr, MB_OK);
            break;
        default:
            // A file that cannot be opened is not reported; the others do not
            // come from a binary file.
            break;
    }
}

// While a download runs, the area, the image and the blocks stay as they are:
// the worker is reading them.
void CQuorvelDlg::OnCbnSelchangeArea() {
    if (IsDownloading()) return;
    ApplyArea();
}

void CQuorvelDlg::OnBnClickedLoadBinaryFile() {
    if (IsDownloading()) return;
    std::vector<wchar_t> path(kOpenPathCapacity, L'\0');
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = nullptr;
    request.lpstrFilter = L"Binary\0*.bin\0All\0*.*\0";
    request.nFilterIndex = 1;
    request.lpstrFile = path.data();
    request.nMaxFile = kOpenPathCapacity;
    request.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!::GetOpenFileNameW(&request)) return;
    // The file dialog has no owner, so the main dialog stayed usable under it
    // and DOWNLOAD may have started a worker meanwhile: its blocks stay as they are.
    if (IsDownloading()) return;
    SetImageFile(path.data());
}

void CQuorvelDlg::OnDropFiles(HDROP drop) {
    POINT point;
    ::DragQueryPoint(drop, &point);
    // The first file only, whatever the length of its path.
    const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
    std::vector<wchar_t> path(static_cast<std::size_t>(length) + 1, L'\0');
    const UINT copied = length > 0 ? ::DragQueryFileW(drop, 0, path.data(), length + 1) : 0;

    // Disabled children count: the info pane and the path field are disabled.
    HWND child = ::ChildWindowFromPoint(m_hWnd, point);
    const int id = child != nullptr && child != m_hWnd ? ::GetDlgCtrlID(child) : 0;
    if (copied > 0 && (id == IDC_FILE_INFO || id == IDC_IMAGE_PATH) && !IsDownloading()) {
        SetImageFile(path.data());
    }

    ::DragFinish(drop);
    CDialogEx::OnDropFiles(drop);
}
