// AfxBeginThread and its thread object.
#pragma once

#include <windows.h>

#include <cstdint>

using AFX_THREADPROC = UINT (*)(LPVOID parameter);

class CWinThread {
  public:
    CWinThread(AFX_THREADPROC procedure, LPVOID parameter)
        : m_procedure(procedure), m_parameter(parameter) {}
    ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    DWORD ResumeThread() const { return ::ResumeThread(m_hThread); }

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    // When set (the default) the object deletes itself as its thread ends; clear
    // it only while the thread is suspended.
    BOOL m_bAutoDelete = TRUE;

  private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD,
                                      LPSECURITY_ATTRIBUTES);
    static unsigned __stdcall Start(void* self);
    AFX_THREADPROC m_procedure;
    LPVOID m_parameter;
};

// Starts `procedure(parameter)` on a new thread; null if it cannot be created,
// with the OS error code left for GetLastError.
// CREATE_SUSPENDED in `createFlags` leaves it waiting for ResumeThread.
CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter,
                           int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                           DWORD createFlags = 0, LPSECURITY_ATTRIBUTES security = nullptr);

// What AfxBeginThread creates its threads with, _beginthreadex unless a test
// has put a failing stand-in here.
using ThreadCreator = std::uintptr_t (*)(void* security, unsigned stackSize,
                                         unsigned(__stdcall* start)(void*), void* argument,
                                         unsigned createFlags, unsigned* threadId);
extern ThreadCreator afxThreadCreator;
