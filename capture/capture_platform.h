// The capture side of the platform: DirectShow's classes and interfaces, the packed result of
// the program's own multi-step operations, and the disposal of the media types it hands out.
#pragma once

#include <windows.h>

#include <dshow.h>

#include "capture/video_format.h"
#include "framework/str.h"

#include <memory>

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
// A deep copy: its own format block and a reference of its own to pUnk. E_OUTOFMEMORY leaves
// `to` holding nothing to free.
HRESULT CopyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from);

// A media type the platform handed out, disposed of with the holder.
using MediaTypeHolder = std::unique_ptr<AM_MEDIA_TYPE, void (*)(AM_MEDIA_TYPE*)>;

// Hands each capability the configuration reports, in the device's order, to fn(pType, caps)
// until fn returns false; fn may keep the media type by moving it out of its holder, else it is
// disposed of. False, with no call, when the pin reports no capabilities of the expected size.
template <class Fn> bool ForEachCapability(IAMStreamConfig* pConfig, Fn fn) {
    int nCount = 0;
    int nSize = 0;
    if (pConfig->GetNumberOfCapabilities(&nCount, &nSize) != S_OK || nCount <= 0 ||
        nSize != sizeof(VIDEO_STREAM_CONFIG_CAPS)) {
        return false;
    }
    for (int i = 0; i < nCount; ++i) {
        AM_MEDIA_TYPE* pmt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        if (pConfig->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&caps)) != S_OK) {
            continue; // nothing handed out
        }
        MediaTypeHolder pType(pmt, DeleteMediaType);
        if (pmt != nullptr && !fn(pType, caps)) {
            break;
        }
    }
    return true;
}

// The capability matching the format's size, frame time and bit rate, the format's own subtype
// preferred, else the first of them (two may differ only in subtype: MJPG and YUY2 of one size,
// or bit rates that both saturate); its media type and caps, or an empty holder.
MediaTypeHolder FindCapability(IAMStreamConfig* pConfig, const VideoFormat& wanted,
                               VIDEO_STREAM_CONFIG_CAPS& chosenCaps);

// A capture filter's capture pin, found by its category as the preview graph finds it.
HRESULT FindCapturePin(IBaseFilter* pFilter, IPin** ppPin);
// The rate the pin's capability for that format's size and subtype states (its shortest
// frame interval), for a media type that states none; -1 when it has none.
double CapabilityFrameRate(IPin* pPin, const VideoFormat& format);

// The VIDEOINFOHEADER of a video capability, or null unless the media type is video described
// by a VIDEOINFOHEADER block that is all there.
const VIDEOINFOHEADER* GetVideoInfo(const AM_MEDIA_TYPE& mt);

// The bitmap header of a stream's media type, from either video information header; null when
// neither is all there. The major type is not looked at: a connection's type may leave it out.
const BITMAPINFOHEADER* GetBitmapHeader(const AM_MEDIA_TYPE& mt);

// What a capture graph's queued events said of its stream.
struct CStreamEvents {
    // The stream stopped with an error (EC_ERRORABORT, EC_STREAM_ERROR_STOPPED).
    bool bFailed = false;
    // The device was removed (EC_DEVICE_LOST with param2 0; 1 says it arrived again).
    bool bRemoved = false;
    bool Stopped() const { return bFailed || bRemoved; }
};
// Reads and frees every event queued so far, without waiting. Under Wine 8 the queue's event
// handle stays set once it is empty, and GetEvent with a timeout answers E_ABORT at once: the
// queue is read until nothing is left.
CStreamEvents DrainStreamEvents(IMediaEvent* pEvents);

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

// A moniker's display name, which stays with its device while devices come and go around it;
// empty when the moniker gives none.
CString GetMonikerName(IMoniker* pMoniker);

// A fresh enumeration of the video input devices walked to one position: Next is called
// nPosition + 1 times (Wine's Skip does not move the enumeration), and every moniker before the
// wanted one is released at once. What it holds goes with the object: the moniker, then the
// class enumerator, then the device enumerator.
class CDeviceWalk {
public:
    // 0 with `m_pMoniker` set; otherwise the step that failed, its result in hr: 1 creating
    // the device enumerator, 2 the class enumerator refused (S_FALSE: no device), 3 none handed
    // out, 4 the last Next.
    DWORD Find(int nPosition, HRESULT& hr);
    // The same, for the device whose moniker has that display name: 4 when none has.
    DWORD FindByName(const wchar_t* pszDisplayName, HRESULT& hr);

    CComRef<ICreateDevEnum> m_pDevEnum;
    CComRef<IEnumMoniker> m_pClassEnum;
    CComRef<IMoniker> m_pMoniker;

private:
    // The device and class enumerators: 0, or the step that failed as for Find.
    DWORD Open(HRESULT& hr);
};
