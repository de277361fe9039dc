// The tools' pure parts: the switches and what they match, the key table, the file names that
// are devices, the frame's checks and its PNG decoded back, and the information window's
// counting across the camera's runs.
#include "framework/dib.h"
#include "framework/files.h"
#include "tools/command_line.h"
#include "tools/info_figures.h"
#include "tools/snapshot.h"
#include "tools/tool_host.h"

#include <gtest/gtest.h>

#include <wincodec.h>

#include <algorithm>
#include <cstring>

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t ch : text) {
        out += ch < 0x80 ? static_cast<char>(ch) : '?';
    }
    return out;
}

// A packed DIB of that shape whose pixel (x, y), counted from the top row, is (x, y, x + y).
std::vector<BYTE> MakeDib(LONG width, LONG height, WORD bits) {
    const BITMAPINFOHEADER bih = AfxRgbBitmapHeader(width, height, bits);
    LONG rows = height < 0 ? -height : height;
    size_t stride = AfxDibStride(width, bits);
    std::vector<BYTE> dib(sizeof(bih) + bih.biSizeImage, 0xEE);
    std::memcpy(dib.data(), &bih, sizeof(bih));
    for (LONG y = 0; bits >= 24 && y < rows; ++y) {
        LONG stored = height > 0 ? rows - 1 - y : y;
        BYTE* row = dib.data() + sizeof(bih) + stride * static_cast<size_t>(stored);
        for (LONG x = 0; x < width; ++x) {
            BYTE* pixel = row + static_cast<size_t>(x) * bits / 8;
            pixel[0] = static_cast<BYTE>(x);
            pixel[1] = static_cast<BYTE>(y);
            pixel[2] = static_cast<BYTE>(x + y);
        }
    }
    return dib;
}

} // namespace

TEST(ToolsCommandLine, ParsesSwitchesAndPositions) {
    CCommandLine options;
    options.Parse({L"/LIST", L"/device:Caméra Été", L"/format:1", L"/device:2", L"/preview:x",
                   L"words", L"/fullscreen"});
    EXPECT_TRUE(options.bList);
    EXPECT_TRUE(options.bFullScreen);
    EXPECT_FALSE(options.bPreview) << "a plain switch takes nothing after it";
    EXPECT_EQ(L"2", options.strDevice) << "the last one counts";
    EXPECT_EQ(L"1", options.strFormat);

    struct {
        const wchar_t* pszText;
        int nPosition;
        const wchar_t* pszShown;
    } positions[] = {
        {L"0", 0, L"0"},
        {L"007", 7, L"7"},
        {L"2147483647", 2147483647, L"2147483647"},
        {L"2147483648", kPositionTooLarge, L"2147483648"},
        {L"000000000000000000000012", 12, L"12"},
        {L"99999999999999999999999", kPositionTooLarge, L"99999999999999999999999"},
        {L"", kNotAPosition, nullptr},
        {L"1a", kNotAPosition, nullptr},
        {L"-1", kNotAPosition, nullptr},
        {L"\x0661", kNotAPosition, nullptr}, // an Arabic-Indic digit is a name
    };
    for (const auto& c : positions) {
        SCOPED_TRACE(Narrow(c.pszText));
        EXPECT_EQ(c.nPosition, ParsePosition(c.pszText));
        if (c.pszShown != nullptr) {
            EXPECT_EQ(c.pszShown, PositionText(c.pszText));
        }
    }
}

