// One connection to the station page: its requests one after the other
// (keep-alive), each read within limits of size and time, and answered from
// the page's files and state. GET and HEAD only: nothing served changes the
// station. A request for the event stream hands the connection over.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <functional>
#include <string>

#include "web/http_common.h"

// Takes over a connection that asked for the event stream, with the
// request's HTTP version.
using OpenEventStream = std::function<void(boost::beast::tcp_stream, SlotHold, unsigned version)>;
// The page's state as /api/state gives it.
using StateText = std::function<std::string()>;

// Serves the connection on its executor's thread until it closes or becomes an event stream.
void serveConnection(boost::asio::ip::tcp::socket socket, SlotHold slot, OpenEventStream openStream,
                     StateText stateText);
