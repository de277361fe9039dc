// The capture side of the platform: DirectShow's classes and interfaces, the packed result of
// the program's own multi-step operations, and the disposal of the media types it hands out.
#pragma once

#include <windows.h>

#include <dshow.h>

// Stage number in the high half (0 for success), the deciding platform result's low 16 bits
// or a count in the low half. Below 0x10000 is success.
typedef DWORD StageResult;

inline StageResult MakeStageResult(DWORD nStage, DWORD nLow) {
    return (nStage << 16) | (nLow & 0xFFFF);
}

inline bool StageSucceeded(StageResult result) {
    return result < 0x10000;
}

// Frees what a media type points to. The byte count, not the pointer, says whether there is a
// format block: a platform object may leave a stale pointer behind a count of 0.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a media type that GetStreamCaps handed out, contents and all; null is allowed.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);

// The VIDEOINFOHEADER of a video capability, or null unless the media type is video described
// by a VIDEOINFOHEADER block that is all there.
const VIDEOINFOHEADER* GetVideoInfo(const AM_MEDIA_TYPE& mt);

// One reference to an interface, released when the scope ends: the enumeration allocates as it
// goes, and an out-of-memory exception must not leak the platform objects it holds.
template <class T> class CComRef {
public:
    CComRef() = default;
    ~CComRef() { Release(); }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;

    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    // For the platform call that fills it; it must be empty then.
    T** operator&() { return &m_p; }
    void** Out() { return reinterpret_cast<void**>(&m_p); }

    void Release() {
        if (m_p != nullptr) {
            m_p->Release();
            m_p = nullptr;
        }
    }

private:
    T* m_p = nullptr;
};
