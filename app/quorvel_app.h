// The application object: runs the main dialog modally and ends with it.
#pragma once

#include "app/framework/afxwin.h"

class CQuorvelApp : public CWinApp {
  public:
    CQuorvelApp() = default;
    BOOL InitInstance() override;
};
