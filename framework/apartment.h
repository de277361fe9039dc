// A thread's COM apartment for a scope, and the QueryInterface of a small COM object.
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

// QueryInterface of an object with one interface besides IUnknown: a counted pointer for
// either, null and E_NOINTERFACE for anything else.
template <class I> HRESULT AfxQueryOne(I* pThis, REFIID riidOwn, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid != IID_IUnknown && riid != riidOwn) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = pThis;
    pThis->AddRef();
    return S_OK;
}
