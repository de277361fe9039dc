#include "capture/video_format.h"

#include "capture/subtype_names.h"

double FrameRate(LONGLONG frameTime) {
    constexpr double kSecondsPerUnit = 0x1.AD7F29ABCAF49p-24;
    return 1.0 / (static_cast<double>(frameTime) * kSecondsPerUnit);
}

void GetFormatEntryText(const VideoFormat& format, CString& strText) {
    CString strSubtype;
    GetSubtypeName(format.subtype, strSubtype);
    // The bit rate is unsigned: rates of 2^31 and above are real (uncompressed HD at 60 fps).
    strText.Format(L"%dx%d %5.1f %s %u", static_cast<int>(format.width),
                   static_cast<int>(format.height), FrameRate(format.frameTime),
                   static_cast<const wchar_t*>(strSubtype), static_cast<unsigned>(format.bitRate));
}
