#include "serial/owned_port.h"

OwnedPort& OwnedPort::operator=(OwnedPort&& other) noexcept {
    if (this != &other) {
        close();
        port_ = other.port_;
        other.port_ = nullptr;
    }
    return *this;
}

bool OwnedPort::reopen(const std::atomic<bool>* stop) {
    if (port_ == nullptr) return false;
    port_ = reopenPort(port_, stop);
    return isOpen();
}

void OwnedPort::close() {
    closePort(port_);
    port_ = nullptr;
}
