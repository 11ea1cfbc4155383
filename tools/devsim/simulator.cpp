#include "tools/devsim/simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>
#include <utility>

namespace devsim {

namespace {

constexpr Nanos kMillisecond = 1'000'000;
constexpr Nanos kControlPollInterval = 50 * kMillisecond;
// A packet that stops arriving for this long is given up.
constexpr Nanos kPartialPacketTimeout = 300 * kMillisecond;
// Before the port vanishes on a boot switch, the client gets this long to read the reply.
constexpr Nanos kDrainLimit = 1000 * kMillisecond;
constexpr Nanos kRetryAppear = 100 * kMillisecond;
constexpr std::uint32_t kMaxGlitchMs = 600000;
// Received bytes not yet due (slow baud) are bounded; beyond it the terminal holds them.
constexpr std::size_t kMaxPendingInput = 65536;

BootConfig bootConfig(const Options& options) {
    BootConfig config;
    config.versionWord = options.bootVersion;
    config.announcements = options.announcements;
    config.noisePackets = options.noisePackets;
    config.endStatus = options.endStatus;
    return config;
}

}  // namespace

Simulator::Simulator(Options options)
    : options_(std::move(options)),
      pacer_(options_.baud, options_.latencyMs, options_.adapterLatencyMs),
      control_(options_.controlPath),
      app_(options_.appVersion,
           DeviceContext{transcript_, options_.faults, [this](const auto& bytes) { send(bytes); }}),
      boot_(bootConfig(options_),
            DeviceContext{transcript_, options_.faults, [this](const auto& bytes) { send(bytes); }},
            flash_, [this] { saveFlash(); }) {
    mode_ = options_.start == Program::App    ? Mode::App
            : options_.start == Program::Boot ? Mode::Boot
                                              : Mode::NoBoard;
    transcript_.setEcho(options_.verbose);
    transcript_.setTimestamps(options_.timestamps);
}

bool Simulator::start(std::string& error) {
    if (!transcript_.open(options_.transcriptPath)) {
        error = "cannot write the transcript " + options_.transcriptPath;
        return false;
    }
    if (!appear(error)) return false;
    transcript_.line(mode_ == Mode::App    ? "mode app"
                     : mode_ == Mode::Boot ? "mode boot"
                                           : "no board");
    const std::string& port = options_.linkPath.empty() ? terminal_.slavePath() : options_.linkPath;
    std::printf("PORT %s\n", port.c_str());
    std::fflush(stdout);
    return true;
}

bool Simulator::appear(std::string& error) {
    if (!terminal_.create(error)) return false;
    if (!options_.linkPath.empty() && !pointLink(options_.linkPath, terminal_.slavePath(), error)) {
        terminal_.tearDown();
        return false;
    }
    absent_ = false;
    reappearAt_ = kNever;
    pacer_.clear();
    unwritten_.clear();
    transcript_.line("port " + terminal_.slavePath());
    return true;
}

void Simulator::vanish() {
    removeLink(options_.linkPath);
    terminal_.tearDown();
    pacer_.clear();
    unwritten_.clear();
    absent_ = true;
    transcript_.line("vanish");
}

void Simulator::enterMode(Mode mode) {
    mode_ = mode;
    bootSwitchAt_ = kNever;
    bootSwitchDeadline_ = kNever;
    app_.restart();
    boot_.restart();
    if (mode == Mode::App) transcript_.line("mode app");
    if (mode == Mode::Boot) transcript_.line("mode boot");
}

void Simulator::send(const std::vector<std::uint8_t>& bytes) {
    if (silentUntil_ != kNever) {
        transcript_.line(format("glitch: %zu bytes not sent", bytes.size()));
    } else if (terminal_.isOpen()) {
        pacer_.send(bytes, monotonicNanos());
    }
}

void Simulator::deliver(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return;
    if (silentUntil_ != kNever) {
        transcript_.line(format("glitch: %zu bytes dropped", bytes.size()));
        return;
    }
    switch (mode_) {
        case Mode::App:
            if (app_.feed(bytes.data(), bytes.size())) {
                mode_ = Mode::Restarting;
                bootSwitchAt_ = kNever;  // set once the reply has left
                transcript_.line("restarting");
            }
            break;
        case Mode::Boot:
            boot_.feed(bytes.data(), bytes.size());
            break;
        case Mode::Restarting:
            transcript_.line(format("restarting: %zu bytes lost", bytes.size()));
            break;
        case Mode::NoBoard:
            transcript_.line(format("no board: %zu bytes dropped", bytes.size()));
            break;
    }
}

void Simulator::runControlCommands() {
    const std::vector<std::string> commands = control_.take();
    if (commands.empty()) return;
    for (const std::string& command : commands) runControlCommand(command);
    control_.finish();
}

void Simulator::runControlCommand(const std::string& command) {
    transcript_.line("control " + command);
    std::string error;
    if (command == "vanish") {
        if (!absent_) vanish();
        reappearAt_ = kNever;  // stays away until "appear", even during a boot switch
    } else if (command == "appear") {
        if (absent_ || !terminal_.isOpen()) {
            if (appear(error)) {
                transcript_.line("appear");
            } else {
                transcript_.line("appear failed: " + error);
            }
        }
    } else if ((command == "mode app" || command == "mode boot") && mode_ == Mode::NoBoard) {
        transcript_.line("control error: no board");
    } else if (command == "mode app") {
        enterMode(Mode::App);
    } else if (command == "mode boot") {
        enterMode(Mode::Boot);
    } else if (command == "place" || command.rfind("place ", 0) == 0) {
        placeBoard(command.substr(5));
    } else if (command == "remove") {
        removeBoard(false);
    } else if (command == "remove unplug") {
        removeBoard(true);
    } else if (command == "glitch" || command.rfind("glitch ", 0) == 0) {
        glitch(command.substr(6), monotonicNanos());
    } else if (command == "fault" || command.rfind("fault ", 0) == 0) {
        if (!options_.faults.replace(command.substr(5), error)) {
            transcript_.line("control error: " + error);
        }
    } else if (command == "quit") {
        quit_ = true;
    } else {
        transcript_.line("control error: unknown command");
    }
}

void Simulator::placeBoard(const std::string& arguments) {
    std::istringstream words(arguments);
    std::string program;
    words >> program;
    std::string version;
    std::getline(words >> std::ws, version);
    if (program.empty()) program = "app";
    std::uint32_t versionWord = options_.bootVersion;
    if (program == "boot" && !version.empty() && !parseNumber(version, versionWord)) {
        transcript_.line("control error: bad version word '" + version + "'");
        return;
    }
    if (program != "app" && program != "boot") {
        transcript_.line("control error: place takes app or boot");
        return;
    }
    if (mode_ != Mode::NoBoard) removeBoard(false);

    std::string error;
    if (absent_ || !terminal_.isOpen()) {
        if (!appear(error)) {
            transcript_.line("appear failed: " + error);
            return;
        }
        transcript_.line("appear");
    }
    ++board_;
    flash_ = FlashModel();
    app_.setVersionText(program == "app" && !version.empty() ? version : options_.appVersion);
    boot_.setVersionWord(versionWord);
    transcript_.line(format("place board %u", board_));
    enterMode(program == "app" ? Mode::App : Mode::Boot);
}

void Simulator::removeBoard(bool unplug) {
    if (mode_ != Mode::NoBoard) {
        saveFlash();
        mode_ = Mode::NoBoard;
        bootSwitchAt_ = kNever;
        bootSwitchDeadline_ = kNever;
        app_.restart();
        boot_.restart();
        pacer_.clear();  // bytes on the line to or from the board are lost with it
        unwritten_.clear();
        transcript_.line(format("remove board %u", board_));
    }
    if (unplug) {
        // The adapter sits on the board: its port goes with it until the next "place".
        if (!absent_) vanish();
        reappearAt_ = kNever;
    }
}

void Simulator::glitch(const std::string& arguments, Nanos now) {
    std::istringstream words(arguments);
    std::string duration;
    std::string kind;
    std::string extra;
    words >> duration >> kind >> extra;
    std::uint32_t ms = 0;
    if (!parseNumber(duration, ms) || ms > kMaxGlitchMs || !(kind.empty() || kind == "silent") ||
        !extra.empty()) {
        transcript_.line("control error: glitch takes MS (up to 600000) and optionally silent");
        return;
    }
    if (absent_) {
        transcript_.line("control error: no port to glitch");
        return;
    }
    // Bytes on the line in either direction are lost; the board's program,
    // its state and its flash stay as they are, and so does its number.
    if (kind == "silent") {
        pacer_.clear();
        unwritten_.clear();
        silentUntil_ = now + ms * kMillisecond;
    } else {
        vanish();
        reappearAt_ = now + ms * kMillisecond;
    }
}

void Simulator::noteReplyLeft(Nanos now) {
    if (mode_ == Mode::Restarting && bootSwitchAt_ == kNever && pacer_.outputEmpty() &&
        unwritten_.empty()) {
        // The reply to the boot switch has left: the restart begins now.
        bootSwitchAt_ = now + options_.bootDelayMs * kMillisecond;
        bootSwitchDeadline_ = bootSwitchAt_ + kDrainLimit;
    }
}

void Simulator::handleTimers(Nanos now) {
    if (mode_ == Mode::Restarting && now >= bootSwitchAt_) {
        const bool clientHasRead = terminal_.unreadByClient() == 0;
        if (options_.vanishMs > 0 && !clientHasRead && now < bootSwitchDeadline_) {
            bootSwitchAt_ = now + kMillisecond;  // let the client take the reply first
        } else {
            if (options_.vanishMs > 0 && !absent_) {
                vanish();
                reappearAt_ = now + options_.vanishMs * kMillisecond;
            }
            enterMode(Mode::Boot);
        }
    }
    if (now >= silentUntil_) {
        silentUntil_ = kNever;
        transcript_.line("glitch over");
    }
    if (now >= reappearAt_) {
        std::string error;
        if (appear(error)) {
            transcript_.line("appear");
        } else {
            transcript_.line("appear failed: " + error);
            reappearAt_ = now + kRetryAppear;
        }
    }
    if (now >= nextControlPoll_) {
        nextControlPoll_ = now + kControlPollInterval;
        runControlCommands();
    }
    if (boot_.hasPartialPacket() && mode_ == Mode::Boot && pacer_.pendingInput() == 0 &&
        now - lastInputAt_ >= kPartialPacketTimeout) {
        boot_.abandonPartialPacket();
    }
}

void Simulator::readPort(Nanos now) {
    std::uint8_t buffer[4096];
    const ssize_t count = read(terminal_.master(), buffer, sizeof buffer);
    if (count > 0) {
        pacer_.received(buffer, static_cast<std::size_t>(count), now);
        lastInputAt_ = now;
    }
}

void Simulator::writePort() {
    if (unwritten_.empty() || !terminal_.isOpen()) return;
    const ssize_t count = write(terminal_.master(), unwritten_.data(), unwritten_.size());
    if (count > 0) unwritten_.erase(unwritten_.begin(), unwritten_.begin() + count);
}

int Simulator::pollTimeoutMs(Nanos now) const {
    Nanos wake = std::min({nextControlPoll_, reappearAt_, silentUntil_, pacer_.nextWake()});
    if (mode_ == Mode::Restarting) wake = std::min(wake, bootSwitchAt_);
    if (boot_.hasPartialPacket()) wake = std::min(wake, lastInputAt_ + kPartialPacketTimeout);
    if (wake <= now) return 0;
    return static_cast<int>(std::min<Nanos>((wake - now + kMillisecond - 1) / kMillisecond, 50));
}

void Simulator::run(const volatile std::sig_atomic_t& stop) {
    std::vector<std::uint8_t> bytes;
    while (stop == 0 && !quit_) {
        Nanos now = monotonicNanos();
        handleTimers(now);

        bytes.clear();
        pacer_.takeArrived(now, bytes);
        if (!bytes.empty()) lastInputAt_ = now;
        deliver(bytes);
        pacer_.takeDue(now, unwritten_);
        writePort();
        noteReplyLeft(now);

        pollfd port{-1, 0, 0};
        if (terminal_.isOpen()) {
            port.fd = terminal_.master();
            if (pacer_.pendingInput() < kMaxPendingInput) port.events |= POLLIN;
            if (!unwritten_.empty()) port.events |= POLLOUT;
        }
        if (poll(&port, 1, pollTimeoutMs(monotonicNanos())) > 0 && (port.revents & POLLIN) != 0) {
            readPort(monotonicNanos());
        }
    }
}

std::string Simulator::flashPath() const {
    if (board_ == 1 || options_.flashPath.empty()) return options_.flashPath;
    return options_.flashPath + "." + std::to_string(board_);
}

void Simulator::saveFlash() {
    if (mode_ == Mode::NoBoard) return;  // saved when the board was removed
    if (!flash_.save(flashPath(), options_.flashBase)) {
        transcript_.line("flash file could not be written");
    }
}

void Simulator::shutdown() {
    saveFlash();
    if (terminal_.isOpen()) removeLink(options_.linkPath);
    terminal_.tearDown();
    transcript_.line("exit");
}

}  // namespace devsim
