// The real main dialog, run inside the test program, with a way to put it into
// the downloading state without a worker.
#pragma once

#include "app/quorvel_dlg.h"

class TestDialog : public CQuorvelDlg {
  public:
    // As the download's start and end do, without a worker.
    void SetDownloading(bool running) { m_downloading = running; }
};

// Prints the check's outcome and counts a failure.
void check(bool condition, const char* what);

// The checks, each run on the test's thread while the dialog runs on its own.
void runDrops(TestDialog& dialog);
void runDownloadStartChecks(TestDialog& dialog);
