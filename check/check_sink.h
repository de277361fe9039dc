// The check's consumer of the stream (media/sink_filter.h): per sample its arrival time, its
// size against the format's and, unless it only counts, whether the picture is black or the
// same as the one before, with a small colour picture of the last one of each kind. It takes
// every media type a camera offers and renders nothing.
#pragma once

#include "check/check_report.h"
#include "check/frame_grid.h"
#include "media/jpeg_decoder.h"
#include "media/sample_worker.h"
#include "media/sink_filter.h"

#include <climits>
#include <vector>

// What the sink saw, copied out under its lock.
struct CSinkFigures {
    std::vector<LONGLONG> arrivals; // QueryPerformanceCounter at each sample
    long nShort = 0;
    long nEmpty = 0;
    long nOversized = 0;
    long nBlack = 0;
    long nFrozen = 0;
    long nUndecodable = 0; // compressed pictures the decoder refused
    long nAnalysed = 0;    // pictures whose grid was read
};

class CCheckSink final : public CSinkConsumer, private CSampleWorker::IHandler {
public:
    // bAnalyse false: arrival times only, the benchmark's floor.
    explicit CCheckSink(bool bAnalyse);
    ~CCheckSink() override;

    // The check's sink filter, with its class id and name.
    static HRESULT Create(bool bAnalyse, CSinkRef<CCheckSink>& sink);

    // Signalled at the first sample; the sink owns it.
    HANDLE FirstSampleEvent() const { return m_hFirstSample; }
    void GetFigures(CSinkFigures& figures);
    // The last picture of that kind as a small picture, else the last good one; once per
    // format, at its end.
    void GetThumbnail(CThumbnail::Kind kind, CThumbnail& thumbnail);
    // Samples arriving after this QueryPerformanceCounter time are only timed, not counted or
    // analysed: the figures are the window's.
    void SetWindowEnd(LONGLONG nEnd);
    // The number of samples so far and the last one's arrival (0 for none).
    void GetLastArrival(size_t& nCount, LONGLONG& nLast);
    // MJPG pictures are decoded on a thread of the sink's, not the camera's, the latest one
    // first: a picture waiting when a newer one comes is left out. True when nothing waits and
    // nothing is being decoded, after up to nMs.
    bool WaitForDecoding(DWORD nMs);
    // Ends the decoding after the picture in hand; what waits is dropped.
    void FinishDecoding();
    // Drops what waits at once and returns: a cancel does not wait for the decoder.
    void AbandonDecoding();

private:
    // A colour picture of the grid's points and the frame it came from.
    struct CColourGrid {
        std::vector<BYTE> bgr;
        LONG nColumns = 0;
        LONG nRows = 0;
    };

    HRESULT OnConnect(const AM_MEDIA_TYPE& mt) noexcept override;
    HRESULT OnSample(const CSampleView& sample) noexcept override;
    // An MJPG picture, on the decoder's thread.
    void OnWork(const std::vector<BYTE>& jpeg) noexcept override;
    // Black, frozen and the previous picture from a grid just read, the colours kept in the
    // slot of its kind (the slot's old buffer comes back for the next picture); under the lock.
    void CountGrid(std::vector<BYTE>& grid, CColourGrid& colour, bool bCountFrozen);

    const bool m_bAnalyse;
    HANDLE m_hFirstSample = nullptr;
    // The format's sizes, set at the connection: uncompressed pictures have one; compressed ones
    // at most biSizeImage.
    CPixelLayout m_layout;
    LONG m_nFrameWidth = 0;
    LONG m_nFrameHeight = 0;
    bool m_bMjpg = false;
    size_t m_nExpectedSize = 0;
    // The camera's thread's: the grids being read, and what tells a repeated JPEG.
    std::vector<BYTE> m_grid;
    CColourGrid m_colour;
    size_t m_nLastJpegSize = 0;
    ULONGLONG m_nLastJpegHash = 0;

    // The figures, the previous picture's grid and the kept pictures: the camera's thread, the
    // decoder's and the check's all reach them.
    CCriticalSection m_lock;
    std::vector<BYTE> m_previousGrid;
    CSinkFigures m_figures;
    CColourGrid m_good;
    CColourGrid m_black;
    CColourGrid m_frozen;
    LONGLONG m_nWindowEnd = LLONG_MAX;

    // The decoder thread's own.
    CJpegDecoder m_jpeg;
    CBgrPicture m_decoded;
    std::vector<BYTE> m_decodedGrid;
    CColourGrid m_decodedColour;
    // One picture waits while one is decoded: nothing is left to drain after the window. Last:
    // it ends before what its thread uses goes.
    CSampleWorker m_decoder{1, true};
};
