// Bookkeeping shared by the DLL's objects: the module handle, the live object count that
// DllCanUnloadNow answers from, and the streaming figures the tests read.
#pragma once

#include "framework/apartment.h"
#include "framework/object.h"
#include "framework/sync.h"
#include "testcam/stats.h"

#include <windows.h>

#include <new>
#include <utility>

namespace testcam {

extern HMODULE g_module;

// {5BEF085D-938A-4CB9-9978-D140C7E147E9}
extern const CLSID CLSID_LookwellTestCamera;
// The camera's settings page. {2E6A4C1B-7F3D-4B8E-9C52-1A0D6E3F8B47}
extern const CLSID CLSID_LookwellTestCameraPage;

void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool ModuleInUse();

void ThreadStarted();
void ThreadEnded();
void ReceiveStarted();
void ReceiveEnded(LONGLONG renderTime);
void GetStats(TestCamStats* stats);

// Every object of the DLL is made here. Constructors allocate (vectors, strings) and throw
// when memory runs out, which a COM caller must see as E_OUTOFMEMORY.
template <class T, class Out, class... Args> HRESULT NewObject(Out** out, Args&&... args) {
    try {
        *out = new T(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// A new object handed out as the interface asked for, as a class factory's CreateInstance
// does: the creator's reference is given up once the caller has its own.
template <class T> HRESULT CreateObjectFor(REFIID iid, void** out) {
    T* object = nullptr;
    HRESULT hr = NewObject<T>(&object);
    if (FAILED(hr)) {
        *out = nullptr;
        return hr;
    }
    hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

// IUnknown of an object with one interface, counted in the module's live objects. Starts with
// one reference, which belongs to its creator.
template <class Interface, const IID* InterfaceId>
class SingleInterfaceObject : public Interface, private CNoCopy {
public:
    SingleInterfaceObject() { ObjectCreated(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return AfxQueryOne<Interface>(this, *InterfaceId, iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

protected:
    virtual ~SingleInterfaceObject() { ObjectDestroyed(); }

private:
    LONG refs_ = 1;
};

// The program's own lock: a header of plain Win32, so sharing it ties the camera to nothing.
using CritSec = ::CCriticalSection;
using AutoLock = ::CSingleLock;

} // namespace testcam
