// What the command needs from the operating system, one implementation per
// system (system_posix.cpp, system_win32.cpp): arguments and paths as text,
// the terminal, Ctrl-C, and the list of serial ports.
#pragma once

#include <atomic>
#include <string>
#include <vector>

// The command-line arguments as UTF-8, the program name first.
std::vector<std::string> commandArguments(int argc, char** argv);

// A UTF-8 path as the wide path the image loader takes.
std::wstring widePath(const std::string& utf8);

// True when standard error is an interactive terminal that can redraw lines in place.
bool errorStreamIsTerminal();

// From now on Ctrl-C (and a termination request) sets `flag` instead of ending the process.
void setOnInterrupt(std::atomic<bool>& flag);

struct ListedPort {
    std::string name;         // what --port takes
    std::string description;  // what the system says about the device, may be empty
    std::string usbId;        // "VID:PID" in hexadecimal, empty when not a USB device
    std::string serialNumber;
};

// The serial ports present, without opening them.
std::vector<ListedPort> listSerialPorts();
