// The device's end of the serial line: a pseudo-terminal whose slave side is
// the port the tool opens.
//
// A small helper process holds the slave open as its own controlling terminal.
// That keeps any other process (notably the Wine server) from adopting it as
// its controlling terminal by accident, and it keeps the master from seeing a
// hang-up each time the client closes the port. We also keep a slave
// descriptor (opened without becoming a controlling terminal) to set the line
// raw and to see whether the client has read everything.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace devsim {

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { tearDown(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool create(std::string& error);
    // Ends the helper process and closes both sides: the client sees the port vanish.
    void tearDown();

    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Bytes written by the device that the client has not read yet.
    std::size_t unreadByClient() const;

  private:
    bool startHolder(std::string& error);

    int master_ = -1;
    int slave_ = -1;
    pid_t holder_ = -1;
    std::string slavePath_;
};

// Points `link` at `target`, replacing any existing entry atomically.
bool pointLink(const std::string& link, const std::string& target, std::string& error);
void removeLink(const std::string& link);

}  // namespace devsim
