// The check's consumer of the stream (media/sink_filter.h): per sample its arrival time, its
// size against the format's and, unless it only counts, whether the picture is black or the
// same as the one before. It takes every media type a camera offers and renders nothing.
#pragma once

#include "check/frame_grid.h"
#include "media/jpeg_decoder.h"
#include "media/sample_worker.h"
#include "media/sink_filter.h"

#include <vector>

// What the sink saw, copied out under its lock.
struct CSinkFigures {
    std::vector<LONGLONG> arrivals; // QueryPerformanceCounter at each sample
    long nShort = 0;
    long nEmpty = 0;
    long nOversized = 0;
    long nBlack = 0;
    long nFrozen = 0;
    long nUndecoded = 0; // pictures the grid could not be read from
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
    // MJPG pictures are decoded on a thread of the sink's, not the camera's: waits up to nMs
    // for the pictures queued so far (the rest count as not decoded), then ends the thread.
    void FinishDecoding(DWORD nMs);

private:
    HRESULT OnConnect(const AM_MEDIA_TYPE& mt) noexcept override;
    HRESULT OnSample(const CSampleView& sample) noexcept override;
    // An MJPG picture, on the decoder's thread.
    void OnWork(const std::vector<BYTE>& jpeg) noexcept override;
    // Black, frozen and the previous picture from a grid just read; under the lock.
    void CountGrid(std::vector<BYTE>& grid);

    const bool m_bAnalyse;
    HANDLE m_hFirstSample = nullptr;
    // The format's sizes, set at the connection: uncompressed pictures have one; compressed ones
    // at most biSizeImage.
    CGridLayout m_layout;
    bool m_bMjpg = false;
    size_t m_nExpectedSize = 0;
    std::vector<BYTE> m_grid; // the camera's thread's

    // The figures and the previous picture's grid: the camera's thread, the decoder's and the
    // check's all reach them.
    CCriticalSection m_lock;
    std::vector<BYTE> m_previousGrid;
    CSinkFigures m_figures;

    // The decoder thread's own.
    CJpegDecoder m_jpeg;
    CBgrPicture m_decoded;
    std::vector<BYTE> m_decodedGrid;
    // About eight seconds at 30 fps; beyond it pictures are counted as not decoded. Last: it
    // ends before what its thread uses goes.
    CSampleWorker m_decoder{256};
};
