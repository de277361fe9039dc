#include "record/recorder.h"

#include "framework/apartment.h"
#include "framework/clock.h"
#include "framework/dib.h"

#include <dvdmedia.h>
#include <uuids.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>

namespace {

// The type the writer is given for pictures the recorder encodes: MJPG of the source's size,
// room for a picture as large as its 24-bit pixels.
void MakeMjpgType(const CPixelLayout& layout, LONGLONG frameTime, AM_MEDIA_TYPE& mt,
                  VIDEOINFOHEADER& vih) {
    vih = VIDEOINFOHEADER{};
    vih.AvgTimePerFrame = frameTime;
    vih.bmiHeader = AfxRgbBitmapHeader(layout.nWidth, layout.nHeight, 24);
    vih.bmiHeader.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
    vih.bmiHeader.biSizeImage = static_cast<DWORD>(static_cast<size_t>(layout.nWidth) * 3 *
                                                   static_cast<size_t>(layout.nHeight));
    mt = AM_MEDIA_TYPE{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_MJPG;
    mt.bTemporalCompression = FALSE;
    mt.lSampleSize = 0;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof(vih);
    mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
}

} // namespace

CRecorder::CRecorder() {
    m_nQpcFrequency = AfxQpcFrequency();
    m_hWork = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

CRecorder::~CRecorder() {
    Stop(5000);
    if (m_hWork != nullptr) {
        ::CloseHandle(m_hWork);
    }
}

bool CRecorder::Open(const std::wstring& path, const AM_MEDIA_TYPE& mt, LONGLONG frameTime,
                     const CRecorderOptions& options, std::wstring& error) {
    {
        CSingleLock lock(m_lock);
        if (m_bOpen || m_hEncoder != nullptr) {
            error = L"a recording is already running";
            return false;
        }
    }
    if (m_hWork == nullptr) {
        error = L"out of resources";
        return false;
    }
    m_options = options;
    m_layout = PixelLayoutOf(mt);
    m_bEncode = !options.bUncompressed && m_layout.pixels != SourcePixels::Unsupported;
    if (frameTime <= 0) {
        const VIDEOINFOHEADER* pvih = GetVideoInfo(mt);
        frameTime = pvih != nullptr ? pvih->AvgTimePerFrame : 0;
    }
    AM_MEDIA_TYPE mjpg;
    VIDEOINFOHEADER vih;
    if (m_bEncode) {
        MakeMjpgType(m_layout, frameTime, mjpg, vih);
    }
    m_frameTime = frameTime;
    CAviWriterOptions writerOptions = options.writer;
    if (options.nTimeLimit > 0 && frameTime > 0) {
        // The slots the time holds; a frame moved on by one before it would make one more.
        writerOptions.nSlotLimit =
            static_cast<ULONGLONG>((options.nTimeLimit + frameTime / 2) / frameTime);
    }
    if (!m_writer.Open(path, m_bEncode ? mjpg : mt, frameTime, writerOptions, error)) {
        return false;
    }
    m_bFirst = true;
    HANDLE hEncoder = nullptr;
    if (m_bEncode) {
        hEncoder = ::CreateThread(nullptr, 0, EncodeThreadProc, this, CREATE_SUSPENDED, nullptr);
        if (hEncoder == nullptr) {
            error = L"the encoder did not start";
            m_writer.Stop(0); // an empty recording that plays
            return false;
        }
    }
    {
        CSingleLock lock(m_lock);
        m_jobs.clear();
        m_bStopEncoder = false;
        m_bAbandon = false;
        m_counts = CRecorderCounts{};
        m_hEncoder = hEncoder;
        m_bOpen = true;
    }
    if (hEncoder != nullptr) {
        ::ResumeThread(hEncoder);
    }
    return true;
}

LONGLONG CRecorder::SampleTime(const CSampleView& sample) {
    if (m_bFirst) {
        m_bFirst = false;
        m_bStamped = sample.bHasStart;
        m_tFirst = sample.tStart;
        m_nFirstArrival = sample.nArrival;
    }
    if (m_bStamped && sample.bHasStart) {
        return sample.tStart - m_tFirst;
    }
    // No stamp: its arrival, in 100 ns, split to keep the product in range.
    const LONGLONG nTicks = sample.nArrival - m_nFirstArrival;
    return nTicks / m_nQpcFrequency * 10000000 +
           nTicks % m_nQpcFrequency * 10000000 / m_nQpcFrequency;
}

void CRecorder::OnSample(const CSampleView& sample) noexcept {
    const LONGLONG nStart = AfxQpcNow();
    TakeSample(sample);
    const LONGLONG nUs = (AfxQpcNow() - nStart) * 1000000 / m_nQpcFrequency;
    CSingleLock lock(m_lock);
    m_counts.nLongestSampleUs = std::max(m_counts.nLongestSampleUs, nUs);
}

void CRecorder::TakeSample(const CSampleView& sample) noexcept {
    {
        CSingleLock lock(m_lock);
        if (!m_bOpen) {
            return;
        }
        m_counts.nSamples++;
        m_counts.nLastSampleArrival = sample.nArrival != 0 ? sample.nArrival : AfxQpcNow();
    }
    const LONGLONG time = SampleTime(sample);
    if (m_options.nTimeLimit > 0 && m_frameTime > 0 &&
        time / m_frameTime >= (m_options.nTimeLimit + m_frameTime / 2) / m_frameTime) {
        CSingleLock lock(m_lock);
        m_counts.bLimitReached = true;
        return;
    }
    if (sample.pNewType != nullptr) {
        // A stream that changes its format mid-way cannot go on in the same file.
        CSingleLock lock(m_lock);
        m_counts.nEncodeFailed++;
        return;
    }
    if (!m_bEncode) {
        m_writer.Push(sample.pData, sample.nLength, time);
        return;
    }
    std::unique_ptr<CJob> pJob;
    {
        CSingleLock lock(m_lock);
        if (sample.pData == nullptr || sample.nLength < m_layout.ImageBytes()) {
            m_counts.nEncodeFailed++; // a short picture: nothing to encode
            return;
        }
        // Only this thread adds to the queue: it can only shrink before the picture joins it.
        if (m_jobs.size() >= m_options.nEncodeQueue) {
            m_counts.nDroppedEncoder++;
            return;
        }
        if (!m_spare.empty()) {
            pJob = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    // The copy outside the lock, which the encoder's thread takes between pictures.
    bool bQueued = false;
    try {
        if (pJob == nullptr) {
            pJob = std::make_unique<CJob>();
        }
        pJob->data.resize(m_layout.ImageBytes());
        std::memcpy(pJob->data.data(), sample.pData, pJob->data.size());
        pJob->time = time;
        CSingleLock lock(m_lock);
        m_jobs.push_back(std::move(pJob));
        bQueued = true;
    } catch (...) {
        // out of memory: this picture is lost, and counted below
    }
    if (!bQueued) {
        CSingleLock lock(m_lock);
        m_counts.nDroppedEncoder++;
        return;
    }
    ::SetEvent(m_hWork);
}

DWORD WINAPI CRecorder::EncodeThreadProc(void* pParam) {
    CComApartment apartment;
    static_cast<CRecorder*>(pParam)->EncodeLoop();
    return 0;
}

void CRecorder::Encode(CImageEncoder& encoder, const CJob& job) {
    const auto nWidth = static_cast<UINT>(m_layout.nWidth);
    const auto nHeight = static_cast<UINT>(m_layout.nHeight);
    const auto nStride = static_cast<UINT>(AfxDibStride(m_layout.nWidth, 24));
    bool bOk = false;
    try {
        m_bgr.resize(static_cast<size_t>(nStride) * nHeight);
        bOk = ConvertToBgr24(m_layout, job.data.data(), job.data.size(), m_bgr.data(), nStride) &&
              SUCCEEDED(encoder.Encode(GUID_ContainerFormatJpeg, m_bgr.data(), nWidth, nHeight,
                                       nStride, m_options.fQuality, m_jpeg));
    } catch (...) {
        bOk = false;
    }
    if (bOk) {
        m_writer.Push(m_jpeg.data(), m_jpeg.size(), job.time);
    } else {
        CSingleLock lock(m_lock);
        m_counts.nEncodeFailed++;
    }
}

void CRecorder::EncodeLoop() {
    // Made and released in this thread's apartment.
    CImageEncoder encoder;
    const bool bOpen = SUCCEEDED(encoder.Open());
    for (;;) {
        std::unique_ptr<CJob> pJob;
        {
            CSingleLock lock(m_lock);
            if (m_bAbandon || !bOpen) {
                m_counts.nDroppedEncoder += m_jobs.size();
                m_jobs.clear();
            }
            if (!m_jobs.empty()) {
                pJob = std::move(m_jobs.front());
                m_jobs.pop_front();
            } else if (m_bStopEncoder) {
                break;
            }
        }
        if (pJob == nullptr) {
            ::WaitForSingleObject(m_hWork, 1000);
            continue;
        }
        Encode(encoder, *pJob);
        CSingleLock lock(m_lock);
        m_counts.nEncoderCpuUs = ThreadCpuUs();
        try {
            m_spare.push_back(std::move(pJob));
        } catch (...) {
            // not kept for the next picture
        }
    }
    CSingleLock lock(m_lock);
    m_counts.nEncoderCpuUs = ThreadCpuUs();
}

void CRecorder::Stop(DWORD nDeadlineMs) {
    const ULONGLONG nStart = ::GetTickCount64();
    {
        CSingleLock lock(m_lock);
        m_bOpen = false;
        m_bStopEncoder = true;
    }
    if (m_hEncoder != nullptr) {
        ::SetEvent(m_hWork);
        if (::WaitForSingleObject(m_hEncoder, nDeadlineMs) == WAIT_TIMEOUT) {
            {
                CSingleLock lock(m_lock);
                m_bAbandon = true;
            }
            ::SetEvent(m_hWork);
            ::WaitForSingleObject(m_hEncoder, INFINITE); // one picture at the most
        }
        ::CloseHandle(m_hEncoder);
        m_hEncoder = nullptr;
    }
    const ULONGLONG nSpent = ::GetTickCount64() - nStart;
    m_writer.Stop(nSpent >= nDeadlineMs ? 0 : static_cast<DWORD>(nDeadlineMs - nSpent));
}

void CRecorder::GetStatus(CRecorderStatus& status) const {
    CAviWriterStatus& writer = status;
    m_writer.GetStatus(writer);
    CSingleLock lock(m_lock);
    static_cast<CRecorderCounts&>(status) = m_counts;
}
