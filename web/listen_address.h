// Where the station page is served: "[ADDRESS:]PORT" as the command line
// takes it, the address 127.0.0.1 unless one is given.
#pragma once

#include <cstdint>
#include <string>

struct ListenAddress {
    std::string host = "127.0.0.1";  // a numeric IPv4 or IPv6 address, or a host name
    std::uint16_t port = 0;          // 0: any free port
};

// "8080", "0.0.0.0:8080", "[::1]:8080", "localhost:8080". False, with the
// reason in `error`, for anything else.
bool parseListenAddress(const std::string& text, ListenAddress& address, std::string& error);

// "http://127.0.0.1:8080/", "http://[::1]:8080/".
std::string pageUrl(const std::string& host, std::uint16_t port);
