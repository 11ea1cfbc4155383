// The about box, opened from the main dialog's system menu.
#pragma once

#include "app/framework/afxwin.h"

class CAboutDlg : public CDialogEx {
  public:
    CAboutDlg();
};
