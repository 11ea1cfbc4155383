// The main dialog: it owns all state of the program and runs every handler.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/framework/afxwin.h"
#include "app/resource.h"
#include "flashing/device_identity.h"
#include "flashing/device_session.h"
#include "image/image_block.h"

class CQuorvelDlg : public CDialogEx {
  public:
    CQuorvelDlg();
    ~CQuorvelDlg() override;

    BOOL OnInitDialog() override;

    // Image handling (dialog operations that the handlers share).
    void ApplyArea();
    void SetImageFile(const std::wstring& path);

    // Device connection: connect (true) or disconnect (false); detection of
    // what runs on the device (true when something answered).
    bool DetectDevice();
    void ConnectDevice(bool connect);
    // The status label and the online button for a device found, or for none.
    void ShowOnline(const DeviceIdentity& identity);
    void ShowOffline();

    // Download job: the boot switch when needed, the worker thread and its
    // progress function (context: the dialog).
    void EnterBootLoader();
    static UINT DownloadThreadProc(LPVOID param);
    static void ShowProgress(CQuorvelDlg* dialog, std::int32_t percent);

    // True while a download worker runs: it alone may use the port, the device
    // identity, the flags word and the blocks until it ends.
    bool IsDownloading() const { return m_downloading.load(); }

    const ImageBlock* GetBlockList() const { return m_blockList; }
    std::uint32_t GetDownloadFlags() const { return m_downloadFlags; }

  protected:
    const MessageMap& GetMessageMap() const override;

    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnDropFiles(HDROP drop);
    BOOL OnSetCursor(HWND window, UINT hitTest, UINT message);

    // Port list and online button.
    void OnCbnSelchangePort();
    void OnCbnSetfocusPort();
    void OnBnClickedOnline();
    // Target area and image file.
    void OnCbnSelchangeArea();
    void OnBnClickedLoadBinaryFile();
    // Download.
    void OnBnClickedDownload();

    // Closing mid-download would leave the device half-written: ask first,
    // and end the process at once if the user confirms.
    void OnOK() override;
    void OnCancel() override;
    bool ConfirmCloseDuringDownload();

    // Disables the controls that could disturb a download, and gives them back
    // afterwards (the online button stays disabled after a successful one).
    void LockControlsForDownload();
    void UnlockControlsAfterDownload(bool succeeded);
    void RestoreFocusAfterDownload();

    // "The comport is wrong or the device is off." in a message box.
    void ShowNoDeviceMessage();
    // Closes the port, forgets the device and shows the no-device message.
    void DropPort();

    // Fills the port list with the ports present; the list sorts them itself.
    void FillPortList();

    std::uint32_t m_downloadFlags = 0;
    ImageBlock* m_blockList = nullptr;
    // The open port and what answered on it; null while no port is open.
    std::unique_ptr<DeviceSession> m_device;
    std::wstring m_imagePath;
    std::int32_t m_imageFileSize = 0;
    std::uint32_t m_areaBase = 0;
    std::int32_t m_areaSize = 0;
    HICON m_hIcon = nullptr;

    std::atomic<bool> m_downloading{false};
    std::int32_t m_shownPercent = -1;  // the progress bar's position, set by the worker
    BOOL m_onlineEnabledBeforeDownload = FALSE;
    HWND m_focusBeforeDownload = nullptr;
};
