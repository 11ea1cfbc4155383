#include "web/station_server.h"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "web/listen_socket.h"
#include "web/web_assets.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// A request's line and headers together; longer ones are refused (431).
constexpr std::size_t kHeaderLimit = 8192;
// A request's body: the page sends none; a small one is read and ignored.
constexpr std::size_t kBodyLimit = 1024;
// A request must arrive whole, and a response be taken, within these.
constexpr auto kRequestTimeout = std::chrono::seconds(10);
constexpr auto kWriteTimeout = std::chrono::seconds(10);
// Connections beyond this are closed at once, event streams beyond their own
// limit refused (503): each holds a descriptor, which the station's ports
// and log need too (1024 in all by default on Linux).
constexpr int kConnectionLimit = 600;
constexpr std::size_t kStreamLimit = 500;
// After a failed accept (descriptors run out), the next waits this long.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// A state change is sent this soon, together with those that follow it in
// that time (a result, its slot and the counts come together); progress
// alone at most this often.
constexpr auto kGatherTime = std::chrono::milliseconds(20);
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
// The state is sent at least this often: the run time moves on, and a
// stream whose page has gone is found by the failing write.
constexpr auto kRefreshInterval = std::chrono::seconds(5);
// What the last state gets to reach the pages when the station ends.
constexpr auto kClosingGrace = std::chrono::milliseconds(300);

constexpr const char* kSecurityPolicy =
    "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; "
    "frame-ancestors 'none'";

using Message = std::shared_ptr<const std::string>;

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

void commonHeaders(http::response_header<>& header) {
    header.set(http::field::server, "quorvel-station");
    header.set(http::field::cache_control, "no-cache");
    header.set("X-Content-Type-Options", "nosniff");
    header.set("Content-Security-Policy", kSecurityPolicy);
}

}  // namespace

// One page's event stream: the response's header, then every state sent as
// an event. A write that cannot keep up is skipped to the latest state; a
// page that does not take one within kWriteTimeout is closed.
class EventStream : public std::enable_shared_from_this<EventStream> {
  public:
    EventStream(beast::tcp_stream stream, SlotHold slot, std::function<void(EventStream*)> closed)
        : stream_(std::move(stream)), slot_(std::move(slot)), closed_(std::move(closed)) {}

    void begin(unsigned version, const Message& state) {
        http::response_header<> header;
        header.version(version);
        header.result(http::status::ok);
        commonHeaders(header);
        header.set(http::field::content_type, "text/event-stream");
        header.set(http::field::connection, "close");
        std::ostringstream text;
        text << header << "retry: 1000\n\n";
        send(std::make_shared<const std::string>(text.str()));
        if (state) send(state);
        watchForClose();
    }

    void send(const Message& message) {
        if (closing_) return;
        if (writing_) {
            // The page has not taken the last one yet: only the newest state matters.
            next_ = message;
            return;
        }
        write(message);
    }

    void close() {
        if (closing_) return;
        closing_ = true;
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
        closed_(this);
    }

  private:
    void write(const Message& message) {
        writing_ = message;
        stream_.expires_after(kWriteTimeout);
        net::async_write(stream_, net::buffer(*writing_),
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             self->written(error);
                         });
    }

    void written(beast::error_code error) {
        writing_.reset();
        if (error) {
            close();
            return;
        }
        stream_.expires_never();
        if (next_) {
            Message next = std::move(next_);
            next_.reset();
            write(next);
        }
    }

    // A page sends nothing on its stream: a read ends when it goes away.
    void watchForClose() {
        stream_.socket().async_read_some(
            net::buffer(discard_),
            [self = shared_from_this()](beast::error_code error, std::size_t) {
                if (error) {
                    self->close();
                } else {
                    self->watchForClose();
                }
            });
    }

    beast::tcp_stream stream_;
    SlotHold slot_;
    std::function<void(EventStream*)> closed_;
    Message writing_;
    Message next_;
    bool closing_ = false;
    char discard_[256];
};

struct StationServer::Impl {
    explicit Impl(ListenAddress where) : address(std::move(where)) {}

    ListenAddress address;
    net::io_context io{1};
    tcp::acceptor acceptor{io};
    net::steady_timer publishTimer{io};
    net::steady_timer refreshTimer{io};
    net::steady_timer acceptPause{io};
    std::unique_ptr<StationView> view;
    std::thread thread;
    bool running = false;

