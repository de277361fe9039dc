#include "record/avi_file.h"

#include "capture/capture_platform.h"
#include "framework/dib.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

constexpr DWORD Fourcc(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<BYTE>(a)) |
           static_cast<DWORD>(static_cast<BYTE>(b)) << 8 |
           static_cast<DWORD>(static_cast<BYTE>(c)) << 16 |
           static_cast<DWORD>(static_cast<BYTE>(d)) << 24;
}

constexpr DWORD kRiff = Fourcc('R', 'I', 'F', 'F');
constexpr DWORD kList = Fourcc('L', 'I', 'S', 'T');
constexpr DWORD kChunkId = Fourcc('0', '0', 'd', 'c');
constexpr DWORD kStdIndexId = Fourcc('i', 'x', '0', '0');
constexpr DWORD kAvifHasIndex = 0x10;
constexpr DWORD kKeyFrame = 0x10; // AVIIF_KEYFRAME
constexpr DWORD kNotKey = 0x80000000u;
constexpr size_t kStdIndexHeader = 32; // chunk header and AVISTDINDEX's fields
constexpr size_t kDmlhSize = 248;

void Put16(std::vector<BYTE>& out, WORD n) {
    out.push_back(static_cast<BYTE>(n));
    out.push_back(static_cast<BYTE>(n >> 8));
}

void Put32(std::vector<BYTE>& out, DWORD n) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<BYTE>(n >> (8 * i)));
    }
}

void Put64(std::vector<BYTE>& out, ULONGLONG n) {
    Put32(out, static_cast<DWORD>(n));
    Put32(out, static_cast<DWORD>(n >> 32));
}

void Set32(BYTE* p, DWORD n) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<BYTE>(n >> (8 * i));
    }
}

void Set64(BYTE* p, ULONGLONG n) {
    Set32(p, static_cast<DWORD>(n));
    Set32(p + 4, static_cast<DWORD>(n >> 32));
}

DWORD Size32(ULONGLONG n) {
    return static_cast<DWORD>(n);
}

// Offsets in the first part's header, fixed by BuildHeader's order.
constexpr size_t kAvihAt = 32;
constexpr size_t kStrhAt = 108;
constexpr size_t kIndxAt = 212;
constexpr size_t kIndxEntriesAt = kIndxAt + 32;

} // namespace

bool DescribeAviFormat(const AM_MEDIA_TYPE& mt, LONGLONG frameTime, CAviVideoFormat& format,
                       std::wstring& error) {
    // Formats described by VIDEOINFOHEADER2 are not among those the program lists.
    const VIDEOINFOHEADER* pvih = GetVideoInfo(mt);
    if (pvih == nullptr) {
        error = L"the stream is not video described by a video information header";
        return false;
    }
    const BITMAPINFOHEADER* pbih = &pvih->bmiHeader;
    if (frameTime <= 0) {
        frameTime = pvih->AvgTimePerFrame;
    }
    if (frameTime <= 0 || frameTime > 100000000) {
        error = L"the format states no frame rate";
        return false;
    }
    const LONG nHeight = pbih->biHeight < 0 ? -pbih->biHeight : pbih->biHeight;
    if (pbih->biWidth <= 0 || pbih->biWidth > 16384 || nHeight == 0 || nHeight > 16384) {
        error = L"the picture's size is out of range";
        return false;
    }
    CAviVideoFormat f;
    f.nWidth = pbih->biWidth;
    f.nHeight = nHeight;
    f.frameTime = frameTime;
    const size_t nPixels = static_cast<size_t>(f.nWidth) * static_cast<size_t>(nHeight);
    if (mt.subtype == MEDIASUBTYPE_RGB24 || mt.subtype == MEDIASUBTYPE_RGB32) {
        f.fccHandler = Fourcc('D', 'I', 'B', ' ');
        f.biCompression = BI_RGB;
        f.biBitCount = mt.subtype == MEDIASUBTYPE_RGB24 ? 24 : 32;
        f.nSourceStride = AfxDibStride(static_cast<LONG>(f.nWidth), f.biBitCount);
        f.nImageSize = static_cast<DWORD>(f.nSourceStride * static_cast<size_t>(nHeight));
        f.bUncompressed = true;
        // A negative height is a top-down DIB; it is stored bottom-up, as every reader expects.
        f.bSourceTopDown = pbih->biHeight < 0;
    } else if (mt.subtype == MEDIASUBTYPE_YUY2) {
        if (f.nWidth % 2 != 0) {
            error = L"YUY2 needs an even width";
            return false;
        }
        f.fccHandler = f.biCompression = Fourcc('Y', 'U', 'Y', '2');
        f.biBitCount = 16;
        f.nSourceStride = static_cast<size_t>(f.nWidth) * 2;
        f.nImageSize = static_cast<DWORD>(nPixels * 2);
        f.bUncompressed = true;
    } else if (mt.subtype == MEDIASUBTYPE_NV12) {
        if (f.nWidth % 2 != 0 || nHeight % 2 != 0) {
            error = L"NV12 needs an even width and height";
            return false;
        }
        f.fccHandler = f.biCompression = Fourcc('N', 'V', '1', '2');
        f.biBitCount = 12;
        f.nSourceStride = static_cast<size_t>(f.nWidth);
        f.nImageSize = static_cast<DWORD>(nPixels * 3 / 2);
        f.bUncompressed = true;
    } else if (mt.subtype == MEDIASUBTYPE_MJPG) {
        f.fccHandler = f.biCompression = Fourcc('M', 'J', 'P', 'G');
        f.biBitCount = 24;
        f.nImageSize = pbih->biSizeImage != 0 ? pbih->biSizeImage : static_cast<DWORD>(nPixels * 3);
    } else {
        error = L"only MJPG, RGB24, RGB32, YUY2 and NV12 can be recorded";
        return false;
    }
    format = f;
    return true;
}

