#include "app/framework/thread.h"

#include <process.h>

#include <cstdint>
#include <memory>

ThreadCreator afxThreadCreator = &_beginthreadex;

CWinThread::~CWinThread() {
    if (m_hThread != nullptr) ::CloseHandle(m_hThread);
}

unsigned __stdcall CWinThread::Start(void* self) {
    auto* thread = static_cast<CWinThread*>(self);
    const UINT exitCode = thread->m_procedure(thread->m_parameter);
    if (thread->m_bAutoDelete) delete thread;
    return exitCode;
}

CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter, int priority, UINT stackSize,
                           DWORD createFlags, LPSECURITY_ATTRIBUTES security) {
    auto owned = std::make_unique<CWinThread>(procedure, parameter);
    // Always created suspended, so that the object is complete before it runs.
    unsigned threadId = 0;
    const std::uintptr_t handle = afxThreadCreator(security, stackSize, CWinThread::Start,
                                                   owned.get(), CREATE_SUSPENDED, &threadId);
    if (handle == 0) {
        const DWORD error = ::GetLastError();
        owned.reset();
        ::SetLastError(error);
        return nullptr;
    }
    // From here the thread owns its object (or the caller, without auto-delete).
    CWinThread* thread = owned.release();
    thread->m_hThread = reinterpret_cast<HANDLE>(handle);
    thread->m_nThreadID = threadId;
    ::SetThreadPriority(thread->m_hThread, priority);
    if ((createFlags & CREATE_SUSPENDED) == 0) thread->ResumeThread();
    return thread;
}
