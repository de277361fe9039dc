#include "check/check_sink.h"

#include <dvdmedia.h>
#include <uuids.h>

namespace {

// {8D3A4E62-1C7B-4F59-A0E6-5B2C9D7F3E14}
const CLSID CLSID_LookwellCheckSink = {
    0x8d3a4e62, 0x1c7b, 0x4f59, {0xa0, 0xe6, 0x5b, 0x2c, 0x9d, 0x7f, 0x3e, 0x14}};

} // namespace

CCheckSink::CCheckSink(bool bAnalyse) : m_bAnalyse(bAnalyse) {
    m_hFirstSample = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CCheckSink::~CCheckSink() {
    m_decoder.Finish(0);
    if (m_hFirstSample != nullptr) {
        ::CloseHandle(m_hFirstSample);
    }
}

HRESULT CCheckSink::Create(bool bAnalyse, CSinkRef<CCheckSink>& sink) {
    return sink.Create(CLSID_LookwellCheckSink, L"Check Sink", bAnalyse);
}

void CCheckSink::GetFigures(CSinkFigures& figures) {
    CSingleLock lock(m_lock);
    try {
        figures = m_figures;
    } catch (...) {
        figures = CSinkFigures();
    }
}

HRESULT CCheckSink::OnConnect(const AM_MEDIA_TYPE& mt) noexcept {
    // The picture's layout and expected size, from either kind of video header.
    const BITMAPINFOHEADER* pBmi = nullptr;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER) &&
        mt.pbFormat != nullptr) {
        pBmi = &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    } else if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2) &&
               mt.pbFormat != nullptr) {
        pBmi = &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    }
    m_layout = CGridLayout();
    m_bMjpg = mt.subtype == MEDIASUBTYPE_MJPG;
    m_nExpectedSize = 0;
    if (pBmi != nullptr) {
        m_layout = GridLayoutOf(mt.subtype, *pBmi);
        m_nExpectedSize = m_layout.ImageBytes();
        if (m_nExpectedSize == 0) {
            m_nExpectedSize = pBmi->biSizeImage; // compressed: the largest a sample may be
        }
    }
    // Decoding takes longer than a frame at 1080p: on the camera's thread it would slow the
    // camera down and the check would measure itself. The imaging factory is made here, on the
    // check's own thread, and used from the decoder's: it is free-threaded.
    if (m_bMjpg && m_bAnalyse && !m_decoder.IsStarted() && m_jpeg.Open() == S_OK) {
        m_decoder.Start(this);
    }
    return S_OK;
}

HRESULT CCheckSink::OnSample(const CSampleView& sample) noexcept {
    size_t nSize = sample.nLength;
    bool bUncompressed = m_layout.pixels != GridPixels::Unsupported;
    bool bRead = false;
    bool bUndecoded = false;
    if (m_bAnalyse && nSize != 0) {
        if (bUncompressed) {
            try {
                bRead = ReadGrid(m_layout, sample.pData, nSize, m_grid);
            } catch (...) {
                bRead = false; // out of memory: this picture is not read
            }
            bUndecoded = !bRead && nSize >= m_nExpectedSize;
        } else if (m_bMjpg) {
            bUndecoded = !m_decoder.Post(sample.pData, nSize);
        }
    }
    CSingleLock lock(m_lock);
    bool bFirst = m_figures.arrivals.empty();
    try {
        if (m_figures.arrivals.capacity() == m_figures.arrivals.size()) {
            m_figures.arrivals.reserve(m_figures.arrivals.size() + 4096);
        }
        m_figures.arrivals.push_back(sample.nArrival);
    } catch (...) {
        return E_OUTOFMEMORY; // the camera is told; nothing unwinds into its thread
    }
    if (nSize == 0) {
        ++m_figures.nEmpty;
    } else if (bUncompressed && nSize < m_nExpectedSize) {
        ++m_figures.nShort;
    } else if (m_nExpectedSize != 0 && nSize > m_nExpectedSize) {
        ++m_figures.nOversized;
    }
    if (bUndecoded) {
        ++m_figures.nUndecoded;
    }
    if (bRead) {
        CountGrid(m_grid);
    }
    if (bFirst) {
        ::SetEvent(m_hFirstSample);
    }
    return S_OK;
}

void CCheckSink::CountGrid(std::vector<BYTE>& grid) {
    // A black picture is counted as black only; frozen means a repeated picture.
    if (IsBlackGrid(grid)) {
        ++m_figures.nBlack;
    } else if (grid == m_previousGrid) {
        ++m_figures.nFrozen;
    }
    m_previousGrid.swap(grid);
}

void CCheckSink::OnWork(const std::vector<BYTE>& jpeg) noexcept {
    bool bRead = false;
    if (m_jpeg.Decode(jpeg.data(), jpeg.size(), m_decoded)) {
        CGridLayout layout;
        layout.pixels = GridPixels::Bgr24Decoded;
        layout.nWidth = static_cast<LONG>(m_decoded.nWidth);
        layout.nHeight = static_cast<LONG>(m_decoded.nHeight);
        layout.nStride = static_cast<LONG>(m_decoded.nStride);
        try {
            bRead =
                ReadGrid(layout, m_decoded.pixels.data(), m_decoded.pixels.size(), m_decodedGrid);
        } catch (...) {
            bRead = false; // out of memory: this picture is not decoded
        }
    }
    CSingleLock lock(m_lock);
    if (bRead) {
        CountGrid(m_decodedGrid);
    } else {
        ++m_figures.nUndecoded;
    }
}

void CCheckSink::FinishDecoding(DWORD nMs) {
    size_t nDropped = m_decoder.Finish(nMs);
    CSingleLock lock(m_lock);
    m_figures.nUndecoded += static_cast<long>(nDropped);
}
