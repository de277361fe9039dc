#include "support/graph_standin.h"

namespace {

// IUnknown for a wrapper: its own interface, everything else the real object's.
template <class Interface> class Wrapper : public Interface {
public:
    Wrapper(Interface* pReal, GraphStandIn* pScript) : m_pReal(pReal), m_pScript(pScript) {}
    Wrapper(const Wrapper&) = delete;
    Wrapper& operator=(const Wrapper&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == __uuidof(Interface) || riid == IID_IUnknown) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        return Query(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_nRefs); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG nRefs = --m_nRefs;
        if (nRefs == 0) {
            m_pReal->Release();
            delete this;
        }
        return static_cast<ULONG>(nRefs);
    }

protected:
    virtual ~Wrapper() = default;
    virtual HRESULT Query(REFIID riid, void** ppv) { return m_pReal->QueryInterface(riid, ppv); }

    Interface* m_pReal;
    GraphStandIn* m_pScript;

private:
    LONG m_nRefs = 1;
};

class MediaControl final : public Wrapper<IMediaControl> {
public:
    using Wrapper::Wrapper;

    STDMETHODIMP GetTypeInfoCount(UINT* p) override { return m_pReal->GetTypeInfoCount(p); }
    STDMETHODIMP GetTypeInfo(UINT i, LCID l, ITypeInfo** p) override {
        return m_pReal->GetTypeInfo(i, l, p);
    }
    STDMETHODIMP GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override {
        return m_pReal->GetIDsOfNames(r, n, c, l, d);
    }
    STDMETHODIMP Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v, EXCEPINFO* e,
                        UINT* a) override {
        return m_pReal->Invoke(d, r, l, f, p, v, e, a);
    }
    STDMETHODIMP Run() override {
        ++m_pScript->nRuns;
        return m_pReal->Run();
    }
    STDMETHODIMP Pause() override {
        ++m_pScript->nPauses;
        return m_pReal->Pause();
    }
    STDMETHODIMP Stop() override { return m_pReal->Stop(); }
    STDMETHODIMP GetState(LONG timeout, OAFilterState* pState) override {
        if (!m_pScript->scriptState) {
            return m_pReal->GetState(timeout, pState);
        }
        if (m_pScript->hrGetState != E_FAIL) {
            *pState = m_pScript->state;
        }
        return m_pScript->hrGetState;
    }
    STDMETHODIMP RenderFile(BSTR s) override { return m_pReal->RenderFile(s); }
    STDMETHODIMP AddSourceFilter(BSTR s, IDispatch** p) override {
        return m_pReal->AddSourceFilter(s, p);
    }
    STDMETHODIMP get_FilterCollection(IDispatch** p) override {
        return m_pReal->get_FilterCollection(p);
    }
    STDMETHODIMP get_RegFilterCollection(IDispatch** p) override {
        return m_pReal->get_RegFilterCollection(p);
    }
    STDMETHODIMP StopWhenReady() override { return m_pReal->StopWhenReady(); }
};

class Graph final : public Wrapper<IGraphBuilder> {
public:
    using Wrapper::Wrapper;

    STDMETHODIMP AddFilter(IBaseFilter* f, LPCWSTR n) override {
        if (m_pScript->failing == GraphStandIn::AddFilter) {
            return m_pScript->hrFailure;
        }
        return m_pReal->AddFilter(f, n);
    }
    STDMETHODIMP RemoveFilter(IBaseFilter* f) override { return m_pReal->RemoveFilter(f); }
    STDMETHODIMP EnumFilters(IEnumFilters** e) override { return m_pReal->EnumFilters(e); }
    STDMETHODIMP FindFilterByName(LPCWSTR n, IBaseFilter** f) override {
        return m_pReal->FindFilterByName(n, f);
    }
    STDMETHODIMP ConnectDirect(IPin* o, IPin* i, const AM_MEDIA_TYPE* mt) override {
        return m_pReal->ConnectDirect(o, i, mt);
    }
    STDMETHODIMP Reconnect(IPin* p) override { return m_pReal->Reconnect(p); }
    STDMETHODIMP Disconnect(IPin* p) override { return m_pReal->Disconnect(p); }
    STDMETHODIMP SetDefaultSyncSource() override { return m_pReal->SetDefaultSyncSource(); }
    STDMETHODIMP Connect(IPin* o, IPin* i) override { return m_pReal->Connect(o, i); }
    STDMETHODIMP Render(IPin* o) override { return m_pReal->Render(o); }
    STDMETHODIMP RenderFile(LPCWSTR f, LPCWSTR p) override { return m_pReal->RenderFile(f, p); }
    STDMETHODIMP AddSourceFilter(LPCWSTR f, LPCWSTR n, IBaseFilter** b) override {
        return m_pReal->AddSourceFilter(f, n, b);
    }
    STDMETHODIMP SetLogFile(DWORD_PTR h) override { return m_pReal->SetLogFile(h); }
    STDMETHODIMP Abort() override { return m_pReal->Abort(); }
    STDMETHODIMP ShouldOperationContinue() override { return m_pReal->ShouldOperationContinue(); }

private:
    HRESULT Query(REFIID riid, void** ppv) override {
        if ((riid == IID_IMediaControl && m_pScript->failing == GraphStandIn::QueryMediaControl) ||
            (riid == IID_IVideoWindow && m_pScript->failing == GraphStandIn::QueryVideoWindow)) {
            *ppv = nullptr;
            return m_pScript->hrFailure;
        }
        HRESULT hr = m_pReal->QueryInterface(riid, ppv);
        if (riid == IID_IMediaControl && hr == S_OK) {
            *ppv = static_cast<IMediaControl*>(
                new MediaControl(static_cast<IMediaControl*>(*ppv), m_pScript));
        }
        return hr;
    }
};

