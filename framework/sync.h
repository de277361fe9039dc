// A critical section and the one way the program takes it: a lock held for a scope. A thread
// holding it may take it again (critical sections count their owner's entries).
#pragma once

#include "framework/object.h"

#include <windows.h>

class CCriticalSection : private CNoCopy {
public:
    CCriticalSection() { ::InitializeCriticalSection(&m_section); }
    ~CCriticalSection() { ::DeleteCriticalSection(&m_section); }

    void Lock() { ::EnterCriticalSection(&m_section); }
    void Unlock() { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

// Held from construction to the end of the scope; nothing else enters or leaves the section.
class CSingleLock : private CNoCopy {
public:
    explicit CSingleLock(CCriticalSection& section) : m_section(section) { m_section.Lock(); }
    ~CSingleLock() { m_section.Unlock(); }

private:
    CCriticalSection& m_section;
};
