// One port record owned from its creation to its close: the record is closed
// when its owner goes or takes another, so that no path can leave a port open
// or close it twice.
#pragma once

#include <atomic>
#include <string>

#include "serial/serial_port.h"

class OwnedPort {
  public:
    OwnedPort() = default;
    // Takes over a record from createPort, createPortAtPath or createPortNamed, open or not.
    explicit OwnedPort(SerialPort* port) : port_(port) {}
    ~OwnedPort() { close(); }
    OwnedPort(OwnedPort&& other) noexcept : port_(other.port_) { other.port_ = nullptr; }
    OwnedPort& operator=(OwnedPort&& other) noexcept;
    OwnedPort(const OwnedPort&) = delete;
    OwnedPort& operator=(const OwnedPort&) = delete;

    // Opens `name` as createPortNamed does.
    static OwnedPort named(const std::string& name) { return OwnedPort(createPortNamed(name)); }

    // The record, or null when none is held.
    SerialPort* get() const { return port_; }
    // A record is held and its port is open.
    bool isOpen() const { return port_ != nullptr && port_->handle != kInvalidPortHandle; }
    // The OS error of the record's failed open; 0 while open or when none is held.
    int openError() const { return port_ != nullptr && !isOpen() ? port_->openError : 0; }

    // Opens the held record's port again as reopenPort does, retrying while
    // it is absent; true when it is open then.
    bool reopen(const std::atomic<bool>* stop);
    // Closes the port and frees the record; nothing is held afterwards.
    void close();

  private:
    SerialPort* port_ = nullptr;
};