class Builder final : public Wrapper<ICaptureGraphBuilder2> {
public:
    using Wrapper::Wrapper;

    STDMETHODIMP SetFiltergraph(IGraphBuilder* g) override {
        if (m_pScript->failing == GraphStandIn::SetFiltergraph) {
            return m_pScript->hrFailure;
        }
        return m_pReal->SetFiltergraph(g);
    }
    STDMETHODIMP GetFiltergraph(IGraphBuilder** g) override { return m_pReal->GetFiltergraph(g); }
    STDMETHODIMP SetOutputFileName(const GUID* t, LPCOLESTR f, IBaseFilter** m,
                                   IFileSinkFilter** s) override {
        return m_pReal->SetOutputFileName(t, f, m, s);
    }
    STDMETHODIMP FindInterface(const GUID* c, const GUID* t, IBaseFilter* f, REFIID r,
                               void** p) override {
        return m_pReal->FindInterface(c, t, f, r, p);
    }
    STDMETHODIMP RenderStream(const GUID* c, const GUID* t, IUnknown* s, IBaseFilter* i,
                              IBaseFilter* r) override {
        return m_pReal->RenderStream(c, t, s, i, r);
    }
    STDMETHODIMP ControlStream(const GUID* c, const GUID* t, IBaseFilter* f, REFERENCE_TIME* a,
                               REFERENCE_TIME* b, WORD x, WORD y) override {
        return m_pReal->ControlStream(c, t, f, a, b, x, y);
    }
    STDMETHODIMP AllocCapFile(LPCOLESTR f, DWORDLONG s) override {
        return m_pReal->AllocCapFile(f, s);
    }
    STDMETHODIMP CopyCaptureFile(LPOLESTR o, LPOLESTR n, int a,
                                 IAMCopyCaptureFileProgress* p) override {
        return m_pReal->CopyCaptureFile(o, n, a, p);
    }
    STDMETHODIMP FindPin(IUnknown* s, PIN_DIRECTION d, const GUID* c, const GUID* t, WINBOOL u,
                         int n, IPin** p) override {
        return m_pReal->FindPin(s, d, c, t, u, n, p);
    }
};

// A factory function wrapping each real object of the class.
template <class Interface, class W> ScopedClassOverride::CreateFn Wrapping(GraphStandIn* pScript) {
    return [pScript](IClassFactory* pReal, REFIID riid, void** ppv) -> HRESULT {
        Interface* pObject = nullptr;
        HRESULT hr =
            pReal->CreateInstance(nullptr, __uuidof(Interface), reinterpret_cast<void**>(&pObject));
        if (FAILED(hr)) {
            return hr;
        }
        W* pWrapper = new W(pObject, pScript);
        hr = pWrapper->QueryInterface(riid, ppv);
        pWrapper->Release();
        return hr;
    };
}

} // namespace

void GraphStandIn::Install() {
    m_pGraph = std::make_unique<ScopedClassOverride>(CLSID_FilterGraph,
                                                     Wrapping<IGraphBuilder, Graph>(this));
    m_pBuilder = std::make_unique<ScopedClassOverride>(
        CLSID_CaptureGraphBuilder2, Wrapping<ICaptureGraphBuilder2, Builder>(this));
}

void GraphStandIn::Uninstall() {
    m_pGraph.reset();
    m_pBuilder.reset();
}
