// The simulated device that scripts/with-device.sh runs for a scenario, seen
// from the driver: its COM port, its transcript, its flash model and its
// control file.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace gui {

class SimulatedDevice {
  public:
    // From QUORVEL_DEVICE_COM and QUORVEL_DEVICE_DIR; not ready() without them.
    SimulatedDevice();

    bool ready() const { return !folder_.empty() && !portName_.empty(); }
    // "COM" + the port number.
    const std::wstring& portName() const { return portName_; }

    // Runs one control line ("mode app", "fault silent", "vanish", ...) and
    // waits until the simulator has run it. False if it did not in time or
    // refused it.
    bool command(const std::string& line);

    // The transcript's lines, and those added after a mark (a line count).
    std::vector<std::string> transcript() const;
    std::size_t mark() const { return transcript().size(); }
    std::vector<std::string> linesSince(std::size_t mark) const;
    // Lines since `mark` that begin with `prefix`.
    std::size_t countSince(std::size_t mark, const std::string& prefix) const;
    // Waits until a line beginning with `prefix` follows `mark`.
    bool waitForLine(std::size_t mark, const std::string& prefix, DWORD timeoutMs) const;

    // The flash model as last written: bytes from the flash base on.
    std::vector<unsigned char> flash() const;

  private:
    std::wstring file(const wchar_t* name) const { return folder_ + L"\\" + name; }

    std::wstring folder_;
    std::wstring portName_;
};

}  // namespace gui
