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
