#include <windows.h>

#include <cctype>
#include <cwchar>
#include <string>

#include "platform/system_text.h"
#include "serial/port_backend.h"
#include "serial/serial_port.h"

namespace {

HANDLE toHandle(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// Sets the time-outs. Read wait 0: a read returns at once with what has
// arrived. Otherwise a read returns as soon as any byte is there, and waits up
// to `waitMs` for the first one (MAXDWORD interval and multiplier, constant
// `waitMs`). A write always ends after kWriteSliceMs, having written what the
// driver took by then.
bool applyReadWait(HANDLE handle, std::uint32_t waitMs) {
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = waitMs == 0 ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = waitMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteSliceMs;
    return SetCommTimeouts(handle, &timeouts) != 0;
}

// A write that ran out of its time-out: Windows' serial driver reports it as a
// success with fewer bytes written, some drivers fail it with one of these.
bool writeTimedOut(DWORD error) { return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT; }

// Applies the fixed line settings and non-blocking read time-outs.
bool configure(HANDLE handle, const SerialPort& port) {
    if (!SetupComm(handle, port.inputQueueSize, port.outputQueueSize)) return false;

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) return false;
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    if (!SetCommState(handle, &dcb)) return false;

    return applyReadWait(handle, 0);
}

// Opens and configures the device at `path`.
PortHandle openDevice(SerialPort* port, const std::wstring& path) {
    port->handle = kInvalidPortHandle;
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        port->openError = static_cast<int>(GetLastError());
        return kInvalidPortHandle;
    }

    // Any refused set-up step is a failed open: no half-configured port is
    // kept. The error is taken before CloseHandle can replace it.
    if (!configure(handle, *port)) {
        port->openError = static_cast<int>(GetLastError());
        CloseHandle(handle);
        return kInvalidPortHandle;
    }
    // Bytes the last user of the port left unread (say the acknowledgement of
    // a cut transfer) would pass for the device's reply to this user's first request.
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_RXABORT);
    port->openError = 0;
    port->handle = reinterpret_cast<PortHandle>(handle);
    port->readWaitMs = 0;
    return port->handle;
}

}  // namespace

PortHandle openPort(SerialPort* port, std::int32_t portNumber) {
    port->openedPortNumber = portNumber;
    wchar_t path[32];
    std::swprintf(path, sizeof path / sizeof path[0], L"\\\\.\\COM%i", portNumber);
    return openDevice(port, path);
}

PortHandle openPortAtPath(SerialPort* port, const std::string& path) {
    // Paths come as UTF-8 from the command line.
    return openDevice(port, widePath(path));
}

void closePort(SerialPort* port) {
    if (port == nullptr) return;
    if (port->handle != kInvalidPortHandle) {
        CloseHandle(toHandle(port->handle));
        port->handle = kInvalidPortHandle;
    }
    delete port;
}

int readBytes(SerialPort* port, void* buffer, std::uint32_t& count, std::uint32_t waitMs) {
    // The time-outs change only when a caller asks for another wait, which is
    // rare: waits are mostly the same slice until a deadline comes near.
    if (waitMs != port->readWaitMs) {
        if (!applyReadWait(toHandle(port->handle), waitMs)) {
            const int status = static_cast<int>(GetLastError());
            count = 0;
            return status;
        }
        port->readWaitMs = waitMs;
    }
    DWORD received = 0;
    if (!ReadFile(toHandle(port->handle), buffer, count, &received, nullptr)) {
        const int status = static_cast<int>(GetLastError());
        count = 0;
        return status;
    }
    count = received;
    traceBytes(kReadTracePrefix, buffer, received);
    return 0;
}

int writeBytes(SerialPort* port, const void* data, std::uint32_t& count) {
    DWORD written = 0;
    const BOOL ok = WriteFile(toHandle(port->handle), data, count, &written, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    const int status = ok || writeTimedOut(error) ? 0 : static_cast<int>(error);
    count = written;
    traceBytes(kWriteTracePrefix, data, written);
    return status;
}

std::string devicePortIdentity(const std::string& name) {
    // "\\.\" names the device namespace, where COM ports live; port names
    // ignore letter case, and their numbers are read as decimal values.
    const std::string devicePrefix = "\\\\.\\";
    const std::string device = name.compare(0, devicePrefix.size(), devicePrefix) == 0
                                   ? name.substr(devicePrefix.size())
                                   : name;
    std::int32_t number = 0;
    if (comPortNumber(device, number)) return "COM" + std::to_string(number);
    std::string identity = name;
    for (char& c : identity) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return identity;
}

bool portInUse(int openError) {
    return openError == ERROR_ACCESS_DENIED || openError == ERROR_SHARING_VIOLATION;
}

int absentPortError() { return ERROR_FILE_NOT_FOUND; }

// Under Wine a port whose device has gone can still be created; its set-up
// then fails with ERROR_INVALID_FUNCTION (1).
bool portAbsent(int openError) {
    return openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND ||
           openError == ERROR_INVALID_FUNCTION || openError == ERROR_GEN_FAILURE;
}

PortNameList enumeratePorts() {
    PortNameList names;
    // The device name a COM name maps to is not used, only whether it maps.
    constexpr DWORD kTargetChars = 1000;
    wchar_t target[kTargetChars];
    for (int number = 0; number <= kHighestListedPort; ++number) {
        const std::wstring name = L"COM" + std::to_wstring(number);
        if (QueryDosDeviceW(name.c_str(), target, kTargetChars) != 0) names.push_back(name);
    }
    return names;
}
