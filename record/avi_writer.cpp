#include "record/avi_writer.h"

#include "framework/clock.h"
#include "framework/files.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

// A frame stamped further ahead than this is taken for a broken clock, not a gap to fill.
constexpr LONGLONG kLongestGap = 24ll * 3600 * 10000000;

} // namespace

LONGLONG ThreadCpuUs() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    auto ticks = [](const FILETIME& ft) {
        return static_cast<LONGLONG>(static_cast<ULONGLONG>(ft.dwHighDateTime) << 32 |
                                     ft.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10;
}

CAviWriter::CAviWriter() {
    m_qpcFrequency = AfxQpcFrequency();
    m_hWork = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CAviWriter::~CAviWriter() {
    Stop(5000);
    ::CloseHandle(m_hWork);
    ::CloseHandle(m_hEnded);
}

bool CAviWriter::DiskLow(std::wstring& text) const {
    ULARGE_INTEGER free;
    if (!::GetDiskFreeSpaceExW(m_strFolder.empty() ? nullptr : m_strFolder.c_str(), &free, nullptr,
                               nullptr) ||
        free.QuadPart >= m_options.nFreeSpaceMargin) {
        return false; // a disk that does not say is written until a write fails
    }
    wchar_t szText[96];
    ::swprintf(szText, 96, L"less than %llu MB is free on the disk",
               (m_options.nFreeSpaceMargin + (1u << 20) - 1) >> 20);
    text = szText;
    return true;
}

bool CAviWriter::Open(const std::wstring& path, const AM_MEDIA_TYPE& mt, LONGLONG frameTime,
                      const CAviWriterOptions& options, std::wstring& error) {
    if (m_hThread != nullptr && ::WaitForSingleObject(m_hThread, 0) == WAIT_OBJECT_0) {
        Stop(0); // the last recording ended by itself
    }
    if (m_hThread != nullptr || m_hWork == nullptr || m_hEnded == nullptr) {
        error = L"a recording is already running";
        return false;
    }
    if (AfxIsDeviceName(path)) {
        error = L"it names a device, not a file";
        return false;
    }
    CAviVideoFormat format;
    if (!DescribeAviFormat(mt, frameTime, format, error)) {
        return false;
    }
    m_format = format;
    m_options = options;
    size_t nSlash = path.find_last_of(L"\\/");
    m_strFolder = nSlash == std::wstring::npos ? L"" : path.substr(0, nSlash + 1);
    if (DiskLow(error)) {
        return false;
    }
    auto pFile = std::make_unique<CAviFile>();
    pFile->m_bHolesForPictures = options.bHolesForPictures;
    DWORD nError = pFile->Create(path, format);
    if (nError != ERROR_SUCCESS) {
        error = AfxSystemErrorText(nError);
        return false;
    }
    {
        CSingleLock lock(m_lock);
        m_pFile = std::move(pFile);
        m_queue.clear();
        m_nNextSlot = 0;
        m_bStopping = false;
        m_bAbandon = false;
        m_bEnded = false;
        m_status = CAviWriterStatus();
        m_status.nBytesWritten = m_pFile->FileBytes();
        m_status.bRunning = true;
    }
    ::ResetEvent(m_hEnded);
    m_hThread = ::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (m_hThread == nullptr) {
        error = AfxSystemErrorText(::GetLastError());
        m_pFile->Finish(); // an empty recording that plays
        CSingleLock lock(m_lock);
        m_bEnded = true;
        m_status.bRunning = false;
        return false;
    }
    return true;
}

bool CAviWriter::Push(const BYTE* pData, size_t nSize, LONGLONG time) {
    const LONGLONG tStart = AfxQpcNow();
    CSingleLock lock(m_lock);
    if (m_bEnded || m_bStopping) {
        return false;
    }
    const size_t nPicture = m_format.bUncompressed ? m_format.nImageSize : nSize;
    const LONGLONG slot = time >= 0 ? time / m_format.frameTime : -1;
    bool bTaken = false;
    if (pData == nullptr || nSize == 0 || nSize < nPicture || nSize > 0x7FFFFFF0u ||
        (slot > 0 && static_cast<ULONGLONG>(slot) > m_nNextSlot &&
         (static_cast<ULONGLONG>(slot) - m_nNextSlot) * static_cast<ULONGLONG>(m_format.frameTime) >
             static_cast<ULONGLONG>(kLongestGap))) {
        m_status.nRefused++;
    } else if (slot + 1 < static_cast<LONGLONG>(m_nNextSlot)) {
        // Its own slot and the one after are taken: too late to keep real time.
        m_status.nDroppedLate++;
    } else if (m_options.nSlotLimit > 0 &&
               std::max<ULONGLONG>(m_nNextSlot, static_cast<ULONGLONG>(slot < 0 ? 0 : slot)) >=
                   m_options.nSlotLimit) {
        // Past a timed recording's end: its time is up, nothing is lost.
    } else if (m_status.nQueueFrames >= m_options.nQueueFrames ||
               m_status.nQueueBytes + nPicture > m_options.nQueueBytes) {
        m_status.nDroppedQueue++;
    } else {
        std::unique_ptr<CFrame> pFrame;
        if (!m_spare.empty()) {
            pFrame = std::move(m_spare.back());
            m_spare.pop_back();
        } else {
            pFrame = std::make_unique<CFrame>();
        }
        // Its slot, or the next when a frame before it took that one.
        pFrame->nSlot =
            std::max<ULONGLONG>(m_nNextSlot, static_cast<ULONGLONG>(slot < 0 ? 0 : slot));
        pFrame->nSize = static_cast<DWORD>(nPicture);
        std::vector<BYTE>& chunk = pFrame->chunk;
        chunk.resize(8 + nPicture + 1);
        if (m_format.bSourceTopDown) {
            // Stored bottom-up, as a DIB with a positive height is read.
            const size_t nStride = m_format.nSourceStride;
            const size_t nRows = static_cast<size_t>(m_format.nHeight);
            for (size_t y = 0; y < nRows; ++y) {
                std::memcpy(&chunk[8 + y * nStride], pData + (nRows - 1 - y) * nStride, nStride);
            }
        } else {
            std::memcpy(&chunk[8], pData, nPicture);
        }
        m_nNextSlot = pFrame->nSlot + 1;
        m_queue.push_back(std::move(pFrame));
        m_status.nQueueFrames++;
        m_status.nQueueBytes += nPicture;
        m_status.nQueueFramesMost = std::max(m_status.nQueueFramesMost, m_status.nQueueFrames);
        bTaken = true;
    }
    const LONGLONG nUs = (AfxQpcNow() - tStart) * 1000000 / m_qpcFrequency;
    m_status.nLongestPushUs = std::max(m_status.nLongestPushUs, nUs);
    if (bTaken) {
        ::SetEvent(m_hWork);
    }
    return bTaken;
}

void CAviWriter::Stop(DWORD nDeadlineMs) {
    if (m_hThread == nullptr) {
        return;
    }
    {
        CSingleLock lock(m_lock);
        m_bStopping = true;
    }
    ::SetEvent(m_hWork);
    if (::WaitForSingleObject(m_hThread, nDeadlineMs) == WAIT_TIMEOUT) {
        {
            CSingleLock lock(m_lock);
            m_bAbandon = true;
        }
        ::SetEvent(m_hWork);
        ::WaitForSingleObject(m_hThread, INFINITE);
    }
    ::CloseHandle(m_hThread);
    m_hThread = nullptr;
}

void CAviWriter::GetStatus(CAviWriterStatus& status) const {
    CSingleLock lock(m_lock);
    status = m_status;
}

DWORD WINAPI CAviWriter::ThreadProc(void* pParam) {
    static_cast<CAviWriter*>(pParam)->WriteLoop();
    return 0;
}

DWORD CAviWriter::WriteFrame(CFrame& frame) {
    DWORD nError = ERROR_SUCCESS;
    while (nError == ERROR_SUCCESS && m_pFile->Slots() < frame.nSlot) {
        nError = m_pFile->AddSlot(nullptr, 0);
    }
    if (nError == ERROR_SUCCESS) {
        nError = m_pFile->AddSlot(frame.chunk.data(), frame.nSize);
    }
    return nError;
}

void CAviWriter::WriteLoop() {
    ULONGLONG nNextCheckpoint = ::GetTickCount64() + m_options.nCheckpointMs;
    AviEnd end = AviEnd::Stopped;
    std::wstring text;
    for (;;) {
        std::unique_ptr<CFrame> pFrame;
        bool bStopping = false;
        {
            CSingleLock lock(m_lock);
            if (m_bAbandon) {
                m_status.nDroppedQueue += m_queue.size();
                m_queue.clear();
                m_status.nQueueFrames = 0;
                m_status.nQueueBytes = 0;
            }
            if (!m_queue.empty()) {
                pFrame = std::move(m_queue.front());
                m_queue.pop_front();
            }
            bStopping = m_bStopping;
        }
        DWORD nError = ERROR_SUCCESS;
        const bool bFrame = pFrame != nullptr;
        if (bFrame) {
            nError = WriteFrame(*pFrame);
            CSingleLock lock(m_lock);
            m_status.nQueueFrames--;
            m_status.nQueueBytes -= pFrame->nSize;
            m_status.nFramesWritten = m_pFile->Pictures();
            m_status.nEmptySlots = m_pFile->Slots() - m_pFile->Pictures();
            m_status.nBytesWritten = m_pFile->FileBytes();
            m_status.duration = static_cast<LONGLONG>(m_pFile->Slots()) * m_format.frameTime;
            if (m_spare.size() < m_options.nQueueFrames) {
                m_spare.push_back(std::move(pFrame));
            }
        } else if (bStopping) {
            break;
        }
        if (nError == ERROR_SUCCESS && ::GetTickCount64() >= nNextCheckpoint) {
            if (m_pFile->SecuredSlots() != m_pFile->Slots()) {
                nError = m_pFile->Checkpoint();
            }
            if (nError == ERROR_SUCCESS && DiskLow(text)) {
                end = AviEnd::LowDiskSpace;
                break;
            }
            nNextCheckpoint = ::GetTickCount64() + m_options.nCheckpointMs;
            CSingleLock lock(m_lock);
            m_status.nSecuredSlots = m_pFile->SecuredSlots();
            m_status.nWriterCpuUs = ThreadCpuUs();
        }
        if (nError != ERROR_SUCCESS) {
            end = nError == ERROR_FILE_TOO_LARGE ? AviEnd::FileLimit : AviEnd::WriteFailed;
            text = nError == ERROR_FILE_TOO_LARGE ? L"the file's indexes are full"
                                                  : AfxSystemErrorText(nError);
            break;
        }
        if (!bFrame) {
            ULONGLONG nNow = ::GetTickCount64();
            ::WaitForSingleObject(
                m_hWork, nNow >= nNextCheckpoint ? 0 : static_cast<DWORD>(nNextCheckpoint - nNow));
        }
    }
    End(end, text);
}

void CAviWriter::End(AviEnd end, const std::wstring& text) {
    {
        // No more frames: what waits now is lost, and counted.
        CSingleLock lock(m_lock);
        m_bEnded = true;
        m_status.nDroppedQueue += m_queue.size();
        m_queue.clear();
        m_status.nQueueFrames = 0;
        m_status.nQueueBytes = 0;
    }
    DWORD nError = m_pFile->Finish();
    CSingleLock lock(m_lock);
    m_status.end = end;
    m_status.strEnd = text;
    if (end == AviEnd::Stopped && nError != ERROR_SUCCESS) {
        m_status.end = AviEnd::WriteFailed;
        m_status.strEnd = AfxSystemErrorText(nError);
    }
    m_status.nFramesWritten = m_pFile->Pictures();
    m_status.nEmptySlots = m_pFile->Slots() - m_pFile->Pictures();
    m_status.nBytesWritten = m_pFile->FileBytes();
    m_status.nSecuredSlots = m_pFile->SecuredSlots();
    m_status.duration = static_cast<LONGLONG>(m_pFile->Slots()) * m_format.frameTime;
    m_status.nWriterCpuUs = ThreadCpuUs();
    m_status.bRunning = false;
    ::SetEvent(m_hEnded);
}
