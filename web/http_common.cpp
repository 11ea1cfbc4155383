#include "web/http_common.h"

namespace {

constexpr const char* kSecurityPolicy =
    "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; "
    "frame-ancestors 'none'";

}  // namespace

void commonHeaders(boost::beast::http::response_header<>& header) {
    namespace http = boost::beast::http;
    header.set(http::field::server, "quorvel-station");
    header.set(http::field::cache_control, "no-cache");
    header.set("X-Content-Type-Options", "nosniff");
    header.set("Content-Security-Policy", kSecurityPolicy);
}