TEST(ToolsCommandLine, MatchesNamesAndEntriesInAnyCaseOfUnicode) {
    struct {
        const wchar_t* pszName;
        const wchar_t* pszText;
        bool bMatches;
    } names[] = {
        {L"Caméra Été", L"CAMÉRA ÉTÉ", true},
        {L"Камера", L"кАМЕРА", true},
        {L"Ωmega", L"ωMEGA", true},
        // The final sigma is a capital sigma too; ordinal comparison folds it to nothing.
        {L"ΟΔΥΣΣΕΥΣ", L"οδυσσευς", true},
        {L"ΟΔΥΣΣΕΥΣ", L"οδυσσευσ", true},
        // Deseret capital and small long I, outside the basic plane.
        {L"\xD801\xDC00 Cam", L"\xD801\xDC28 cAM", true},
        {L"\xD801\xDC00", L"\xD801\xDC01", false},
        {L"Cam", L"Cam ", false},
        {L"Cam A", L"Cam", false},
        {L"", L"", true},
    };
    for (const auto& c : names) {
        SCOPED_TRACE(Narrow(c.pszName) + " / " + Narrow(c.pszText));
        EXPECT_EQ(c.bMatches, DeviceNameMatches(c.pszName, c.pszText));
    }
    const std::wstring entry = L"640x480   7.5 RGB24 221184000";
    struct {
        const wchar_t* pszText;
        bool bMatches;
    } entries[] = {
        {L"640x480 7.5", true},
        {L"  640X480   7.5 rgb", true},
        {L"640x480 7.5 RGB24 221184000", true},
        {L"640x4800", false},
        {L"640x480 7.5 RGB24 2211840000", false},
        {L"", false},
        {L"   ", false},
        // A line cut from /list's CR LF output, or typed with trailing spaces.
        {L"640x480 7.5 RGB24 221184000\r", true},
        {L"640x480 7.5  \r\n", true},
        {L"640x480 7.5 RGB24 221184000   ", true},
        {L"640x480 7.5 RGB24 221184000 1", false},
    };
    for (const auto& c : entries) {
        SCOPED_TRACE(Narrow(c.pszText));
        EXPECT_EQ(c.bMatches, EntryStartsWith(entry, c.pszText));
    }
    EXPECT_TRUE(EntryStartsWith(L"Ёлка 1", L"ёЛКА"));
}

TEST(ToolsCommandLine, WritesControlCharactersOfANameOut) {
    EXPECT_EQ(L"Cam\\nA\\r\\tB", EscapeControls(L"Cam\nA\r\tB"));
    EXPECT_EQ(L"\\x1B[31m\\x7F\\x85", EscapeControls(L"\x1B[31m\x7F\x85"));
    EXPECT_EQ(L"a\\u2028b\\u2029", EscapeControls(L"a\x2028"
                                                  L"b\x2029"));
    EXPECT_EQ(L"Caméra Été", EscapeControls(L"Caméra Été"));
}

TEST(ToolsKeys, ReadAltFromTheMessageAndTakeAltGrForNoCombination) {
    constexpr LPARAM kAlt = 1 << 29;
    struct {
        const char* pszWhat;
        UINT nKey;
        LPARAM lParam;
        bool bCtrl, bAlt, bShift; // as GetKeyState says
        bool bFound;
        ToolAction action;
    } cases[] = {
        {"F11", VK_F11, 0, false, false, false, true, ToolAction::FullScreen},
        {"F11 with no focused control (a system key without Alt)", VK_F11, 0, false, false, false,
         true, ToolAction::FullScreen},
        {"Ctrl+C", 'C', 0, true, false, false, true, ToolAction::Copy},
        {"Ctrl+Shift+C", 'C', 0, true, false, true, false, ToolAction::Copy},
        {"AltGr+C (Ctrl and Alt)", 'C', kAlt, true, true, false, false, ToolAction::Copy},
        {"AltGr+S without the context bit", 'S', 0, true, true, false, false, ToolAction::Save},
        {"Alt+Enter", VK_RETURN, kAlt, false, true, false, true, ToolAction::Settings},
        {"Enter with no focused control", VK_RETURN, 0, false, false, false, true,
         ToolAction::LeaveFullScreenFirst},
        {"Alt+F4", VK_F4, kAlt, false, true, false, true, ToolAction::CloseFullScreen},
        {"F4", VK_F4, 0, false, false, false, false, ToolAction::CloseFullScreen},
        {"Ctrl+I", 'I', 0, true, false, false, true, ToolAction::Info},
        {"Alt+I", 'I', kAlt, false, true, false, false, ToolAction::Info},
        {"Shift+Space", VK_SPACE, 0, false, false, true, true, ToolAction::LeaveFullScreenFirst},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        const CToolKey* pKey =
            FindToolKey(c.nKey, KeyModifiers(c.lParam, c.bCtrl, c.bAlt, c.bShift));
        ASSERT_EQ(c.bFound, pKey != nullptr);
        if (pKey != nullptr) {
            EXPECT_EQ(static_cast<int>(c.action), static_cast<int>(pKey->action));
        }
    }
}

