// The AVI writer's files read back through the platform's own readers (support/avi_readers.h),
// and the file's structure parsed here where neither reader tells.
#include "capture/capture_platform.h"
#include "framework/files.h"
#include "record/avi_writer.h"
#include "support/avi_readers.h"
#include "support/video_type.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <uuids.h>
#include <vfw.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using testcam_test::PumpUntil;

namespace {

constexpr LONGLONG kT = 333333; // 30 frames a second

std::wstring TestPath(const wchar_t* pszName) {
    wchar_t szTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, szTemp);
    std::wstring folder = std::wstring(szTemp) + L"lookwell-record\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + pszName;
    ::DeleteFileW(path.c_str());
    return path;
}

// Pushes each picture at its time, waiting for room in the queue rather than dropping.
void Record(CAviWriter& writer, const std::vector<std::vector<BYTE>>& pictures,
            const std::vector<LONGLONG>& times, size_t nFirst = 0) {
    for (size_t i = nFirst; i < times.size(); ++i) {
        const std::vector<BYTE>& picture = pictures[i % pictures.size()];
        ASSERT_TRUE(PumpUntil("room in the writer's queue", [&] {
            CAviWriterStatus status;
            writer.GetStatus(status);
            return status.nQueueFrames + 1 < 64 &&
                   status.nQueueBytes + picture.size() < (256u << 20);
        }));
        writer.Push(picture.data(), picture.size(), times[i]);
    }
}

DWORD Read32(const std::vector<BYTE>& bytes, size_t nAt) {
    DWORD n = 0;
    std::memcpy(&n, &bytes[nAt], 4);
    return n;
}

std::vector<BYTE> ReadAt(const std::wstring& path, ULONGLONG nPos, size_t nSize) {
    std::vector<BYTE> bytes(nSize);
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(nPos);
    at.OffsetHigh = static_cast<DWORD>(nPos >> 32);
    DWORD nRead = 0;
    if (hFile == INVALID_HANDLE_VALUE ||
        !::ReadFile(hFile, bytes.data(), static_cast<DWORD>(nSize), &nRead, &at)) {
        nRead = 0;
    }
    if (hFile != INVALID_HANDLE_VALUE) {
        ::CloseHandle(hFile);
    }
    bytes.resize(nRead);
    return bytes;
}

ULONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

std::vector<BYTE> Picture(size_t nSize, int nSeed) {
    std::vector<BYTE> picture(nSize);
    for (size_t i = 0; i < nSize; ++i) {
        picture[i] = static_cast<BYTE>(i * 7 + static_cast<size_t>(nSeed) * 31 + i / 97);
    }
    return picture;
}

std::vector<LONGLONG> EverySlot(int nFrames, LONGLONG step = kT) {
    std::vector<LONGLONG> times;
    for (int i = 0; i < nFrames; ++i) {
        times.push_back(i * step + step / 4);
    }
    return times;
}

} // namespace

