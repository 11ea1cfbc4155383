#include "web/event_streams.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http.hpp>
#include <sstream>
#include <vector>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

// Event streams beyond this are refused (503): each holds a descriptor,
// which the station's ports and log need too.
constexpr std::size_t kStreamLimit = 500;
// A state change is sent this soon, together with those that follow it in
// that time (a result, its slot and the counts come together); progress
// alone at most this often.
constexpr auto kGatherTime = std::chrono::milliseconds(20);
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
// The state is sent at least this often: the run time moves on, and a
// stream whose page has gone is found by the failing write.
constexpr auto kRefreshInterval = std::chrono::seconds(5);

std::string eventText(const nlohmann::ordered_json& state) {
    return "data: " + state.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
           "\n\n";
}

}  // namespace

// One page's event stream: the response's header, then every state sent as
// an event. A write that cannot keep up is skipped to the latest state; a
// page that does not take one within kWriteTimeout is closed.
class EventStream : public std::enable_shared_from_this<EventStream> {
  public:
    using Message = std::shared_ptr<const std::string>;

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

EventStreams::EventStreams(net::io_context& io, StateSource state)
    : io_(io), state_(std::move(state)), publishTimer_(io), refreshTimer_(io) {}

void EventStreams::changed(bool significant) {
    const int flag = significant ? 2 : 1;
    const int before = pending_.fetch_or(flag);
    if ((before & flag) != 0) return;  // the serving thread has been told already
    net::post(io_, [this] { sendChanges(); });
}

void EventStreams::sendChanges() {
    const int waiting = pending_.load();
    if (waiting == 0) return;
    const Clock::time_point due =
        (waiting & 2) != 0 ? Clock::now() + kGatherTime : lastPublished_ + kProgressInterval;
    if (publishTimerArmed_ && publishDue_ <= due) return;
    // Re-arming ends a later wait (its handler sees operation_aborted).
    publishTimerArmed_ = true;
    publishDue_ = due;
    publishTimer_.expires_at(due);
    publishTimer_.async_wait([this](beast::error_code error) {
        if (error) return;
        publishTimerArmed_ = false;
        if (pending_.load() != 0) publish();
    });
}

EventStreams::Message EventStreams::stateMessage() const {
    return std::make_shared<const std::string>(eventText(state_()));
}

void EventStreams::open(beast::tcp_stream stream, SlotHold slot, unsigned version) {
    if (streams_.size() >= kStreamLimit) {
        beast::error_code ignored;
        const std::string busy =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        net::write(stream.socket(), net::buffer(busy), ignored);
        stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        return;
    }
    auto eventStream = std::make_shared<EventStream>(std::move(stream), std::move(slot),
                                                     [this](EventStream* gone) { forget(gone); });
    streams_.insert(eventStream);
    if (!latest_) latest_ = stateMessage();
    eventStream->begin(version, latest_);
}

void EventStreams::forget(EventStream* gone) {
    for (auto at = streams_.begin(); at != streams_.end(); ++at) {
        if (at->get() == gone) {
            streams_.erase(at);
            return;
        }
    }
}

void EventStreams::publish() {
    pending_.store(0);
    lastPublished_ = Clock::now();
    latest_ = stateMessage();
    // A stream may close (and leave the set) while it is sent to.
    const std::vector<std::shared_ptr<EventStream>> open(streams_.begin(), streams_.end());
    for (const auto& stream : open) stream->send(latest_);
}

void EventStreams::keepRefreshing() {
    refreshTimer_.expires_after(kRefreshInterval);
    refreshTimer_.async_wait([this](beast::error_code error) {
        if (error) return;
        publish();
        keepRefreshing();
    });
}

void EventStreams::stopTimers() {
    refreshTimer_.cancel();
    publishTimer_.cancel();
}

void EventStreams::closeAll() {
    const std::vector<std::shared_ptr<EventStream>> open(streams_.begin(), streams_.end());
    for (const auto& stream : open) stream->close();
}
