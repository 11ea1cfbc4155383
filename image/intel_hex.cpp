#include "image/intel_hex.h"

#include <iterator>
#include <map>

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

}  // namespace

HexParse parseIntelHex(const std::string& text, std::uint32_t windowStart,
                       std::uint32_t windowEnd) {
    HexParse result;
    auto refuse = [&result](std::size_t lineNumber, const std::string& what) {
        result.runs.clear();
        result.error = "line " + std::to_string(lineNumber) + ": " + what;
        return result;
    };

    std::uint32_t base = 0;  // from the last extended address record
    bool ended = false;
    Coverage coverage;
    std::vector<std::uint8_t> record;
    std::size_t lineNumber = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        while (!line.empty() &&
               (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        if (line.empty()) continue;
        if (ended) return refuse(lineNumber, "record after the end-of-file record");
        if (line[0] != ':') return refuse(lineNumber, "does not begin with ':'");
        if (!decodePairs(line, record)) return refuse(lineNumber, "not hexadecimal digit pairs");
        if (record.size() < 5 || record.size() != 5u + record[0]) {
            return refuse(lineNumber, "length does not match the byte count");
        }
        std::uint8_t sum = 0;
        for (std::uint8_t byte : record) sum = static_cast<std::uint8_t>(sum + byte);
        if (sum != 0) return refuse(lineNumber, "bad checksum");

        const std::uint8_t count = record[0];
        const std::uint32_t offset = static_cast<std::uint32_t>(record[1] << 8 | record[2]);
        const std::uint8_t* data = record.data() + 4;
        switch (record[3]) {
            case kData: {
                if (count == 0) break;
                const std::uint64_t start = std::uint64_t{base} + offset;
                const std::uint64_t stop = start + count;
                if (start < windowStart || stop > windowEnd) {
                    return refuse(lineNumber, "data outside the CODE area's addresses");
                }
                if (coverage.overlaps(start, stop)) {
                    return refuse(lineNumber, "data for addresses given before");
                }
                coverage.add(start, stop);
                const auto address = static_cast<std::uint32_t>(start);
                HexRun* last = result.runs.empty() ? nullptr : &result.runs.back();
                if (last != nullptr && last->address + last->bytes.size() == address) {
                    last->bytes.insert(last->bytes.end(), data, data + count);
                } else {
                    result.runs.push_back(
                        HexRun{address, std::vector<std::uint8_t>(data, data + count)});
                }
                break;
            }
            case kEndOfFile:
                if (count != 0) return refuse(lineNumber, "end-of-file record with data");
                ended = true;
                break;
            case kExtendedSegment:
            case kExtendedLinear: {
                if (count != 2) return refuse(lineNumber, "address record without two data bytes");
                const std::uint32_t value = static_cast<std::uint32_t>(data[0] << 8 | data[1]);
                base = record[3] == kExtendedSegment ? value << 4 : value << 16;
                break;
            }
            case kStartSegment:
            case kStartLinear:
                break;  // where execution starts: nothing to write
            default:
                return refuse(lineNumber, "unknown record type");
        }
    }
    if (!ended) return refuse(lineNumber, "no end-of-file record");
    result.ok = true;
    return result;
}
