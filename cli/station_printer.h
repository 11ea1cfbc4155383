// The station's events drawn on its board, and its records printed: as JSON
// lines with --json, else a line per result.
#pragma once

#include "cli/station_board.h"
#include "station/station_events.h"

class StationPrinter {
  public:
    StationPrinter(StationBoard& board, bool json) : board_(board), json_(json) {}

    void show(const StationEvent& event);

  private:
    void showRecord(const StationEvent& event);

    StationBoard& board_;
    const bool json_;
};
