#include "support/com_standin.h"

#include "framework/apartment.h"

#include <objbase.h>

class ScopedClassOverride::Factory final : public IClassFactory {
public:
    Factory(CreateFn create, IClassFactory* pReal) : m_create(std::move(create)), m_pReal(pReal) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return AfxQueryOne<IClassFactory>(this, IID_IClassFactory, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_nRefs); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG nRefs = --m_nRefs;
        if (nRefs == 0) {
            delete this;
        }
        return static_cast<ULONG>(nRefs);
    }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override {
        ++m_nCreations;
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (pOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return m_create(m_pReal, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

    int m_nCreations = 0;

private:
    ~Factory() = default;

    CreateFn m_create;
    IClassFactory* m_pReal;
    LONG m_nRefs = 1;
};

ScopedClassOverride::ScopedClassOverride(REFCLSID clsid, HRESULT hrCreate)
    : ScopedClassOverride(clsid, [hrCreate](IClassFactory*, REFIID, void**) { return hrCreate; }) {}

ScopedClassOverride::ScopedClassOverride(REFCLSID clsid, CreateFn create) {
    // Taken before the override exists, which would answer instead of the registry after.
    ::CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                       reinterpret_cast<void**>(&m_pReal));
    m_pFactory = new Factory(std::move(create), m_pReal);
    m_hrRegister = ::CoRegisterClassObject(clsid, m_pFactory, CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &m_dwCookie);
}

ScopedClassOverride::~ScopedClassOverride() {
    if (SUCCEEDED(m_hrRegister)) {
        ::CoRevokeClassObject(m_dwCookie);
    }
    m_pFactory->Release();
    if (m_pReal != nullptr) {
        m_pReal->Release();
    }
}

int ScopedClassOverride::Creations() const {
    return m_pFactory->m_nCreations;
}
