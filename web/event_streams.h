// The station page's event streams (Server-Sent Events): which pages are
// subscribed, and when the state goes out to them. A state change is sent
// within 20 ms together with what follows it, progress alone at most every
// 200 ms, and everything at least every 5 s. The state's text is made once
// per sending and shared by every stream; a stream that is still writing
// keeps only the newest one.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "web/http_common.h"

class EventStream;

class EventStreams {
  public:
    using StateSource = std::function<nlohmann::ordered_json()>;

    // Serves on `io`'s thread; `state` gives the page's state when it is sent.
    EventStreams(boost::asio::io_context& io, StateSource state);
    EventStreams(const EventStreams&) = delete;
    EventStreams& operator=(const EventStreams&) = delete;

    // From any thread: the state changed; `significant` is false for progress alone.
    void changed(bool significant);

    // What follows runs on the serving thread.
    // A page's new stream: the response's header and the latest state, or a
    // refusal (503) when there are too many.
    void open(boost::beast::tcp_stream stream, SlotHold slot, unsigned version);
    // Sends the state at least every kRefreshInterval from now on.
    void keepRefreshing();
    // Sends the state to every stream now.
    void publish();
    // Nothing more is sent by itself.
    void stopTimers();
    // Ends every stream.
    void closeAll();

  private:
    using Clock = std::chrono::steady_clock;
    using Message = std::shared_ptr<const std::string>;

    void sendChanges();
    Message stateMessage() const;
    void forget(EventStream* gone);

    boost::asio::io_context& io_;
    const StateSource state_;
    boost::asio::steady_timer publishTimer_;
    boost::asio::steady_timer refreshTimer_;

    // Touched by the engine's threads: 1 progress, 2 a state change, waiting to be sent.
    std::atomic<int> pending_{0};

    // The serving thread's alone.
    Message latest_;
    Clock::time_point lastPublished_{};
    bool publishTimerArmed_ = false;
    Clock::time_point publishDue_{};
    std::set<std::shared_ptr<EventStream>> streams_;
};
