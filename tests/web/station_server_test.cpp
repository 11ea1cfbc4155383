// The station page's server over real sockets on the loopback: what it
// serves and refuses, a taken port, how soon a change reaches an open event
// stream, and that stalled, slow and vanished pages hold neither the
// station's threads nor the other pages.
#include "web/station_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

constexpr int kReplyLimitMs = 3000;

class Client {
  public:
    explicit Client(std::uint16_t port, int receiveBuffer = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool send(const std::string& text) {
        return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    // Reads until `until` has arrived (or the peer closes, or the time is up);
    // what arrived since the last call.
    std::string readUntil(const std::string& until, int limitMs = kReplyLimitMs) {
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limitMs);
        while (received_.find(until) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
                    .count();
            if (left <= 0) break;
            pollfd wait{fd_, POLLIN, 0};
            if (poll(&wait, 1, static_cast<int>(left)) <= 0) break;
            char buffer[65536];
            const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
            if (count <= 0) break;
            received_.append(buffer, static_cast<std::size_t>(count));
        }
        const std::size_t end = received_.find(until);
        const std::size_t take = end == std::string::npos ? received_.size() : end + until.size();
        std::string taken = received_.substr(0, take);
        received_.erase(0, take);
        return taken;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
    std::string received_;
};

std::string get(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
}

// The whole response to one request on a fresh connection.
std::string exchange(std::uint16_t port, const std::string& request) {
    Client client(port);
    EXPECT_TRUE(client.connected());
    client.send(request);
    return client.readUntil("\x01never");
}

std::string statusLine(const std::string& response) {
    return response.substr(0, response.find("\r\n"));
}

std::string body(const std::string& response) {
    const std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

// The last complete state on an event stream's text.
Json lastEvent(const std::string& text) {
    const std::size_t end = text.rfind("\n\n");
    const std::size_t begin = text.rfind("data: ", end);
    if (end == std::string::npos || begin == std::string::npos) return Json();
    return Json::parse(text.substr(begin + 6, end - begin - 6), nullptr, false);
}

StationEvent passedEvent(std::size_t slot, std::int64_t unit) {
    StationEvent event;
    event.kind = StationEventKind::Slot;
    event.slot = slot;
    event.state = SlotState::Passed;
    event.unit = unit;
    return event;
}

struct Served {
    StationServer server{ListenAddress{"127.0.0.1", 0}};
    Served() {
        std::string error;
        EXPECT_TRUE(server.open(error)) << error;
        server.start(StationPageFacts{"bench 1", {"COM5", "COM6"}, "fw.bin", "ab", 10});
    }
    std::uint16_t port() const { return server.port(); }
};

TEST(StationServer, ServesThePageItsFilesAndStateAndRefusesEverythingElse) {
    Served served;
    const std::string page = exchange(served.port(), get("/"));
    EXPECT_EQ(statusLine(page), "HTTP/1.1 200 OK");
    EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos);
    EXPECT_NE(page.find("<script src=\"chart.min.js\">"), std::string::npos);
    EXPECT_NE(page.find("Content-Security-Policy: default-src 'self'"), std::string::npos);
    for (const char* file : {"/chart.min.js", "/charts.js", "/station.js", "/station.css"}) {
        EXPECT_EQ(statusLine(exchange(served.port(), get(file))), "HTTP/1.1 200 OK") << file;
    }
    const std::string state = exchange(served.port(), get("/api/state?x=1"));
    EXPECT_NE(state.find("Content-Type: application/json"), std::string::npos);
    const Json document = Json::parse(body(state));
    EXPECT_EQ(document["station"], "bench 1");
    EXPECT_EQ(document["slots"].size(), 2u);

    EXPECT_EQ(statusLine(exchange(served.port(), get("/nothing"))), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(statusLine(exchange(served.port(), get("/report.html"))), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(statusLine(exchange(served.port(), get("/../etc/passwd"))), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(statusLine(exchange(served.port(),
                                  "POST /api/state HTTP/1.1\r\nHost: x\r\n"
                                  "Connection: close\r\n"
                                  "Content-Length: 2\r\n\r\n{}")),
              "HTTP/1.1 405 Method Not Allowed");
    const std::string longLine = get("/" + std::string(10000, 'a'));
    EXPECT_EQ(statusLine(exchange(served.port(), longLine)),
              "HTTP/1.1 431 Request Header Fields Too Large");
    const std::string longHeader =
        "GET / HTTP/1.1\r\nHost: x\r\nX-Long: " + std::string(10000, 'b') + "\r\n\r\n";
    EXPECT_EQ(statusLine(exchange(served.port(), longHeader)),
              "HTTP/1.1 431 Request Header Fields Too Large");
    EXPECT_EQ(statusLine(exchange(served.port(), "BLAH\r\n\r\n")), "HTTP/1.1 400 Bad Request");
    const std::string bigBody = "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n";
    EXPECT_EQ(statusLine(exchange(served.port(), bigBody)), "HTTP/1.1 413 Payload Too Large");

    // Two requests on one connection (keep-alive).
    Client client(served.port());
    client.send(
        "GET /api/state HTTP/1.1\r\nHost: x\r\n\r\nGET /charts.js HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(statusLine(client.readUntil("\n}")), "HTTP/1.1 200 OK");
    EXPECT_NE(client.readUntil("QuorvelCharts").find("HTTP/1.1 200 OK"), std::string::npos);
}

TEST(StationServer, HeadGivesTheHeadersAloneAndKeepsTheConnection) {
    Served served;
    Client client(served.port());
    client.send("HEAD / HTTP/1.1\r\nHost: x\r\n\r\nHEAD /api/events HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string page = client.readUntil("\r\n\r\n");
    EXPECT_EQ(statusLine(page), "HTTP/1.1 200 OK");
    EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos);
    const std::string events = client.readUntil("\r\n\r\n");
    EXPECT_EQ(statusLine(events), "HTTP/1.1 200 OK") << "the page's body was sent too";
    EXPECT_NE(events.find("Content-Type: text/event-stream"), std::string::npos);
    EXPECT_EQ(client.readUntil("data: ", 200), "") << "HEAD opened an event stream";
}

TEST(StationServer, StopSendsTheLastStateAndEndsTheStreams) {
    Served served;
    Client stream(served.port());
    stream.send(get("/api/events"));
    stream.readUntil("}\n\n");
    served.server.observer().onEvent(passedEvent(0, 9));
    served.server.stop();
    const auto stopped = SteadyClock::now();
    EXPECT_EQ(lastEvent(stream.readUntil("\x01never"))["slots"][0]["unit"], 9);
    EXPECT_LT(SteadyClock::now() - stopped, std::chrono::milliseconds(1000)) << "still open";
}

TEST(StationServer, APortTakenByAnotherListenerIsRefusedAtOpen) {
    Served first;
    StationServer second(ListenAddress{"127.0.0.1", first.port()});
    std::string error;
    EXPECT_FALSE(second.open(error));
    EXPECT_NE(error.find("taken"), std::string::npos) << error;
    StationServer unknown(ListenAddress{"no-such-host.invalid", 0});
    EXPECT_FALSE(unknown.open(error));
}

TEST(StationServer, AChangeReachesAnOpenStreamAtOnceAndProgressSoon) {
    Served served;
    Client stream(served.port());
    stream.send(get("/api/events"));
    const std::string start = stream.readUntil("\n\n", kReplyLimitMs);
    EXPECT_NE(start.find("Content-Type: text/event-stream"), std::string::npos);
    EXPECT_TRUE(lastEvent(stream.readUntil("}\n\n")).is_object());

    const auto sent = SteadyClock::now();
    served.server.observer().onEvent(passedEvent(1, 7));
    const Json state = lastEvent(stream.readUntil("}\n\n"));
    EXPECT_LT(SteadyClock::now() - sent, std::chrono::milliseconds(100));
    EXPECT_EQ(state["slots"][1]["last_result"]["text"], "PASS");
    EXPECT_EQ(state["slots"][1]["unit"], 7);

    StationEvent progress;
    progress.kind = StationEventKind::Progress;
    progress.slot = 0;
    progress.percent = 33;
    served.server.observer().onEvent(progress);
    EXPECT_EQ(lastEvent(stream.readUntil("}\n\n", 1000))["slots"][0]["percent"], 33);
}

TEST(StationServer, StalledSlowAndVanishedPagesHoldNeitherTheStationNorOtherPages) {
    Served served;
    // Pages that never read, with small buffers that fill at once.
    std::vector<std::unique_ptr<Client>> stalled;
    for (int i = 0; i < 20; ++i) {
        stalled.push_back(std::make_unique<Client>(served.port(), 1024));
        stalled.back()->send(get("/api/events"));
    }
    // A client that sends half a request and waits, and pages that leave mid-stream.
    Client slow(served.port());
    slow.send("GET /api/sta");
    for (int i = 0; i < 5; ++i) {
        Client leaving(served.port());
        leaving.send(get("/api/events"));
        leaving.readUntil("data: ");
    }
    Client reader(served.port());
    reader.send(get("/api/events"));
    reader.readUntil("}\n\n");

    // The station's threads: a burst of events, each handed over at once.
    StationEvent note;
    note.kind = StationEventKind::Note;
    note.text = std::string(3000, 'n');  // grows every state sent
    auto slowest = std::chrono::nanoseconds(0);
    for (int i = 0; i < 2000; ++i) {
        const auto before = SteadyClock::now();
        served.server.observer().onEvent(i % 2 ? note : passedEvent(0, i));
        slowest = std::max(slowest, SteadyClock::now() - before);
    }
    EXPECT_LT(slowest, std::chrono::milliseconds(20));
    served.server.observer().onEvent(passedEvent(1, 4242));

    // The page that reads gets the latest state; a new request is answered.
    Json last;
    for (int i = 0; i < 50 && last["slots"][1]["unit"] != 4242; ++i) {
        last = lastEvent(reader.readUntil("}\n\n", 1000));
    }
    EXPECT_EQ(last["slots"][1]["unit"], 4242);
    EXPECT_EQ(statusLine(exchange(served.port(), get("/api/state"))), "HTTP/1.1 200 OK");
}

}  // namespace
