#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "serial/port_listing.h"
#include "serial/serial_port.h"

namespace fs = std::filesystem;

namespace {

// A pseudo-terminal published as port `number` in a private port directory.
class PtyPortTest : public ::testing::Test {
  protected:
    static constexpr int kPort = 7;

    void SetUp() override {
        char pattern[] = "/tmp/quorvel-serial-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("QUORVEL_PORT_DIR", dir_.c_str(), 1);
        char slaveName[128];
        ASSERT_EQ(openpty(&master_, &slave_, slaveName, nullptr, nullptr), 0);
        slaveName_ = slaveName;
        fs::create_symlink(slaveName_, dir_ / ("com" + std::to_string(kPort)));
    }

    void TearDown() override {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
        fs::remove_all(dir_);
    }

    std::string readFromMaster(std::size_t want) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            char buffer[64];
            const int flags = fcntl(master_, F_GETFL);
            fcntl(master_, F_SETFL, flags | O_NONBLOCK);
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<std::size_t>(n));
            else
                usleep(1000);
        }
        return got;
    }

    fs::path dir_;
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
};

TEST_F(PtyPortTest, CreatePortOpensRawLineAtFixedSettings) {
    SerialPort* port = createPort(kPort);
    ASSERT_NE(port->handle, kInvalidPortHandle);
    EXPECT_EQ(port->portNumber, kPort);
    EXPECT_EQ(port->openedPortNumber, kPort);
    EXPECT_EQ(port->inputQueueSize, 20480u);
    EXPECT_EQ(port->outputQueueSize, 1024u);

    termios settings{};
    ASSERT_EQ(tcgetattr(static_cast<int>(port->handle), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0u);
    closePort(port);
}

TEST_F(PtyPortTest, OpenDiscardsWhatTheLastUserLeftUnread) {
    closePort(createPort(kPort));  // the last user, who set the line raw
    ASSERT_EQ(write(master_, "stale", 5), 5);
    // A pty hands written bytes over with a short delay.
    int queued = 0;
    const std::uint32_t start = tickCount();
    while (ioctl(slave_, FIONREAD, &queued) == 0 && queued < 5 && ticksSince(start) < 2000) {
        usleep(1000);
    }
    ASSERT_EQ(queued, 5);

    SerialPort* port = createPort(kPort);
    ASSERT_NE(port->handle, kInvalidPortHandle);
    ASSERT_EQ(write(master_, "new", 3), 3);
    char buffer[16];
    std::uint32_t count = sizeof buffer;
    ASSERT_EQ(readBytes(port, buffer, count, 2000), 0);
    EXPECT_EQ(std::string(buffer, count), "new");
    closePort(port);
}

TEST_F(PtyPortTest, PortIsExclusiveAndReopenTakesItBack) {
    SerialPort* first = createPort(kPort);
    ASSERT_NE(first->handle, kInvalidPortHandle);

    SerialPort* second = createPort(kPort);
    EXPECT_EQ(second->handle, kInvalidPortHandle);
    EXPECT_TRUE(portInUse(second->openError));
    closePort(second);  // a record that is not open is only freed

    SerialPort* reopened = reopenPort(first);
    ASSERT_NE(reopened->handle, kInvalidPortHandle);
    EXPECT_EQ(reopened->portNumber, kPort);
    closePort(reopened);

    // The terminal stays open through the test's own descriptor: a closed port
    // must not leave it exclusive.
    int exclusive = 1;
    ASSERT_EQ(ioctl(slave_, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

TEST_F(PtyPortTest, WaitingReadTakesALateByteAndEndsAtAHangUp) {
    SerialPort* port = createPort(kPort);
    ASSERT_NE(port->handle, kInvalidPortHandle);
    char buffer[8];

    std::thread lateByte([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(write(master_, "x", 1), 1);
    });
    std::uint32_t count = sizeof buffer;
    std::uint32_t start = tickCount();
    EXPECT_EQ(readBytes(port, buffer, count, 2000), 0);
    EXPECT_GE(ticksSince(start), 250u);
    EXPECT_EQ(count, 1u);
    lateByte.join();

    std::thread hangUp([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        close(master_);
        master_ = -1;
    });
    count = sizeof buffer;
    start = tickCount();
    EXPECT_NE(readBytes(port, buffer, count, 10000), 0);
    EXPECT_LT(ticksSince(start), 10000u);  // ended by the hang-up, not by the wait
    EXPECT_EQ(count, 0u);
    hangUp.join();
    closePort(port);
}

TEST_F(PtyPortTest, ReadsNeverWaitAndTrafficIsTraced) {
    std::vector<std::wstring> trace;
    setDebugOutputHook(
        [](const std::wstring& line, void* sink) {
            static_cast<std::vector<std::wstring>*>(sink)->push_back(line);
        },
        &trace);
    SerialPort* port = createPort(kPort);
    ASSERT_NE(port->handle, kInvalidPortHandle);

    char buffer[32];
    std::uint32_t count = sizeof buffer;
    const std::uint32_t start = tickCount();
    EXPECT_EQ(readBytes(port, buffer, count), 0);
    EXPECT_EQ(count, 0u);
    // Not a timing bound: a read that waited would block for far longer.
    EXPECT_LT(ticksSince(start), 2000u);
    EXPECT_TRUE(trace.empty());

    std::uint32_t toWrite = 5;
    EXPECT_EQ(writeBytes(port, "~rv\r\n", toWrite), 0);
    EXPECT_EQ(toWrite, 5u);
    EXPECT_EQ(readFromMaster(5), "~rv\r\n");

    ASSERT_EQ(write(master_, "~Rv", 3), 3);
    count = 0;
    const std::uint32_t waitStart = tickCount();
    while (count == 0 && ticksSince(waitStart) < 2000) {
        count = sizeof buffer;
        ASSERT_EQ(readBytes(port, buffer, count), 0);
    }
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(std::string(buffer, 3), "~Rv");

    setDebugOutputHook(nullptr, nullptr);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], L"Tx : 7e 72 76 0d 0a \n");
    EXPECT_EQ(trace[1], L"Rx : 7e 52 76 \n");
    closePort(port);
}

TEST_F(PtyPortTest, WritesEndInTheirSliceWhileNobodyReads) {
    SerialPort* port = createPort(kPort);
    ASSERT_NE(port->handle, kInvalidPortHandle);
    const std::vector<char> block(64 * 1024, 'x');
    // The terminal's buffer fills with the first writes; the later ones take
    // nothing, and each still ends after about one slice.
    int emptyWrites = 0;
    for (int call = 0; call < 40 && emptyWrites < 3; ++call) {
        std::uint32_t count = static_cast<std::uint32_t>(block.size());
        const std::uint32_t start = tickCount();
        ASSERT_EQ(writeBytes(port, block.data(), count), 0) << "call " << call;
        EXPECT_LT(ticksSince(start), 1000u) << "call " << call;  // not a timing bound
        EXPECT_LE(count, block.size());
        if (count == 0) ++emptyWrites;
    }
    EXPECT_EQ(emptyWrites, 3) << "the terminal's buffer never filled";
    closePort(port);
}

TEST_F(PtyPortTest, HungUpLineReportsErrors) {
    SerialPort* port = createPort(kPort);
    ASSERT_NE(port->handle, kInvalidPortHandle);
    close(master_);
    master_ = -1;

    char buffer[8];
    std::uint32_t count = sizeof buffer;
    EXPECT_NE(readBytes(port, buffer, count), 0);
    EXPECT_EQ(count, 0u);
    std::uint32_t toWrite = 3;
    EXPECT_NE(writeBytes(port, "abc", toWrite), 0);
    EXPECT_EQ(toWrite, 0u);
    closePort(port);
}

TEST_F(PtyPortTest, AbsentPortFailsToOpenAndReopenGivesUp) {
    fs::remove(dir_ / ("com" + std::to_string(kPort)));
    SerialPort* port = createPort(kPort);
    EXPECT_EQ(port->handle, kInvalidPortHandle);
    EXPECT_EQ(port->openedPortNumber, kPort);
    EXPECT_EQ(port->openError, ENOENT);
    EXPECT_FALSE(portInUse(port->openError));

    const std::uint32_t start = tickCount();
    SerialPort* reopened = reopenPort(port);
    EXPECT_EQ(reopened->handle, kInvalidPortHandle);
    EXPECT_EQ(reopened->portNumber, kPort);
    EXPECT_GE(ticksSince(start), kReopenLimitMs);

    // A stop request ends the retry after the first attempt.
    const std::atomic<bool> stop{true};
    const std::uint32_t stoppedAt = tickCount();
    reopened = reopenPort(reopened, &stop);
    EXPECT_EQ(reopened->handle, kInvalidPortHandle);
    EXPECT_LT(ticksSince(stoppedAt), kReopenPauseMs);
    closePort(reopened);
}

TEST_F(PtyPortTest, NamesOfOnePortShareAnIdentity) {
    const fs::path byId = dir_ / "usb-Quorvel_Device-if00";
    fs::create_symlink(slaveName_, byId);
    const std::string identity = portIdentity(slaveName_);
    EXPECT_EQ(portIdentity(byId.string()), identity);
    EXPECT_EQ(portIdentity("com07"), identity);

    int otherMaster = -1;
    int otherSlave = -1;
    char otherName[128];
    ASSERT_EQ(openpty(&otherMaster, &otherSlave, otherName, nullptr, nullptr), 0);
    EXPECT_NE(portIdentity(otherName), identity);
    close(otherSlave);
    close(otherMaster);

    // Names that lead nowhere stand for themselves; COM names in any spelling.
    EXPECT_EQ(portIdentity("/dev/quorvel-no-such-port"), "/dev/quorvel-no-such-port");
    EXPECT_EQ(portIdentity("com9"), portIdentity("COM09"));
}

TEST_F(PtyPortTest, LowLatencyIsRefusedByAPtyWithoutAWarningOrAnError) {
    serial_struct settings{};
    ASSERT_NE(ioctl(slave_, TIOCGSERIAL, &settings), 0);  // a pty has no such settings

    std::vector<std::wstring> trace;
    setDebugOutputHook(
        [](const std::wstring& line, void* sink) {
            static_cast<std::vector<std::wstring>*>(sink)->push_back(line);
        },
        &trace);
    SerialPort* port = createPortAtPath(slaveName_);
    setDebugOutputHook(nullptr, nullptr);
    ASSERT_NE(port->handle, kInvalidPortHandle);
    EXPECT_EQ(port->openError, 0);
    EXPECT_FALSE(port->lowLatencyAdded);
    EXPECT_TRUE(trace.empty());
    closePort(port);
}

// The adapters the listing shows, as a test plays them.
std::vector<ListedPort> playedAdapters;
std::vector<ListedPort> listPlayedAdapters() { return playedAdapters; }

ListedPort playedAdapter(const std::string& device, const std::string& serial) {
    ListedPort port;
    port.name = device;
    port.usbId = "0403:6001";
    port.serialNumber = serial;
    return port;
}

TEST_F(PtyPortTest, UsbNameIsResolvedAgainAtEveryOpen) {
    int otherMaster = -1;
    int otherSlave = -1;
    char otherName[128];
    ASSERT_EQ(openpty(&otherMaster, &otherSlave, otherName, nullptr, nullptr), 0);
    setPortListerForTests(&listPlayedAdapters);

    playedAdapters = {playedAdapter(slaveName_, "Q1")};
    SerialPort* port = createPortNamed("usb:Q1");
    ASSERT_NE(port->handle, kInvalidPortHandle);
    EXPECT_EQ(port->path, slaveName_);
    EXPECT_EQ(port->adapter.serialNumber, "Q1");
    EXPECT_EQ(portIdentity("usb:q1"), portIdentity(slaveName_));

    // Back under another name, as after a re-enumeration: the re-open finds it.
    playedAdapters = {playedAdapter(otherName, "Q1")};
    port = reopenPort(port);
    ASSERT_NE(port->handle, kInvalidPortHandle);
    EXPECT_EQ(port->path, otherName);
    EXPECT_EQ(port->name, "usb:Q1");
    closePort(port);

    // Gone, or one of two that share the VID:PID: nothing is opened, as for an absent port.
    playedAdapters.clear();
    SerialPort* gone = createPortNamed("usb:Q1");
    EXPECT_EQ(gone->handle, kInvalidPortHandle);
    EXPECT_EQ(gone->openError, ENOENT);
    closePort(gone);
    playedAdapters = {playedAdapter(slaveName_, "Q1"), playedAdapter(otherName, "Q2")};
    SerialPort* ambiguous = createPortNamed("usb:0403:6001");
    EXPECT_EQ(ambiguous->handle, kInvalidPortHandle);
    closePort(ambiguous);
    std::string error;
    EXPECT_EQ(portNameCheck("usb:0403:6001", error), PortNameCheck::SeveralMatches);
    EXPECT_EQ(portNameCheck("usb:Q3", error), PortNameCheck::NoMatch);
    EXPECT_EQ(portNameCheck("usb:Q2", error), PortNameCheck::Usable);

    setPortListerForTests(nullptr);
    close(otherSlave);
    close(otherMaster);
}

TEST_F(PtyPortTest, EnumerationListsPresentPortsInNumericOrder) {
    for (int number : {0, 2, 10, 254, 255}) {
        fs::create_symlink(slaveName_, dir_ / ("com" + std::to_string(number)));
    }
    fs::create_symlink(dir_ / "gone", dir_ / "com3");  // a port whose device is absent

    // An open port is still listed: the existence test does not open it.
    SerialPort* held = createPort(kPort);
    const PortNameList names = enumeratePorts();
    closePort(held);
    EXPECT_EQ(names, (PortNameList{L"COM0", L"COM2", L"COM7", L"COM10", L"COM254"}));
}

}  // namespace
