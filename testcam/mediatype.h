// AM_MEDIA_TYPE helpers for the formats the camera offers.
#pragma once

#include "testcam/config.h"

#include <dshow.h>

namespace testcam {

// Fills `mt` for `format`; its format block comes from CoTaskMemAlloc.
HRESULT InitMediaType(const Format& format, AM_MEDIA_TYPE* mt);
AM_MEDIA_TYPE* CreateMediaType(const Format& format);
// The camera keeps its own copies of the program's media-type helpers: it is a DLL of its own
// that a user registers alone, and sharing them would tie it to the program's build.
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);
void DeleteMediaType(AM_MEDIA_TYPE* mt);
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE& src);

// Whether `mt` asks for `format`, judged as the platform's capture filters judge what SetFormat
// and QueryAccept get: by major type, subtype, format type, frame size and a stated frame time.
// Clients fill in biBitCount, biCompression, biSizeImage or lSampleSize carelessly, and the
// filter answers with its own full type anyway. `topDown` tells which way the rows run.
bool SelectsFormat(const AM_MEDIA_TYPE& mt, const Format& format, bool* topDown);
// Whether `mt`, with every field filled in, describes `format` exactly enough to connect with it
// as it is: the bit depth and compression must be right too.
bool MatchesFormat(const AM_MEDIA_TYPE& mt, const Format& format, bool* topDown);
// Whether a partly specified `mt` (GUID_NULL as a wildcard) allows `format`.
bool AllowsFormat(const AM_MEDIA_TYPE& mt, const Format& format);

// One size per capability; its frame intervals span `shortest` to `longest`, the frame times its
// frame-rate list gives.
void FillCaps(const Format& format, LONGLONG shortest, LONGLONG longest,
              VIDEO_STREAM_CONFIG_CAPS* caps);

} // namespace testcam
