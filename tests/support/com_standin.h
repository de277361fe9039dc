// Stand-ins for what the real platform cannot be made to do: a class whose creation fails, or
// an object that answers one chosen call with an error. Each is registered in this apartment
// for the real class id, so that the code under test calls the real CoCreateInstance.
#pragma once

#include "framework/object.h"

#include <windows.h>

#include <functional>

// Registers a class factory for clsid in the calling thread's apartment for the life of the
// object. Registered classes take precedence over the registry.
class ScopedClassOverride : private CNoCopy {
public:
    // Every creation answers hrCreate.
    ScopedClassOverride(REFCLSID clsid, HRESULT hrCreate);
    // Every creation answers what create answers. create gets the class's real factory from
    // the registry (null when there is none) to wrap real objects with.
    using CreateFn = std::function<HRESULT(IClassFactory* pReal, REFIID riid, void** ppv)>;
    ScopedClassOverride(REFCLSID clsid, CreateFn create);
    ~ScopedClassOverride();

    HRESULT Result() const { return m_hrRegister; }
    // How many objects the factory was asked for.
    int Creations() const;

private:
    class Factory;
    Factory* m_pFactory = nullptr;
    IClassFactory* m_pReal = nullptr;
    DWORD m_dwCookie = 0;
    HRESULT m_hrRegister = E_FAIL;
};
