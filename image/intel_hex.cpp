#include "image/intel_hex.h"

#include <iterator>
#include <map>
#include <utility>

namespace {

enum RecordType : std::uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegment = 0x02,
    kStartSegment = 0x03,
    kExtendedLinear = 0x04,
    kStartLinear = 0x05,
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decodes the hexadecimal pairs after the colon; false on an odd count or a non-hex character.
bool decodePairs(const std::string& line, std::vector<std::uint8_t>& bytes) {
    if ((line.size() - 1) % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 1; i < line.size(); i += 2) {
        const int high = hexDigit(line[i]);
        const int low = hexDigit(line[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

// Byte ranges already given, [start, end), to refuse data given twice.
class Coverage {
  public:
    bool overlaps(std::uint64_t start, std::uint64_t end) const {
        auto next = ranges_.lower_bound(start + 1);  // first range starting after `start`
        if (next != ranges_.end() && next->first < end) return true;
        if (next == ranges_.begin()) return false;
        return std::prev(next)->second > start;
    }
    void add(std::uint64_t start, std::uint64_t end) { ranges_[start] = end; }

  private:
    std::map<std::uint64_t, std::uint64_t> ranges_;
};

// The next line of `text` from `position`, without its line end and
// trailing blanks; `position` moves past it.
std::string nextLine(const std::string& text, std::size_t& position) {
    std::size_t end = text.find('\n', position);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(position, end - position);
    position = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

// A record's bytes from its line, checked for form, length and checksum:
// what is wrong with it, or null.
const char* decodeRecord(const std::string& line, std::vector<std::uint8_t>& record) {
    if (line[0] != ':') return "does not begin with ':'";
    if (!decodePairs(line, record)) return "not hexadecimal digit pairs";
    if (record.size() < 5 || record.size() != 5u + record[0]) {
        return "length does not match the byte count";
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : record) sum = static_cast<std::uint8_t>(sum + byte);
    if (sum != 0) return "bad checksum";
    return nullptr;
}

// What the records so far have said: the address base, the runs of data,
// the addresses given, and whether the end-of-file record came.
class HexReader {
  public:
    HexReader(std::uint32_t windowStart, std::uint32_t windowEnd)
        : windowStart_(windowStart), windowEnd_(windowEnd) {}

    // Takes one checked record: what is wrong with it, or null.
    const char* take(const std::vector<std::uint8_t>& record) {
        const std::uint8_t count = record[0];
        const std::uint32_t offset = static_cast<std::uint32_t>(record[1] << 8 | record[2]);
        const std::uint8_t* data = record.data() + 4;
        switch (record[3]) {
            case kData:
                return addData(offset, data, count);
            case kEndOfFile:
                if (count != 0) return "end-of-file record with data";
                ended_ = true;
                return nullptr;
            case kExtendedSegment:
            case kExtendedLinear: {
                if (count != 2) return "address record without two data bytes";
                const std::uint32_t value = static_cast<std::uint32_t>(data[0] << 8 | data[1]);
                base_ = record[3] == kExtendedSegment ? value << 4 : value << 16;
                return nullptr;
            }
            case kStartSegment:
            case kStartLinear:
                return nullptr;  // where execution starts: nothing to write
            default:
                return "unknown record type";
        }
    }

    bool ended() const { return ended_; }
    std::vector<HexRun> takeRuns() { return std::move(runs_); }

  private:
    // Data that continues the last run extends it; other data starts a run.
    const char* addData(std::uint32_t offset, const std::uint8_t* data, std::uint8_t count) {
        if (count == 0) return nullptr;
        const std::uint64_t start = std::uint64_t{base_} + offset;
        const std::uint64_t stop = start + count;
        if (start < windowStart_ || stop > windowEnd_) {
            return "data outside the CODE area's addresses";
        }
        if (coverage_.overlaps(start, stop)) return "data for addresses given before";
        coverage_.add(start, stop);
        const auto address = static_cast<std::uint32_t>(start);
        HexRun* last = runs_.empty() ? nullptr : &runs_.back();
        if (last != nullptr && last->address + last->bytes.size() == address) {
            last->bytes.insert(last->bytes.end(), data, data + count);
        } else {
            runs_.push_back(HexRun{address, std::vector<std::uint8_t>(data, data + count)});
        }
        return nullptr;
    }

    const std::uint32_t windowStart_;
    const std::uint32_t windowEnd_;
    std::uint32_t base_ = 0;  // from the last extended address record
    bool ended_ = false;
    Coverage coverage_;
    std::vector<HexRun> runs_;
};

}  // namespace

HexParse parseIntelHex(const std::string& text, std::uint32_t windowStart,
                       std::uint32_t windowEnd) {
    HexParse result;
    auto refuse = [&result](std::size_t lineNumber, const std::string& what) {
        result.runs.clear();
        result.error = "line " + std::to_string(lineNumber) + ": " + what;
        return result;
    };

    HexReader reader(windowStart, windowEnd);
    std::vector<std::uint8_t> record;
    std::size_t lineNumber = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::string line = nextLine(text, position);
        ++lineNumber;
        if (line.empty()) continue;
        if (reader.ended()) return refuse(lineNumber, "record after the end-of-file record");
        const char* fault = decodeRecord(line, record);
        if (fault == nullptr) fault = reader.take(record);
        if (fault != nullptr) return refuse(lineNumber, fault);
    }
    if (!reader.ended()) return refuse(lineNumber, "no end-of-file record");
    result.runs = reader.takeRuns();
    result.ok = true;
    return result;
}
