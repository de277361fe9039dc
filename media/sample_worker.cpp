#include "media/sample_worker.h"

#include "framework/apartment.h"

#include <objbase.h>

CSampleWorker::~CSampleWorker() {
    Finish(0);
}

bool CSampleWorker::Start(IHandler* pHandler) {
    if (m_hThread != nullptr || pHandler == nullptr) {
        return false;
    }
    m_hWork = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hIdle = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (m_hWork != nullptr && m_hIdle != nullptr) {
        m_pHandler = pHandler;
        {
            CSingleLock lock(m_lock);
            m_bStop = false;
        }
        m_hThread = ::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    }
    if (m_hThread == nullptr) {
        Finish(0); // the events
        return false;
    }
    return true;
}

bool CSampleWorker::Post(const BYTE* pData, size_t nSize) noexcept {
    CSingleLock lock(m_lock);
    if (m_bStop || m_nMaxQueued == 0 || (m_queue.size() >= m_nMaxQueued && !m_bKeepLatest)) {
        return false;
    }
    try {
        if (m_queue.size() >= m_nMaxQueued) {
            // The oldest one's buffer takes the new bytes: no allocation once it runs.
            std::vector<BYTE> recycled;
            recycled.swap(m_queue.front());
            m_queue.pop_front();
            recycled.assign(pData, pData + nSize);
            m_queue.push_back(std::move(recycled));
            return true;
        }
        m_queue.emplace_back(pData, pData + nSize);
    } catch (...) {
        return false;
    }
    ::ResetEvent(m_hIdle);
    ::SetEvent(m_hWork);
    return true;
}

size_t CSampleWorker::Drop() {
    CSingleLock lock(m_lock);
    size_t nDropped = m_queue.size();
    m_queue.clear();
    if (!m_bBusy && m_hIdle != nullptr) {
        ::SetEvent(m_hIdle);
    }
    return nDropped;
}

bool CSampleWorker::WaitIdle(DWORD nMs) {
    return m_hThread == nullptr || ::WaitForSingleObject(m_hIdle, nMs) == WAIT_OBJECT_0;
}

size_t CSampleWorker::Finish(DWORD nMs) {
    if (m_hThread != nullptr) {
        ::WaitForSingleObject(m_hIdle, nMs);
    }
    size_t nDropped = 0;
    {
        CSingleLock lock(m_lock);
        m_bStop = true;
        nDropped = m_queue.size();
        m_queue.clear();
    }
    if (m_hThread != nullptr) {
        ::SetEvent(m_hWork);
        ::WaitForSingleObject(m_hThread, INFINITE); // after the sample in hand, if any
        ::CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    for (HANDLE* phEvent : {&m_hWork, &m_hIdle}) {
        if (*phEvent != nullptr) {
            ::CloseHandle(*phEvent);
            *phEvent = nullptr;
        }
    }
    return nDropped;
}

DWORD WINAPI CSampleWorker::ThreadProc(void* pParam) {
    CComApartment apartment;
    static_cast<CSampleWorker*>(pParam)->WorkQueued();
    return 0;
}

void CSampleWorker::WorkQueued() {
    for (;;) {
        std::vector<BYTE> data;
        bool bHave = false;
        {
            CSingleLock lock(m_lock);
            m_bBusy = false;
            if (m_bStop) {
                return;
            }
            if (m_queue.empty()) {
                ::SetEvent(m_hIdle);
            } else {
                data.swap(m_queue.front());
                m_queue.pop_front();
                m_bBusy = bHave = true;
            }
        }
        if (bHave) {
            m_pHandler->OnWork(data);
        } else {
            ::WaitForSingleObject(m_hWork, INFINITE);
        }
    }
}
