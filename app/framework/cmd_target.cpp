#include "app/framework/cmd_target.h"

#include "app/framework/win_app.h"

void CCmdTarget::BeginWaitCursor() { AfxGetApp()->DoWaitCursor(1); }

void CCmdTarget::EndWaitCursor() { AfxGetApp()->DoWaitCursor(-1); }

void CCmdTarget::RestoreWaitCursor() { AfxGetApp()->DoWaitCursor(0); }