TEST(ToolsSnapshot, RefusesDeviceNamesAndChecksFrames) {
    struct {
        const wchar_t* pszPath;
        bool bDevice;
    } paths[] = {
        {L"C:\\Pictures\\NUL.png", true}, {L"C:\\Pictures\\nul", true},
        {L"Z:\\tmp\\con .png", true},     {L"aux.tar.gz", true},
        {L"C:\\x\\COM1.png", true},       {L"C:\\x\\lpt\u00B9.png", true},
        {L"C:\\x\\COM10.png", false},     {L"C:\\x\\NULL.png", false},
        {L"C:\\NUL\\frame.png", false},   {L"C:\\x\\Lookwell 2026.png", false},
        {L"C:/x/prn.png", true},
    };
    for (const auto& c : paths) {
        SCOPED_TRACE(Narrow(c.pszPath));
        EXPECT_EQ(c.bDevice, AfxIsDeviceName(c.pszPath));
    }

    struct {
        const char* pszWhat;
        std::vector<BYTE> dib;
        bool bUsable;
    } dibs[] = {
        {"24 bits, bottom up, padded rows", MakeDib(7, 5, 24), true},
        {"32 bits, top down", MakeDib(3, -4, 32), true},
        {"a byte short",
         [] {
             std::vector<BYTE> dib = MakeDib(7, 5, 24);
             dib.pop_back();
             return dib;
         }(),
         false},
        {"16 bits", MakeDib(4, 4, 16), false},
        {"no header", std::vector<BYTE>(10, 0), false},
        {"wider than the tools take", MakeDib(16385, 1, 24), false},
    };
    for (const auto& c : dibs) {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(c.bUsable, CheckedDib(c.dib) != nullptr);
    }
}

TEST(ToolsSnapshot, PngDecodesBackToTheFramePixelForPixel) {
    struct Apartment {
        HRESULT hr = ::CoInitialize(nullptr);
        ~Apartment() {
            if (SUCCEEDED(hr)) {
                ::CoUninitialize();
            }
        }
    } apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.hr));
    for (std::vector<BYTE> dib : {MakeDib(7, 5, 24), MakeDib(3, -4, 32)}) {
        const auto* pbih = CheckedDib(dib);
        ASSERT_NE(nullptr, pbih);
        UINT width = static_cast<UINT>(pbih->biWidth);
        UINT height = static_cast<UINT>(pbih->biHeight < 0 ? -pbih->biHeight : pbih->biHeight);
        std::vector<BYTE> png;
        ASSERT_EQ(S_OK, EncodePng(dib, png));
        IWICImagingFactory* pFactory = nullptr;
        ASSERT_EQ(S_OK,
                  ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IWICImagingFactory, reinterpret_cast<void**>(&pFactory)));
        IWICStream* pStream = nullptr;
        IWICBitmapDecoder* pDecoder = nullptr;
        IWICBitmapFrameDecode* pFrame = nullptr;
        IWICFormatConverter* pConverter = nullptr;
        std::vector<BYTE> pixels(width * height * 3);
        HRESULT hr = pFactory->CreateStream(&pStream);
        if (SUCCEEDED(hr)) {
            hr = pStream->InitializeFromMemory(png.data(), static_cast<DWORD>(png.size()));
        }
        if (SUCCEEDED(hr)) {
            hr = pFactory->CreateDecoderFromStream(pStream, nullptr, WICDecodeMetadataCacheOnDemand,
                                                   &pDecoder);
        }
        if (SUCCEEDED(hr)) {
            hr = pDecoder->GetFrame(0, &pFrame);
        }
        if (SUCCEEDED(hr)) {
            hr = pFactory->CreateFormatConverter(&pConverter);
        }
        if (SUCCEEDED(hr)) {
            hr =
                pConverter->Initialize(pFrame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                       nullptr, 0, WICBitmapPaletteTypeCustom);
        }
        UINT w = 0, h = 0;
        if (SUCCEEDED(hr)) {
            hr = pConverter->GetSize(&w, &h);
        }
        if (SUCCEEDED(hr)) {
            hr = pConverter->CopyPixels(nullptr, width * 3, static_cast<UINT>(pixels.size()),
                                        pixels.data());
        }
        for (IUnknown* p :
             std::initializer_list<IUnknown*>{pConverter, pFrame, pDecoder, pStream, pFactory}) {
            if (p != nullptr) {
                p->Release();
            }
        }
        ASSERT_EQ(S_OK, hr);
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
        int nWrong = 0;
        for (UINT y = 0; y < height; ++y) {
            for (UINT x = 0; x < width; ++x) {
                const BYTE* p = &pixels[(y * width + x) * 3];
                nWrong += p[0] != x || p[1] != y || p[2] != x + y;
            }
        }
        EXPECT_EQ(0, nWrong) << "pixels off, the top row first";
    }
}

