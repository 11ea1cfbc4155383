// The Win32 port backend against the simulated device on a Wine COM port.
// The device runs its boot loader; its port number comes from QUORVEL_DEVICE_COM.
// WritesEndInTime runs on its own against a device paced at 1 baud (CMakeLists.txt).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "serial/serial_port.h"

namespace {

// Wine serves COM ports from tty devices and does not apply the share mode to
// them, so a second open succeeds there; Windows' serial driver refuses it.
bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int devicePort() {
    const char* value = std::getenv("QUORVEL_DEVICE_COM");
    return value != nullptr ? std::atoi(value) : -1;
}

class Win32PortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = devicePort();
        ASSERT_GT(port_, 0) << "QUORVEL_DEVICE_COM is not set: run through scripts/with-device.sh";
    }
    int port_ = -1;
};

TEST_F(Win32PortTest, OpensWithFixedLineSettings) {
    SerialPort* port = createPort(port_);
    ASSERT_NE(port->handle, kInvalidPortHandle);

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(port->handle), &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    // The flag word follows BaudRate: its 15 low bits are binary mode, DTR and RTS on.
    DWORD flagWord = 0;
    std::memcpy(&flagWord, reinterpret_cast<const char*>(&dcb.BaudRate) + sizeof dcb.BaudRate,
                sizeof flagWord);
    EXPECT_EQ(flagWord & 0x7FFFu, 0x1011u);

    COMMTIMEOUTS timeouts;
    ASSERT_TRUE(GetCommTimeouts(reinterpret_cast<HANDLE>(port->handle), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, kWriteSliceMs);
    closePort(port);
}

TEST_F(Win32PortTest, IsListedAndOpenedExclusively) {
    const PortNameList names = enumeratePorts();
    const std::wstring name = L"COM" + std::to_wstring(port_);
    bool listed = false;
    for (const std::wstring& each : names) listed = listed || each == name;
    EXPECT_TRUE(listed);

    SerialPort* first = createPort(port_);
    ASSERT_NE(first->handle, kInvalidPortHandle);
    if (!runningUnderWine()) {
        SerialPort* second = createPort(port_);
        EXPECT_EQ(second->handle, kInvalidPortHandle);
        closePort(second);
    }

    SerialPort* reopened = reopenPort(first);
    EXPECT_NE(reopened->handle, kInvalidPortHandle);
    EXPECT_EQ(reopened->portNumber, port_);
    closePort(reopened);
}

TEST_F(Win32PortTest, EmptyReadReturnsAtOnceAndRepliesArrive) {
    SerialPort* port = createPort(port_);
    ASSERT_NE(port->handle, kInvalidPortHandle);

    unsigned char reply[8];
    std::uint32_t count = sizeof reply;
    const std::uint32_t start = tickCount();
    EXPECT_EQ(readBytes(port, reply, count), 0);
    EXPECT_EQ(count, 0u);
    // Not a timing bound: a read that waited would block for far longer.
    EXPECT_LT(ticksSince(start), 2000u);

    // The boot loader's version request, answered by an 8-byte frame.
    const unsigned char request[8] = {0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::uint32_t toWrite = sizeof request;
    ASSERT_EQ(writeBytes(port, request, toWrite), 0);
    EXPECT_EQ(toWrite, 8u);

    std::uint32_t received = 0;
    const std::uint32_t waitStart = tickCount();
    while (received < sizeof reply && ticksSince(waitStart) < 3000) {
        count = sizeof reply - received;
        ASSERT_EQ(readBytes(port, reply + received, count), 0);
        received += count;
    }
    ASSERT_EQ(received, 8u);
    EXPECT_EQ(reply[0], 0x00);
    EXPECT_EQ(reply[2], 0x0F);

    // A waiting read blocks until the reply's first bytes come, then returns.
    toWrite = sizeof request;
    ASSERT_EQ(writeBytes(port, request, toWrite), 0);
    count = sizeof reply;
    ASSERT_EQ(readBytes(port, reply, count, 2000), 0);
    EXPECT_GT(count, 0u);
    COMMTIMEOUTS timeouts;
    ASSERT_TRUE(GetCommTimeouts(reinterpret_cast<HANDLE>(port->handle), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 2000u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, kWriteSliceMs);  // a read wait keeps it
    closePort(port);
}

// Runs one control line in the simulator, which deletes the file once it has.
bool deviceCommand(const std::string& line) {
    const char* folder = std::getenv("QUORVEL_DEVICE_DIR");
    if (folder == nullptr) return false;
    const std::string control = std::string("Z:") + folder + "/control";
    const std::string part = control + ".part";
    std::ofstream(part) << line << "\n";
    if (!MoveFileExA(part.c_str(), control.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    const std::uint32_t start = tickCount();
    while (GetFileAttributesA(control.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (ticksSince(start) > 3000) return false;
        sleepMilliseconds(10);
    }
    return true;
}

// A device paced at 1 baud takes in next to nothing: the first writes fill the
// terminal's and the device's buffers, the later ones take little or nothing,
// and each still ends after about its slice. Once the device is gone a write
// fails, as promptly.
TEST_F(Win32PortTest, WritesEndInTimeWhileTheDeviceTakesNothingOrIsGone) {
    constexpr std::uint32_t kCallLimitMs = 1000;  // not a timing bound: it would block for good
    SerialPort* port = createPort(port_);
    ASSERT_NE(port->handle, kInvalidPortHandle);
    const std::vector<unsigned char> block(64 * 1024, 0x5A);
    int shortWrites = 0;
    for (int call = 0; call < 40 && shortWrites < 3; ++call) {
        std::uint32_t count = static_cast<std::uint32_t>(block.size());
        const std::uint32_t start = tickCount();
        ASSERT_EQ(writeBytes(port, block.data(), count), 0) << "call " << call;
        EXPECT_LT(ticksSince(start), kCallLimitMs) << "call " << call;
        EXPECT_LE(count, block.size());
        if (count < block.size()) ++shortWrites;
    }
    EXPECT_EQ(shortWrites, 3) << "the buffers never filled";

    ASSERT_TRUE(deviceCommand("vanish"));
    std::uint32_t count = 64;
    const std::uint32_t start = tickCount();
    EXPECT_NE(writeBytes(port, block.data(), count), 0);
    EXPECT_LT(ticksSince(start), kCallLimitMs);
    closePort(port);
}

TEST(Win32PortNames, SpellingsOfOnePortShareAnIdentity) {
    for (const char* name : {"COM5", "com5", "COM05", "\\\\.\\COM5", "\\\\.\\cOm005"}) {
        EXPECT_EQ(portIdentity(name), "COM5") << name;
    }
    EXPECT_NE(portIdentity("COM5"), portIdentity("COM6"));
    EXPECT_NE(portIdentity("COM5"), portIdentity("COM50"));
}

TEST(Win32PortAbsent, UnknownPortDoesNotOpen) {
    SerialPort* port = createPort(200);
    EXPECT_EQ(port->handle, kInvalidPortHandle);
    EXPECT_NE(port->openError, 0);
    EXPECT_FALSE(portInUse(port->openError));
    closePort(port);
}

}  // namespace
