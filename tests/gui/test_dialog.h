// The real main dialog, run inside the test program, with ways to put it into
// states that would otherwise need a device.
#pragma once

#include <cstdint>

#include "app/quorvel_dlg.h"

class TestDialog : public CQuorvelDlg {
  public:
    // As the download's start and end do, without a worker.
    void SetDownloading(bool running) { m_downloading = running; }
    // A device online in its boot loader, on `port` (the dialog does not own it here).
    void SetBootLoaderOnline(SerialPort* port, std::uint32_t version) {
        m_port = port;
        m_bootVersion = version;
    }
};

// Prints the check's outcome and counts a failure.
void check(bool condition, const char* what);

// The checks, each run on the test's thread while the dialog runs on its own.
void runDrops(TestDialog& dialog);
void runDownloadStartChecks(TestDialog& dialog);
