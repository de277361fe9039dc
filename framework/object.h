// Root object class and the out-of-memory exception.
#pragma once

#include <cstddef>

// Thrown when the framework cannot allocate memory. Handlers do not catch it; the window
// procedure does, so that it never unwinds through Windows.
class CMemoryException {};

[[noreturn]] void AfxThrowMemoryException();

// Base of a class that owns what cannot be shared (a handle, a thread, a COM object, a lock):
// neither copied nor assigned.
class CNoCopy {
public:
    CNoCopy(const CNoCopy&) = delete;
    CNoCopy& operator=(const CNoCopy&) = delete;

protected:
    CNoCopy() = default;
    ~CNoCopy() = default;
};

// Root of the framework's classes: deleted through its virtual destructor, allocated by an
// operator new that reports failure as CMemoryException.
class CObject {
public:
    virtual ~CObject() = default;

    static void* operator new(std::size_t size);
    static void operator delete(void* p) noexcept;

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};
