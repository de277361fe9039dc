// Ctrl+C and Ctrl+S: the renderer's current frame, at the format's own size, to the
// clipboard as a DIB or to a PNG file of the user's choice.
#include "tools/snapshot.h"

#include "framework/console.h"
#include "framework/dib.h"
#include "framework/files.h"
#include "media/image_encoder.h"
#include "tools/tool_host.h"
#include "ui/lookwell_dlg.h"

#include <shlobj.h>
#include <wincodec.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// How long a paused renderer may wait for the next frame: a little more than the format's frame
// interval, at least what Wine's renderer takes to settle, and bounded, since the picture
// stands still meanwhile.
DWORD PauseWaitMs(LONGLONG frameTime) {
    constexpr DWORD kLeast = 500;
    constexpr DWORD kMost = 2000;
    if (frameTime <= 0) {
        return kMost;
    }
    LONGLONG nMs = frameTime / 10000 * 3 / 2;
    return nMs < kLeast ? kLeast : nMs > kMost ? kMost : static_cast<DWORD>(nMs);
}

size_t Stride(const BITMAPINFOHEADER& bih) {
    return AfxDibStride(bih.biWidth, bih.biBitCount);
}

std::wstring ProposedName() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    wchar_t szName[64];
    ::swprintf(szName, 64, L"Lookwell %04u-%02u-%02u %02u-%02u-%02u.png", st.wYear, st.wMonth,
               st.wDay, st.wHour, st.wMinute, st.wSecond);
    return szName;
}

} // namespace

const BITMAPINFOHEADER* CheckedDib(const std::vector<BYTE>& dib) {
    if (dib.size() < sizeof(BITMAPINFOHEADER)) {
        return nullptr;
    }
    const auto* pbih = reinterpret_cast<const BITMAPINFOHEADER*>(dib.data());
    if (pbih->biSize < sizeof(BITMAPINFOHEADER) || pbih->biSize > dib.size() ||
        pbih->biCompression != BI_RGB || (pbih->biBitCount != 24 && pbih->biBitCount != 32) ||
        pbih->biWidth <= 0 || pbih->biWidth > 16384 || pbih->biHeight == 0 ||
        pbih->biHeight > 16384 || pbih->biHeight < -16384) {
        return nullptr;
    }
    size_t nRows = static_cast<size_t>(pbih->biHeight < 0 ? -pbih->biHeight : pbih->biHeight);
    if (dib.size() - pbih->biSize < Stride(*pbih) * nRows) {
        return nullptr;
    }
    return pbih;
}

HRESULT EncodePng(const std::vector<BYTE>& dib, std::vector<BYTE>& png) {
    const BITMAPINFOHEADER* pbih = CheckedDib(dib);
    if (pbih == nullptr) {
        return E_INVALIDARG;
    }
    const UINT nWidth = static_cast<UINT>(pbih->biWidth);
    const UINT nHeight = static_cast<UINT>(pbih->biHeight < 0 ? -pbih->biHeight : pbih->biHeight);
    const auto nStride = static_cast<std::ptrdiff_t>(Stride(*pbih));
    const BYTE* pBits = dib.data() + pbih->biSize;
    // A bottom-up DIB's top row is its last.
    bool bBottomUp = pbih->biHeight > 0;
    const BYTE* pTop = bBottomUp ? pBits + nStride * (nHeight - 1) : pBits;
    return EncodePng24(nWidth, nHeight, pTop, bBottomUp ? -nStride : nStride, pbih->biBitCount / 8u,
                       png);
}

HRESULT CToolHost::TakeFrame(std::vector<BYTE>& dib) {
    if (std::shared_ptr<CStreamTap> pTap = m_dlg.GetPreviewTap(); pTap != nullptr) {
        HRESULT hr = E_FAIL;
        if (pTap->GetLatestPicture(dib, hr)) {
            return S_OK;
        }
        // No picture kept yet, or none that converts: the renderer's, as without a tap.
    }
    return GrabFrame(dib);
}

