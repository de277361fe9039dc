#include "media/image_encoder.h"

#include "capture/capture_platform.h"

#include <wincodec.h>

#include <cstring>
#include <new>

HRESULT CImageEncoder::Encode(REFGUID container, const BYTE* pBgr, UINT nWidth, UINT nHeight,
                              UINT nStride, float fQuality, std::vector<BYTE>& out) noexcept {
    if (!m_wic.IsOpen()) {
        return E_UNEXPECTED;
    }
    if (pBgr == nullptr || nWidth == 0 || nHeight == 0 || nStride < nWidth * 3 ||
        static_cast<ULONGLONG>(nStride) * nHeight > 0x7FFFFFFF) {
        return E_INVALIDARG;
    }
    CComRef<IStream> pStream;
    CComRef<IWICBitmapEncoder> pEncoder;
    CComRef<IWICBitmapFrameEncode> pFrame;
    CComRef<IPropertyBag2> pOptions;
    HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, &pStream);
    if (SUCCEEDED(hr)) {
        hr = m_wic->CreateEncoder(container, nullptr, &pEncoder);
    }
    if (SUCCEEDED(hr)) {
        hr = pEncoder->Initialize(pStream, WICBitmapEncoderNoCache);
    }
    if (SUCCEEDED(hr)) {
        hr = pEncoder->CreateNewFrame(&pFrame, &pOptions);
    }
    if (SUCCEEDED(hr) && fQuality > 0 && pOptions != nullptr) {
        // An encoder without the option keeps its own quality.
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value;
        ::VariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = fQuality;
        pOptions->Write(1, &option, &value);
    }
    if (SUCCEEDED(hr)) {
        hr = pFrame->Initialize(pOptions);
    }
    if (SUCCEEDED(hr)) {
        hr = pFrame->SetSize(nWidth, nHeight);
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) {
        hr = pFrame->SetPixelFormat(&format);
    }
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR) {
        hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    }
    if (SUCCEEDED(hr)) {
        hr = pFrame->WritePixels(nHeight, nStride, nStride * nHeight, const_cast<BYTE*>(pBgr));
    }
    if (SUCCEEDED(hr)) {
        hr = pFrame->Commit();
    }
    if (SUCCEEDED(hr)) {
        hr = pEncoder->Commit();
    }
    HGLOBAL hGlobal = nullptr;
    if (SUCCEEDED(hr)) {
        hr = ::GetHGlobalFromStream(pStream, &hGlobal);
    }
    STATSTG stat{};
    if (SUCCEEDED(hr)) {
        hr = pStream->Stat(&stat, STATFLAG_NONAME);
    }
    if (SUCCEEDED(hr)) {
        const BYTE* pData = static_cast<const BYTE*>(::GlobalLock(hGlobal));
        if (pData == nullptr) {
            return E_OUTOFMEMORY;
        }
        try {
            out.assign(pData, pData + stat.cbSize.QuadPart);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        ::GlobalUnlock(hGlobal);
    }
    return hr;
}

HRESULT EncodePng24(UINT nWidth, UINT nHeight, const BYTE* pTopRow, std::ptrdiff_t nRowStep,
                    UINT nBytesPerPixel, std::vector<BYTE>& png) {
    if (nWidth == 0 || nHeight == 0 || pTopRow == nullptr ||
        (nBytesPerPixel != 3 && nBytesPerPixel != 4)) {
        return E_INVALIDARG;
    }
    // Top row first, as 24-bit pixels whatever the source's depth.
    const size_t nRow = static_cast<size_t>(nWidth) * 3;
    std::vector<BYTE> pixels;
    try {
        pixels.resize(nRow * nHeight);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (UINT y = 0; y < nHeight; ++y) {
        const BYTE* pSource = pTopRow + nRowStep * static_cast<std::ptrdiff_t>(y);
        BYTE* pTarget = &pixels[y * nRow];
        if (nBytesPerPixel == 3) {
            std::memcpy(pTarget, pSource, nRow);
        } else {
            for (UINT x = 0; x < nWidth; ++x) {
                std::memcpy(pTarget + x * 3u, pSource + x * nBytesPerPixel, 3);
            }
        }
    }
    CImageEncoder encoder;
    HRESULT hr = encoder.Open();
    if (SUCCEEDED(hr)) {
        hr = encoder.Encode(GUID_ContainerFormatPng, pixels.data(), nWidth, nHeight,
                            static_cast<UINT>(nRow), 0, png);
    }
    return hr;
}
