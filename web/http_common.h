// What the station page's connections and event streams share: the headers
// of every response, the time a page gets to take a write, and the count of
// open connections that the server caps.
#pragma once

#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>
#include <chrono>
#include <memory>

// A response, or an event, must be taken within this.
inline constexpr auto kWriteTimeout = std::chrono::seconds(10);

// The server's name, no caching, no sniffing, and the page's own origin alone.
void commonHeaders(boost::beast::http::response_header<>& header);

// Counts the open connections while it lives; a connection keeps it, and
// hands it on to its event stream.
class ConnectionSlot {
  public:
    explicit ConnectionSlot(std::shared_ptr<int> open) : open_(std::move(open)) { ++*open_; }
    ~ConnectionSlot() { --*open_; }
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;

  private:
    // Shared: a connection's handler may outlive the server's other parts.
    std::shared_ptr<int> open_;
};
using SlotHold = std::shared_ptr<ConnectionSlot>;
