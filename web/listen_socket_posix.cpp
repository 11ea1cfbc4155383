#include "web/listen_socket.h"

// SO_REUSEADDR lets a restarted station take its port back from connections
// still in TIME_WAIT; unlike SO_REUSEPORT it never shares a port that another
// socket listens on.
void prepareListenSocket(boost::asio::ip::tcp::acceptor& acceptor,
                         boost::system::error_code& error) {
    acceptor.set_option(boost::asio::ip::tcp::acceptor::reuse_address(true), error);
}
