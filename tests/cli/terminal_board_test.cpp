// The boards drawn in place, read back through a fake terminal of a fixed
// width. The progress board: three ports, their states, progress, notes from
// other ports, the trace, the long pause state and the end. The station board:
// its header, slots and notes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/progress_board.h"
#include "cli/station_board.h"
#include "platform/platform.h"

namespace {

// A terminal `width` columns wide that knows only what the board writes: \r,
// \n (to the next row's start, as the terminal driver passes it on), ESC[nA,
// ESC[2K, ESC[J, and wrapping at the width. Rows scrolled off stay reachable,
// so a board that moves up too far garbles the rows above it.
struct FakeTerminal {
    std::size_t width;
    std::vector<std::string> rows{""};
    std::size_t row = 0, column = 0, wraps = 0, unknownSequences = 0;

    void feed(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\r' || bytes[i] == '\n') {
                column = 0;
                if (bytes[i] == '\n' && ++row == rows.size()) rows.emplace_back();
            } else if (bytes[i] == '\x1b') {
                std::size_t count = 0;
                const std::size_t start = i += 2;  // past ESC [
                while (i < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[i]))) {
                    count = count * 10 + static_cast<std::size_t>(bytes[i++] - '0');
                }
                control(i < bytes.size() && bytes[start - 1] == '[' ? bytes[i] : '?', count,
                        i > start);
            } else {
                if (column == width) {
                    ++wraps;
                    column = 0;
                    if (++row == rows.size()) rows.emplace_back();
                }
                if (rows[row].size() <= column) rows[row].resize(column + 1, ' ');
                rows[row][column++] = bytes[i];
            }
        }
    }
    void control(char final, std::size_t count, bool counted) {
        if (final == 'A') {
            row -= std::min(row, std::max<std::size_t>(count, 1));
        } else if (final == 'K' && count == 2) {
            rows[row].assign(rows[row].size(), ' ');
        } else if (final == 'J' && !counted) {
            rows[row].resize(std::min(rows[row].size(), column));
            rows.resize(row + 1);
        } else {
            ++unknownSequences;
        }
    }
    // The rows without trailing blanks, empty rows at the end left out.
    std::vector<std::string> screen() const {
        std::vector<std::string> shown;
        for (std::string text : rows) shown.push_back(text.erase(text.find_last_not_of(' ') + 1));
        while (!shown.empty() && shown.back().empty()) shown.pop_back();
        return shown;
    }
};

std::vector<std::string> rowsStartingWith(const std::vector<std::string>& rows,
                                          const std::string& start) {
    std::vector<std::string> found;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(found),
                 [&](const std::string& row) { return row.rfind(start, 0) == 0; });
    return found;
}

// A stream whose bytes are fed to a fake terminal.
struct WatchedStream {
    explicit WatchedStream(std::size_t width) : terminal{width} {}
    ~WatchedStream() {
        std::fclose(out);
        std::free(buffer);
    }
    void feed() {
        std::fflush(out);
        terminal.feed(std::string(buffer + fed, size - fed));
        fed = size;
    }
    char* buffer = nullptr;
    std::size_t size = 0;
    std::size_t fed = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    FakeTerminal terminal;
};