TEST(AviWriter, EachFormatPlaysBackWholeAndUprightInBothReaders) {
    struct {
        const char* pszWhat;
        GUID subtype;
        LONG nHeight; // negative: top-down rows
        WORD nBits;
        DWORD fccHandler;
        DWORD biCompression;
    } cases[] = {
        {"MJPG as it comes", MEDIASUBTYPE_MJPG, 6, 24, mmioFOURCC('M', 'J', 'P', 'G'),
         mmioFOURCC('M', 'J', 'P', 'G')},
        {"RGB24 bottom-up", MEDIASUBTYPE_RGB24, 6, 24, mmioFOURCC('D', 'I', 'B', ' '), BI_RGB},
        {"RGB24 top-down", MEDIASUBTYPE_RGB24, -6, 24, mmioFOURCC('D', 'I', 'B', ' '), BI_RGB},
        {"RGB32", MEDIASUBTYPE_RGB32, 6, 32, mmioFOURCC('D', 'I', 'B', ' '), BI_RGB},
        {"YUY2", MEDIASUBTYPE_YUY2, 6, 16, mmioFOURCC('Y', 'U', 'Y', '2'),
         mmioFOURCC('Y', 'U', 'Y', '2')},
        {"NV12", MEDIASUBTYPE_NV12, 6, 12, mmioFOURCC('N', 'V', '1', '2'),
         mmioFOURCC('N', 'V', '1', '2')},
    };
    constexpr LONG kWidth = 8;
    constexpr int kFrames = 12;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        const bool bMjpg = c.subtype == MEDIASUBTYPE_MJPG;
        CVideoType type(c.subtype, kWidth, c.nHeight, c.nBits, kT);
        const size_t nStride = static_cast<size_t>(kWidth) * c.nBits / 8;
        const size_t nImage = nStride * 6;
        std::vector<std::vector<BYTE>> pictures;
        for (int i = 0; i < kFrames; ++i) {
            pictures.push_back(Picture(bMjpg ? 100 + static_cast<size_t>(i) * 13 : nImage, i));
        }
        const std::wstring path = TestPath(L"formats.avi");
        CAviWriter writer;
        std::wstring error;
        ASSERT_TRUE(writer.Open(path, type.mt, 0, CAviWriterOptions(), error)) << c.pszWhat;
        Record(writer, pictures, EverySlot(kFrames));
        writer.Stop(5000);

        CAviFileView file = ReadWithAviFile(path);
        ASSERT_EQ(S_OK, file.hr);
        EXPECT_EQ(streamtypeVIDEO, file.info.fccType);
        EXPECT_EQ(c.fccHandler, file.info.fccHandler);
        EXPECT_EQ(10000000u * file.info.dwScale, 333333u * file.info.dwRate);
        EXPECT_EQ(kFrames, file.nLength);
        EXPECT_EQ(c.biCompression, file.bih.biCompression);
        EXPECT_EQ(6, file.bih.biHeight); // bottom-up for RGB, as DIBs are read
        ASSERT_EQ(static_cast<size_t>(kFrames), file.frames.size());
        for (int i = 0; i < kFrames; ++i) {
            std::vector<BYTE> expected = pictures[static_cast<size_t>(i)];
            if (c.nHeight < 0) { // stored turned over: the file's first row is the bottom one
                for (size_t y = 0; y < 3; ++y) {
                    std::swap_ranges(expected.begin() + static_cast<ptrdiff_t>(y * nStride),
                                     expected.begin() + static_cast<ptrdiff_t>((y + 1) * nStride),
                                     expected.end() - static_cast<ptrdiff_t>((y + 1) * nStride));
                }
            }
            EXPECT_EQ(expected, file.frames[static_cast<size_t>(i)]) << "frame " << i;
        }

        if (bMjpg || c.subtype == MEDIASUBTYPE_NV12) {
            // Wine 8's splitter offers no media type for these: its pin connects to nothing.
            ::DeleteFileW(path.c_str());
            continue;
        }
        CSplitterView split = ReadWithSplitter(path);
        ASSERT_EQ(S_OK, split.hr);
        EXPECT_EQ(kFrames * kT, split.duration);
        ASSERT_EQ(static_cast<size_t>(kFrames), split.samples.size());
        for (int i = 0; i < kFrames; ++i) {
            const CSample& s = split.samples[static_cast<size_t>(i)];
            EXPECT_NEAR(static_cast<double>(i * kT), static_cast<double>(s.start), 1)
                << "frame " << i;
            EXPECT_EQ(static_cast<long>(pictures[static_cast<size_t>(i)].size()), s.nSize);
        }
        // The picture's top row as the splitter's output type orders its rows.
        if (c.subtype != MEDIASUBTYPE_YUY2) {
            const std::vector<BYTE>& top = pictures[0];
            const size_t nTopInSource = c.nHeight < 0 ? 0 : 5 * nStride;
            const size_t nTopInSample = split.nHeight < 0 ? 0 : 5 * nStride;
            ASSERT_GE(split.samples[0].data.size(), nImage);
            EXPECT_TRUE(
                std::equal(top.begin() + static_cast<ptrdiff_t>(nTopInSource),
                           top.begin() + static_cast<ptrdiff_t>(nTopInSource + nStride),
                           split.samples[0].data.begin() + static_cast<ptrdiff_t>(nTopInSample)));
        }
        ::DeleteFileW(path.c_str());
    }
}

