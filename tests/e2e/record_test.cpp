// /record from outside: Lookwell.exe records a test camera's stream without a window, and the
// file is read back through the platform's own AVI reader (support/avi_readers.h).
#include "framework/object.h"
#include "media/jpeg_decoder.h"
#include "support/avi_readers.h"
#include "support/camera.h"
#include "support/e2e_test.h"
#include "support/lookwell_process.h"
#include "support/tool_keys.h"

#include <vfw.h>

#include <algorithm>
#include <cstring>
#include <set>

using testcam_test::PumpUntil;
using testcam_test::ScopedCamera;

namespace {

class E2eRecord : public CEndToEndTest {};

// A folder of the tests' own, emptied: whatever a run leaves there is the run's.
std::wstring RecordFolder() {
    std::wstring folder = ModuleFolder() + L"record-e2e\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE hFind = ::FindFirstFileW((folder + L"*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                ::DeleteFileW((folder + data.cFileName).c_str());
            }
        } while (::FindNextFileW(hFind, &data));
        ::FindClose(hFind);
    }
    return folder;
}

std::set<std::wstring> FilesIn(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE hFind = ::FindFirstFileW((folder + L"*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.insert(data.cFileName);
            }
        } while (::FindNextFileW(hFind, &data));
        ::FindClose(hFind);
    }
    return names;
}

ULONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The last line of standard error: the run's verdict, after the progress line.
std::string LastLine(const std::string& err) {
    std::string text = EndsWith(err, "\r\n") ? err.substr(0, err.size() - 2) : err;
    size_t nAt = text.find_last_of('\n');
    return nAt == std::string::npos ? text : text.substr(nAt + 1);
}

// The user's Videos folder moved to a folder of the tests' own for the object's life: the
// prefix's one is the home folder of whoever runs the tests. Lookwell, in the same prefix, asks
// the shell, which reads it here. Wine quirk: Wine's shell reads the value "My Videos", Windows'
// "My Video"; both are set.
class CScopedVideosFolder : private CNoCopy {
public:
    explicit CScopedVideosFolder(const std::wstring& folder) {
        if (::RegOpenKeyExW(HKEY_CURRENT_USER,
                            L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User "
                            L"Shell Folders",
                            0, KEY_QUERY_VALUE | KEY_SET_VALUE, &m_hKey) != ERROR_SUCCESS) {
            m_hKey = nullptr;
            return;
        }
        m_bSet = true;
        for (CValue& value : m_values) {
            wchar_t szOld[MAX_PATH * 2];
            DWORD nBytes = sizeof(szOld);
            value.bHad =
                ::RegQueryValueExW(m_hKey, value.pszName, nullptr, &value.nType,
                                   reinterpret_cast<BYTE*>(szOld), &nBytes) == ERROR_SUCCESS;
            if (value.bHad) {
                value.old.assign(szOld, nBytes / sizeof(wchar_t));
            }
            m_bSet = Set(value.pszName, REG_SZ, folder) && m_bSet;
        }
    }
    ~CScopedVideosFolder() {
        if (m_hKey == nullptr) {
            return;
        }
        for (const CValue& value : m_values) {
            if (value.bHad) {
                Set(value.pszName, value.nType, value.old);
            } else {
                ::RegDeleteValueW(m_hKey, value.pszName);
            }
        }
        ::RegCloseKey(m_hKey);
    }
    bool IsSet() const { return m_bSet; }

private:
    struct CValue {
        const wchar_t* pszName;
        bool bHad = false;
        DWORD nType = REG_SZ;
        std::wstring old; // with its terminating null
    };

