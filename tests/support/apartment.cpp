#include "support/apartment.h"

#include <objbase.h>

namespace {

DWORD WINAPI ApartmentThread(void* pReady) {
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ::SetEvent(static_cast<HANDLE>(pReady));
    if (SUCCEEDED(hr)) {
        ::Sleep(INFINITE); // until the process ends
    }
    return 0;
}

} // namespace

bool HoldMultithreadedApartment() {
    HANDLE hReady = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hThread = ::CreateThread(nullptr, 0, ApartmentThread, hReady, 0, nullptr);
    if (hThread == nullptr) {
        ::CloseHandle(hReady);
        return false;
    }
    ::WaitForSingleObject(hReady, INFINITE);
    ::CloseHandle(hReady);
    ::CloseHandle(hThread);
    return true;
}
