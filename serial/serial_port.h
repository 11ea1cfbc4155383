// The only code that touches a COM port: opening with the fixed line settings,
// non-blocking reads, writes, the byte trace, and the list of ports present.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/port_listing.h"

// The OS handle of an open port: a Win32 HANDLE, or a POSIX file descriptor.
using PortHandle = std::intptr_t;
constexpr PortHandle kInvalidPortHandle = -1;

constexpr std::uint32_t kInputQueueSize = 20480;
constexpr std::uint32_t kOutputQueueSize = 1024;

// Highest port number that enumeratePorts looks for.
constexpr int kHighestListedPort = 254;

// How long one writeBytes call waits for the port to take bytes: short enough
// that a caller looping over writes sees its stop request in time.
constexpr std::uint32_t kWriteSliceMs = 100;

struct SerialPort {
    PortHandle handle = kInvalidPortHandle;
    std::int32_t openedPortNumber = 0;  // last number given to openPort
    std::uint32_t inputQueueSize = kInputQueueSize;
    std::uint32_t outputQueueSize = kOutputQueueSize;
    std::int32_t portNumber = 0;   // number the record was created for
    std::uint32_t readWaitMs = 0;  // the wait for a first byte that the port's time-outs hold
    int openError = 0;             // OS error code of the failed open; 0 while open
    bool replyDue = false;         // written to, and not read from since
    // POSIX: the device's last reply came within the short spin after a write,
    // so spinning pays; a device behind a real line never answers that fast.
    bool repliesWithinSpin = true;
    std::int64_t writtenAtNs = 0;  // when the last write went out, on a steady clock
    std::string path;              // device path the record was opened by; empty for a port number
    // The name createPortNamed was given ("usb:A1B2C3D4", "COM5", a path); a
    // re-open opens it again, so a usb: name is resolved anew each time.
    std::string name;
    ListedPort adapter;            // for a usb: name, the listing's entry it resolved to
    bool lowLatencyAdded = false;  // the open put the line in low-latency mode; the close undoes it
};

// Names "COM" + decimal number, ascending by number.
using PortNameList = std::vector<std::wstring>;

// Status results: 0 on success, otherwise the OS error code of the failed call.
// The record is returned also when the open failed; test `handle`.
SerialPort* createPort(std::int32_t portNumber);
PortHandle openPort(SerialPort* port, std::int32_t portNumber);
// Opens a port by its device path (/dev/ttyUSB0 on POSIX, \\.\COM5 on Windows)
// with the same settings; reopenPort then reopens the same path.
SerialPort* createPortAtPath(const std::string& path);
PortHandle openPortAtPath(SerialPort* port, const std::string& path);
// "COMn" (any letter case) opens port number n as createPort does; a usb:
// name opens the adapter it resolves to in the listing of this moment (see
// resolvePortName), and fails like an absent port when it resolves to none or
// to several; any other name is a device path for createPortAtPath. reopenPort
// opens the same name again.
SerialPort* createPortNamed(const std::string& name);
// True when `name` is "COM" (any letter case) and decimal digits; sets `number`.
bool comPortNumber(const std::string& name, std::int32_t& number);
// What a port name opens, for telling whether two names mean one port:
// "COM5" for COM5, com5, COM05 and \\.\COM5 on Windows; on POSIX the device
// number of what the name leads to ("COMn" through QUORVEL_PORT_DIR, or a path,
// links followed), or the name itself when it leads nowhere. A usb: name
// counts as what it resolves to now.
std::string portIdentity(const std::string& name);

// Why a list of ports cannot be used because one is given twice, under one
// name or two (COM5 and com5, a device and its by-id link), which would drive
// one device from two threads; "" when every port is given once.
std::string repeatedPortProblem(const std::vector<std::string>& ports);
// Closes the handle if it is valid, then frees the record. Accepts nullptr.
void closePort(SerialPort* port);
// Releases `port` and opens a new record for the same name, number or path, retrying for a
// bounded time while the port is absent, or until `stop` is set. The result may
// be not open.
SerialPort* reopenPort(SerialPort* port, const std::atomic<bool>* stop = nullptr);

// Reads what has arrived. When nothing has, waits in the operating system up to
// `waitMs` for the first byte and returns as soon as any byte is there; 0 never
// waits. A line that hangs up ends the wait at once with an error. `count`: in
// the most bytes to read, out the bytes read (0 on failure).
int readBytes(SerialPort* port, void* buffer, std::uint32_t& count, std::uint32_t waitMs = 0);
// Writes what the port takes within about kWriteSliceMs. Returns 0 with
// `count` set to the bytes taken: possibly fewer than asked, even 0 when the
// device does not drain its input, so the caller writes the rest in further
// calls. On a failed write returns the OS error code, `count` then the bytes
// taken before the failure.
int writeBytes(SerialPort* port, const void* data, std::uint32_t& count);

// One debugger-output line per run of up to 16 bytes: prefix, "%02x " per byte, "\n".
void traceBytes(const wchar_t* prefix, const void* bytes, std::size_t count);
constexpr const wchar_t* kReadTracePrefix = L"Rx : ";
constexpr const wchar_t* kWriteTracePrefix = L"Tx : ";

PortNameList enumeratePorts();

// Bound of reopenPort's retry: a USB serial device that restarts may take
// several seconds to come back.
constexpr std::uint32_t kReopenLimitMs = 5000;
constexpr std::uint32_t kReopenPauseMs = 200;

// True when `openError` means that another program holds the port.
bool portInUse(int openError);
// True when `openError` means that the port is not there (not yet, or no longer).
bool portAbsent(int openError);
