#include "app/busy.h"

#include "app/quorvel_dlg.h"

BusyCounter g_busyCounter;
CQuorvelDlg* g_mainDialog = nullptr;

void BeginBusy() {
    if (g_busyCounter.begin() && g_mainDialog != nullptr) g_mainDialog->BeginWaitCursor();
}

void EndBusy() {
    // Ends the wait the first BeginBusy began, so the framework's nesting stays
    // balanced and the arrow is back for the next cursor request.
    if (g_busyCounter.end() && g_mainDialog != nullptr) g_mainDialog->EndWaitCursor();
}
