#include "check/check_sink.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <cstring>

namespace {

// {8D3A4E62-1C7B-4F59-A0E6-5B2C9D7F3E14}
const CLSID CLSID_LookwellCheckSink = {
    0x8d3a4e62, 0x1c7b, 0x4f59, {0xa0, 0xe6, 0x5b, 0x2c, 0x9d, 0x7f, 0x3e, 0x14}};

// FNV-1a over 8-byte words: a repeated JPEG is told without decoding it (a tenth of a
// millisecond for a 1080p picture, on the camera's thread).
ULONGLONG HashBytes(const BYTE* pData, size_t nSize) {
    ULONGLONG nHash = 0xcbf29ce484222325ULL;
    size_t i = 0;
    for (; i + 8 <= nSize; i += 8) {
        ULONGLONG nWord = 0;
        std::memcpy(&nWord, pData + i, 8);
        nHash = (nHash ^ nWord) * 0x100000001b3ULL;
    }
    for (; i < nSize; ++i) {
        nHash = (nHash ^ pData[i]) * 0x100000001b3ULL;
    }
    return nHash;
}

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

void CCheckSink::GetThumbnail(CThumbnail::Kind kind, CThumbnail& thumbnail) {
    CSingleLock lock(m_lock);
    const CColourGrid* pGrid = kind == CThumbnail::Kind::Black    ? &m_black
                               : kind == CThumbnail::Kind::Frozen ? &m_frozen
                                                                  : &m_good;
    if (pGrid->bgr.empty()) {
        kind = CThumbnail::Kind::LastGood;
        pGrid = &m_good;
    }
    thumbnail = CThumbnail();
    if (pGrid->bgr.empty()) {
        return;
    }
    try {
        thumbnail.pixels = pGrid->bgr;
    } catch (...) {
        return; // out of memory: no picture
    }
    thumbnail.kind = kind;
    thumbnail.nWidth = pGrid->nColumns;
    thumbnail.nHeight = pGrid->nRows;
    thumbnail.nFrameWidth = m_nFrameWidth;
    thumbnail.nFrameHeight = m_nFrameHeight;
}

HRESULT CCheckSink::OnConnect(const AM_MEDIA_TYPE& mt) noexcept {
    // The picture's layout and expected size, from either kind of video header.
    const BITMAPINFOHEADER* pBmi = GetBitmapHeader(mt);
    m_layout = CPixelLayout();
    m_bMjpg = mt.subtype == MEDIASUBTYPE_MJPG;
    m_nExpectedSize = 0;
    if (pBmi != nullptr) {
        m_layout = PixelLayoutOf(mt.subtype, *pBmi);
        m_nExpectedSize = m_layout.ImageBytes();
        if (m_nExpectedSize == 0) {
            m_nExpectedSize = pBmi->biSizeImage; // compressed: the largest a sample may be
        }
        m_nFrameWidth = pBmi->biWidth;
        m_nFrameHeight = pBmi->biHeight < 0 ? -pBmi->biHeight : pBmi->biHeight;
    }
    // Decoding takes longer than a frame at 1080p: on the camera's thread it would slow the
    // camera down and the check would measure itself. The imaging factory is made here, on the
    // check's own thread, and used from the decoder's: it is free-threaded.
    if (m_bMjpg && m_bAnalyse && !m_decoder.IsStarted() && m_jpeg.Open() == S_OK) {
        m_decoder.Start(this);
    }
    return S_OK;
}

void CCheckSink::SetWindowEnd(LONGLONG nEnd) {
    CSingleLock lock(m_lock);
    m_nWindowEnd = nEnd;
}

HRESULT CCheckSink::OnSample(const CSampleView& sample) noexcept {
    size_t nSize = sample.nLength;
    bool bUncompressed = m_layout.pixels != SourcePixels::Unsupported;
    bool bRead = false;
    bool bRepeated = false;
    bool bInWindow = false;
    {
        CSingleLock lock(m_lock);
        bInWindow = sample.nArrival <= m_nWindowEnd;
    }
    if (m_bAnalyse && nSize != 0 && bInWindow) {
        if (bUncompressed) {
            try {
                bRead = ReadGrid(m_layout, sample.pData, nSize, m_grid, &m_colour.bgr);
            } catch (...) {
                bRead = false; // out of memory: this picture is not read
            }
        } else if (m_bMjpg) {
            // A byte-identical JPEG is the same picture again: frozen, with nothing new to
            // decode. Any other one goes to the decoder, which takes the latest.
            ULONGLONG nHash = HashBytes(sample.pData, nSize);
            bRepeated = nSize == m_nLastJpegSize && nHash == m_nLastJpegHash;
            m_nLastJpegSize = nSize;
            m_nLastJpegHash = nHash;
            if (!bRepeated) {
                m_decoder.Post(sample.pData, nSize);
            }
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
    if (bFirst) {
        ::SetEvent(m_hFirstSample);
    }
    if (!bInWindow) {
        return S_OK; // after the window: only its time
    }
    if (nSize == 0) {
        ++m_figures.nEmpty;
    } else if (bUncompressed && nSize < m_nExpectedSize) {
        ++m_figures.nShort;
    } else if (m_nExpectedSize != 0 && nSize > m_nExpectedSize) {
        ++m_figures.nOversized;
    }
    if (bRepeated) {
        ++m_figures.nFrozen;
    }
    if (bRead) {
        LONG nColumns = 0;
        LONG nRows = 0;
        GridSize(m_layout, nColumns, nRows);
        m_colour.nColumns = nColumns;
        m_colour.nRows = nRows;
        CountGrid(m_grid, m_colour, true);
    }
    return S_OK;
}

void CCheckSink::CountGrid(std::vector<BYTE>& grid, CColourGrid& colour, bool bCountFrozen) {
    ++m_figures.nAnalysed;
    // A black picture is counted as black only; frozen means a repeated picture.
    CColourGrid* pSlot = &m_good;
    if (IsBlackGrid(grid)) {
        ++m_figures.nBlack;
        pSlot = &m_black;
    } else if (grid == m_previousGrid) {
        m_figures.nFrozen += bCountFrozen ? 1 : 0;
        pSlot = &m_frozen;
    }
    pSlot->bgr.swap(colour.bgr);
    pSlot->nColumns = colour.nColumns;
    pSlot->nRows = colour.nRows;
    m_previousGrid.swap(grid);
}

void CCheckSink::OnWork(const std::vector<BYTE>& jpeg) noexcept {
    bool bDecoded = m_jpeg.Decode(jpeg.data(), jpeg.size(), m_decoded);
    bool bRead = false;
    CPixelLayout layout;
    if (bDecoded) {
        layout.pixels = SourcePixels::Bgr24;
        layout.nWidth = static_cast<LONG>(m_decoded.nWidth);
        layout.nHeight = static_cast<LONG>(m_decoded.nHeight);
        layout.nStride = m_decoded.nStride;
        try {
            bRead = ReadGrid(layout, m_decoded.pixels.data(), m_decoded.pixels.size(),
                             m_decodedGrid, &m_decodedColour.bgr);
        } catch (...) {
            bRead = false; // out of memory: this picture is not analysed
        }
    }
    CSingleLock lock(m_lock);
    if (bRead) {
        GridSize(layout, m_decodedColour.nColumns, m_decodedColour.nRows);
        // Repeats were told from the bytes already: a grid like the last one decoded is only
        // a picture to show for them.
        CountGrid(m_decodedGrid, m_decodedColour, false);
    } else if (!bDecoded) {
        ++m_figures.nUndecodable;
    }
}

void CCheckSink::GetLastArrival(size_t& nCount, LONGLONG& nLast) {
    CSingleLock lock(m_lock);
    nCount = m_figures.arrivals.size();
    nLast = nCount != 0 ? m_figures.arrivals.back() : 0;
}

bool CCheckSink::WaitForDecoding(DWORD nMs) {
    return m_decoder.WaitIdle(nMs);
}

void CCheckSink::FinishDecoding() {
    m_decoder.Finish(0);
}

void CCheckSink::AbandonDecoding() {
    m_decoder.Drop();
}