TEST(ToolsInfo, CountsGoOnAcrossTheCameraRunsAndTheRateIsTheLastSecond) {
    struct Reading {
        ULONGLONG nMs;
        long nDelivered, nDropped;
    };
    struct {
        const char* pszWhat;
        std::vector<Reading> readings;
        long nDelivered, nDropped;
        double nRate; // -1: none yet
    } cases[] = {
        {"one reading", {{0, 5, 0}}, 5, 0, -1},
        {"less than 0.9 s", {{0, 0, 0}, {500, 15, 0}}, 15, 0, -1},
        {"a steady second", {{0, 0, 0}, {500, 15, 1}, {1000, 30, 1}}, 30, 1, 30},
        {"a restart (pause and resume) keeps the counts",
         {{0, 0, 0}, {500, 15, 2}, {1000, 30, 2}, {1500, 3, 0}, {2000, 18, 1}},
         48,
         3,
         18},
        {"only the last second counts",
         {{0, 0, 0}, {500, 5, 0}, {1000, 10, 0}, {1500, 40, 0}, {2000, 70, 0}},
         70,
         0,
         60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CFrameCounter counter;
        for (const Reading& r : c.readings) {
            counter.Add(r.nMs, r.nDelivered, r.nDropped);
        }
        EXPECT_EQ(c.nDelivered, counter.Delivered());
        EXPECT_EQ(c.nDropped, counter.Dropped());
        double rate = -1;
        EXPECT_EQ(c.nRate >= 0, counter.GetRate(rate));
        if (c.nRate >= 0) {
            EXPECT_NEAR(c.nRate, rate, 0.01);
        }
    }
    CInfoFigures figures;
    figures.bPreviewing = true;
    figures.nNominalFps = 30;
    figures.bNominalFromCaps = true;
    figures.bNoCounters = true;
    CString strText;
    FormatInfoText(figures, strText);
    std::wstring text = static_cast<const wchar_t*>(strText);
    EXPECT_NE(std::wstring::npos, text.find(L"Nominal:\t30.00 fps (capability)")) << Narrow(text);
    EXPECT_NE(std::wstring::npos, text.find(L"Measured:\tnot counted")) << Narrow(text);
}

// On the file systems tests/check_small_disk.sh makes: a save that fails keeps the old file and
// leaves nothing of ours; one that succeeds replaces it whole.
TEST(SmallDisk, SavesReplaceAFileOnlyWhenWholeAndSayWhyTheyFailed) {
    wchar_t szRoot[MAX_PATH] = L"";
    if (::GetEnvironmentVariableW(L"LOOKWELL_SMALL_FS", szRoot, MAX_PATH) == 0) {
        GTEST_SKIP() << "run by check_small_disk.sh";
    }
    const std::wstring root = std::wstring(szRoot) + L"\\";
    const std::vector<BYTE> old(3000, 'P');
    const std::vector<BYTE> picture(6000, 'N');
    auto read = [](const std::wstring& path) {
        std::vector<BYTE> bytes;
        HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            bytes.resize(::GetFileSize(hFile, nullptr));
            DWORD nRead = 0;
            ::ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &nRead, nullptr);
            ::CloseHandle(hFile);
        }
        return bytes;
    };
    auto files = [](const std::wstring& folder) {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE hFind = ::FindFirstFileW((folder + L"*").c_str(), &data);
        while (hFind != INVALID_HANDLE_VALUE) {
            if (data.cFileName[0] != L'.') {
                names.push_back(data.cFileName);
            }
            if (!::FindNextFileW(hFind, &data)) {
                ::FindClose(hFind);
                break;
            }
        }
        return names;
    };
    struct {
        const char* pszWhat;
        const wchar_t* pszFolder;
        const wchar_t* pszFile;
        bool bSaved;
        std::vector<std::wstring> filesAfter;
    } cases[] = {
        {"a full disk", L"full\\", L"old.png", false, {L"filler", L"old.png"}},
        {"a read-only folder", L"ro\\", L"old.png", false, {L"old.png"}},
        {"a device's name", L"ok\\", L"NUL.png", false, {L"old.png"}},
        {"room enough", L"ok\\", L"old.png", true, {L"old.png"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        const std::wstring folder = root + c.pszFolder;
        std::wstring error;
        EXPECT_EQ(c.bSaved, AfxSaveFileReplacing(folder + c.pszFile, picture, error));
        EXPECT_EQ(c.bSaved, error.empty()) << Narrow(error);
        EXPECT_EQ(c.bSaved ? picture : old, read(folder + L"old.png"));
        std::vector<std::wstring> after = files(folder);
        std::sort(after.begin(), after.end());
        EXPECT_EQ(c.filesAfter, after) << "nothing of ours is left";
    }
}
