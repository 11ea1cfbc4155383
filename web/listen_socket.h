// The listening socket's options, which differ between the systems: the port
// must be refused while another program listens on it.
#pragma once

#include <boost/asio/ip/tcp.hpp>

void prepareListenSocket(boost::asio::ip::tcp::acceptor& acceptor,
                         boost::system::error_code& error);
