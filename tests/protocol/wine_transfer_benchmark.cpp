// A 212 992-byte download through a Wine COM port, by one of two clients:
//   wine_transfer_benchmark COMn bare   writes prepared packets and polls for
//                                       each reply, nothing else
//   wine_transfer_benchmark COMn tool   the tool's transfer
//   wine_transfer_benchmark COMn tool-thread   the same on a second thread
// Prints the elapsed seconds from the first byte out to the last reply in, and
// the process's CPU seconds over that time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "protocol/packet_layout.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

namespace {

constexpr std::int32_t kImageBytes = 212992;
constexpr std::int32_t kPacketWords = 64;
constexpr std::uint32_t kAddress = 0x108000;
constexpr std::uint32_t kFlags = 0xA5A50000u;

bool writeWhole(HANDLE port, const std::vector<std::uint8_t>& bytes) {
    DWORD written = 0;
    return WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool readExactly(HANDLE port, DWORD count) {
    std::uint8_t buffer[256];
    const DWORD start = GetTickCount();
    while (count > 0) {
        DWORD received = 0;
        if (!ReadFile(port, buffer, count, &received, nullptr)) return false;
        count -= received;
        if (GetTickCount() - start > 5000) return false;
    }
    return true;
}

double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

double secondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

int toolTransfer(int portNumber) {
    SerialPort* port = createPort(portNumber);
    if (port->handle == kInvalidPortHandle) {
        std::fprintf(stderr, "cannot open COM%d: error %d\n", portNumber, port->openError);
        closePort(port);
        return 1;
    }
    ImageBlock image;
    image.targetAddress = kAddress;
    image.byteCount = kImageBytes;
    image.data.reset(new std::uint8_t[kImageBytes]);
    for (std::int32_t i = 0; i < kImageBytes; ++i)
        image.data[i] = static_cast<std::uint8_t>(i * 13);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const double cpuBefore = cpuSeconds();
    int result;
    {
        TransferSession session(port);
        result = transferImage(&image, session, nullptr, kFlags, nullptr);
    }
    const double elapsed = secondsSince(start);
    const double cpu = cpuSeconds() - cpuBefore;
    closePort(port);
    if (result != 0) {
        std::fprintf(stderr, "the transfer failed: %d\n", result);
        return 1;
    }
    std::printf("%.3f %.3f\n", elapsed, cpu);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wine_transfer_benchmark COMn bare|tool\n");
        return 2;
    }
    if (std::string(argv[2]) == "tool") return toolTransfer(std::atoi(argv[1] + 3));
    if (std::string(argv[2]) == "tool-thread") {
        // The same transfer on a second thread, as the dialog's worker runs it.
        int status = 1;
        std::thread worker([&] { status = toolTransfer(std::atoi(argv[1] + 3)); });
        worker.join();
        return status;
    }
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
    HANDLE port =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};  // reads return at once: the client polls
    SetCommTimeouts(port, &immediate);

    std::vector<std::uint8_t> image(kImageBytes);
    for (std::int32_t i = 0; i < kImageBytes; ++i) image[i] = static_cast<std::uint8_t>(i * 13);
    std::vector<std::uint8_t> opening(2 * kHeaderBytes);
    layOutCommand(opening.data(), kStartCommand, kFlags);
    layOutCommand(opening.data() + kHeaderBytes, kBlockStartCommand, kBlockStartParameter);
    std::vector<std::vector<std::uint8_t>> packets;
    const std::int32_t chunk = kPacketWords * kWordBytes - kDataOffset;
    for (std::int32_t offset = 0; offset < kImageBytes; offset += chunk) {
        const std::int32_t bytes = kImageBytes - offset < chunk ? kImageBytes - offset : chunk;
        std::vector<std::uint8_t> packet(static_cast<std::size_t>(chunk + kDataOffset + 3));
        packet.resize(static_cast<std::size_t>(
            layOutDataPacket(packet.data(), kAddress + static_cast<std::uint32_t>(offset),
                             image.data() + offset, bytes, kFlags)));
        packets.push_back(packet);
    }
    std::vector<std::uint8_t> end(kHeaderBytes);
    layOutEndPacket(end.data());
    packets.push_back(end);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const double cpuBefore = cpuSeconds();
    // The negotiation: an announcement (16 bytes), a go-ahead (8), a start reply (16).
    bool ok = writeWhole(port, opening) && readExactly(port, 16 + 8 + 16);
    for (std::size_t i = 0; ok && i < packets.size(); ++i) {
        ok = writeWhole(port, packets[i]) && readExactly(port, 16);
    }
    const double elapsed = secondsSince(start);
    const double cpu = cpuSeconds() - cpuBefore;
    CloseHandle(port);
    if (!ok) {
        std::fprintf(stderr, "the bare transfer failed\n");
        return 1;
    }
    std::printf("%.3f %.3f\n", elapsed, cpu);
    return 0;
}