    bool Set(const wchar_t* pszName, DWORD nType, const std::wstring& text) {
        const size_t nChars = text.size() + (text.empty() || text.back() != L'\0' ? 1 : 0);
        return ::RegSetValueExW(m_hKey, pszName, 0, nType,
                                reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>(nChars * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

    HKEY m_hKey = nullptr;
    bool m_bSet = false;
    CValue m_values[2] = {{L"My Video", false, REG_SZ, {}}, {L"My Videos", false, REG_SZ, {}}};
};

std::wstring Quote(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// A recording from the command line into `path`, with the given switches besides.
CRunResult RecordFrom(const ScopedCamera& camera, const std::wstring& path,
                      const std::wstring& switches) {
    return RunRedirected(
        L"/record:" + Quote(path) + L" " + switches + L" /device:" + Quote(camera.name()), 60000);
}

} // namespace

TEST_F(E2eRecord, EachKindOfFormatRecordsItsTimeAndPlaysBackInThePlatformsReader) {
    ScopedCamera camera(
        L"RGB24:320x240@30,RGB32:320x240@30,YUY2:320x240@30,NV12:320x240@30,MJPG:320x240@30");
    const std::wstring folder = RecordFolder();
    struct {
        const wchar_t* pszFormat; // position in the camera's list
        bool bUncompressed;
        DWORD biCompression; // what the file says it holds
        size_t nRawBytes;    // an uncompressed picture's size; 0 for MJPG
    } cases[] = {
        {L"0", false, mmioFOURCC('M', 'J', 'P', 'G'), 0},
        {L"1", false, mmioFOURCC('M', 'J', 'P', 'G'), 0},
        {L"2", false, mmioFOURCC('M', 'J', 'P', 'G'), 0},
        {L"3", false, mmioFOURCC('M', 'J', 'P', 'G'), 0},
        {L"4", false, mmioFOURCC('M', 'J', 'P', 'G'), 0}, // as it comes
        {L"0", true, BI_RGB, 320 * 240 * 3},
    };
    for (const auto& c : cases) {
        const std::wstring path =
            folder + L"format" + c.pszFormat + (c.bUncompressed ? L"u" : L"") + L".avi";
        const std::wstring switches = std::wstring(L"/seconds:2 /format:") + c.pszFormat +
                                      (c.bUncompressed ? L" /uncompressed" : L"");
        SCOPED_TRACE(Narrow(path + L" " + switches));
        CRunResult run = RecordFrom(camera, path, switches);
        EXPECT_EQ(0u, run.nExit) << run.err;
        EXPECT_EQ(0u, LastLine(run.err).rfind("Recorded 0:02 to \"" + Narrow(path) + "\": ", 0))
            << run.err;
        EXPECT_EQ("", run.out);
        CPlayback play = Play(path, 320, 240, c.nRawBytes);
        ASSERT_EQ(S_OK, play.file.hr);
        EXPECT_EQ(c.biCompression, play.file.bih.biCompression);
        EXPECT_EQ(320, play.file.bih.biWidth);
        EXPECT_EQ(240, play.file.bih.biHeight);
        EXPECT_NEAR(30.0, play.dRate, 0.001);
        // Two seconds by the camera's stamps: the slots up to then, the last ones perhaps
        // without a picture on a loaded machine, never more.
        EXPECT_LE(play.file.nLength, 60);
        EXPECT_GE(play.file.nLength, 57);
        // A loaded machine delays frames that the camera then drops; at least 80 % came.
        EXPECT_GE(play.nPictures, 48u);
        EXPECT_EQ(0u, play.nUndecoded);
        ::DeleteFileW(path.c_str());
    }
}

// Ctrl+R in the window records the running picture from the tap into the Videos folder, an
// indicator over the picture saying for how long (its window text the file's path) and the
// information window counting the frames written; Ctrl+R again, or Stop, finishes a file that
// plays. Ctrl+Shift+R stores the pictures as they come. The picture never stops for it.
TEST_F(E2eRecord, CtrlRRecordsTheRunningPictureUntilCtrlRAgainOrStop) {
    ScopedCamera camera(L"RGB24:320x240@30");
    const std::wstring folder = RecordFolder();
    CScopedVideosFolder videos(folder.substr(0, folder.size() - 1));
    ASSERT_TRUE(videos.IsSet());
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(Start());
    struct {
        bool bUncompressed; // Ctrl+Shift+R
        bool bStopButton;   // ended by Stop, not Ctrl+R
        DWORD biCompression;
        size_t nRawBytes;
    } cases[] = {
        {false, false, mmioFOURCC('M', 'J', 'P', 'G'), 0},
        {true, false, BI_RGB, 320 * 240 * 3},
        {false, true, mmioFOURCC('M', 'J', 'P', 'G'), 0},
    };
    std::set<std::wstring> files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bUncompressed ? "Ctrl+Shift+R" : c.bStopButton ? "Stop" : "Ctrl+R");
        if (c.bUncompressed) {
            PressKeys({VK_CONTROL, VK_SHIFT, 'R'});
        } else {
            PressKeys({VK_CONTROL, 'R'});
        }
        HWND hIndicator = WaitForProcessWindow(Lookwell(), L"LookwellRecording", nullptr);
        ASSERT_NE(nullptr, hIndicator);
        const std::wstring path = WindowText(hIndicator);
        EXPECT_EQ(0u, path.rfind(folder + L"Lookwell ", 0)) << Narrow(path);
        EXPECT_TRUE(files.insert(path).second) << "a new file each time: " << Narrow(path);
        EXPECT_TRUE(PumpUntil("two seconds recorded", [&] {
            return WindowText(::GetWindow(hIndicator, GW_CHILD)).rfind(L"REC 0:02  ", 0) == 0;
        })) << Narrow(WindowText(::GetWindow(hIndicator, GW_CHILD)));
        if (!c.bUncompressed && !c.bStopButton) {
            PressKeys({VK_CONTROL, 'I'});
            HWND hInfo = WaitForProcessWindow(Lookwell(), L"LookwellInformation", nullptr);
            ASSERT_NE(nullptr, hInfo);
            EXPECT_TRUE(PumpUntil("the frames written counted", [&] {
                return WindowText(::GetWindow(hInfo, GW_CHILD)).find(L"Recording:\t") !=
                       std::wstring::npos;
            }));
            PressKeys({VK_CONTROL, 'I'});
            // Full screen hides the main window: the indicator does not float where it was.
            PressKeys({VK_F11});
            EXPECT_TRUE(PumpUntil("the indicator hidden in full screen",
                                  [&] { return !::IsWindowVisible(hIndicator); }));
            PressKeys({VK_ESCAPE});
            EXPECT_TRUE(
                PumpUntil("the indicator back", [&] { return ::IsWindowVisible(hIndicator); }));
        }
        EXPECT_TRUE(IsLive());
        if (c.bStopButton) {
            ASSERT_TRUE(Stop());
        } else {
            PressKeys({VK_CONTROL, 'R'});
        }
        EXPECT_TRUE(
            PumpUntil("the indicator gone", [&] { return !::IsWindowVisible(hIndicator); }));
        CPlayback play = Play(path, 320, 240, c.nRawBytes);
        ASSERT_EQ(S_OK, play.file.hr) << Narrow(path);
        EXPECT_EQ(c.biCompression, play.file.bih.biCompression);
        EXPECT_NEAR(30.0, play.dRate, 0.001);
        EXPECT_GE(play.dSeconds, 1.4); // the indicator rounds: "0:02" from 1.5 s
        EXPECT_GE(play.nPictures, 40u);
        EXPECT_EQ(0u, play.nUndecoded);
        ::DeleteFileW(path.c_str());
    }
}

TEST_F(E2eRecord, ASlowCameraIsRecordedAtRealSpeed) {
    // A camera that delivers 10 frames a second on a 30 fps format: the empty slots between its
    // pictures keep the file's duration the camera's.
    ScopedCamera camera(L"RGB24:320x240@30", L"realfps=10");
    const std::wstring path = RecordFolder() + L"slow.avi";
    CRunResult run = RecordFrom(camera, path, L"/seconds:3");
    EXPECT_EQ(0u, run.nExit) << run.err;
    CPlayback play = Play(path, 320, 240, 0);
    ASSERT_EQ(S_OK, play.file.hr);
    EXPECT_NEAR(30.0, play.dRate, 0.001);
    EXPECT_GE(play.dSeconds, 2.8);
    EXPECT_LE(play.dSeconds, 3.0);
    EXPECT_GE(play.nPictures, 24u);
    EXPECT_LE(play.nPictures, 30u);
    EXPECT_EQ(0u, play.nUndecoded);
}

TEST_F(E2eRecord, ACameraThatStopsEndsTheRecordingWithAFileThatPlaysToThere) {
    ScopedCamera camera(L"RGB24:320x240@30", L"stopafter=45");
    const std::wstring path = RecordFolder() + L"stops.avi";
    CRunResult run = RecordFrom(camera, path, L"/seconds:30");
    EXPECT_EQ(1u, run.nExit) << run.err;
    // 45 frames are 1.5 s, which the line rounds to 0:01 or 0:02 by a few milliseconds.
    const std::string last = LastLine(run.err);
    EXPECT_TRUE(last.rfind("The recording stopped after 0:01: ", 0) == 0 ||
                last.rfind("The recording stopped after 0:02: ", 0) == 0)
        << run.err;
    EXPECT_NE(std::string::npos,
              last.find(": the camera stopped with an error. \"" + Narrow(path) + "\" holds "))
        << run.err;
    CPlayback play = Play(path, 320, 240, 0);
    ASSERT_EQ(S_OK, play.file.hr);
    EXPECT_LE(play.nPictures, 45u);
    EXPECT_GE(play.nPictures, 36u);
    EXPECT_GE(play.dSeconds, 1.2);
    EXPECT_LE(play.dSeconds, 1.6);
    EXPECT_EQ(0u, play.nUndecoded);
}

TEST_F(E2eRecord, AKilledRecordingPlaysToItsLastSecond) {
    // Uncompressed pictures of a known size: the file's size tells how far it had come.
    ScopedCamera camera(L"RGB24:160x120@30");
    const std::wstring path = RecordFolder() + L"killed.avi";
    constexpr ULONGLONG kChunk = 8 + 160 * 120 * 3;
    LookwellProcess lookwell(L"Lookwell.exe", L"/record:" + Quote(path) +
                                                  L" /uncompressed /device:" +
                                                  Quote(camera.name()));
    ASSERT_TRUE(lookwell.Started());
    ASSERT_TRUE(PumpUntil("three seconds of pictures in the file",
                          [&] { return FileSize(path) > 90 * kChunk; }));
    const ULONGLONG nSize = FileSize(path);
    ASSERT_TRUE(lookwell.Kill());
    CPlayback play = Play(path, 160, 120, 160 * 120 * 3);
    ASSERT_EQ(S_OK, play.file.hr);
    // The pictures on disk when it was killed, less the last second's at the most (and the
    // header's room, some 10 KiB a second of slots).
    EXPECT_GE(static_cast<ULONGLONG>(play.nPictures) + 30 + 2, nSize / kChunk - 1);
    EXPECT_GE(play.nPictures, 50u);
    EXPECT_EQ(0u, play.nUndecoded);
}

TEST_F(E2eRecord, RefusalsWriteNothingAndSayWhyInOneLine) {
    ScopedCamera camera(L"RGB24:160x120@30");
    const std::wstring folder = RecordFolder();
    const std::wstring existing = folder + L"existing.avi";
    HANDLE hFile =
        ::CreateFileW(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD nWritten = 0;
    ::WriteFile(hFile, "keep", 4, &nWritten, nullptr);
    ::CloseHandle(hFile);
    const std::wstring fresh = folder + L"fresh.avi";
    const std::wstring device = L" /device:" + Quote(camera.name());
    struct {
        std::wstring args;
        std::string err; // standard error, exactly; a line ending in "..." only its start
    } cases[] = {
        {L"/record:" + Quote(existing) + device,
         "\"" + Narrow(existing) + "\" exists; a recording never replaces a file.\r\n"},
        {L"/record:NUL.avi" + device, "\"NUL.avi\" names a device, not a file.\r\n"},
        {L"/record:" + Quote(folder + L"COM1.avi") + device,
         "\"" + Narrow(folder) + "COM1.avi\" names a device, not a file.\r\n"},
        {L"/record:" + device, "/record: needs a file name.\r\n"},
        {L"/record:" + Quote(fresh) + L" /seconds:0" + device,
         "/seconds: takes a whole number from 1 to 86400, not \"0\".\r\n"},
        {L"/record:" + Quote(fresh) + L" /seconds:86401" + device,
         "/seconds: takes a whole number from 1 to 86400, not \"86401\".\r\n"},
        {L"/record:" + Quote(fresh) + L" /seconds:two" + device,
         "/seconds: takes a whole number from 1 to 86400, not \"two\".\r\n"},
        {L"/record:" + Quote(fresh) + L" /check" + device,
         "/record and /check cannot be used together.\r\n"},
        {L"/record:" + Quote(fresh) + L" /device:\"Cam X\"",
         "No capture device named \"Cam X\".\r\n"},
        {L"/record:" + Quote(fresh) + device + L" /format:9",
         "No format at position 9 for \"" + Narrow(camera.name()) + "\".\r\n"},
        {L"/record:" + Quote(folder + L"missing\\fresh.avi") + device,
         "The file \"" + Narrow(folder) + "missing\\fresh.avi\" could not be made: ..."},
    };
    const std::set<std::wstring> before = FilesIn(folder);
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.args));
        CRunResult run = RunRedirected(c.args, 60000);
        EXPECT_EQ(2u, run.nExit);
        if (EndsWith(c.err, "...")) {
            EXPECT_EQ(0u, run.err.rfind(c.err.substr(0, c.err.size() - 3), 0)) << run.err;
            EXPECT_TRUE(EndsWith(run.err, ".\r\n")) << run.err;
            EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        } else {
            EXPECT_EQ(c.err, run.err);
        }
        EXPECT_EQ("", run.out);
        EXPECT_EQ(before, FilesIn(folder));
        EXPECT_EQ("keep", ReadAll(existing));
    }
    ::DeleteFileW(existing.c_str());
}

