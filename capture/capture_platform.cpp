#include "capture/capture_platform.h"

#include <uuids.h>

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

const VIDEOINFOHEADER* GetVideoInfo(const AM_MEDIA_TYPE& mt) {
    // The byte count is compared unsigned: a huge count is no smaller than the header.
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER) || mt.pbFormat == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

MediaTypeHolder FindCapability(IAMStreamConfig* pConfig, const VideoFormat& wanted,
                               VIDEO_STREAM_CONFIG_CAPS& chosenCaps) {
    MediaTypeHolder pFirstMatch(nullptr, DeleteMediaType);
    int nCount = 0;
    int nSize = 0;
    if (pConfig->GetNumberOfCapabilities(&nCount, &nSize) != S_OK || nCount <= 0 ||
        nSize != sizeof(VIDEO_STREAM_CONFIG_CAPS)) {
        return pFirstMatch;
    }
    for (int i = 0; i < nCount; ++i) {
        AM_MEDIA_TYPE* pmt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (pConfig->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&caps)) != S_OK) {
            continue;
        }
        MediaTypeHolder pType(pmt, DeleteMediaType);
        const VIDEOINFOHEADER* pvih = pmt != nullptr ? GetVideoInfo(*pmt) : nullptr;
        if (pvih == nullptr || pvih->bmiHeader.biWidth != wanted.width ||
            pvih->bmiHeader.biHeight != wanted.height ||
            pvih->AvgTimePerFrame != wanted.frameTime || pvih->dwBitRate != wanted.bitRate) {
            continue;
        }
        if (pmt->subtype == wanted.subtype) {
            chosenCaps = caps;
            return pType;
        }
        if (pFirstMatch == nullptr) {
            chosenCaps = caps;
            pFirstMatch = std::move(pType);
        }
    }
    return pFirstMatch;
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
