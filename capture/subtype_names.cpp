#include "capture/subtype_names.h"

#include <uuids.h>

#include <cstring>

namespace {

struct SubtypeName {
    const GUID* pSubtype;
    const wchar_t* pszName;
};

#define SUBTYPE_ROW(name) {&name, L## #name},

// Video, audio, stream and analogue-standard subtypes alike, in this order; searched whole.
const SubtypeName SubtypeNameTable[] = {
    SUBTYPE_ROW(MEDIASUBTYPE_NULL) SUBTYPE_ROW(MEDIASUBTYPE_None) SUBTYPE_ROW(
        MEDIASUBTYPE_ATSC_SI) SUBTYPE_ROW(MEDIASUBTYPE_DVB_SI) SUBTYPE_ROW(MEDIASUBTYPE_MPEG2DATA)
        SUBTYPE_ROW(MEDIASUBTYPE_MPEG2_VIDEO) SUBTYPE_ROW(MEDIASUBTYPE_MPEG2_PROGRAM) SUBTYPE_ROW(
            MEDIASUBTYPE_MPEG2_TRANSPORT) SUBTYPE_ROW(MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE)
            SUBTYPE_ROW(MEDIASUBTYPE_MPEG2_AUDIO) SUBTYPE_ROW(MEDIASUBTYPE_DOLBY_AC3) SUBTYPE_ROW(
                MEDIASUBTYPE_DVD_SUBPICTURE) SUBTYPE_ROW(MEDIASUBTYPE_DVD_LPCM_AUDIO)
                SUBTYPE_ROW(MEDIASUBTYPE_DTS) SUBTYPE_ROW(MEDIASUBTYPE_SDDS) SUBTYPE_ROW(
                    MEDIASUBTYPE_DVD_NAVIGATION_PCI) SUBTYPE_ROW(MEDIASUBTYPE_DVD_NAVIGATION_DSI)
                    SUBTYPE_ROW(MEDIASUBTYPE_DVD_NAVIGATION_PROVIDER) SUBTYPE_ROW(
                        MEDIASUBTYPE_CLPL) SUBTYPE_ROW(MEDIASUBTYPE_YUYV) SUBTYPE_ROW(MEDIASUBTYPE_IYUV)
                        SUBTYPE_ROW(MEDIASUBTYPE_YVU9) SUBTYPE_ROW(MEDIASUBTYPE_Y411) SUBTYPE_ROW(
                            MEDIASUBTYPE_Y41P) SUBTYPE_ROW(MEDIASUBTYPE_YUY2) SUBTYPE_ROW(MEDIASUBTYPE_YVYU)
                            SUBTYPE_ROW(MEDIASUBTYPE_UYVY) SUBTYPE_ROW(MEDIASUBTYPE_Y211) SUBTYPE_ROW(
                                MEDIASUBTYPE_CLJR) SUBTYPE_ROW(MEDIASUBTYPE_IF09) SUBTYPE_ROW(MEDIASUBTYPE_CPLA)
                                SUBTYPE_ROW(MEDIASUBTYPE_MJPG) SUBTYPE_ROW(MEDIASUBTYPE_TVMJ) SUBTYPE_ROW(
                                    MEDIASUBTYPE_WAKE) SUBTYPE_ROW(MEDIASUBTYPE_CFCC) SUBTYPE_ROW(MEDIASUBTYPE_IJPG)
                                    SUBTYPE_ROW(MEDIASUBTYPE_Plum) SUBTYPE_ROW(MEDIASUBTYPE_DVCS) SUBTYPE_ROW(
                                        MEDIASUBTYPE_DVSD) SUBTYPE_ROW(MEDIASUBTYPE_MDVF)
                                        SUBTYPE_ROW(MEDIASUBTYPE_RGB1) SUBTYPE_ROW(MEDIASUBTYPE_RGB4) SUBTYPE_ROW(
                                            MEDIASUBTYPE_RGB8) SUBTYPE_ROW(MEDIASUBTYPE_RGB565) SUBTYPE_ROW(MEDIASUBTYPE_RGB555)
                                            SUBTYPE_ROW(
                                                MEDIASUBTYPE_RGB24) SUBTYPE_ROW(MEDIASUBTYPE_RGB32)
                                                SUBTYPE_ROW(
                                                    MEDIASUBTYPE_ARGB1555) SUBTYPE_ROW(MEDIASUBTYPE_ARGB4444) SUBTYPE_ROW(MEDIASUBTYPE_ARGB32) SUBTYPE_ROW(MEDIASUBTYPE_A2R10G10B10) SUBTYPE_ROW(MEDIASUBTYPE_A2B10G10R10) SUBTYPE_ROW(MEDIASUBTYPE_AYUV) SUBTYPE_ROW(MEDIASUBTYPE_AI44) SUBTYPE_ROW(MEDIASUBTYPE_IA44) SUBTYPE_ROW(MEDIASUBTYPE_RGB32_D3D_DX7_RT) SUBTYPE_ROW(MEDIASUBTYPE_RGB16_D3D_DX7_RT) SUBTYPE_ROW(MEDIASUBTYPE_ARGB32_D3D_DX7_RT) SUBTYPE_ROW(MEDIASUBTYPE_ARGB4444_D3D_DX7_RT) SUBTYPE_ROW(MEDIASUBTYPE_ARGB1555_D3D_DX7_RT) SUBTYPE_ROW(MEDIASUBTYPE_RGB32_D3D_DX9_RT) SUBTYPE_ROW(MEDIASUBTYPE_RGB16_D3D_DX9_RT) SUBTYPE_ROW(MEDIASUBTYPE_ARGB32_D3D_DX9_RT) SUBTYPE_ROW(MEDIASUBTYPE_ARGB4444_D3D_DX9_RT) SUBTYPE_ROW(MEDIASUBTYPE_ARGB1555_D3D_DX9_RT) SUBTYPE_ROW(MEDIASUBTYPE_YV12) SUBTYPE_ROW(MEDIASUBTYPE_NV12) SUBTYPE_ROW(MEDIASUBTYPE_IMC1) SUBTYPE_ROW(MEDIASUBTYPE_IMC2) SUBTYPE_ROW(MEDIASUBTYPE_IMC3) SUBTYPE_ROW(MEDIASUBTYPE_IMC4)
                                                    SUBTYPE_ROW(MEDIASUBTYPE_S340) SUBTYPE_ROW(
                                                        MEDIASUBTYPE_S342) SUBTYPE_ROW(MEDIASUBTYPE_Overlay) SUBTYPE_ROW(MEDIASUBTYPE_MPEG1Packet)
                                                        SUBTYPE_ROW(MEDIASUBTYPE_MPEG1Payload) SUBTYPE_ROW(MEDIASUBTYPE_MPEG1AudioPayload) SUBTYPE_ROW(MEDIASUBTYPE_MPEG1System) SUBTYPE_ROW(
                                                            MEDIASUBTYPE_MPEG1VideoCD) SUBTYPE_ROW(MEDIASUBTYPE_MPEG1Video) SUBTYPE_ROW(MEDIASUBTYPE_MPEG1Audio)
                                                            SUBTYPE_ROW(MEDIASUBTYPE_Avi) SUBTYPE_ROW(
                                                                MEDIASUBTYPE_Asf) SUBTYPE_ROW(MEDIASUBTYPE_QTMovie)
                                                                SUBTYPE_ROW(
                                                                    MEDIASUBTYPE_QTRpza) SUBTYPE_ROW(MEDIASUBTYPE_QTSmc)
                                                                    SUBTYPE_ROW(
                                                                        MEDIASUBTYPE_QTRle) SUBTYPE_ROW(MEDIASUBTYPE_QTJpeg)
                                                                        SUBTYPE_ROW(
                                                                            MEDIASUBTYPE_PCMAudio_Obsolete) SUBTYPE_ROW(MEDIASUBTYPE_PCM)
                                                                            SUBTYPE_ROW(MEDIASUBTYPE_WAVE) SUBTYPE_ROW(
                                                                                MEDIASUBTYPE_AU) SUBTYPE_ROW(MEDIASUBTYPE_AIFF)
                                                                                SUBTYPE_ROW(MEDIASUBTYPE_dvsd) SUBTYPE_ROW(
                                                                                    MEDIASUBTYPE_dvhd) SUBTYPE_ROW(MEDIASUBTYPE_dvsl) SUBTYPE_ROW(MEDIASUBTYPE_dv25) SUBTYPE_ROW(MEDIASUBTYPE_dv50) SUBTYPE_ROW(MEDIASUBTYPE_dvh1) SUBTYPE_ROW(MEDIASUBTYPE_Line21_BytePair) SUBTYPE_ROW(MEDIASUBTYPE_Line21_GOPPacket) SUBTYPE_ROW(MEDIASUBTYPE_Line21_VBIRawData) SUBTYPE_ROW(MEDIASUBTYPE_TELETEXT) SUBTYPE_ROW(MEDIASUBTYPE_DRM_Audio) SUBTYPE_ROW(MEDIASUBTYPE_IEEE_FLOAT)
                                                                                    SUBTYPE_ROW(MEDIASUBTYPE_DOLBY_AC3_SPDIF) SUBTYPE_ROW(MEDIASUBTYPE_RAW_SPORT) SUBTYPE_ROW(
                                                                                        MEDIASUBTYPE_SPDIF_TAG_241h) SUBTYPE_ROW(MEDIASUBTYPE_DssVideo)
                                                                                        SUBTYPE_ROW(MEDIASUBTYPE_DssAudio) SUBTYPE_ROW(MEDIASUBTYPE_VPVideo) SUBTYPE_ROW(
                                                                                            MEDIASUBTYPE_VPVBI) SUBTYPE_ROW(MEDIASUBTYPE_AnalogVideo_NTSC_M)
                                                                                            SUBTYPE_ROW(
                                                                                                MEDIASUBTYPE_AnalogVideo_PAL_B) SUBTYPE_ROW(MEDIASUBTYPE_AnalogVideo_PAL_D)
                                                                                                SUBTYPE_ROW(
                                                                                                    MEDIASUBTYPE_AnalogVideo_PAL_G) SUBTYPE_ROW(MEDIASUBTYPE_AnalogVideo_PAL_H)
                                                                                                    SUBTYPE_ROW(MEDIASUBTYPE_AnalogVideo_PAL_I) SUBTYPE_ROW(
                                                                                                        MEDIASUBTYPE_AnalogVideo_PAL_M)
                                                                                                        SUBTYPE_ROW(MEDIASUBTYPE_AnalogVideo_PAL_N) SUBTYPE_ROW(
                                                                                                            MEDIASUBTYPE_AnalogVideo_PAL_N_COMBO)
                                                                                                            SUBTYPE_ROW(
                                                                                                                MEDIASUBTYPE_AnalogVideo_SECAM_B)
                                                                                                                SUBTYPE_ROW(
                                                                                                                    MEDIASUBTYPE_AnalogVideo_SECAM_D)
                                                                                                                    SUBTYPE_ROW(
                                                                                                                        MEDIASUBTYPE_AnalogVideo_SECAM_G)
                                                                                                                        SUBTYPE_ROW(
                                                                                                                            MEDIASUBTYPE_AnalogVideo_SECAM_H)
                                                                                                                            SUBTYPE_ROW(
                                                                                                                                MEDIASUBTYPE_AnalogVideo_SECAM_K)
                                                                                                                                SUBTYPE_ROW(
                                                                                                                                    MEDIASUBTYPE_AnalogVideo_SECAM_K1)
                                                                                                                                    SUBTYPE_ROW(
                                                                                                                                        MEDIASUBTYPE_AnalogVideo_SECAM_L)};

#undef SUBTYPE_ROW

static_assert(sizeof(SubtypeNameTable) / sizeof(SubtypeNameTable[0]) == 128);

} // namespace

void GetSubtypeName(GUID subtype, CString& strName) {
    CString strFull;
    for (const SubtypeName& row : SubtypeNameTable) {
        if (std::memcmp(row.pSubtype, &subtype, sizeof(GUID)) == 0) {
            strFull = row.pszName;
            break;
        }
    }
    if (strFull.IsEmpty()) {
        strFull.Format(L"%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                       static_cast<unsigned>(subtype.Data1), subtype.Data2, subtype.Data3,
                       subtype.Data4[0], subtype.Data4[1], subtype.Data4[2], subtype.Data4[3],
                       subtype.Data4[4], subtype.Data4[5], subtype.Data4[6], subtype.Data4[7]);
    }
    const wchar_t* pszFull = strFull;
    const wchar_t* pszUnderscore = std::wcschr(pszFull, L'_');
    strName = pszUnderscore != nullptr ? pszUnderscore + 1 : pszFull;
}
