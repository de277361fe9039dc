#include "preview/graph_stopper.h"

#include "framework/apartment.h"

#include <algorithm>
#include <new>

struct CGraphStopper::CJob {
    IMediaControl* pControl = nullptr;
    std::vector<IUnknown*> interfaces;
    CString strDevice;
    HANDLE hThread = nullptr;
    volatile LONG nDone = 0;
};

CGraphStopper::~CGraphStopper() {
    // A thread still waiting for its driver keeps its job; closing the handle ends nothing.
    for (const std::shared_ptr<CJob>& pJob : m_jobs) {
        ::CloseHandle(pJob->hThread);
    }
}

namespace {

void StopAndRelease(IMediaControl* pControl, const std::vector<IUnknown*>& interfaces) {
    if (pControl != nullptr) {
        pControl->Stop();
    }
    // Wine's filter graph stops again in its final Release, which returns at once now.
    for (IUnknown* pInterface : interfaces) {
        if (pInterface != nullptr) {
            pInterface->Release();
        }
    }
}

} // namespace

void CGraphStopper::Run(CJob& job) {
    {
        CComApartment apartment;
        StopAndRelease(job.pControl, job.interfaces);
        job.interfaces.clear();
    }
    ::InterlockedExchange(&job.nDone, 1);
}

DWORD WINAPI CGraphStopper::ThreadProc(void* pParam) {
    auto* pJob = static_cast<std::shared_ptr<CJob>*>(pParam);
    Run(**pJob);
    delete pJob;
    return 0;
}

bool CGraphStopper::Stop(IMediaControl* pControl, const std::vector<IUnknown*>& interfaces,
                         const wchar_t* pszDevice, DWORD nWaitMs) {
    Prune();
    std::shared_ptr<CJob> pJob;
    std::shared_ptr<CJob>* pParam = nullptr;
    try {
        pJob = std::make_shared<CJob>();
        pJob->pControl = pControl;
        pJob->interfaces = interfaces;
        pJob->strDevice = pszDevice != nullptr ? pszDevice : L"";
        m_jobs.reserve(m_jobs.size() + 1);
        pParam = new std::shared_ptr<CJob>(pJob);
    } catch (...) {
        pParam = nullptr;
    }
    HANDLE hThread =
        pParam != nullptr ? ::CreateThread(nullptr, 0, ThreadProc, pParam, 0, nullptr) : nullptr;
    if (hThread == nullptr) {
        // No thread to be had: stopped here, however long the driver takes.
        delete pParam;
        if (pJob != nullptr) {
            pJob->interfaces.clear();
        }
        StopAndRelease(pControl, interfaces);
        return true;
    }
    pJob->hThread = hThread;
    m_jobs.push_back(pJob);
    // Sent messages are answered meanwhile: a renderer whose window lives on this thread may
    // send to it from the stopping thread, and other programs ask whether the window answers.
    // Posted ones wait: nothing of the window runs inside a stop.
    const ULONGLONG nDeadline = ::GetTickCount64() + nWaitMs;
    for (;;) {
        ULONGLONG nNow = ::GetTickCount64();
        DWORD nLeft = nNow >= nDeadline ? 0 : static_cast<DWORD>(nDeadline - nNow);
        DWORD nWait = ::MsgWaitForMultipleObjectsEx(1, &hThread, nLeft, QS_SENDMESSAGE, 0);
        if (nWait == WAIT_OBJECT_0) {
            return true;
        }
        if (nWait != WAIT_OBJECT_0 + 1) {
            return false;
        }
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool CGraphStopper::IsStopping(const wchar_t* pszDevice) {
    Prune();
    return std::any_of(m_jobs.begin(), m_jobs.end(), [pszDevice](const std::shared_ptr<CJob>& p) {
        return p->nDone == 0 && pszDevice != nullptr && p->strDevice == pszDevice;
    });
}

void CGraphStopper::Prune() {
    m_jobs.erase(std::remove_if(m_jobs.begin(), m_jobs.end(),
                                [](const std::shared_ptr<CJob>& p) {
                                    if (::WaitForSingleObject(p->hThread, 0) != WAIT_OBJECT_0) {
                                        return false;
                                    }
                                    ::CloseHandle(p->hThread);
                                    return true;
                                }),
                 m_jobs.end());
}
