#include "app/quorvel_app.h"

#include <commctrl.h>

#include "app/quorvel_dlg.h"

BOOL CQuorvelApp::InitInstance() {
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    CWinApp::InitInstance();
    AfxEnableControlContainer();

    // For the open-file dialog, as long as the dialog runs.
    const CShellManager shellManager;

    // Names where settings would live; the program keeps none.
    SetRegistryKey(L"로컬 응용 프로그램 마법사에서 생성된 응용 프로그램");

    CQuorvelDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
