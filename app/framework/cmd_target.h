// CCmdTarget: the framework's wait cursor, shared by the application object and
// every window.
#pragma once

#include <windows.h>

class CCmdTarget {
  public:
    virtual ~CCmdTarget() = default;

    // Nested: the wait cursor shows from the first Begin until the matching End.
    void BeginWaitCursor();
    void EndWaitCursor();
    // Shows the cursor the nesting calls for again (the wait cursor while any
    // Begin is open, else the arrow), e.g. after a message box replaced it.
    void RestoreWaitCursor();
};

// The wait cursor of `target` for the lifetime of the object: Begin on
// creation, End on every way out of the scope.
class WaitCursorScope {
  public:
    explicit WaitCursorScope(CCmdTarget& target) : m_target(target) { m_target.BeginWaitCursor(); }
    ~WaitCursorScope() { m_target.EndWaitCursor(); }
    WaitCursorScope(const WaitCursorScope&) = delete;
    WaitCursorScope& operator=(const WaitCursorScope&) = delete;

  private:
    CCmdTarget& m_target;
};
