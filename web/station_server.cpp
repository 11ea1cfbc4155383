// The listening side of the station page's server and its thread: accepting
// connections up to a cap, starting and stopping. A connection's requests
// are served in http_connection.cpp, the event streams in event_streams.cpp.
#include "web/station_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <chrono>
#include <thread>

#include "web/event_streams.h"
#include "web/http_connection.h"
#include "web/listen_socket.h"

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

namespace {

// Connections beyond this are closed at once: each holds a descriptor, which
// the station's ports and log need too (1024 in all by default on Linux).
constexpr int kConnectionLimit = 600;
// After a failed accept (descriptors run out), the next waits this long.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// What the last state gets to reach the pages when the station ends.
constexpr auto kClosingGrace = std::chrono::milliseconds(300);

}  // namespace

struct StationServer::Impl {
    explicit Impl(ListenAddress where) : address(std::move(where)) {}

    ListenAddress address;
    net::io_context io{1};
    tcp::acceptor acceptor{io};
    net::steady_timer acceptPause{io};
    std::unique_ptr<StationView> view;
    EventStreams events{io, [this] { return view->state(); }};
    std::thread thread;
    bool running = false;

    // The serving thread's alone.
    std::shared_ptr<int> connections = std::make_shared<int>(0);

    void accept();
    void admit(tcp::socket socket);
    void closeAll();
};

void StationServer::Impl::accept() {
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted || !acceptor.is_open()) return;
        if (error) {
            // Out of descriptors, most likely: try again shortly rather than spin.
            acceptPause.expires_after(kAcceptPause);
            acceptPause.async_wait([this](beast::error_code stopped) {
                if (!stopped) accept();
            });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

// Serves the connection, or closes it at once when the cap is reached.
void StationServer::Impl::admit(tcp::socket socket) {
    if (*connections >= kConnectionLimit) {
        beast::error_code ignored;
        socket.close(ignored);
        return;
    }
    serveConnection(
        std::move(socket), std::make_shared<ConnectionSlot>(connections),
        [this](beast::tcp_stream stream, SlotHold slot, unsigned version) {
            events.open(std::move(stream), std::move(slot), version);
        },
        [this] {
            return view->state().dump(2, ' ', false,
                                      nlohmann::ordered_json::error_handler_t::replace);
        });
}

void StationServer::Impl::closeAll() {
    beast::error_code ignored;
    acceptor.close(ignored);
    events.stopTimers();
    acceptPause.cancel();
    events.closeAll();
}

StationServer::StationServer(ListenAddress address)
    : impl_(std::make_unique<Impl>(std::move(address))) {}

StationServer::~StationServer() { stop(); }

bool StationServer::open(std::string& error) {
    beast::error_code code;
    tcp::resolver resolver(impl_->io);
    const auto found =
        resolver.resolve(impl_->address.host, std::to_string(impl_->address.port),
                         tcp::resolver::passive | tcp::resolver::numeric_service, code);
    if (code || found.empty()) {
        error = "the address " + impl_->address.host + " cannot be served: " + code.message();
        return false;
    }
    const tcp::endpoint endpoint = found.begin()->endpoint();
    tcp::acceptor& acceptor = impl_->acceptor;
    acceptor.open(endpoint.protocol(), code);
    if (!code) prepareListenSocket(acceptor, code);
    if (!code) acceptor.bind(endpoint, code);
    if (!code) acceptor.listen(net::socket_base::max_listen_connections, code);
    if (code) {
        beast::error_code ignored;
        acceptor.close(ignored);
        const bool taken = code == net::error::address_in_use || code == net::error::access_denied;
        error =
            pageUrl(endpoint.address().to_string(), endpoint.port()) + " cannot be served: " +
            (taken ? "the port is taken by another program or not allowed (" + code.message() + ")"
                   : code.message());
        return false;
    }
    return true;
}

std::uint16_t StationServer::port() const {
    beast::error_code ignored;
    return impl_->acceptor.local_endpoint(ignored).port();
}

bool StationServer::loopback() const {
    beast::error_code ignored;
    return impl_->acceptor.local_endpoint(ignored).address().is_loopback();
}

std::string StationServer::url() const {
    beast::error_code ignored;
    const tcp::endpoint endpoint = impl_->acceptor.local_endpoint(ignored);
    return pageUrl(endpoint.address().to_string(), endpoint.port());
}

void StationServer::start(StationPageFacts facts, WallClock clock) {
    Impl& impl = *impl_;
    impl.view = std::make_unique<StationView>(
        std::move(facts), std::move(clock),
        [&impl](bool significant) { impl.events.changed(significant); });
    impl.running = true;
    impl.accept();
    impl.events.keepRefreshing();
    impl.thread = std::thread([&impl] {
        // Whatever a page does, serving goes on: a handler's exception ends
        // only that handler.
        for (;;) {
            try {
                impl.io.run();
                return;
            } catch (const std::exception&) {
            }
        }
    });
}

StationObserver& StationServer::observer() { return *impl_->view; }

void StationServer::stop() {
    Impl& impl = *impl_;
    if (!impl.running) return;
    impl.running = false;
    net::post(impl.io, [&impl] {
        impl.events.publish();
        impl.events.stopTimers();
        beast::error_code ignored;
        impl.acceptor.close(ignored);
    });
    auto grace = std::make_shared<net::steady_timer>(impl.io, kClosingGrace);
    grace->async_wait([&impl, grace](beast::error_code) {
        impl.closeAll();
        impl.io.stop();
    });
    impl.thread.join();
}
