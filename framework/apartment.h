// A thread's COM apartment for a scope.
#pragma once

#include "framework/object.h"

#include <objbase.h>

// Enters the apartment at the start and leaves it at the end only if the start succeeded, as
// every successful CoInitializeEx (S_FALSE too) must be paired.
class CComApartment : private CNoCopy {
public:
    explicit CComApartment(DWORD dwCoInit = COINIT_MULTITHREADED)
        : m_hr(::CoInitializeEx(nullptr, dwCoInit)) {}
    ~CComApartment() {
        if (SUCCEEDED(m_hr)) {
            ::CoUninitialize();
        }
    }

private:
    HRESULT m_hr;
};