// ctest runs these once with QUORVEL_TRACE set and once without.
TEST(CliProgressBoard, OneLinePerPortWithinTheWidthAndEverythingElseAbove) {
    constexpr std::size_t kWidth = 60;
    const std::string pause = "waiting 7 s while the device stores the image";
    const bool traced = std::getenv("QUORVEL_TRACE") != nullptr;
    const std::vector<std::string> ports{"COM5", "COM6", "/dev/ttyUSB0"};
    WatchedStream watched(kWidth);
    std::FILE* out = watched.out;
    FakeTerminal& terminal = watched.terminal;
    const auto feedTerminal = [&] { watched.feed(); };
    {
        ProgressBoard board(ports, ProgressBoard::Style::InPlace, out, kWidth);
        EXPECT_EQ(debugOutputListened(), traced);  // the board switches no trace on
        for (std::size_t i = 0; i < ports.size(); ++i) board.state(i, "detecting the device");
        board.note(1, "boot loader found");
        for (std::size_t i = 0; i < ports.size(); ++i) {
            board.transferStarted(i);
            board.state(i, "writing");
            board.progress(i, 1000, 5000);
        }
        board.progress(0, 5000, 5000);
        board.state(0, pause);
        board.note(2, "finished.");
        debugOutput(L"Rx : 06 \n");
        board.progress(2, 5000, 5000);
        board.state(2, pause);

        feedTerminal();
        const std::vector<std::string> during = terminal.screen();
        EXPECT_EQ(rowsStartingWith(during, "COM5  "), std::vector{"COM5  100%  " + pause});
        EXPECT_EQ(rowsStartingWith(during, "/dev/ttyUSB0  "),
                  std::vector<std::string>{"/dev/ttyUSB0  100%  waiting 7 s while the device "
                                           "stores..."});
        EXPECT_EQ(rowsStartingWith(during, "COM6   20%  1000/5000 bytes  ").size(), 1u);

        board.note(1, "finished.");
        board.state(0, "done");
        board.state(1, "failed");
        board.state(2, "done");
    }
    feedTerminal();

    std::vector<std::string> notes{"COM6: boot loader found", "/dev/ttyUSB0: finished."};
    if (traced) notes.push_back("Rx : 06");
    notes.push_back("COM6: finished.");
    const std::vector<std::string> screen = terminal.screen();
    ASSERT_EQ(screen.size(), notes.size() + ports.size()) << ::testing::PrintToString(screen);
    for (std::size_t i = 0; i < notes.size(); ++i) EXPECT_EQ(screen[i], notes[i]);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(rowsStartingWith(screen, ports[i] + "  ").size(), 1u) << ports[i];
        const std::string& line = screen[notes.size() + i];
        EXPECT_EQ(line.substr(line.rfind("  ") + 2), i == 1 ? "failed" : "done") << line;
    }
    for (const std::string& row : screen) EXPECT_LT(row.size(), kWidth) << row;
    EXPECT_EQ(terminal.wraps, 0u);
    EXPECT_EQ(terminal.unknownSequences, 0u);
}

TEST(CliStationBoard, HeaderAndSlotsStayBelowNotesAndTrace) {
    constexpr std::size_t kWidth = 44;
    const bool traced = std::getenv("QUORVEL_TRACE") != nullptr;
    WatchedStream watched(kWidth);
    {
        StationBoard board({"COM5", "COM6"}, StationBoard::Style::InPlace, watched.out, kWidth);
        board.slot(0, "flashing", "unit 1  serial 1001");
        board.percent(0, 100);
        board.note("unit 1 attempt 1 serial 1001: COM5: ok");
        debugOutput(L"Tx : 01 \n");
        board.totals(1, 0, "");
        board.slot(0, "PASS", "unit 1  serial 1001  remove board");
        board.slot(1, "FAIL no device", "unit 2  remove board");
        board.totals(1, 1, "stopping: Ctrl-C again aborts");
    }
    watched.feed();
    std::vector<std::string> expected{"unit 1 attempt 1 serial 1001: COM5: ok"};
    if (traced) expected.push_back("Tx : 01");
    const std::vector<std::string> screen = watched.terminal.screen();
    ASSERT_EQ(screen.size(), expected.size() + 3) << ::testing::PrintToString(screen);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(screen[i], expected[i]);
    EXPECT_EQ(screen[expected.size()].rfind("passed 1  failed 1  yield 50.0 %", 0), 0u);
    EXPECT_EQ(screen[expected.size() + 1], "COM5  PASS  unit 1  serial 1001  remove...");
    EXPECT_EQ(screen[expected.size() + 2], "COM6  FAIL no device  unit 2  remove board");
    for (const std::string& row : screen) EXPECT_LT(row.size(), kWidth) << row;
    EXPECT_EQ(watched.terminal.wraps, 0u);
}

}  // namespace
