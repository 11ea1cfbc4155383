#include "tools/devsim/app_firmware.h"

#include <utility>

namespace devsim {

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Shows a command line readably in the transcript.
std::string printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        shown += (byte >= 0x20 && byte < 0x7F) ? std::string(1, c) : format("\\x%02x", byte);
    }
    return shown;
}

}  // namespace

AppFirmware::AppFirmware(std::string versionText, DeviceContext context)
    : versionText_(std::move(versionText)), context_(std::move(context)) {}

void AppFirmware::restart() {
    line_.clear();
    collecting_ = false;
}

bool AppFirmware::feed(const std::uint8_t* bytes, std::size_t count) {
    bool bootSwitch = false;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c == '~') {  // a new command starts, even in the middle of another
            line_.assign(1, c);
            collecting_ = true;
            continue;
        }
        if (!collecting_) continue;
        line_ += c;
        if (line_.size() >= 2 && line_.compare(line_.size() - 2, 2, "\r\n") == 0) {
            line_.resize(line_.size() - 2);
            collecting_ = false;
            if (handleLine()) bootSwitch = true;
        } else if (line_.size() > kMaxLine) {
            context_.transcript.line("app rx overlong line dropped");
            collecting_ = false;
            line_.clear();
        }
    }
    return bootSwitch;
}

bool AppFirmware::handleLine() {
    context_.transcript.line("app rx " + printable(line_));
    if (context_.faults.fire(FaultKind::Silent)) {
        context_.transcript.line("app silent");
        return false;
    }
    if (line_ == "~rv") {
        context_.send(bytesOf("~Rv0000" + versionText_ + "\r\n"));
        context_.transcript.line("app tx ~Rv0000" + printable(versionText_));
        return false;
    }
    if (line_ == "~dboot") {
        if (context_.faults.fire(FaultKind::RefuseBoot)) {
            context_.send(bytesOf("~dBOOT\r\n"));
            context_.transcript.line("app tx ~dBOOT");
            return false;
        }
        context_.send(bytesOf("~Dboot\r\n"));
        context_.transcript.line("app tx ~Dboot");
        return true;
    }
    return false;
}

}  // namespace devsim