TEST(AviWriter, FrameSlotsKeepRealTime) {
    // Times in frame intervals of a 30 fps format; the slots that hold a picture afterwards.
    struct {
        const char* pszWhat;
        std::vector<double> times;
        std::vector<int> pictures;
        ULONGLONG nLate;
        ULONGLONG nSlotLimit = 0;
    } cases[] = {
        {"a camera at a third of the rate", {0.1, 3.1, 6.2, 9.0, 12.5}, {0, 3, 6, 9, 12}, 0},
        {"two in one slot: the second takes the next", {0.2, 0.9, 1.5, 3.0}, {0, 1, 2, 3}, 0},
        {"a third in one slot comes too late", {2.1, 2.5, 2.9, 3.2}, {2, 3, 4}, 1},
        {"before the start: the first slot", {-0.5, 1.0}, {0, 1}, 0},
        {"a timed end: the last one moved on past it is left out",
         {0.2, 0.9, 1.1, 2.0, 2.3},
         {0, 1, 2},
         0,
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CVideoType type(MEDIASUBTYPE_RGB24, 4, 2, 24, kT);
        std::vector<LONGLONG> times;
        for (double t : c.times) {
            times.push_back(static_cast<LONGLONG>(t * kT));
        }
        const std::wstring path = TestPath(L"slots.avi");
        CAviWriter writer;
        std::wstring error;
        CAviWriterOptions options;
        options.nSlotLimit = c.nSlotLimit;
        ASSERT_TRUE(writer.Open(path, type.mt, 0, options, error));
        Record(writer, {Picture(24, 1)}, times);
        writer.Stop(5000);
        CAviWriterStatus status;
        writer.GetStatus(status);
        const ULONGLONG nSlots = static_cast<ULONGLONG>(c.pictures.back()) + 1;
        EXPECT_EQ(c.pictures.size(), status.nFramesWritten);
        EXPECT_EQ(nSlots - c.pictures.size(), status.nEmptySlots);
        EXPECT_EQ(c.nLate, status.nDroppedLate);
        EXPECT_EQ(static_cast<LONGLONG>(nSlots) * kT, status.duration);

        CAviFileView file = ReadWithAviFile(path);
        ASSERT_EQ(S_OK, file.hr);
        ASSERT_EQ(static_cast<LONG>(nSlots), file.nLength);
        for (size_t i = 0; i < file.frames.size(); ++i) {
            bool bPicture = std::count(c.pictures.begin(), c.pictures.end(), i) > 0;
            EXPECT_EQ(bPicture ? 24u : 0u, file.frames[i].size()) << "slot " << i;
        }
        CSplitterView split = ReadWithSplitter(path);
        ASSERT_EQ(S_OK, split.hr);
        EXPECT_EQ(static_cast<LONGLONG>(nSlots) * kT, split.duration);
        ASSERT_EQ(c.pictures.size(), split.samples.size());
        for (size_t i = 0; i < c.pictures.size(); ++i) {
            EXPECT_NEAR(static_cast<double>(c.pictures[i] * kT),
                        static_cast<double>(split.samples[i].start), 1);
        }
        ::DeleteFileW(path.c_str());
    }
}

TEST(AviWriter, AFileCutWhileWritingPlaysWhatItsLastCheckpointHeld) {
    CVideoType type(MEDIASUBTYPE_RGB24, 16, 16, 24, kT);
    const std::wstring path = TestPath(L"cut.avi");
    const std::wstring copy = TestPath(L"cut-copy.avi");
    CAviWriterOptions options;
    options.nCheckpointMs = 200;
    CAviWriter writer;
    std::wstring error;
    ASSERT_TRUE(writer.Open(path, type.mt, 0, options, error));
    std::vector<std::vector<BYTE>> pictures = {Picture(768, 1), Picture(768, 2)};
    const std::vector<LONGLONG> times = EverySlot(40);
    Record(writer, pictures, std::vector<LONGLONG>(times.begin(), times.begin() + 20));
    CAviWriterStatus status;
    ASSERT_TRUE(PumpUntil("a checkpoint securing the 20 slots", [&] {
        writer.GetStatus(status);
        return status.nSecuredSlots >= 20;
    }));
    ASSERT_EQ(20u, status.nSecuredSlots);
    // More frames after it, then the file as the disk has it at that moment, with a frame torn
    // in the middle at its end, as a crash leaves one.
    Record(writer, pictures, times, 20);
    std::vector<BYTE> bytes = ReadAt(path, 0, static_cast<size_t>(FileSize(path)));
    const BYTE torn[] = {'0', '0', 'd', 'c', 0xF4, 0x01, 0, 0, 1, 2, 3};
    bytes.insert(bytes.end(), std::begin(torn), std::end(torn));
    HANDLE hCopy =
        ::CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD nWritten = 0;
    ::WriteFile(hCopy, bytes.data(), static_cast<DWORD>(bytes.size()), &nWritten, nullptr);
    ::CloseHandle(hCopy);
    writer.Stop(5000);

    for (const std::wstring& p : {copy, path}) {
        const size_t nExpected = p == path ? 40u : 20u;
        CAviFileView file = ReadWithAviFile(p);
        ASSERT_EQ(S_OK, file.hr);
        ASSERT_GE(file.frames.size(), nExpected);
        for (size_t i = 0; i < file.frames.size(); ++i) {
            EXPECT_EQ(pictures[i % 2], file.frames[i]) << "frame " << i;
        }
        CSplitterView split = ReadWithSplitter(p);
        ASSERT_EQ(S_OK, split.hr);
        EXPECT_GE(split.samples.size(), nExpected);
        EXPECT_EQ(static_cast<LONGLONG>(split.samples.size()) * kT, split.duration);
    }
    ::DeleteFileW(copy.c_str());
    ::DeleteFileW(path.c_str());
}

TEST(AviWriter, PartsAndIndexesCarryAFilePast4GiB) {
    // 3 MiB pictures left as holes: the file is sparse, its chunks and indexes real.
    CVideoType type(MEDIASUBTYPE_RGB24, 1024, 1024, 24, kT);
    const std::wstring path = TestPath(L"large.avi");
    CAviWriterOptions options;
    options.bHolesForPictures = true;
    CAviWriter writer;
    std::wstring error;
    ASSERT_TRUE(writer.Open(path, type.mt, 0, options, error));
    constexpr int kFrames = 1480; // past 4 GiB by 0.3 GiB
    Record(writer, {std::vector<BYTE>(3u << 20, 0)}, EverySlot(kFrames));
    writer.Stop(30000);
    CAviWriterStatus status;
    writer.GetStatus(status);
    EXPECT_EQ(AviEnd::Stopped, status.end);
    ASSERT_EQ(static_cast<ULONGLONG>(kFrames), status.nFramesWritten);
    ASSERT_GT(FileSize(path), 4ull << 30);
    EXPECT_EQ(status.nBytesWritten, FileSize(path));

    // The RIFF parts, one after the other to the file's end.
    std::vector<ULONGLONG> parts;
    for (ULONGLONG nAt = 0; nAt < FileSize(path);) {
        std::vector<BYTE> riff = ReadAt(path, nAt, 12);
        ASSERT_EQ(12u, riff.size());
        EXPECT_EQ(mmioFOURCC('R', 'I', 'F', 'F'), Read32(riff, 0));
        EXPECT_EQ(parts.empty() ? mmioFOURCC('A', 'V', 'I', ' ') : mmioFOURCC('A', 'V', 'I', 'X'),
                  Read32(riff, 8));
        parts.push_back(nAt);
        nAt += 8ull + Read32(riff, 4);
        ASSERT_LE(nAt, FileSize(path));
    }
    ASSERT_EQ(5u, parts.size());
    // The super index: a standard index per part, each entry at a whole '00dc' chunk.
    const std::vector<BYTE> header = ReadAt(path, 0, 20000);
    ASSERT_EQ(mmioFOURCC('i', 'n', 'd', 'x'), Read32(header, 212));
    ASSERT_EQ(parts.size(), Read32(header, 224));
    ULONGLONG nTotal = 0;
    for (size_t p = 0; p < parts.size(); ++p) {
        SCOPED_TRACE(p);
        ULONGLONG nIndexAt = 0;
        std::memcpy(&nIndexAt, &header[244 + 16 * p], 8);
        const DWORD nDuration = Read32(header, 244 + 16 * p + 12);
        EXPECT_GT(nIndexAt, parts[p]);
        EXPECT_LT(nIndexAt, p + 1 < parts.size() ? parts[p + 1] : FileSize(path));
        std::vector<BYTE> index = ReadAt(path, nIndexAt, 32);
        ASSERT_EQ(mmioFOURCC('i', 'x', '0', '0'), Read32(index, 0));
        ASSERT_EQ(nDuration, Read32(index, 12));
        ULONGLONG nBase = 0;
        std::memcpy(&nBase, &index[20], 8);
        std::vector<BYTE> entries = ReadAt(path, nIndexAt + 32, 8ull * nDuration);
        for (DWORD e = 0; e < nDuration; e += 37) { // a sample of them, the first included
            std::vector<BYTE> chunk = ReadAt(path, nBase + Read32(entries, 8 * e) - 8, 8);
            ASSERT_EQ(mmioFOURCC('0', '0', 'd', 'c'), Read32(chunk, 0)) << "entry " << e;
            EXPECT_EQ(3u << 20, Read32(chunk, 4));
            EXPECT_EQ(3u << 20, Read32(entries, 8 * e + 4));
        }
        nTotal += nDuration;
    }
    EXPECT_EQ(static_cast<ULONGLONG>(kFrames), nTotal);
    const DWORD nFirstPart = Read32(header, 244 + 12);
    EXPECT_EQ(nFirstPart, Read32(header, 48));                   // avih: the first part's frames
    EXPECT_EQ(static_cast<DWORD>(kFrames), Read32(header, 140)); // strh: all of them
    EXPECT_EQ(0x10u, Read32(header, 44) & 0x10);                 // the first part has its 'idx1'

    // avifil32 reads the first part only, by its 'idx1', and reports the stream's whole length
    // (it asserts on a frame past its index, so only the first are read).
    CAviFileView file = ReadWithAviFile(path, 2);
    ASSERT_EQ(S_OK, file.hr);
    EXPECT_EQ(kFrames, file.nLength);
    EXPECT_EQ(3u << 20, file.frames[1].size());
    // The splitter follows the OpenDML indexes to the last frames, past 4 GiB.
    CSplitterView split = ReadWithSplitter(path, (kFrames - 3) * kT);
    ASSERT_EQ(S_OK, split.hr);
    EXPECT_EQ(kFrames * kT, split.duration);
    ASSERT_EQ(3u, split.samples.size());
    EXPECT_EQ(3 << 20, split.samples[2].nSize);
    ::DeleteFileW(path.c_str());
}

TEST(AviWriter, RefusesWhatItMustNotWriteAndCountsWhatItCannotTake) {
    CVideoType type(MEDIASUBTYPE_RGB24, 4, 2, 24, 0);
    const std::wstring path = TestPath(L"kept.avi");
    HANDLE hOld = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD nWritten = 0;
    ::WriteFile(hOld, "keep", 4, &nWritten, nullptr);
    ::CloseHandle(hOld);
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    CVideoType rgb565(MEDIASUBTYPE_RGB565, 4, 2, 16, kT);
    CAviWriterOptions tooFull;
    tooFull.nFreeSpaceMargin = 1ull << 60;
    struct {
        const char* pszWhat;
        std::wstring path;
        const AM_MEDIA_TYPE& mt;
        LONGLONG frameTime;
        CAviWriterOptions options;
    } refused[] = {
        {"an existing file", path, type.mt, kT, CAviWriterOptions()},
        {"a device's name", folder + L"NUL.avi", type.mt, kT, CAviWriterOptions()},
        {"a format it does not store", folder + L"565.avi", rgb565.mt, kT, CAviWriterOptions()},
        {"no frame time anywhere", folder + L"zero.avi", type.mt, 0, CAviWriterOptions()},
        {"a disk below the margin", folder + L"full.avi", type.mt, kT, tooFull},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.pszWhat);
        CAviWriter writer;
        std::wstring error;
        EXPECT_FALSE(writer.Open(c.path, c.mt, c.frameTime, c.options, error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(std::vector<BYTE>({'k', 'e', 'e', 'p'}), ReadAt(path, 0, 100));
    ::DeleteFileW(path.c_str());

    // The capability's frame time where the media type has none; frames it cannot take.
    CAviWriterOptions small;
    small.nQueueBytes = 30;
    CAviWriter writer;
    std::wstring error;
    ASSERT_TRUE(writer.Open(path, type.mt, kT, small, error));
    const std::vector<BYTE> picture = Picture(24, 0);
    const std::vector<BYTE> big = Picture(40, 0);     // more than a picture: its excess is cut
    EXPECT_FALSE(writer.Push(picture.data(), 23, 0)); // short
    EXPECT_FALSE(writer.Push(picture.data(), 24, 25 * 3600 * 10000000ll)); // a day ahead
    EXPECT_TRUE(writer.Push(big.data(), 40, 0));
    std::vector<BYTE> large(40000);
    CVideoType wide(MEDIASUBTYPE_RGB24, 200, 50, 24, kT);
    writer.Stop(5000);
    EXPECT_FALSE(writer.Push(picture.data(), 24, kT));
    CAviWriterStatus status;
    writer.GetStatus(status);
    EXPECT_EQ(2u, status.nRefused);
    EXPECT_EQ(1u, status.nFramesWritten);
    CAviWriter narrow;
    ASSERT_TRUE(narrow.Open(folder + L"queue.avi", wide.mt, 0, small, error));
    EXPECT_FALSE(narrow.Push(large.data(), large.size(), 0)); // never fits the queue's bytes
    narrow.Stop(5000);
    narrow.GetStatus(status);
    EXPECT_EQ(1u, status.nDroppedQueue);
    ::DeleteFileW((folder + L"queue.avi").c_str());
    CAviFileView file = ReadWithAviFile(path);
    ASSERT_EQ(S_OK, file.hr);
    EXPECT_EQ(10000000u * file.info.dwScale, 333333u * file.info.dwRate);
    ASSERT_EQ(1u, file.frames.size());
    EXPECT_EQ(std::vector<BYTE>(big.begin(), big.begin() + 24), file.frames[0]);
    ::DeleteFileW(path.c_str());
}

TEST(SmallDisk, RecordingEndsWithAFileThatPlaysWhenTheDiskFills) {
    wchar_t szRoot[MAX_PATH] = L"";
    if (::GetEnvironmentVariableW(L"LOOKWELL_SMALL_FS", szRoot, MAX_PATH) == 0) {
        GTEST_SKIP() << "run by check_small_disk.sh";
    }
    const std::wstring path = std::wstring(szRoot) + L"\\rec\\small.avi";
    struct {
        const char* pszWhat;
        ULONGLONG nMargin;
        AviEnd end;
    } cases[] = {
        {"into the wall", 0, AviEnd::WriteFailed},
        {"below the margin", 300u << 10, AviEnd::LowDiskSpace},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CVideoType type(MEDIASUBTYPE_RGB24, 160, 120, 24, kT);
        CAviWriterOptions options;
        options.nFreeSpaceMargin = c.nMargin;
        options.nCheckpointMs = 50;
        CAviWriter writer;
        std::wstring error;
        ASSERT_TRUE(writer.Open(path, type.mt, 0, options, error)) << error.size();
        // One frame at a time, each secured by a checkpoint before the next.
        CAviWriterStatus status;
        for (LONGLONG nFrame = 0; ::WaitForSingleObject(writer.EndedEvent(), 0) == WAIT_TIMEOUT;
             ++nFrame) {
            ASSERT_LT(nFrame, 100) << "the disk did not fill";
            writer.Push(Picture(57600, static_cast<int>(nFrame)).data(), 57600, nFrame * kT);
            ASSERT_TRUE(PumpUntil("the frame secured, or the writer ended", [&] {
                writer.GetStatus(status);
                return !status.bRunning || status.nSecuredSlots > static_cast<ULONGLONG>(nFrame);
            }));
        }
        writer.Stop(5000);
        writer.GetStatus(status);
        EXPECT_EQ(c.end, status.end);
        EXPECT_FALSE(status.strEnd.empty());
        if (c.end == AviEnd::WriteFailed) {
            EXPECT_EQ(AfxSystemErrorText(ERROR_DISK_FULL), status.strEnd);
        }
        EXPECT_GE(status.nFramesWritten, 10u);
        // Whole: the RIFF ends at the file's end, and every frame reads back.
        EXPECT_EQ(status.nBytesWritten, FileSize(path));
        EXPECT_EQ(FileSize(path), 8ull + Read32(ReadAt(path, 0, 8), 4));
        CAviFileView file = ReadWithAviFile(path);
        ASSERT_EQ(S_OK, file.hr);
        ASSERT_EQ(static_cast<size_t>(status.nFramesWritten), file.frames.size());
        for (size_t i = 0; i < file.frames.size(); ++i) {
            EXPECT_EQ(Picture(57600, static_cast<int>(i)), file.frames[i]) << "frame " << i;
        }
        ::DeleteFileW(path.c_str());
    }
}
