#include "capture/capture_platform.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <cstring>

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0) {
        ::CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk != nullptr) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) {
        return;
    }
    FreeMediaType(*pmt);
    ::CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from) {
    to = from;
    to.pbFormat = nullptr;
    to.cbFormat = 0;
    if (from.cbFormat != 0 && from.pbFormat != nullptr) {
        to.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(from.cbFormat));
        if (to.pbFormat == nullptr) {
            to.pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(to.pbFormat, from.pbFormat, from.cbFormat);
        to.cbFormat = from.cbFormat;
    }
    if (to.pUnk != nullptr) {
        to.pUnk->AddRef();
    }
    return S_OK;
}

const VIDEOINFOHEADER* GetVideoInfo(const AM_MEDIA_TYPE& mt) {
    // The byte count is compared unsigned: a huge count is no smaller than the header.
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER) || mt.pbFormat == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

const BITMAPINFOHEADER* GetBitmapHeader(const AM_MEDIA_TYPE& mt) {
    if (mt.pbFormat == nullptr) {
        return nullptr;
    }
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        return &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    }
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    }
    return nullptr;
}

MediaTypeHolder FindCapability(IAMStreamConfig* pConfig, const VideoFormat& wanted,
                               VIDEO_STREAM_CONFIG_CAPS& chosenCaps) {
    MediaTypeHolder pFirstMatch(nullptr, DeleteMediaType);
    MediaTypeHolder pExact(nullptr, DeleteMediaType);
    ForEachCapability(pConfig, [&](MediaTypeHolder& pType, const VIDEO_STREAM_CONFIG_CAPS& caps) {
        const VIDEOINFOHEADER* pvih = GetVideoInfo(*pType);
        if (pvih == nullptr || pvih->bmiHeader.biWidth != wanted.width ||
            pvih->bmiHeader.biHeight != wanted.height ||
            pvih->AvgTimePerFrame != wanted.frameTime || pvih->dwBitRate != wanted.bitRate) {
            return true;
        }
        if (pType->subtype == wanted.subtype) {
            chosenCaps = caps;
            pExact = std::move(pType);
            return false;
        }
        if (pFirstMatch == nullptr) {
            chosenCaps = caps;
            pFirstMatch = std::move(pType);
        }
        return true;
    });
    return pExact != nullptr ? std::move(pExact) : std::move(pFirstMatch);
}

CStreamEvents DrainStreamEvents(IMediaEvent* pEvents) {
    CStreamEvents events;
    long nCode = 0;
    LONG_PTR nParam1 = 0;
    LONG_PTR nParam2 = 0;
    while (pEvents != nullptr && pEvents->GetEvent(&nCode, &nParam1, &nParam2, 0) == S_OK) {
        if (nCode == EC_ERRORABORT || nCode == EC_STREAM_ERROR_STOPPED) {
            events.bFailed = true;
        } else if (nCode == EC_DEVICE_LOST && nParam2 == 0) {
            events.bRemoved = true;
        }
        pEvents->FreeEventParams(nCode, nParam1, nParam2);
    }
    return events;
}

HRESULT FindCapturePin(IBaseFilter* pFilter, IPin** ppPin) {
    CComRef<ICaptureGraphBuilder2> pBuilder;
    HRESULT hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                                    IID_ICaptureGraphBuilder2, pBuilder.Out());
    if (FAILED(hr)) {
        return hr;
    }
    return pBuilder->FindPin(pFilter, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0,
                             ppPin);
}

double CapabilityFrameRate(IPin* pPin, const VideoFormat& format) {
    CComRef<IAMStreamConfig> pConfig;
    if (FAILED(pPin->QueryInterface(IID_IAMStreamConfig, pConfig.Out()))) {
        return -1;
    }
    double dRate = -1;
    ForEachCapability(pConfig, [&](MediaTypeHolder& pType, const VIDEO_STREAM_CONFIG_CAPS& caps) {
        const VIDEOINFOHEADER* pvih = GetVideoInfo(*pType);
        if (pvih != nullptr && pType->subtype == format.subtype &&
            pvih->bmiHeader.biWidth == format.width && pvih->bmiHeader.biHeight == format.height &&
            caps.MinFrameInterval > 0) {
            dRate = 1e7 / static_cast<double>(caps.MinFrameInterval);
            return false;
        }
        return true;
    });
    return dRate;
}

CString GetMonikerName(IMoniker* pMoniker) {
    LPOLESTR pszName = nullptr;
    CString strName;
    CComRef<IBindCtx> pContext;
    if (::CreateBindCtx(0, &pContext) == S_OK &&
        SUCCEEDED(pMoniker->GetDisplayName(pContext, nullptr, &pszName)) && pszName != nullptr) {
        strName = pszName;
    }
    ::CoTaskMemFree(pszName);
    return strName;
}

DWORD CDeviceWalk::Open(HRESULT& hr) {
    hr = ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, IID_ICreateDevEnum,
                            m_pDevEnum.Out());
    if (hr != S_OK) {
        return 1;
    }
    hr = m_pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &m_pClassEnum, 0);
    if (hr != S_OK) {
        return 2;
    }
    return m_pClassEnum == nullptr ? 3 : 0;
}

DWORD CDeviceWalk::FindByName(const wchar_t* pszDisplayName, HRESULT& hr) {
    if (DWORD nStage = Open(hr); nStage != 0) {
        return nStage;
    }
    for (;;) {
        m_pMoniker.Release();
        ULONG nFetched = 0;
        hr = m_pClassEnum->Next(1, &m_pMoniker, &nFetched);
        if (hr != S_OK || m_pMoniker == nullptr) {
            m_pMoniker.Release();
            return 4;
        }
        if (*pszDisplayName != L'\0' && GetMonikerName(m_pMoniker) == pszDisplayName) {
            return 0;
        }
    }
}

DWORD CDeviceWalk::Find(int nPosition, HRESULT& hr) {
    if (DWORD nStage = Open(hr); nStage != 0) {
        return nStage;
    }
    for (int i = 0; i <= nPosition; ++i) {
        m_pMoniker.Release();
        ULONG nFetched = 0;
        hr = m_pClassEnum->Next(1, &m_pMoniker, &nFetched);
    }
    return hr == S_OK && m_pMoniker != nullptr ? 0 : 4;
}