HRESULT CToolHost::GrabFrame(std::vector<BYTE>& dib) {
    CComRef<IMediaControl> pControl;
    CComRef<IBasicVideo> pBasicVideo;
    HRESULT hr = m_dlg.QueryPreviewGraph(IID_IMediaControl, pControl.Out());
    if (SUCCEEDED(hr)) {
        hr = m_dlg.QueryPreviewGraph(IID_IBasicVideo, pBasicVideo.Out());
    }
    if (FAILED(hr)) {
        return hr;
    }
    VideoFormat format{};
    m_dlg.GetPreviewFormat(format);
    const DWORD nWaitMs = PauseWaitMs(format.frameTime);
    long nSize = 0;
    hr = pBasicVideo->GetCurrentImage(&nSize, nullptr);
    if (hr == E_POINTER) {
        // Wine 8 does not answer the size alone: room for the largest frame of that size.
        long nWidth = 0;
        long nHeight = 0;
        hr = pBasicVideo->GetVideoSize(&nWidth, &nHeight);
        // Sizes past the DIB limits the tools accept are refused before they are multiplied.
        if (SUCCEEDED(hr) &&
            (nWidth <= 0 || nWidth > 16384 || nHeight < -16384 || nHeight > 16384)) {
            hr = E_UNEXPECTED;
        } else if (SUCCEEDED(hr)) {
            nSize = static_cast<long>(sizeof(BITMAPINFOHEADER)) + 4 * nWidth * std::abs(nHeight);
        }
    }
    if (FAILED(hr) || nSize <= static_cast<long>(sizeof(BITMAPINFOHEADER))) {
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    dib.assign(static_cast<size_t>(nSize), 0);
    auto take = [&] {
        long nBuffer = nSize;
        return pBasicVideo->GetCurrentImage(&nBuffer, reinterpret_cast<long*>(dib.data()));
    };
    hr = take();
    // Wine's renderer hands out only a frame it holds while paused, and a live camera sends
    // nothing while paused: the renderer alone is paused until the next frame comes.
    CComRef<IBaseFilter> pRenderer;
    if ((hr == VFW_E_NOT_PAUSED || hr == E_UNEXPECTED) && SUCCEEDED(FindRenderer(&pRenderer))) {
        const bool bWasRunning = hr == VFW_E_NOT_PAUSED;
        if (!bWasRunning) {
            pControl->Run();
        }
        pRenderer->Pause();
        ULONGLONG nStart = ::GetTickCount64();
        while ((hr = take()) == E_UNEXPECTED && ::GetTickCount64() - nStart < nWaitMs) {
            ::Sleep(2);
        }
        // The graph's own pause and run bring the renderer back with the graph's clock.
        pControl->Pause();
        if (bWasRunning) {
            pControl->Run();
        }
    }
    const BITMAPINFOHEADER* pbih = SUCCEEDED(hr) ? CheckedDib(dib) : nullptr;
    if (pbih == nullptr) {
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    dib.resize(pbih->biSize + Stride(*pbih) * static_cast<size_t>(std::abs(pbih->biHeight)));
    return S_OK;
}

HRESULT CToolHost::FindRenderer(IBaseFilter** ppRenderer) {
    CComRef<IFilterGraph> pGraph;
    CComRef<IEnumFilters> pFilters;
    HRESULT hr = m_dlg.QueryPreviewGraph(IID_IFilterGraph, pGraph.Out());
    if (SUCCEEDED(hr)) {
        hr = pGraph->EnumFilters(&pFilters);
    }
    if (FAILED(hr)) {
        return hr;
    }
    for (;;) {
        CComRef<IBaseFilter> pFilter;
        if (pFilters->Next(1, &pFilter, nullptr) != S_OK) {
            return E_FAIL;
        }
        CComRef<IBasicVideo> pBasicVideo;
        if (SUCCEEDED(pFilter->QueryInterface(IID_IBasicVideo, pBasicVideo.Out()))) {
            *ppRenderer = pFilter;
            (*ppRenderer)->AddRef();
            return S_OK;
        }
    }
}

bool CToolHost::CopyToClipboard() {
    std::vector<BYTE> dib;
    if (FAILED(TakeFrame(dib))) {
        ::MessageBeep(MB_OK);
        return false;
    }
    HGLOBAL hGlobal = ::GlobalAlloc(GMEM_MOVEABLE, dib.size());
    void* pData = hGlobal != nullptr ? ::GlobalLock(hGlobal) : nullptr;
    if (pData == nullptr) {
        if (hGlobal != nullptr) {
            ::GlobalFree(hGlobal);
        }
        ShowNotice(L"The frame was not copied: out of memory.");
        return false;
    }
    std::memcpy(pData, dib.data(), dib.size());
    ::GlobalUnlock(hGlobal);
    // Another program may hold the clipboard for a moment: tried again briefly.
    bool bOpen = AfxOpenClipboard(m_dlg.m_hWnd);
    bool bOk = false;
    if (bOpen) {
        // The clipboard owns the memory once it took it.
        bOk = ::EmptyClipboard() && ::SetClipboardData(CF_DIB, hGlobal) != nullptr;
        ::CloseClipboard();
    }
    if (!bOk) {
        ::GlobalFree(hGlobal);
        ShowNotice(bOpen ? L"The frame was not copied: the clipboard refused it."
                         : L"The frame was not copied: another program holds the clipboard.");
    }
    return bOk;
}

bool CToolHost::SaveSnapshot() {
    // The frame of the moment the key went down, before the dialog takes its time.
    std::vector<BYTE> dib;
    std::vector<BYTE> png;
    if (FAILED(TakeFrame(dib))) {
        ::MessageBeep(MB_OK);
        return false;
    }
    if (FAILED(EncodePng(dib, png))) {
        ShowNotice(L"The picture was not saved: it could not be made into a PNG file.");
        return false;
    }
    std::wstring file;
    SaveAsAnswer answer = AfxAskSaveAs(m_dlg.m_hWnd, FOLDERID_Pictures, ProposedName(),
                                       L"PNG image (*.png)\0*.png\0", L"png", file);
    if (answer == SaveAsAnswer::NoDialog) {
        ShowNotice(L"The picture was not saved: the Save As dialog is missing.");
        return false;
    }
    if (answer == SaveAsAnswer::Cancelled) {
        return false; // nothing to say
    }
    std::wstring error;
    if (!AfxSaveFileReplacing(file, png, error)) {
        ShowNotice(L"The picture was not saved: " + error + L".");
        return false;
    }
    ShowNotice(L"The picture was saved as " + file + L".", false);
    return true;
}
