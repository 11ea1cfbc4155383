// Injected faults: deliberate misbehaviour of the simulated device, so that
// every failure the tool must handle can be produced on demand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devsim {

enum class FaultKind {
    Silent,                // never answers anything
    RefuseBoot,            // answers the boot switch with another text
    NoBootLoader,          // the boot loader never answers
    BootVersionFailFirst,  // the first boot-loader version request goes unanswered
    DataStatus,            // data packet K acknowledged with status S, unjudged
    GoAheadStatus,         // the reply after the go-ahead carries status S
    EndStatus,             // end packet acknowledged with status S
    EndSubject,            // end packet acknowledged with subject N
    OversizeAnnounce,      // size announcement of 20 bytes
    OversizeAck,           // acknowledgement of data packet K is 20 bytes
    ShortAck,              // acknowledgement of data packet K is 8 bytes
    NoAnnounce,            // go-ahead without any size announcement
    Announce8,             // size announcements of 8 bytes (no size word)
    Hangup,                // after data packet K the device falls silent for good
    OversizePacket,        // a 408-byte packet during the negotiation
};

struct Fault {
    FaultKind kind = FaultKind::Silent;
    std::uint32_t value = 0;   // S or N
    std::uint32_t packet = 0;  // K, 1-based within a download
    bool once = false;         // only the first download / the first occurrence
    bool spent = false;
};

// Parses "name", "name=S", "name@K" or "name=S@K", each optionally followed by
// ",once". On failure returns false and describes the problem in `error`.
bool parseFault(const std::string& text, Fault& fault, std::string& error);

// The documentation of every fault, one per line, for --help.
std::string faultHelp();

class FaultSet {
  public:
    bool add(const std::string& text, std::string& error);
    // Replaces the whole set by the whitespace-separated texts; on a parse
    // error the set is left as it was.
    bool replace(const std::string& texts, std::string& error);
    void clear() { faults_.clear(); }

    // Faults that concern one download (negotiation, data, end): the active
    // fault of that kind for download number `download` (1-based) and data
    // packet `packet` (ignored for faults without @K), or nullptr.
    const Fault* forDownload(FaultKind kind, std::uint32_t download,
                             std::uint32_t packet = 0) const;

    // Faults of the device as a whole: true when a fault of that kind is in
    // force now; a ",once" fault is used up by this call.
    bool fire(FaultKind kind);
    // Like fire, without using anything up.
    bool has(FaultKind kind) const;

  private:
    std::vector<Fault> faults_;
};

}  // namespace devsim
