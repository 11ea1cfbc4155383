// Busy periods of the main dialog: while any runs, the dialog shows the wait cursor.
#pragma once

#include "app/core/busy_counter.h"

class CQuorvelDlg;

extern BusyCounter g_busyCounter;
// The main dialog, set when it initialises; the busy periods' cursor is its.
extern CQuorvelDlg* g_mainDialog;

// Every BeginBusy is matched by one EndBusy on every path of its caller; both
// may be called from the download worker.
void BeginBusy();
void EndBusy();

// A busy period for the lifetime of the object.
class BusyPeriod {
  public:
    BusyPeriod() { BeginBusy(); }
    ~BusyPeriod() { EndBusy(); }
    BusyPeriod(const BusyPeriod&) = delete;
    BusyPeriod& operator=(const BusyPeriod&) = delete;
};
