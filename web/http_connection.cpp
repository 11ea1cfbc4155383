#include "web/http_connection.h"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <optional>

#include "web/web_assets.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

// A request's line and headers together; longer ones are refused (431).
constexpr std::size_t kHeaderLimit = 8192;
// A request's body: the page sends none; a small one is read and ignored.
constexpr std::size_t kBodyLimit = 1024;
// A request must arrive whole within this.
constexpr auto kRequestTimeout = std::chrono::seconds(10);

using Request = http::request<http::string_body>;
using Response = std::shared_ptr<http::response<http::string_body>>;

// A plain-text response of `status` to a request of `version`.
Response plainResponse(http::status status, unsigned version, std::string body) {
    auto response = std::make_shared<http::response<http::string_body>>(status, version);
    commonHeaders(response->base());
    response->set(http::field::content_type, "text/plain; charset=utf-8");
    response->body() = std::move(body);
    return response;
}

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(tcp::socket socket, SlotHold slot, OpenEventStream openStream, StateText stateText)
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

    void answer(const Request& request) {
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
            answerEvents(request, head);
        } else if (path == "/api/state") {
            auto response = textResponse(http::status::ok, stateText_(), request);
            response->set(http::field::content_type, "application/json");
            send(response, head);
        } else {
            answerFile(request, path, head);
        }
    }

    // GET hands the connection to the event stream; HEAD only says what it would be.
    void answerEvents(const Request& request, bool head) {
        if (!head) {
            stream_.expires_never();
            openStream_(std::move(stream_), std::move(slot_), request.version());
            return;
        }
        auto response = textResponse(http::status::ok, "", request);
        response->set(http::field::content_type, "text/event-stream");
        send(response, head);
    }

    // The page's files, but not the report's page, which only `report --html` fills.
    void answerFile(const Request& request, const std::string& path, bool head) {
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

    Response textResponse(http::status status, std::string body, const Request& request) {
        auto response = plainResponse(status, request.version(), std::move(body));
        response->keep_alive(request.keep_alive());
        response->prepare_payload();
        return response;
    }

    // A request that cannot be read: said, and the connection closed.
    void refuse(http::status status, const std::string& text) {
        auto response = plainResponse(status, 11, text);
        response->keep_alive(false);
        response->prepare_payload();
        send(response, false);
    }

    void send(const Response& response, bool head) {
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
    OpenEventStream openStream_;
    StateText stateText_;
};

}  // namespace

void serveConnection(tcp::socket socket, SlotHold slot, OpenEventStream openStream,
                     StateText stateText) {
    std::make_shared<Connection>(std::move(socket), std::move(slot), std::move(openStream),
                                 std::move(stateText))
        ->read();
}
