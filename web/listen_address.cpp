#include "web/listen_address.h"

#include <cctype>

namespace {

bool parsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool parseListenAddress(const std::string& text, ListenAddress& address, std::string& error) {
    std::string host;
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string::npos) {
            error = "an IPv6 address is written [ADDRESS]:PORT: " + text;
            return false;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            error = "an IPv6 address is written [ADDRESS]:PORT: " + text;
            return false;
        }
        if (host.empty()) {
            error = "no address before the colon: " + text;
            return false;
        }
    }
    ListenAddress parsed;
    if (!parsePort(port, parsed.port)) {
        error = "not a port number (0 to 65535): " + text;
        return false;
    }
    if (!host.empty()) parsed.host = host;
    address = parsed;
    return true;
}

std::string pageUrl(const std::string& host, std::uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}
