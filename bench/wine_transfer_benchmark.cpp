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

#include "bench/benchmark_download.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

namespace {

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
    const ImageBlock image = benchmarkImage();
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const double cpuBefore = cpuSeconds();
    int result;
    {
        TransferSession session(port);
        result = displayCode(transferImage(&image, session, nullptr, kBenchmarkFlags, nullptr));
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

    const BareConversation conversation = bareConversation(benchmarkImage());

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const double cpuBefore = cpuSeconds();
    bool ok = writeWhole(port, conversation.opening) && readExactly(port, kOpeningReplyBytes);
    for (std::size_t i = 0; ok && i < conversation.packets.size(); ++i) {
        ok = writeWhole(port, conversation.packets[i]) && readExactly(port, kPacketReplyBytes);
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