    // Touched by the engine's threads: 1 progress, 2 a state change, waiting to be sent.
    std::atomic<int> pending{0};

    // The serving thread's alone.
    Message latest;
    Clock::time_point lastPublished{};
    bool publishTimerArmed = false;
    Clock::time_point publishDue{};
    std::shared_ptr<int> connections = std::make_shared<int>(0);
    std::set<std::shared_ptr<EventStream>> streams;

    void accept();
    void changed(bool significant);
    void sendChanges();
    void publish();
    void refresh();
    void openStream(beast::tcp_stream stream, SlotHold slot, unsigned version);
    void closeAll();
};

namespace {

// One connection's requests, one after the other (keep-alive), until the
// page asks for the event stream, which takes the connection over.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    using OpenStream = std::function<void(beast::tcp_stream, SlotHold, unsigned)>;
    using StateText = std::function<std::string()>;

    Connection(tcp::socket socket, SlotHold slot, OpenStream openStream, StateText stateText)
        : stream_(std::move(socket)),
          slot_(std::move(slot)),
          openStream_(std::move(openStream)),
          stateText_(std::move(stateText)) {}

    void read() {
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        parser_->body_limit(kBodyLimit);
        stream_.expires_after(kRequestTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             self->received(error);
                         });
    }

  private:
    void received(beast::error_code error) {
        if (error == http::error::end_of_stream || error == beast::error::timeout ||
            error == net::error::operation_aborted || error == net::error::connection_reset ||
            error == net::error::eof) {
            close();
            return;
        }
        if (error == http::error::header_limit) {
            refuse(http::status::request_header_fields_too_large, "request header too long\n");
            return;
        }
        if (error == http::error::body_limit) {
            refuse(http::status::payload_too_large, "request body too long\n");
            return;
        }
        if (error) {
            refuse(http::status::bad_request, "bad request\n");
            return;
        }
        answer(parser_->get());
    }

    void answer(const http::request<http::string_body>& request) {
        const bool head = request.method() == http::verb::head;
        if (request.method() != http::verb::get && !head) {
            auto response = textResponse(http::status::method_not_allowed,
                                         "the station page is read-only\n", request);
            response->set(http::field::allow, "GET, HEAD");
            send(response, head);
            return;
        }
        const std::string target(request.target());
        const std::string path = target.substr(0, target.find('?'));
        if (path == "/api/events") {
            if (!head) {
                stream_.expires_never();
                openStream_(std::move(stream_), std::move(slot_), request.version());
                return;
            }
            auto response = textResponse(http::status::ok, "", request);
            response->set(http::field::content_type, "text/event-stream");
            send(response, head);
            return;
        }
        if (path == "/api/state") {
            auto response = textResponse(http::status::ok, stateText_(), request);
            response->set(http::field::content_type, "application/json");
            send(response, head);
            return;
        }
        const WebAsset* asset = findWebAsset(path == "/" ? "index.html" : path.substr(1));
        if (asset == nullptr || std::string(asset->name) == "report.html") {
            send(textResponse(http::status::not_found, "not found\n", request), head);
            return;
        }
        auto response =
            textResponse(http::status::ok, std::string(asset->data, asset->size), request);
        response->set(http::field::content_type, asset->contentType);
        send(response, head);
    }

    std::shared_ptr<http::response<http::string_body>> textResponse(
        http::status status, std::string body, const http::request<http::string_body>& request) {
        auto response =
            std::make_shared<http::response<http::string_body>>(status, request.version());
        commonHeaders(response->base());
        response->set(http::field::content_type, "text/plain; charset=utf-8");
        response->body() = std::move(body);
        response->keep_alive(request.keep_alive());
        response->prepare_payload();
        return response;
    }

    // A request that cannot be read: said, and the connection closed.
    void refuse(http::status status, const std::string& text) {
        auto response = std::make_shared<http::response<http::string_body>>(status, 11);
        commonHeaders(response->base());
        response->set(http::field::content_type, "text/plain; charset=utf-8");
        response->body() = text;
        response->keep_alive(false);
        response->prepare_payload();
        send(response, false);
    }

    void send(const std::shared_ptr<http::response<http::string_body>>& response, bool head) {
        stream_.expires_after(kWriteTimeout);
        auto done = [self = shared_from_this(), response](beast::error_code error, std::size_t) {
            if (error || !response->keep_alive()) {
                self->close();
            } else {
                self->read();
            }
        };
        if (head) {
            auto serializer =
                std::make_shared<http::response_serializer<http::string_body>>(*response);
            http::async_write_header(
                stream_, *serializer,
                [serializer, done](beast::error_code error, std::size_t n) { done(error, n); });
        } else {
            http::async_write(stream_, *response, done);
        }
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    SlotHold slot_;
    beast::flat_buffer buffer_{kHeaderLimit * 2};
    std::optional<http::request_parser<http::string_body>> parser_;
    OpenStream openStream_;
    StateText stateText_;
};

