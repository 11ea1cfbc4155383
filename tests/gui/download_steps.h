// Steps the download scenarios share: an image loaded into the dialog, the
// device brought online, a transfer watched through the progress bar, and the
// checks of a successful download's ending.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "gui_session.h"
#include "simulated_device.h"
#include "test_files.h"

namespace gui {

constexpr const wchar_t* kCompletedLine = L"download completed. please wait ...\r\n";
// The pause between the completed transfer and "finished.".
constexpr DWORD kSettleMs = 7000;

// A pattern image of `size` bytes in a fresh folder, removed with the object.
class ImageFile {
  public:
    explicit ImageFile(DWORD size);
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    const std::wstring& path() const { return file_.path; }
    DWORD size() const { return size_; }

  private:
    std::wstring folder_;
    TestFile file_;
    DWORD size_;
};

// Loads the image with "Load Binary File"; true when the dialog took it
// without a message.
bool loadImage(const QuorvelSession& session, const ImageFile& image);

// Selects the device's port, presses the online button and waits until the
// status label reads `label`.
bool connectDevice(HWND dialog, const SimulatedDevice& device, const std::wstring& label);

// The controls a running download disables (DOWNLOAD, the port list, "Load
// Binary File", the area list), checked together.
// The controls a download locks: DOWNLOAD, the port list, "Load Binary File"
// and the area list. They come back one after another.
bool downloadControlsAre(HWND dialog, bool enabled);
void checkDownloadControls(HWND dialog, bool enabled, const std::string& situation);

// DOWNLOAD refused with `message` (a screenshot of the box when named):
// nothing on the wire, and the connection, the log and the controls unchanged.
void checkDownloadRefused(HWND dialog, const SimulatedDevice& device, const std::string& state,
                          const std::wstring& message, const std::wstring& button,
                          const std::wstring& label, const std::wstring& screenshotName = L"");

// After a download the keyboard focus is back on DOWNLOAD, so Enter presses it.
bool checkFocusOnDownload(HWND dialog, const std::string& situation);
void pressEnter(HWND dialog);

// What the driver saw of a transfer's progress bar.
struct ProgressWatch {
    int highest = 0;
    bool movedBetween = false;  // a position strictly between 0 and 100 was seen
    bool neverFell = true;
};

// Polls the progress bar until the log ends with the completion line (true)
// or a message box shows or the time is up (false). With a screenshot name,
// the screen is saved once while the bar stands between 20 and 80, without
// holding up the watch. Every look costs the dialog two messages: a watch
// that measures the dialog's own load looks less often.
bool watchTransfer(HWND dialog, DWORD timeoutMs, ProgressWatch& watch,
                   const std::wstring& screenshotName = L"", DWORD intervalMs = 20);

// What a successful download does after its completion line.
struct SuccessSteps {
    std::wstring logBefore;            // the log before DOWNLOAD
    std::size_t queries = 0;           // boot-loader queries during the pause
    const wchar_t* message = nullptr;  // a message box the pause ends with
};

// From the completion line on (seen at `completedAt`, transcript `completedMark`):
// the pause, the queries and message, the log lines, and the dialog offline with
// the online button disabled and the progress bar at 0.
void checkSuccessSteps(HWND dialog, const SimulatedDevice& device, DWORD completedAt,
                       std::size_t completedMark, const SuccessSteps& expected);

// The simulator's flash model holds exactly the image.
void checkFlashHolds(const SimulatedDevice& device, const ImageFile& image);

}  // namespace gui