CAviFile::~CAviFile() {
    if (m_hFile != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_hFile);
    }
}

DWORD CAviFile::WriteAt(ULONGLONG nPos, const void* pData, size_t nSize) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(nPos);
    at.OffsetHigh = static_cast<DWORD>(nPos >> 32);
    DWORD nWritten = 0;
    if (!::WriteFile(m_hFile, pData, static_cast<DWORD>(nSize), &nWritten, &at)) {
        return ::GetLastError();
    }
    return nWritten == nSize ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

DWORD CAviFile::Flush() {
    return ::FlushFileBuffers(m_hFile) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD CAviFile::Create(const std::wstring& path, const CAviVideoFormat& format) {
    m_format = format;
    // Room for twenty minutes of slots per part: a part of small frames ends at its index's
    // end, one of large frames at 1 GiB.
    const ULONGLONG nSlots = 1200ull * 10000000ull / static_cast<ULONGLONG>(format.frameTime);
    m_nIndexCapacity = static_cast<DWORD>(std::clamp<ULONGLONG>(nSlots, 1024, 65536));
    // Readers may look while it is written; nobody may change it meanwhile.
    m_hFile = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    BuildHeader();
    m_nEnd = m_header.size();
    DWORD nError = WriteAt(0, m_header.data(), m_header.size());
    if (nError == ERROR_SUCCESS) {
        nError = BeginPart();
    }
    if (nError == ERROR_SUCCESS) {
        nError = Checkpoint();
    }
    if (nError != ERROR_SUCCESS) {
        ::CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
        ::DeleteFileW(path.c_str()); // ours: created just now
    }
    return nError;
}

void CAviFile::BuildHeader() {
    const CAviVideoFormat& f = m_format;
    std::vector<BYTE>& h = m_header;
    h.clear();
    Put32(h, kRiff);
    Put32(h, 0); // sizes are set at each checkpoint
    Put32(h, Fourcc('A', 'V', 'I', ' '));
    Put32(h, kList);
    Put32(h, 0);
    Put32(h, Fourcc('h', 'd', 'r', 'l'));
    // avih
    Put32(h, Fourcc('a', 'v', 'i', 'h'));
    Put32(h, 56);
    Put32(h, static_cast<DWORD>((f.frameTime + 5) / 10)); // dwMicroSecPerFrame
    for (int i = 0; i < 5; ++i) {
        Put32(h, 0); // max bytes per second, padding, flags, total frames, initial frames
    }
    Put32(h, 1); // streams
    Put32(h, 0); // suggested buffer size
    Put32(h, static_cast<DWORD>(f.nWidth));
    Put32(h, static_cast<DWORD>(f.nHeight));
    for (int i = 0; i < 4; ++i) {
        Put32(h, 0);
    }
    // LIST strl: strh, strf, indx
    const size_t nStrl = h.size();
    Put32(h, kList);
    Put32(h, 0);
    Put32(h, Fourcc('s', 't', 'r', 'l'));
    Put32(h, Fourcc('s', 't', 'r', 'h'));
    Put32(h, 56);
    Put32(h, Fourcc('v', 'i', 'd', 's'));
    Put32(h, f.fccHandler);
    Put32(h, 0); // flags
    Put32(h, 0); // priority, language
    Put32(h, 0); // initial frames
    // The rate is exactly the frame interval's: 10,000,000 / frameTime, reduced.
    const ULONGLONG nGcd = std::gcd(10000000ull, static_cast<ULONGLONG>(f.frameTime));
    Put32(h, static_cast<DWORD>(static_cast<ULONGLONG>(f.frameTime) / nGcd)); // scale
    Put32(h, static_cast<DWORD>(10000000ull / nGcd));                         // rate
    Put32(h, 0);                                                              // start
    Put32(h, 0);                                                              // length
    Put32(h, 0);                                                              // buffer size
    Put32(h, 0xFFFFFFFFu);                                                    // quality
    Put32(h, 0);                                                              // sample size
    Put16(h, 0);
    Put16(h, 0);
    Put16(h, static_cast<WORD>(f.nWidth));
    Put16(h, static_cast<WORD>(f.nHeight));
    Put32(h, Fourcc('s', 't', 'r', 'f'));
    Put32(h, sizeof(BITMAPINFOHEADER));
    Put32(h, sizeof(BITMAPINFOHEADER));
    Put32(h, static_cast<DWORD>(f.nWidth));
    Put32(h, static_cast<DWORD>(f.nHeight));
    Put16(h, 1);
    Put16(h, f.biBitCount);
    Put32(h, f.biCompression);
    Put32(h, f.nImageSize);
    for (int i = 0; i < 4; ++i) {
        Put32(h, 0);
    }
    Put32(h, Fourcc('i', 'n', 'd', 'x'));
    Put32(h, 24 + 16 * kSuperIndexEntries);
    Put16(h, 4); // longs per entry
    h.push_back(0);
    h.push_back(0); // AVI_INDEX_OF_INDEXES
    Put32(h, 0);    // entries in use
    Put32(h, kChunkId);
    for (int i = 0; i < 3; ++i) {
        Put32(h, 0);
    }
    h.resize(h.size() + 16 * kSuperIndexEntries, 0);
    Set32(&h[nStrl + 4], Size32(h.size() - nStrl - 8));
    // LIST odml: dmlh with the total frame count
    Put32(h, kList);
    Put32(h, 4 + 8 + kDmlhSize);
    Put32(h, Fourcc('o', 'd', 'm', 'l'));
    Put32(h, Fourcc('d', 'm', 'l', 'h'));
    Put32(h, kDmlhSize);
    h.resize(h.size() + kDmlhSize, 0);
    Set32(&h[16], Size32(h.size() - 20)); // hdrl
}

DWORD CAviFile::BeginPart() {
    CPart part;
    part.nStart = m_parts.empty() ? 0 : m_nEnd; // the first part's RIFF begins the header
    std::vector<BYTE> head;
    if (!m_parts.empty()) {
        // Later parts: RIFF 'AVIX' of their own; the first's RIFF is in the header.
        Put32(head, kRiff);
        Put32(head, 0);
        Put32(head, Fourcc('A', 'V', 'I', 'X'));
    }
    // The part's standard index, reserved whole ahead of its frames, so that checkpoints fill
    // it in place and 'movi' holds nothing but frames (32-bit readers scan it chunk by chunk).
    part.nIndex = m_nEnd + head.size();
    Put32(head, kStdIndexId);
    Put32(head, Size32(24 + 8ull * m_nIndexCapacity));
    head.resize(head.size() + 24 + 8ull * m_nIndexCapacity, 0);
    part.nMovi = m_nEnd + head.size();
    Put32(head, kList);
    Put32(head, 4);
    Put32(head, Fourcc('m', 'o', 'v', 'i'));
    part.nEnd = m_nEnd + head.size();
    if (!m_parts.empty()) {
        Set32(&head[4], Size32(head.size() - 8));
    }
    DWORD nError = WriteAt(m_nEnd, head.data(), head.size());
    if (nError == ERROR_SUCCESS) {
        m_nEnd = part.nEnd;
        part.entries.reserve(std::min<size_t>(m_nIndexCapacity, 4096));
        m_parts.push_back(std::move(part));
    }
    return nError;
}

DWORD CAviFile::AddSlot(BYTE* pChunk, DWORD nSize) {
    BYTE empty[8];
    if (nSize == 0) {
        pChunk = empty;
    }
    const ULONGLONG nChunk = 8ull + nSize + (nSize & 1);
    CPart* pPart = &m_parts.back();
    if (pPart->entries.size() >= m_nIndexCapacity ||
        pPart->nEnd + nChunk - pPart->nStart > kPartLimit) {
        if (m_parts.size() >= kSuperIndexEntries) {
            return ERROR_FILE_TOO_LARGE;
        }
        DWORD nError = Checkpoint();
        if (nError == ERROR_SUCCESS && m_parts.size() == 1) {
            nError = WriteLegacyIndex();
        }
        if (nError == ERROR_SUCCESS) {
            nError = BeginPart();
        }
        if (nError != ERROR_SUCCESS) {
            return nError;
        }
        pPart = &m_parts.back();
    }
    Set32(pChunk, kChunkId);
    Set32(pChunk + 4, nSize);
    if (nSize & 1) {
        pChunk[8 + nSize] = 0;
    }
    const ULONGLONG nPos = pPart->nEnd;
    DWORD nError = ERROR_SUCCESS;
    if (m_bHolesForPictures && nSize > 0) {
        nError = WriteAt(nPos, pChunk, 8);
    } else {
        nError = WriteAt(nPos, pChunk, static_cast<size_t>(nChunk));
    }
    if (nError != ERROR_SUCCESS) {
        return nError;
    }
    const ULONGLONG nBase = pPart->nMovi + 8;
    pPart->entries.push_back({Size32(nPos + 8 - nBase), nSize == 0 ? kNotKey : nSize});
    pPart->nEnd += nChunk;
    pPart->nFrames++;
    m_nEnd = pPart->nEnd;
    m_nSlots++;
    m_nPictures += nSize > 0 ? 1 : 0;
    m_nLargestChunk = std::max(m_nLargestChunk, nSize);
    return ERROR_SUCCESS;
}

DWORD CAviFile::WriteLegacyIndex() {
    CPart& first = m_parts.front();
    std::vector<BYTE> idx1;
    idx1.reserve(8 + 16 * first.entries.size());
    Put32(idx1, Fourcc('i', 'd', 'x', '1'));
    Put32(idx1, Size32(16ull * first.entries.size()));
    for (const CEntry& e : first.entries) {
        const bool bEmpty = (e.nSize & kNotKey) != 0;
        Put32(idx1, kChunkId);
        Put32(idx1, bEmpty ? 0 : kKeyFrame);
        Put32(idx1, e.nOffset - 8); // the chunk's header, from the 'movi' list type
        Put32(idx1, e.nSize & ~kNotKey);
    }
    DWORD nError = WriteAt(first.nEnd, idx1.data(), idx1.size());
    if (nError == ERROR_SUCCESS) {
        first.nEnd += idx1.size();
        m_nEnd = std::max(m_nEnd, first.nEnd);
        m_bLegacyIndex = true;
    }
    return nError;
}

DWORD CAviFile::Checkpoint() {
    DWORD nError = Flush();
    ULONGLONG nTotal = 0;
    for (size_t i = 0; nError == ERROR_SUCCESS && i < m_parts.size(); ++i) {
        CPart& part = m_parts[i];
        nTotal += part.nFrames;
        if (part.bClosed) {
            continue;
        }
        // The new entries, then the index's header with their count.
        const size_t nNew = part.entries.size() - part.nWritten;
        if (nNew > 0) {
            nError = WriteAt(part.nIndex + kStdIndexHeader + 8ull * part.nWritten,
                             &part.entries[part.nWritten], 8 * nNew);
        }
        std::vector<BYTE> head;
        Put32(head, kStdIndexId);
        Put32(head, Size32(24 + 8ull * m_nIndexCapacity));
        Put16(head, 2);
        head.push_back(0);
        head.push_back(1); // AVI_INDEX_OF_CHUNKS
        Put32(head, static_cast<DWORD>(part.entries.size()));
        Put32(head, kChunkId);
        Put64(head, part.nMovi + 8);
        Put32(head, 0);
        if (nError == ERROR_SUCCESS) {
            nError = WriteAt(part.nIndex, head.data(), head.size());
        }
        // The movi list ends at the last whole chunk (the first part's 'idx1' comes after).
        ULONGLONG nMoviEnd = part.nMovi + 12;
        if (!part.entries.empty()) {
            const CEntry& last = part.entries.back();
            const DWORD nLast = last.nSize & ~kNotKey;
            nMoviEnd = part.nMovi + 8 + last.nOffset + nLast + (nLast & 1);
        }
        BYTE sizes[4];
        Set32(sizes, Size32(nMoviEnd - part.nMovi - 8));
        if (nError == ERROR_SUCCESS) {
            nError = WriteAt(part.nMovi + 4, sizes, 4);
        }
        if (i > 0 && nError == ERROR_SUCCESS) {
            Set32(sizes, Size32(part.nEnd - part.nStart - 8));
            nError = WriteAt(part.nStart + 4, sizes, 4);
        }
        if (nError == ERROR_SUCCESS) {
            part.nWritten = static_cast<DWORD>(part.entries.size());
            if (i + 1 < m_parts.size()) {
                // Closed, its 'idx1' written if it is the first: only its count and place remain.
                part.bClosed = true;
                part.entries.clear();
                part.entries.shrink_to_fit();
            }
        }
    }
    if (nError != ERROR_SUCCESS) {
        return nError;
    }
    // The super index: every part that holds a slot.
    BYTE* pIndx = &m_header[kIndxAt];
    DWORD nInUse = 0;
    for (const CPart& part : m_parts) {
        if (part.nFrames == 0) {
            continue;
        }
        BYTE* pEntry = &m_header[kIndxEntriesAt + 16ull * nInUse];
        Set64(pEntry, part.nIndex);
        Set32(pEntry + 8, Size32(8 + 24 + 8ull * m_nIndexCapacity));
        Set32(pEntry + 12, static_cast<DWORD>(part.nFrames));
        nInUse++;
    }
    Set32(pIndx + 12, nInUse);
    Set32(&m_header[4], Size32(m_parts.front().nEnd - 8));
    const DWORD nBuffer = m_nLargestChunk + 8;
    const ULONGLONG nRate = 10000000ull * nBuffer / static_cast<ULONGLONG>(m_format.frameTime);
    Set32(&m_header[kAvihAt + 4], static_cast<DWORD>(std::min<ULONGLONG>(nRate, 0xFFFFFFFFu)));
    Set32(&m_header[kAvihAt + 12], m_bLegacyIndex ? kAvifHasIndex : 0);
    // avih counts the first part's frames, as readers of one part expect; strh and dmlh all.
    Set32(&m_header[kAvihAt + 16], static_cast<DWORD>(m_parts.front().nFrames));
    Set32(&m_header[kAvihAt + 28], nBuffer);
    Set32(&m_header[kStrhAt + 32], static_cast<DWORD>(nTotal));
    Set32(&m_header[kStrhAt + 36], nBuffer);
    Set32(&m_header[m_header.size() - kDmlhSize], static_cast<DWORD>(nTotal));
    nError = WriteAt(0, m_header.data(), m_header.size());
    if (nError == ERROR_SUCCESS) {
        nError = Flush();
    }
    if (nError == ERROR_SUCCESS) {
        m_nSecuredSlots = nTotal;
    }
    return nError;
}

DWORD CAviFile::Finish() {
    if (m_hFile == INVALID_HANDLE_VALUE) {
        return ERROR_INVALID_HANDLE;
    }
    // Whatever a failed write left beyond the last whole chunk goes first: the legacy index and
    // the sizes then describe exactly what is there.
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(m_nEnd);
    DWORD nError = ERROR_SUCCESS;
    if (!::SetFilePointerEx(m_hFile, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(m_hFile)) {
        nError = ::GetLastError();
    }
    if (m_parts.size() == 1 && !m_bLegacyIndex && m_parts.front().nFrames > 0) {
        // Best effort: on a full disk the file plays without it, its frames found in 'movi'.
        if (WriteLegacyIndex() != ERROR_SUCCESS &&
            ::SetFilePointerEx(m_hFile, end, nullptr, FILE_BEGIN)) {
            ::SetEndOfFile(m_hFile);
        }
    }
    DWORD nLast = Checkpoint();
    if (nError == ERROR_SUCCESS) {
        nError = nLast;
    }
    if (!::CloseHandle(m_hFile) && nError == ERROR_SUCCESS) {
        nError = ::GetLastError();
    }
    m_hFile = INVALID_HANDLE_VALUE;
    return nError;
}
