// An AVI file of one video stream, written as it grows: RIFF with the OpenDML extension, parts of
// at most 1 GiB (the first 'AVI ', the later ones 'AVIX'), each with a standard index ('ix00')
// reserved ahead of its 'movi' list, a super index ('indx') in the stream header, and a legacy
// 'idx1' after the first part. The header and the indexes are brought up to date by Checkpoint,
// so that the file as it stands on disk after one plays whatever it held then.
#pragma once

#include "framework/object.h"

#include <windows.h>

#include <dshow.h>

#include <string>
#include <vector>

// The stream as the file describes it.
struct CAviVideoFormat {
    DWORD fccHandler = 0;    // strh: 'MJPG', 'DIB ', 'YUY2', 'NV12'
    DWORD biCompression = 0; // strf: BI_RGB or the FOURCC
    WORD biBitCount = 0;
    LONG nWidth = 0;
    LONG nHeight = 0;       // positive: bottom-up rows for RGB, as DIBs are
    DWORD nImageSize = 0;   // an uncompressed picture's bytes; MJPG's largest expected
    LONGLONG frameTime = 0; // 100 ns per frame slot
    bool bUncompressed = false;
    bool bSourceTopDown = false; // RGB rows arrive top row first and are stored turned over
    size_t nSourceStride = 0;    // an uncompressed row's bytes
};

// The stream's description from a capture media type: MJPG as it comes, RGB24, RGB32, YUY2 and
// NV12 uncompressed. frameTime is the format's frame interval (a capability's when the media
// type states none). False with the reason when the type is none of those.
bool DescribeAviFormat(const AM_MEDIA_TYPE& mt, LONGLONG frameTime, CAviVideoFormat& format,
                       std::wstring& error);

class CAviFile : private CNoCopy {
public:
    // Largest part: the first stays readable by 32-bit readers, the later ones by OpenDML's
    // 32-bit index offsets.
    static constexpr ULONGLONG kPartLimit = 1ull << 30;
    static constexpr DWORD kSuperIndexEntries = 1024;

    // Closes without finishing: the file stays as of its last checkpoint.
    ~CAviFile();

    // Creates a new file (an existing one is never replaced) and writes its header. On failure
    // nothing is left behind and the result is the system's error code.
    DWORD Create(const std::wstring& path, const CAviVideoFormat& format);
    // The header written now: what Create reserves ahead of the first frame.
    ULONGLONG ReservedBytes() const { return m_nEnd; }

    // One frame slot: nSize bytes at pChunk + 8 (pChunk has room for the chunk's header before
    // them and a pad byte after), or an empty chunk when nSize is 0. ERROR_SUCCESS, the system's
    // error (nothing of the chunk counts then), or ERROR_FILE_TOO_LARGE when no index has room.
    DWORD AddSlot(BYTE* pChunk, DWORD nSize);
    // Flushes the data, then writes the header, the sizes and the indexes for everything added
    // so far, and flushes again.
    DWORD Checkpoint();
    // After a failed write: the file is cut back to its last whole chunk, its indexes and header
    // finished for what it holds. Then, as for a normal end: the first part's legacy index where
    // there is room for it, a last checkpoint, and the file closed. The first error, if any.
    DWORD Finish();

    ULONGLONG Slots() const { return m_nSlots; }
    ULONGLONG Pictures() const { return m_nPictures; }
    // Slots a file cut now would keep: those of the last checkpoint.
    ULONGLONG SecuredSlots() const { return m_nSecuredSlots; }
    ULONGLONG FileBytes() const { return m_nEnd; }
    size_t Parts() const { return m_parts.size(); }

    // Tests only: pictures' bytes are not written but left as holes in a sparse file, so that a
    // file past 4 GiB is made in seconds; the chunks and indexes are written as usual.
    bool m_bHolesForPictures = false;

private:
    struct CEntry {
        DWORD nOffset; // the data's position from the part's base
        DWORD nSize;   // bit 31 set: not a key frame (an empty slot)
    };
    struct CPart {
        ULONGLONG nStart = 0;  // 'RIFF'
        ULONGLONG nIndex = 0;  // the reserved 'ix00'
        ULONGLONG nMovi = 0;   // 'LIST' 'movi'
        ULONGLONG nEnd = 0;    // after the last whole chunk (and, once closed, the 'idx1')
        ULONGLONG nFrames = 0; // slots in the part
        DWORD nWritten = 0;    // index entries on disk
        bool bClosed = false;  // a later part follows; its entries are dropped
        std::vector<CEntry> entries;
    };

    DWORD WriteAt(ULONGLONG nPos, const void* pData, size_t nSize);
    DWORD BeginPart();
    // The first part's 'idx1' after its 'movi'; where the disk has no room for it, none.
    DWORD WriteLegacyIndex();
    void BuildHeader();
    DWORD Flush();

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    CAviVideoFormat m_format;
    std::vector<BYTE> m_header; // the first part's headers, rewritten whole at each checkpoint
    std::vector<CPart> m_parts;
    DWORD m_nIndexCapacity = 0;
    ULONGLONG m_nEnd = 0;
    ULONGLONG m_nSlots = 0;
    ULONGLONG m_nPictures = 0;
    ULONGLONG m_nSecuredSlots = 0;
    DWORD m_nLargestChunk = 0;
    bool m_bLegacyIndex = false;
};