std::string eventText(const nlohmann::ordered_json& state) {
    return "data: " + state.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
           "\n\n";
}

}  // namespace

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
        if (*connections >= kConnectionLimit) {
            beast::error_code ignored;
            socket.close(ignored);
        } else {
            std::make_shared<Connection>(
                std::move(socket), std::make_shared<ConnectionSlot>(connections),
                [this](beast::tcp_stream stream, SlotHold slot, unsigned version) {
                    openStream(std::move(stream), std::move(slot), version);
                },
                [this] {
                    return view->state().dump(2, ' ', false,
                                              nlohmann::ordered_json::error_handler_t::replace);
                })
                ->read();
        }
        accept();
    });
}

void StationServer::Impl::openStream(beast::tcp_stream stream, SlotHold slot, unsigned version) {
    if (streams.size() >= kStreamLimit) {
        beast::error_code ignored;
        const std::string busy =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        net::write(stream.socket(), net::buffer(busy), ignored);
        stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        return;
    }
    auto eventStream = std::make_shared<EventStream>(
        std::move(stream), std::move(slot), [this](EventStream* gone) {
            for (auto at = streams.begin(); at != streams.end(); ++at) {
                if (at->get() == gone) {
                    streams.erase(at);
                    return;
                }
            }
        });
    streams.insert(eventStream);
    if (!latest) latest = std::make_shared<const std::string>(eventText(view->state()));
    eventStream->begin(version, latest);
}

void StationServer::Impl::changed(bool significant) {
    const int flag = significant ? 2 : 1;
    const int before = pending.fetch_or(flag);
    if ((before & flag) != 0) return;  // the serving thread has been told already
    net::post(io, [this] { sendChanges(); });
}

void StationServer::Impl::sendChanges() {
    const int waiting = pending.load();
    if (waiting == 0) return;
    const Clock::time_point due =
        (waiting & 2) != 0 ? Clock::now() + kGatherTime : lastPublished + kProgressInterval;
    if (publishTimerArmed && publishDue <= due) return;
    // Re-arming ends a later wait (its handler sees operation_aborted).
    publishTimerArmed = true;
    publishDue = due;
    publishTimer.expires_at(due);
    publishTimer.async_wait([this](beast::error_code error) {
        if (error) return;
        publishTimerArmed = false;
        if (pending.load() != 0) publish();
    });
}

void StationServer::Impl::publish() {
    pending.store(0);
    lastPublished = Clock::now();
    latest = std::make_shared<const std::string>(eventText(view->state()));
    // A stream may close (and leave the set) while it is sent to.
    const std::vector<std::shared_ptr<EventStream>> open(streams.begin(), streams.end());
    for (const auto& stream : open) stream->send(latest);
}

void StationServer::Impl::refresh() {
    refreshTimer.expires_after(kRefreshInterval);
    refreshTimer.async_wait([this](beast::error_code error) {
        if (error) return;
        publish();
        refresh();
    });
}

void StationServer::Impl::closeAll() {
    beast::error_code ignored;
    acceptor.close(ignored);
    publishTimer.cancel();
    refreshTimer.cancel();
    acceptPause.cancel();
    const std::vector<std::shared_ptr<EventStream>> open(streams.begin(), streams.end());
    for (const auto& stream : open) stream->close();
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
    impl.view =
        std::make_unique<StationView>(std::move(facts), std::move(clock),
                                      [&impl](bool significant) { impl.changed(significant); });
    impl.running = true;
    impl.accept();
    impl.refresh();
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
        impl.publish();
        impl.refreshTimer.cancel();
        impl.publishTimer.cancel();
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
