#include "simulated_device.h"

#include "gui_session.h"
#include "window_probe.h"

namespace gui {

namespace {

constexpr DWORD kControlTimeoutMs = 3000;

std::string readWholeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string content;
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        content.append(buffer, count);
    }
    CloseHandle(file);
    return content;
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

SimulatedDevice::SimulatedDevice() {
    const std::wstring folder = environment(L"QUORVEL_DEVICE_DIR");
    const std::wstring number = environment(L"QUORVEL_DEVICE_COM");
    if (folder.empty() || number.empty()) return;
    folder_ = windowsPath(folder);
    portName_ = L"COM" + number;
}

bool SimulatedDevice::command(const std::string& line) {
    const std::size_t before = mark();
    // Written aside and renamed into place, so the simulator never reads half a line.
    const std::wstring control = file(L"control");
    const std::wstring part = file(L"control.part");
    HANDLE out = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(out);
    if (!MoveFileExW(part.c_str(), control.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    // The simulator deletes the file once it has run its lines.
    if (!probe::waitUntil([&] { return !exists(control); }, kControlTimeoutMs)) return false;
    return countSince(before, "control error") == 0;
}

std::vector<std::string> SimulatedDevice::transcript() const {
    const std::string content = readWholeFile(file(L"transcript.txt"));
    std::vector<std::string> lines;
    std::size_t start = 0;
    // Only whole lines: the last one may still be being written.
    for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(content.substr(start, end - start));
    }
    return lines;
}

std::vector<std::string> SimulatedDevice::linesSince(std::size_t mark) const {
    std::vector<std::string> lines = transcript();
    if (mark >= lines.size()) return {};
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(mark), lines.end());
}

std::size_t SimulatedDevice::countSince(std::size_t mark, const std::string& prefix) const {
    std::size_t count = 0;
    for (const std::string& line : linesSince(mark)) {
        if (line.compare(0, prefix.size(), prefix) == 0) ++count;
    }
    return count;
}

bool SimulatedDevice::waitForLine(std::size_t mark, const std::string& prefix,
                                  DWORD timeoutMs) const {
    return probe::waitUntil([&] { return countSince(mark, prefix) > 0; }, timeoutMs);
}

std::vector<unsigned char> SimulatedDevice::flash() const {
    const std::string content = readWholeFile(file(L"flash.bin"));
    return std::vector<unsigned char>(content.begin(), content.end());
}

}  // namespace gui
