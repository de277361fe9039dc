#include "media/png_encoder.h"

#include "capture/capture_platform.h"

#include <wincodec.h>

#include <cstring>

HRESULT EncodePng24(UINT nWidth, UINT nHeight, const BYTE* pTopRow, std::ptrdiff_t nRowStep,
                    UINT nBytesPerPixel, std::vector<BYTE>& png) {
    if (nWidth == 0 || nHeight == 0 || pTopRow == nullptr ||
        (nBytesPerPixel != 3 && nBytesPerPixel != 4)) {
        return E_INVALIDARG;
    }
    CComRef<IWICImagingFactory> pFactory;
    CComRef<IStream> pStream;
    CComRef<IWICBitmapEncoder> pEncoder;
    CComRef<IWICBitmapFrameEncode> pFrame;
    // The factory through COM, not WICConvertBitmapSource or the like: the program does not
    // import the imaging DLL at every start.
    HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, pFactory.Out());
    if (SUCCEEDED(hr)) {
        hr = ::CreateStreamOnHGlobal(nullptr, TRUE, &pStream);
    }
    if (SUCCEEDED(hr)) {
        hr = pFactory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &pEncoder);
    }
    if (SUCCEEDED(hr)) {
        hr = pEncoder->Initialize(pStream, WICBitmapEncoderNoCache);
    }
    if (SUCCEEDED(hr)) {
        hr = pEncoder->CreateNewFrame(&pFrame, nullptr);
    }
    if (SUCCEEDED(hr)) {
        hr = pFrame->Initialize(nullptr);
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
    // Row by row, top first, as 24-bit pixels whatever the source's depth.
    std::vector<BYTE> row;
    try {
        row.resize(static_cast<size_t>(nWidth) * 3);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (UINT y = 0; SUCCEEDED(hr) && y < nHeight; ++y) {
        const BYTE* pSource = pTopRow + nRowStep * static_cast<std::ptrdiff_t>(y);
        if (nBytesPerPixel == 3) {
            std::memcpy(row.data(), pSource, row.size());
        } else {
            for (UINT x = 0; x < nWidth; ++x) {
                std::memcpy(&row[x * 3u], pSource + x * nBytesPerPixel, 3);
            }
        }
        hr = pFrame->WritePixels(1, static_cast<UINT>(row.size()), static_cast<UINT>(row.size()),
                                 row.data());
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
            png.assign(pData, pData + stat.cbSize.QuadPart);
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
        ::GlobalUnlock(hGlobal);
    }
    return hr;
}
