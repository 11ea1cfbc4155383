#include "tools/devsim/faults.h"

#include <cstdlib>
#include <sstream>

namespace devsim {

namespace {

enum class Argument { None, Value, Packet, ValueAtPacket };

struct FaultInfo {
    const char* name;
    FaultKind kind;
    Argument argument;
    const char* help;
};

constexpr FaultInfo kFaultTable[] = {
    {"silent", FaultKind::Silent, Argument::None, "never answers anything, in either program"},
    {"refuse-boot", FaultKind::RefuseBoot, Argument::None,
     "answers \"~dboot\" with \"~dBOOT\\r\\n\" and stays in the application"},
    {"no-bootloader", FaultKind::NoBootLoader, Argument::None, "the boot loader never answers"},
    {"boot-version-fail-first", FaultKind::BootVersionFailFirst, Argument::None,
     "the first version request after the boot loader starts goes unanswered"},
    {"data-status", FaultKind::DataStatus, Argument::ValueAtPacket,
     "=S@K: data packet K acknowledged with status S without judging it"},
    {"goahead-status", FaultKind::GoAheadStatus, Argument::Value,
     "=S: the reply after the go-ahead carries status S instead of 14"},
    {"end-status", FaultKind::EndStatus, Argument::Value,
     "=S: the end packet is acknowledged with status S"},
    {"end-subject", FaultKind::EndSubject, Argument::Value,
     "=N: the end packet is acknowledged with subject N instead of 2"},
    {"oversize-announce", FaultKind::OversizeAnnounce, Argument::None,
     "size announcements of 20 bytes (length field 3)"},
    {"oversize-ack", FaultKind::OversizeAck, Argument::Packet,
     "@K: the acknowledgement of data packet K is 20 bytes (length field 3)"},
    {"short-ack", FaultKind::ShortAck, Argument::Packet,
     "@K: the acknowledgement of data packet K is 8 bytes (length field 0)"},
    {"no-announce", FaultKind::NoAnnounce, Argument::None,
     "go-ahead without any size announcement"},
    {"announce-8", FaultKind::Announce8, Argument::None,
     "size announcements of 8 bytes (length field 0, no size word)"},
    {"hangup", FaultKind::Hangup, Argument::Packet,
     "@K: after receiving data packet K the device falls silent until it restarts"},
    {"oversize-packet", FaultKind::OversizePacket, Argument::None,
     "a 408-byte packet (code 7, length field 100) before the announcements"},
};

bool isDeviceWide(FaultKind kind) {
    return kind == FaultKind::Silent || kind == FaultKind::RefuseBoot ||
           kind == FaultKind::NoBootLoader || kind == FaultKind::BootVersionFailFirst;
}

bool parseNumber(const std::string& text, std::uint32_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || parsed > 0xFFFFFFFFull || text[0] == '-') return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

}  // namespace

bool parseFault(const std::string& text, Fault& fault, std::string& error) {
    std::string body = text;
    fault = Fault{};
    const std::string onceSuffix = ",once";
    if (body.size() > onceSuffix.size() &&
        body.compare(body.size() - onceSuffix.size(), onceSuffix.size(), onceSuffix) == 0) {
        fault.once = true;
        body.resize(body.size() - onceSuffix.size());
    }
    std::string packetText;
    std::string valueText;
    bool hasPacket = false;
    bool hasValue = false;
    const auto at = body.find('@');
    if (at != std::string::npos) {
        packetText = body.substr(at + 1);
        body.resize(at);
        hasPacket = true;
    }
    const auto equals = body.find('=');
    if (equals != std::string::npos) {
        valueText = body.substr(equals + 1);
        body.resize(equals);
        hasValue = true;
    }
    for (const FaultInfo& info : kFaultTable) {
        if (body != info.name) continue;
        const bool wantsValue =
            info.argument == Argument::Value || info.argument == Argument::ValueAtPacket;
        const bool wantsPacket =
            info.argument == Argument::Packet || info.argument == Argument::ValueAtPacket;
        if (hasValue != wantsValue || hasPacket != wantsPacket) {
            const std::string help = info.help;
            error = "fault '" + text + "': " +
                    (info.argument == Argument::None
                         ? std::string("takes no argument")
                         : std::string("expected ") + info.name + help.substr(0, help.find(':')));
            return false;
        }
        if (hasValue && !parseNumber(valueText, fault.value)) {
            error = "fault '" + text + "': bad number '" + valueText + "'";
            return false;
        }
        if (hasPacket && (!parseNumber(packetText, fault.packet) || fault.packet == 0)) {
            error = "fault '" + text + "': packet number must be 1 or more";
            return false;
        }
        fault.kind = info.kind;
        return true;
    }
    error = "unknown fault '" + text + "'";
    return false;
}

std::string faultHelp() {
    std::ostringstream text;
    for (const FaultInfo& info : kFaultTable) {
        std::string name = info.name;
        std::string help = info.help;
        if (info.argument != Argument::None) {  // the help starts with the argument form
            const auto colon = help.find(':');
            name += help.substr(0, colon);
            help = help.substr(colon + 2);
        }
        text << "    " << name << std::string(name.size() < 24 ? 24 - name.size() : 1, ' ') << help
             << "\n";
    }
    return text.str();
}

bool FaultSet::add(const std::string& text, std::string& error) {
    Fault fault;
    if (!parseFault(text, fault, error)) return false;
    faults_.push_back(fault);
    return true;
}

bool FaultSet::replace(const std::string& texts, std::string& error) {
    FaultSet fresh;
    std::istringstream words(texts);
    std::string text;
    while (words >> text) {
        if (!fresh.add(text, error)) return false;
    }
    faults_ = fresh.faults_;
    return true;
}

const Fault* FaultSet::forDownload(FaultKind kind, std::uint32_t download,
                                   std::uint32_t packet) const {
    for (const Fault& fault : faults_) {
        if (fault.kind != kind || isDeviceWide(kind)) continue;
        if (fault.once && download > 1) continue;
        if (fault.packet != 0 && fault.packet != packet) continue;
        return &fault;
    }
    return nullptr;
}

bool FaultSet::fire(FaultKind kind) {
    for (Fault& fault : faults_) {
        if (fault.kind != kind || fault.spent) continue;
        if (fault.once) fault.spent = true;
        return true;
    }
    return false;
}

bool FaultSet::has(FaultKind kind) const {
    for (const Fault& fault : faults_) {
        if (fault.kind == kind && !fault.spent) return true;
    }
    return false;
}

}  // namespace devsim
