#include "tools/devsim/options.h"

#include <cstdlib>
#include <sstream>

namespace devsim {

namespace {

constexpr std::uint32_t kMaxNoisePackets = 1000;
constexpr std::uint32_t kMaxAnnouncements = 100;
constexpr std::uint32_t kMaxDelayMs = 600000;
// An FTDI chip's latency timer goes from 1 to 255 ms.
constexpr std::uint32_t kMaxAdapterLatencyMs = 255;

bool parseList(const std::string& text, std::vector<std::uint32_t>& values) {
    values.clear();
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        std::uint32_t value = 0;
        if (!parseNumber(item, value) || values.size() >= kMaxAnnouncements) return false;
        values.push_back(value);
    }
    return !values.empty() && text.back() != ',';
}

// One option's value, and where it goes.
struct OptionValue {
    const std::string& name;
    const std::string& given;
    Options& options;
    std::string& error;
    bool& announceGiven;  // --announce came, so --max-packet-words counts no more

    // A number up to `limit` into `field`.
    bool number(std::uint32_t& field, std::uint32_t limit = 0xFFFFFFFFu) {
        if (parseNumber(given, field) && field <= limit) return true;
        error = "bad value '" + given + "' for " + name;
        return false;
    }
    // The value as it is into `field`.
    bool keep(std::string& field) {
        field = given;
        return true;
    }
};

bool setStart(OptionValue& value) {
    if (value.given == "app") {
        value.options.start = Program::App;
    } else if (value.given == "boot") {
        value.options.start = Program::Boot;
    } else if (value.given == "none") {
        value.options.start = Program::None;
    } else {
        value.error = "--start takes app, boot or none";
        return false;
    }
    return true;
}

bool setMaxPacketWords(OptionValue& value) {
    std::uint32_t words = 0;
    if (!value.number(words)) return false;
    if (!value.announceGiven) value.options.announcements = {words};
    return true;
}

bool setAnnouncements(OptionValue& value) {
    value.announceGiven = true;
    if (parseList(value.given, value.options.announcements)) return true;
    value.error = "--announce takes a comma-separated list of up to 100 numbers";
    return false;
}

struct ValueOption {
    const char* name;
    bool (*apply)(OptionValue& value);
};

// The options that take a value.
const ValueOption kValueOptions[] = {
    {"--start", setStart},
    {"--app-version", [](OptionValue& v) { return v.keep(v.options.appVersion); }},
    {"--boot-version", [](OptionValue& v) { return v.number(v.options.bootVersion); }},
    {"--max-packet-words", setMaxPacketWords},
    {"--announce", setAnnouncements},
    {"--noise", [](OptionValue& v) { return v.number(v.options.noisePackets, kMaxNoisePackets); }},
    {"--boot-delay", [](OptionValue& v) { return v.number(v.options.bootDelayMs, kMaxDelayMs); }},
    {"--vanish", [](OptionValue& v) { return v.number(v.options.vanishMs, kMaxDelayMs); }},
    {"--end-status", [](OptionValue& v) { return v.number(v.options.endStatus); }},
    {"--baud", [](OptionValue& v) { return v.number(v.options.baud); }},
    {"--latency", [](OptionValue& v) { return v.number(v.options.latencyMs, kMaxDelayMs); }},
    {"--adapter-latency",
     [](OptionValue& v) { return v.number(v.options.adapterLatencyMs, kMaxAdapterLatencyMs); }},
    {"--link", [](OptionValue& v) { return v.keep(v.options.linkPath); }},
    {"--flash", [](OptionValue& v) { return v.keep(v.options.flashPath); }},
    {"--flash-base", [](OptionValue& v) { return v.number(v.options.flashBase); }},
    {"--transcript", [](OptionValue& v) { return v.keep(v.options.transcriptPath); }},
    {"--control", [](OptionValue& v) { return v.keep(v.options.controlPath); }},
    {"--fault", [](OptionValue& v) { return v.options.faults.add(v.given, v.error); }},
};

const ValueOption* findValueOption(const std::string& name) {
    for (const ValueOption& option : kValueOptions) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

// Sets the option that takes no value; false when `name` is none of them.
bool setFlag(const std::string& name, Options& options) {
    if (name == "--help" || name == "-h") {
        options.help = true;
    } else if (name == "--verbose" || name == "-v") {
        options.verbose = true;
    } else if (name == "--times") {
        options.timestamps = true;
    } else {
        return false;
    }
    return true;
}

// What the simulator plays, and how.
const char* aboutText() {
    return "Usage: devsim [options]\n"
           "\n"
           "Plays the flashed device on a pseudo-terminal: its application firmware (ASCII\n"
           "console) and its boot loader (binary packets). Prints one line \"PORT <path>\" on\n"
           "stdout, then serves until SIGTERM or SIGINT (or the control command quit).\n"
           "\n"
           "Application firmware: \"~rv\\r\\n\" is answered \"~Rv0000\" + version text + CR LF;\n"
           "\"~dboot\\r\\n\" is answered \"~Dboot\\r\\n\", then the device restarts into the\n"
           "boot loader after the boot delay. Anything else is ignored.\n"
           "Boot loader: answers the version request, takes the start command and block-start,\n"
           "negotiates the packet size (noise packets, size announcements, go-ahead, reply with\n"
           "status 14), verifies each data packet (checksum, length, flags, pad, address\n"
           "continuity, full packets before the last) and acknowledges it with status 0, 2\n"
           "(checksum) or 5 (other faults); the end packet gets subject 2 and the end status.\n"
           "\n";
}

// The options that set up the device and the line.
const char* optionsText() {
    return "Options (numbers are decimal or 0x hexadecimal):\n"
           "  --start app|boot|none     program running at start (default app); none: the slot\n"
           "                            holds no board, the port exists but nothing answers\n"
           "                            until \"place\"\n"
           "  --app-version TEXT        version text of the application (default 1.2.3)\n"
           "  --boot-version WORD       boot-loader version word (default 0x12340AFF)\n"
           "  --max-packet-words N      announced packet size in words, header included (default "
           "64)\n"
           "  --announce N,N,...        several size announcements in a row; the last counts\n"
           "                            (overrides --max-packet-words)\n"
           "  --noise N                 packets of other codes before the announcements (default "
           "0)\n"
           "  --boot-delay MS           restart time after \"~Dboot\" (default 200)\n"
           "  --vanish MS               on the boot switch the port disappears for MS ms (default "
           "0)\n"
           "  --end-status 9|10         status acknowledging the end packet (default 9)\n"
           "  --baud N                  pace both directions at N baud, 8N1 (default 0: unpaced)\n"
           "  --latency MS              delay before each reply (default 0)\n"
           "  --adapter-latency MS      play a USB adapter with a latency timer of MS ms: the\n"
           "                            device's bytes reach the host in bursts, each when 62\n"
           "                            bytes have gathered or MS ms after its first byte\n"
           "                            (default 0: no adapter)\n"
           "  --link PATH               make PATH a symlink to the port and report PATH\n"
           "  --flash FILE              write the flash model to FILE after each acknowledged end\n"
           "                            packet and at exit: bytes from the flash base up to the\n"
           "                            highest byte written, unwritten bytes 0xFF. Board 1,\n"
           "                            the one present at start, writes FILE; board n (see\n"
           "                            place) writes FILE.n, so with --start none the first\n"
           "                            board placed writes FILE.2\n"
           "  --flash-base ADDR         first address of the flash file (default 0x108000)\n"
           "  --transcript FILE         one line per event (received, sent, mode changes)\n";
}

// --control and its commands.
const char* controlText() {
    return "  --control PATH            poll PATH every 50 ms; run its lines, then delete it:\n"
           "                              vanish        remove the port until \"appear\"\n"
           "                              appear        create the port again\n"
           "                              mode app|boot restart into that program\n"
           "                              remove        take the board away: the device reads\n"
           "                                            its input and answers nothing\n"
           "                              remove unplug the same, and the port disappears with\n"
           "                                            the board's adapter\n"
           "                              place [app|boot] [VERSION]\n"
           "                                            a new board, the next number n, with\n"
           "                                            empty flash, running that program\n"
           "                                            (default app); VERSION is its version\n"
           "                                            text (app) or word (boot); the port\n"
           "                                            appears if it is gone\n"
           "                              glitch MS     a USB hub glitch: the port disappears\n"
           "                                            and comes back MS ms later on its own,\n"
           "                                            the same board on the slot, in the\n"
           "                                            same program, its flash intact\n"
           "                              glitch MS silent\n"
           "                                            the port stays, but for MS ms the\n"
           "                                            board's input is dropped and it sends\n"
           "                                            nothing; then it answers as before\n"
           "                              fault NAME... replace the faults (none: clear them)\n"
           "                              quit          exit as on SIGTERM\n";
}

}  // namespace

bool parseNumber(const std::string& text, std::uint32_t& value) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
    bool announceGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (setFlag(name, options)) continue;
        if (i + 1 >= argc) {
            error = "option " + name + " needs a value (see --help)";
            return false;
        }
        const std::string given = argv[++i];
        const ValueOption* option = findValueOption(name);
        if (option == nullptr) {
            error = "unknown option " + name + " (see --help)";
            return false;
        }
        OptionValue value{name, given, options, error, announceGiven};
        if (!option->apply(value)) return false;
    }
    return true;
}

std::string helpText() {
    return std::string(aboutText()) + optionsText() + controlText() +
           "  --fault NAME              inject a fault (repeatable); NAME is one of\n" +
           faultHelp() +
           "                            append \",once\" to apply it to the first download only\n"
           "                            (or, for the first four, to the first occasion only)\n"
           "  --times                   end each transcript line with \" t=\" and the seconds\n"
           "                            of a monotonic clock, for measuring a client\n"
           "  --verbose, -v             echo the transcript on stderr\n"
           "  --help, -h                this text\n";
}

}  // namespace devsim