// On a file system a few MiB above the recorder's margin (check_record_disk.sh mounts it): the
// recording stops early, says why, and the file plays to its last whole frame.
TEST(E2eRecordSmallDisk, AFullDiskEndsTheRecordingWithAFileThatPlays) {
    wchar_t szRoot[MAX_PATH];
    if (::GetEnvironmentVariableW(L"LOOKWELL_SMALL_FS", szRoot, MAX_PATH) == 0) {
        GTEST_SKIP() << "run by check_record_disk.sh";
    }
    ScopedCamera camera(L"RGB24:640x480@30");
    const std::wstring path = std::wstring(szRoot) + L"\\full.avi";
    ::DeleteFileW(path.c_str());
    CRunResult run = RecordFrom(camera, path, L"/uncompressed /seconds:60");
    EXPECT_EQ(1u, run.nExit) << run.err;
    const std::string line = LastLine(run.err);
    EXPECT_EQ(0u, line.rfind("The recording stopped after ", 0)) << line;
    // The disk filled between two checks of its free space, or a check found it low.
    EXPECT_TRUE(line.find(": writing failed: ") != std::string::npos ||
                line.find(": less than 64 MB is free on the disk. ") != std::string::npos)
        << line;
    CPlayback play = Play(path, 640, 480, 640 * 480 * 3);
    ASSERT_EQ(S_OK, play.file.hr);
    EXPECT_GE(play.nPictures, 1u);
    EXPECT_EQ(0u, play.nUndecoded);
    ::DeleteFileW(path.c_str());
}

