// The simulated device as a whole: the pseudo-terminal it serves, the line
// timing, the program running (application firmware, restarting, or boot
// loader, or none while the slot holds no board), the boot switch with the
// optional disappearance of the port, glitches of the link (the port gone, or
// the line deaf and mute, for a while), the control file and the flash file.
//
// The slot takes one board after another: the board present at start is
// board 1, each "place" brings the next number, and board n keeps its flash
// in the flash file with ".n" appended (board 1 in the flash file itself).
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/devsim/app_firmware.h"
#include "tools/devsim/boot_loader.h"
#include "tools/devsim/control_file.h"
#include "tools/devsim/flash_model.h"
#include "tools/devsim/line_pacer.h"
#include "tools/devsim/options.h"
#include "tools/devsim/pseudo_terminal.h"
#include "tools/devsim/transcript.h"

namespace devsim {

class Simulator {
  public:
    explicit Simulator(Options options);

    // Opens the transcript, creates the port and its link, and prints the
    // "PORT <path>" line. False with a message when any of it fails.
    bool start(std::string& error);
    // Serves until `stop` becomes nonzero or a quit command arrives.
    void run(const volatile std::sig_atomic_t& stop);
    // Saves the flash file and removes the port and its link.
    void shutdown();

  private:
    enum class Mode { App, Restarting, Boot, NoBoard };

    bool appear(std::string& error);
    void vanish();
    void enterMode(Mode mode);
    void send(const std::vector<std::uint8_t>& bytes);
    void deliver(const std::vector<std::uint8_t>& bytes);
    void runControlCommands();
    void runControlCommand(const std::string& command);
    void placeBoard(const std::string& arguments);
    void removeBoard(bool unplug);
    // "glitch MS [silent]": the link fails for MS ms and recovers on its own;
    // the board on the slot runs on untouched.
    void glitch(const std::string& arguments, Nanos now);
    // Starts the restart delay once the reply to the boot switch has left.
    void noteReplyLeft(Nanos now);
    void handleTimers(Nanos now);
    void readPort(Nanos now);
    void writePort();
    int pollTimeoutMs(Nanos now) const;
    void saveFlash();
    std::string flashPath() const;

    Options options_;
    Transcript transcript_;
    FlashModel flash_;
    LinePacer pacer_;
    PseudoTerminal terminal_;
    ControlFile control_;
    AppFirmware app_;
    BootLoader boot_;

    Mode mode_ = Mode::App;
    bool quit_ = false;
    std::uint32_t board_ = 1;      // number of the board on the slot, or of the last one removed
    bool absent_ = false;          // the port has been removed
    Nanos bootSwitchAt_ = kNever;  // restart into the boot loader
    Nanos bootSwitchDeadline_ = kNever;  // bound of the wait for the client to read
    Nanos reappearAt_ = kNever;          // the port comes back after a vanish
    Nanos silentUntil_ = kNever;         // end of a silent glitch: no byte passes until then
    Nanos nextControlPoll_ = 0;
    Nanos lastInputAt_ = 0;  // last byte read or delivered: a partial packet times out from here
    std::vector<std::uint8_t> unwritten_;  // due to the client, not yet taken by the terminal
};

}  // namespace devsim
