// The platform's own AVI readers, for reading recordings back: the AVIFile functions
// (avifil32: the first RIFF part only, by its 'idx1' or else by scanning its 'movi' list) and the
// AVI splitter in a graph (Wine 8's is GStreamer's demuxer, which follows the OpenDML indexes
// through every part; it offers no media type for MJPG or NV12 streams). Each leaves the calling
// thread's apartment as it was.
#pragma once

#include <windows.h>

#include "media/jpeg_decoder.h"

#include <dshow.h>
#include <vfw.h>

#include <string>
#include <vector>

struct CAviFileView {
    HRESULT hr = E_FAIL;
    AVISTREAMINFOW info{};
    BITMAPINFOHEADER bih{};
    LONG nLength = 0; // AVIStreamLength
    std::vector<std::vector<BYTE>> frames;
};

// Through avifil32: the stream's information and format, and its first nFrames frames (an empty
// slot reads as no bytes). Wine's avifil32 asserts on a frame past those its index holds, and it
// reports the stream header's length: past the first part of an OpenDML file, read none.
CAviFileView ReadWithAviFile(const std::wstring& path, LONG nFrames = 0x7FFFFFFF);

struct CSample {
    REFERENCE_TIME start;
    long nSize;
    std::vector<BYTE> data; // kept for pictures up to 64 KiB
};

struct CSplitterView {
    HRESULT hr = E_FAIL;
    LONGLONG duration = 0; // IMediaSeeking's, 100 ns
    GUID subtype{};
    LONG nHeight = 0; // of the splitter's output: negative for top-down rows
    std::vector<CSample> samples;
};

// Through the file source, the AVI splitter, a sample grabber and a null renderer, as fast as
// it reads (no clock), from `from` to the end; the samples' times are from `from`.
CSplitterView ReadWithSplitter(const std::wstring& path, REFERENCE_TIME from = 0);

// What a recording holds, read through avifil32: its slots, its pictures, its rate.
struct CPlayback {
    CAviFileView file;
    size_t nPictures = 0;  // slots with a picture
    size_t nUndecoded = 0; // pictures that are not a whole frame of the format's size
    CBgrPicture last;      // the last MJPG picture decoded
    double dSeconds = 0;   // slots at the stream's rate
    double dRate = 0;      // the stream header's
};

// Every picture checked: MJPG decoded at the size, an uncompressed one as large as its format.
CPlayback Play(const std::wstring& path, LONG nWidth, LONG nHeight, size_t nRawBytes);