class E2eRecordSmallDiskWindow : public CEndToEndTest {};

// Ctrl+R onto the same small disk: the recording ends on its own with a notice saying why, the
// file cut back so that it plays, and the picture goes on.
TEST_F(E2eRecordSmallDiskWindow, ADiskThatFillsEndsCtrlRWithANoticeAndAFileThatPlays) {
    wchar_t szRoot[MAX_PATH];
    if (::GetEnvironmentVariableW(L"LOOKWELL_SMALL_FS", szRoot, MAX_PATH) == 0) {
        GTEST_SKIP() << "run by check_record_disk.sh";
    }
    const std::wstring folder = std::wstring(szRoot) + L"\\";
    for (const std::wstring& name : FilesIn(folder)) {
        ::DeleteFileW((folder + name).c_str());
    }
    ScopedCamera camera(L"RGB24:640x480@30");
    CScopedVideosFolder videos(szRoot);
    ASSERT_TRUE(videos.IsSet());
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(Start());
    PressKeys({VK_CONTROL, VK_SHIFT, 'R'}); // 27 MB a second
    HWND hNotice = nullptr;
    EXPECT_TRUE(PumpUntil("the notice", [&] {
        hNotice = FindProcessWindow(Lookwell(), L"LookwellNotice", nullptr);
        return hNotice != nullptr;
    }));
    const std::wstring notice = hNotice != nullptr ? WindowText(hNotice) : L"";
    EXPECT_TRUE(notice == L"The recording ended: less than 64 MB is free on the disk." ||
                notice.rfind(L"The recording ended: writing failed: ", 0) == 0)
        << Narrow(notice);
    EXPECT_TRUE(IsLive());
    const std::set<std::wstring> files = FilesIn(folder);
    ASSERT_EQ(1u, files.size());
    const std::wstring path = folder + *files.begin();
    EXPECT_EQ(0u, files.begin()->rfind(L"Lookwell ", 0)) << Narrow(path);
    CPlayback play = Play(path, 640, 480, 640 * 480 * 3);
    ASSERT_EQ(S_OK, play.file.hr);
    EXPECT_GE(play.nPictures, 1u);
    EXPECT_EQ(0u, play.nUndecoded);
    EXPECT_TRUE(Stop());
    ::DeleteFileW(path.c_str());
}

// What Ctrl+C typed in a terminal left (check_record_interrupt.sh stops a recording of
// uncompressed 320 x 240 pictures once its progress says 0:02, that is 1.5 s or more): a file
// that plays to where it stopped.
TEST(E2eRecordInterrupted, TheFilePlaysToWhereCtrlCStoppedIt) {
    wchar_t szPath[MAX_PATH];
    if (::GetEnvironmentVariableW(L"LOOKWELL_INTERRUPTED_FILE", szPath, MAX_PATH) == 0) {
        GTEST_SKIP() << "run by check_record_interrupt.sh";
    }
    CPlayback play = Play(szPath, 320, 240, 320 * 240 * 3);
    ASSERT_EQ(S_OK, play.file.hr);
    EXPECT_NEAR(30.0, play.dRate, 0.001);
    EXPECT_GE(play.dSeconds, 1.5);
    EXPECT_GE(play.nPictures, 30u);
    EXPECT_EQ(0u, play.nUndecoded);
}
