// The command line: /list, /? and /check answer on standard output without a window, and the
// switches that choose a device, a format, the preview and full screen, also when they name
// nothing.
#include "support/camera.h"
#include "support/e2e_test.h"
#include "support/lookwell_process.h"

#include <algorithm>
#include <cwctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

using testcam_test::ScopedCamera;

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& ch : text) {
        ch = static_cast<wchar_t>(std::towlower(ch));
    }
    return text;
}

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at; (at = text.find(from)) != std::wstring::npos;) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::wstring SelectedText(HWND hCombo) {
    std::vector<std::wstring> texts = ComboTexts(hCombo);
    int nSelection = Selection(hCombo);
    return nSelection >= 0 && static_cast<size_t>(nSelection) < texts.size()
               ? texts[static_cast<size_t>(nSelection)]
               : L"";
}

class E2eCommandLine : public CEndToEndTest {};

// One CSV record: fields split at commas outside quotes, doubled quotes undone.
std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool bQuoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char ch = line[i];
        if (ch == '"') {
            if (bQuoted && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else {
                bQuoted = !bQuoted;
            }
        } else if (ch == ',' && !bQuoted) {
            fields.emplace_back();
        } else {
            fields.back() += ch;
        }
    }
    return fields;
}

// /check /csv's rows as column name to value, header first.
std::vector<std::map<std::string, std::string>> CsvRows(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    std::vector<std::map<std::string, std::string>> rows;
    if (lines.empty()) {
        return rows;
    }
    std::vector<std::string> header = CsvFields(lines[0]);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields = CsvFields(lines[i]);
        std::map<std::string, std::string> row;
        for (size_t j = 0; j < header.size() && j < fields.size(); ++j) {
            row[header[j]] = fields[j];
        }
        rows.push_back(row);
    }
    return rows;
}

double Figure(const std::map<std::string, std::string>& row, const char* pszColumn) {
    auto it = row.find(pszColumn);
    return it != row.end() && !it->second.empty() && it->second != "-"
               ? std::atof(it->second.c_str())
               : -1;
}

// The aligned table's rows, as far as they tell a starved format: its verdict (text, from its
// column's start) and its drops (a figure, up to its column's end), and who counted them.
std::vector<std::map<std::string, std::string>> TableRows(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line) && line != "\r";) {
        lines.push_back(!line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1)
                                                             : line);
    }
    std::vector<std::map<std::string, std::string>> rows;
    if (lines.empty()) {
        return rows;
    }
    const std::string& header = lines[0];
    auto textAt = [](const std::string& line, size_t at) {
        return at < line.size() ? line.substr(at, line.find("  ", at) - at) : std::string();
    };
    auto figureTo = [](const std::string& line, size_t end) {
        size_t from = line.find_last_of(' ', end - 1);
        return end <= line.size() ? line.substr(from + 1, end - from - 1) : std::string();
    };
    for (size_t i = 1; i < lines.size() && lines[i].find(" failed") == std::string::npos; ++i) {
        rows.push_back({{"verdict", textAt(lines[i], header.find("verdict"))},
                        {"counted by", textAt(lines[i], header.find("counted by"))},
                        {"dropped", figureTo(lines[i], header.find("dropped") + 7)}});
    }
    return rows;
}

// The findings of a verdict, worst first; none for "OK".
std::vector<std::string> Findings(const std::string& verdict) {
    std::vector<std::string> findings;
    if (verdict == "OK") {
        return findings;
    }
    size_t at = 0;
    for (size_t comma = verdict.find(", "); comma != std::string::npos;
         at = comma + 2, comma = verdict.find(", ", at)) {
        findings.push_back(verdict.substr(at, comma - at));
    }
    findings.push_back(verdict.substr(at));
    return findings;
}

// A format the busy machine starved: the camera's thread ran late, the camera dropped frames as
// a sensor does and counted them, and the check failed the format for its rate or its drops.
bool Starved(std::map<std::string, std::string> row) {
    return row["counted by"] == "camera" && Figure(row, "dropped") > 0 &&
           (row["verdict"] == "drops" || row["verdict"] == "rate below 90 % of nominal" ||
            row["verdict"] == "rate below 90 % of nominal, drops");
}

} // namespace

TEST_F(E2eCommandLine, ListAndHelpAnswerOnStandardOutputWithoutAWindow) {
    std::string windowLists;
    {
        ScopedCamera first(L"RGB24:320x240@30,RGB32:640x480@15");
        ScopedCamera second(L"RGB24:160x120@30,YUY2:320x240@30");
        // The lists as the window shows them, device by device.
        ASSERT_TRUE(Launch());
        HWND hDevices = Item(IDC_DEVICE_LIST);
        for (size_t i = 0; i < ComboTexts(hDevices).size(); ++i) {
            SelectEntry(hDevices, static_cast<int>(i));
            windowLists += Narrow(ComboTexts(hDevices)[i]) + "\r\n";
            for (const std::wstring& entry : ComboTexts(Item(IDC_FORMAT_LIST))) {
                windowLists += "    " + Narrow(entry) + "\r\n";
            }
        }
        for (const wchar_t* pszArgs : {L"/list", L"/LiSt ignored words /preview"}) {
            SCOPED_TRACE(Narrow(pszArgs));
            CRunResult run = RunRedirected(pszArgs);
            EXPECT_EQ(0u, run.nExit);
            EXPECT_EQ(windowLists, run.out);
            EXPECT_EQ("", run.err);
        }
        CRunResult help = RunRedirected(L"/?");
        EXPECT_EQ(0u, help.nExit);
        EXPECT_NE(std::string::npos, help.out.find("/device:NAME")) << help.out;
        // Started as from a shortcut, with nowhere to print: the text in a message box.
        LookwellProcess boxed(L"Lookwell.exe", L"/?", DETACHED_PROCESS);
        HWND hBox = boxed.WaitForMainWindow();
        ASSERT_NE(nullptr, hBox);
        EXPECT_EQ(L"Lookwell", WindowText(hBox));
        std::wstring boxText;
        for (HWND hChild = ::GetWindow(hBox, GW_CHILD); hChild != nullptr;
             hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
            boxText += WindowText(hChild);
        }
        EXPECT_NE(std::wstring::npos, boxText.find(L"/device:NAME"));
        ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(0u, boxed.WaitForExit(kPatienceMs));
    }
    // No camera at all: a one-line reason on standard error and exit code 1.
    CRunResult none = RunRedirected(L"/list");
    EXPECT_EQ(1u, none.nExit);
    EXPECT_EQ("", none.out);
    EXPECT_EQ("No capture device found.\r\n", none.err);
}

TEST_F(E2eCommandLine, SwitchesChooseDeviceFormatPreviewAndFullScreenOrSayWhatIsMissing) {
    ScopedCamera first(L"RGB24:320x240@30,RGB32:640x480@15");
    ScopedCamera second(L"RGB24:160x120@30,RGB24:320x240@30,RGB32:320x240@60");
    struct {
        const wchar_t* pszArgs; // {A} and {B} stand for the cameras' names
        int nDevice;
        const wchar_t* pszFormat;  // the selected format entry
        const wchar_t* pszMessage; // the text in place of the picture; null for none
        bool bRunning;
        bool bFullScreen;
    } cases[] = {
        {L"/bogus words -x", 0, L"320x240  30.0 RGB24 55296000", nullptr, false, false},
        {L"/device:\"{B}\" /format:\"320x240 30\"", 1, L"320x240  30.0 RGB24 55296000", nullptr,
         false, false},
        {L"/FORMAT:2 /DEVICE:\"{b}\" /Preview", 1, L"320x240  60.0 RGB32 147456000", nullptr, true,
         false},
        {L"/device:1 /fullscreen", 1, L"160x120  30.0 RGB24 13824000", nullptr, true, true},
        {L"/device:\"Cam X\" /preview", 0, L"320x240  30.0 RGB24 55296000",
         L"No capture device named \"Cam X\".", false, false},
        {L"/device:2", 0, L"320x240  30.0 RGB24 55296000", L"No capture device at position 2.",
         false, false},
        {L"/format:5 /preview", 0, L"320x240  30.0 RGB24 55296000",
         L"No format at position 5 for \"{A}\".", false, false},
        {L"/device:1 /format:1920x1080 /preview", 1, L"160x120  30.0 RGB24 13824000",
         L"No format \"1920x1080\" for \"{B}\".", false, false},
    };
    auto names = [&](std::wstring text) {
        text = Replace(Replace(text, L"{A}", first.name()), L"{B}", second.name());
        return Replace(text, L"{b}", Lower(second.name()));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(names(c.pszArgs)));
        ASSERT_TRUE(Launch(L"Lookwell.exe", names(c.pszArgs)));
        // The switches are applied once the window is up: wait for all their effects.
        HWND hMessage = Item(IDC_MESSAGE);
        RECT rcScreen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        auto fullScreen = [&] {
            for (HWND hWnd : Lookwell().Windows()) {
                if (SameRect(rcScreen, WindowRect(hWnd))) {
                    return true;
                }
            }
            return false;
        };
        auto message = [&] { return ::IsWindowVisible(hMessage) ? WindowText(hMessage) : L""; };
        std::wstring expected = c.pszMessage != nullptr ? names(c.pszMessage) : L"";
        EXPECT_TRUE(PumpUntil("all the switches' effects", [&] {
            return message() == expected && Selection(Item(IDC_DEVICE_LIST)) == c.nDevice &&
                   SelectedText(Item(IDC_FORMAT_LIST)) == c.pszFormat &&
                   HasCaption(c.bRunning ? L"Stop" : L"Pre\nview") && fullScreen() == c.bFullScreen;
        }));
        EXPECT_EQ(Narrow(expected), Narrow(message()));
        EXPECT_EQ(c.nDevice, Selection(Item(IDC_DEVICE_LIST)));
        EXPECT_EQ(Narrow(c.pszFormat), Narrow(SelectedText(Item(IDC_FORMAT_LIST))));
        EXPECT_TRUE(HasCaption(c.bRunning ? L"Stop" : L"Pre\nview"));
        EXPECT_EQ(c.bFullScreen, fullScreen());
        ::PostMessageW(Main(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, Lookwell().WaitForExit());
    }
}

TEST_F(E2eCommandLine, LostOutputIsAFailureAndNamesMatchInAnyCaseOfUnicode) {
    const std::wstring unicodeName =
        L"Caméra Été Камера " + std::to_wstring(::GetCurrentProcessId());
    ScopedCamera unicode(L"RGB24:320x240@30", L"", unicodeName);
    ScopedCamera twoLines(L"RGB24:160x120@30");
    // A name with a line break in it, as a driver may report one.
    const std::wstring key =
        L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\" + twoLines.name();
    const wchar_t szBroken[] = L"Broken\nName";
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"FriendlyName",
                                               REG_SZ, szBroken, sizeof(szBroken)));
    CRunResult list = RunRedirected(L"/list");
    EXPECT_EQ(0u, list.nExit);
    EXPECT_NE(std::string::npos, list.out.find("\r\nBroken\\nName\r\n    160x120")) << list.out;

    // Standard output that takes nothing: a full device, a pipe nobody reads any more.
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE hFull =
        ::CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFull);
    HANDLE hRead = nullptr;
    HANDLE hWrite = nullptr;
    ASSERT_TRUE(::CreatePipe(&hRead, &hWrite, &sa, 0));
    ::CloseHandle(hRead);
    for (HANDLE hOut : {hFull, hWrite}) {
        // The check's figures lost are nothing delivered: 2, not a success.
        const std::wstring check = L"/check /seconds:1 /device:1";
        for (const std::wstring& args : {std::wstring(L"/list"), std::wstring(L"/?"), check}) {
            SCOPED_TRACE(Narrow(args));
            EXPECT_EQ(args == check ? 2u : 1u, RunWithOutput(args, hOut, hOut))
                << "the output was lost";
        }
    }
    ::CloseHandle(hFull);
    ::CloseHandle(hWrite);

    // Any case of any script, and a leading run of spaces in a format.
    std::wstring upper = unicodeName;
    ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    ASSERT_TRUE(Launch(L"Lookwell.exe", L"/device:\"" + upper + L"\" /format:\"   320x240  30\""));
    EXPECT_TRUE(PumpUntil("the camera of that name selected", [&] {
        std::vector<std::wstring> names = ComboTexts(Item(IDC_DEVICE_LIST));
        int nSelection = Selection(Item(IDC_DEVICE_LIST));
        return nSelection >= 0 && static_cast<size_t>(nSelection) < names.size() &&
               names[static_cast<size_t>(nSelection)] == unicodeName;
    }));
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_MESSAGE))) << Narrow(WindowText(Item(IDC_MESSAGE)));
}

TEST_F(E2eCommandLine, CheckExitsWithItsCodeAndOneLineReasons) {
    ScopedCamera camera(L"RGB24:320x240@30,RGB32:320x240@15");
    ScopedCamera stuck(L"RGB24:160x120@30", L"stuckrun");
    struct {
        const wchar_t* pszArgs; // {A} stands for the camera's name
        DWORD nExit;
        const char* pszErr;              // standard error exactly; null: see pszErrEnd
        const char* pszErrEnd = nullptr; // how standard error ends
        const char* pszOutEnd = "";      // how standard output ends
    } cases[] = {
        {L"/check /device:\"Cam X\"", 2, "No capture device named \"Cam X\".\r\n"},
        {L"/check /device:7", 2, "No capture device at position 7.\r\n"},
        {L"/check /device:\"{A}\" /format:9", 2, "No format at position 9 for \"{A}\".\r\n"},
        {L"/check /device:\"{A}\" /format:1920x1080", 2,
         "No format \"1920x1080\" for \"{A}\".\r\n"},
        {L"/check /seconds:0", 2, "/seconds: takes a whole number from 1 to 60, not \"0\".\r\n"},
        {L"/check /seconds:61 /device:\"{A}\"", 2,
         "/seconds: takes a whole number from 1 to 60, not \"61\".\r\n"},
        {L"/check /seconds:two", 2,
         "/seconds: takes a whole number from 1 to 60, not \"two\".\r\n"},
        // A name is written out as /list writes it: the reason stays one line.
        {L"/check /device:\"Cam\x1B[31mX\"", 2, "No capture device named \"Cam\\x1B[31mX\".\r\n"},
        // A report that could never be written is refused before the check.
        {L"/check /report:NUL.html", 2,
         "/report: takes the name of a file to write, not \"NUL.html\".\r\n"},
        {L"/check /report:", 2, "/report: takes the name of a file to write, not \"\".\r\n"},
        // Trailing spaces, as in a line cut from /list's output, are no part of the format.
        {L"/check /device:\"{A}\" /format:\"320x240 15   \" /seconds:1", 0,
         "Checking 1/1: 320x240  15.0 RGB32 36864000 (about 2 s left)\r\n", nullptr,
         "\r\n1 format: 1 OK, 0 failed\r\n"},
        {L"/check /device:\"{A}\" /format:\"320x240 15\" /seconds:2", 0,
         "Checking 1/1: 320x240  15.0 RGB32 36864000 (about 3 s left)\r\n", nullptr,
         "\r\n1 format: 1 OK, 0 failed\r\n"},
        {L"/CHECK /Seconds:2 /device:\"{a}\" /csv", 0, nullptr,
         "Checking 2/2: 320x240  15.0 RGB32 36864000 (about 3 s left)\r\n", ",yes,\r\n"},
    };
    auto names = [&](std::wstring text) {
        text = Replace(text, L"{A}", camera.name());
        return Replace(text, L"{a}", Lower(camera.name()));
    };
    auto endsWith = [](const std::string& text, const std::string& end) {
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end) == 0;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(names(c.pszArgs)));
        CRunResult run = RunRedirected(names(c.pszArgs), 60000);
        bool bCsv = std::wstring(c.pszArgs).find(L"/csv") != std::wstring::npos;
        std::vector<std::map<std::string, std::string>> rows =
            bCsv ? CsvRows(run.out) : TableRows(run.out);
        if (c.nExit == 0 && std::any_of(rows.begin(), rows.end(), Starved)) {
            EXPECT_EQ(1u, run.nExit) << "a format failed";
            EXPECT_TRUE(endsWith(run.err, " failed.\r\n")) << run.err;
            continue;
        }
        EXPECT_EQ(c.nExit, run.nExit);
        if (c.pszErr != nullptr) {
            EXPECT_EQ(Narrow(names(std::wstring(c.pszErr, c.pszErr + std::strlen(c.pszErr)))),
                      run.err);
        } else {
            EXPECT_TRUE(endsWith(run.err, c.pszErrEnd)) << run.err;
        }
        EXPECT_TRUE(endsWith(run.out, c.pszOutEnd)) << run.out;
        if (c.nExit == 2) {
            EXPECT_EQ("", run.out);
        }
    }
    // A camera that never streams: exit code 1, the summary on standard error, and the row says
    // why.
    CRunResult run =
        RunRedirected(L"/check /csv /seconds:1 /device:\"" + stuck.name() + L"\"", 60000);
    EXPECT_EQ(1u, run.nExit);
    EXPECT_TRUE(endsWith(run.err, "\r\n1 format: 0 OK, 1 failed.\r\n")) << run.err;
    std::vector<std::map<std::string, std::string>> rows = CsvRows(run.out);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("did not start", rows[0]["verdict"]);
    EXPECT_EQ("no frame within 5 s", rows[0]["start"]);
}

// /report: one page beside nothing, written whole, and a path it cannot write to said on one
// line with exit code 2 while the table still goes out.
TEST_F(E2eCommandLine, CheckWritesAReportToSendAndSaysWhenItCannot) {
    ScopedCamera camera(L"RGB24:320x240@30,MJPG:320x240@30");
    const std::wstring written = ModuleFolder() + L"e2e-report.html";
    const std::wstring unwritable = ModuleFolder() + L"no-such-folder\\report.html";
    ::DeleteFileW(written.c_str());
    for (const std::wstring& path : {written, unwritable}) {
        SCOPED_TRACE(Narrow(path));
        bool bWritable = path == written;
        CRunResult run = RunRedirected(L"/check /csv /seconds:1 /device:\"" + camera.name() +
                                           L"\" /report:\"" + path + L"\"",
                                       60000);
        std::vector<std::map<std::string, std::string>> rows = CsvRows(run.out);
        ASSERT_EQ(2u, rows.size()) << run.out << run.err;
        bool bStarved = std::any_of(rows.begin(), rows.end(), Starved);
        std::string lastErrLine = run.err.substr(run.err.rfind("\r\n", run.err.size() - 3) + 2);
        if (bWritable) {
            EXPECT_EQ(bStarved ? 1u : 0u, run.nExit) << run.err;
            ASSERT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()))
                << "no report written";
            std::string html = ReadAll(path);
            ::DeleteFileW(path.c_str());
            EXPECT_EQ(0u, html.find("<!DOCTYPE html>"));
            EXPECT_NE(std::string::npos, html.find(Narrow(camera.name())));
            auto count = [&](const std::string& what) {
                size_t n = 0;
                for (size_t at = html.find(what); at != std::string::npos;
                     at = html.find(what, at + 1)) {
                    ++n;
                }
                return n;
            };
            // A picture and a plot per format, nothing to fetch and nothing to run.
            EXPECT_EQ(2u, count("<img "));
            EXPECT_EQ(2u, count("src=\"data:image/png;base64,"));
            EXPECT_EQ(2u, count("<svg "));
            EXPECT_EQ(0u, count("<script"));
            EXPECT_EQ(0u, count("src=\"http"));
        } else {
            EXPECT_EQ(2u, run.nExit);
            EXPECT_EQ(0u,
                      lastErrLine.find("The report was not written to \"" + Narrow(path) + "\": "))
                << run.err;
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()));
        }
    }
}

TEST_F(E2eCommandLine, CheckWithoutAnyCameraSaysSo) {
    CRunResult run = RunRedirected(L"/check");
    EXPECT_EQ(2u, run.nExit);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("No capture device found.\r\n", run.err);
}

// Test cameras that misbehave as real ones do, each checked from the command line: the finding
// in the right format with its figures, OK everywhere else, exit code 1 for a failed format, and
// the check over within its bound however the camera misbehaves.
TEST_F(E2eCommandLine, CheckFindsWhatEachMisbehavingCameraDoes) {
    struct {
        const wchar_t* pszFormats;
        const wchar_t* pszOptions;
        size_t nFormat; // the format with the finding; the others must be OK
        const char* pszVerdict;
        const char* pszStart;  // the start column of that format
        const char* pszColumn; // a figure of that format, within the tolerance
        double dValue;
        double dTolerance;
        const char* pszNote; // part of that format's note
    } cases[] = {
        {L"RGB24:320x240@30,YUY2:320x240@30,NV12:320x240@30,MJPG:320x240@30,RGB32:320x240@60", L"",
         0, "OK", "yes", "fps", 30, 3, ""},
        {L"YUY2:640x480@30", L"stuckrun", 0, "did not start", "no frame within 5 s", "nominal", 30,
         0.01, ""},
        {L"RGB24:320x240@30,YUY2:320x240@15", L"refuse=1", 1, "did not start",
         "the camera refused the format", "nominal", 15, 0.01, ""},
        {L"RGB24:320x240@30", L"realfps=20", 0, "rate below 90 % of nominal", "yes", "fps", 20, 2,
         ""},
        // Three times the rate the user chose: timestamps or a mode not asked for.
        {L"RGB24:320x240@30", L"realfps=90", 0, "rate above 110 % of nominal", "yes", "fps", 90, 12,
         ""},
        {L"RGB24:320x240@30", L"black=4", 0, "black", "yes", "black", 15, 4, ""},
        {L"YUY2:320x240@30", L"frozen=3", 0, "frozen", "yes", "frozen", 40, 5, ""},
        {L"RGB32:320x240@30", L"short=5", 0, "bad samples", "yes", "short", 12, 3, ""},
        // Every picture cut in half: not one decodes, and none passes for a picture.
        {L"MJPG:320x240@30", L"short=1", 0, "bad samples", "yes", "fps", 30, 3,
         "pictures not decodable"},
        // Failures late in the window (each way a stream ends is told apart in the engine's
        // own tests); the rate is the one it delivered while it did.
        {L"RGB24:320x240@30", L"stopafter=20", 0, "stopped", "yes", "samples", 20, 2,
         "the camera stopped with an error after 0."},
        // Unplugged, and said so as a removal, not as an error.
        {L"RGB24:320x240@30", L"unplugafter=50", 0, "stopped", "yes", "fps", 30, 3,
         "the camera was removed after 1."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(std::wstring(c.pszFormats) + L" " + c.pszOptions));
        ScopedCamera camera(c.pszFormats, c.pszOptions);
        ASSERT_EQ(S_OK, camera.result());
        size_t nFormats = 1 + static_cast<size_t>(std::count(
                                  c.pszFormats, c.pszFormats + std::wcslen(c.pszFormats), L','));
        // Each format within its window and a bound of 13 s (the first picture, the silence
        // waited out, the decoding's tail, the stop), the program's start besides.
        ULONGLONG nStart = ::GetTickCount64();
        CRunResult run =
            RunRedirected(L"/check /csv /seconds:2 /device:\"" + camera.name() + L"\"", 120000);
        EXPECT_LE(::GetTickCount64() - nStart, nFormats * (2000 + 13000) + 10000);
        std::vector<std::map<std::string, std::string>> rows = CsvRows(run.out);
        ASSERT_EQ(nFormats, rows.size()) << "exit " << run.nExit << "\n" << run.out << run.err;
        bool bAllOk = true;
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(rows[i]["format"]);
            std::string verdict = rows[i]["verdict"];
            // A busy machine now and then starves the camera's thread: it drops frames as a
            // sensor does, counting them, and delivers others late. A healthy format may then
            // fail for its rate or its drops, whose finding comes before the others, and the rate
            // it shows lies between the expected one and what a loaded machine still delivers.
            double dDropped = rows[i]["counted by"] == "camera" ? Figure(rows[i], "dropped") : 0;
            bool bStarved = Starved(rows[i]);
            if (i == c.nFormat) {
                // A starved camera's own drops may add its rate and its drops to the finding,
                // wherever they rank, and take their share off its counts. Starved far enough,
                // a fault counted in pictures delivered comes after the window.
                const wchar_t* pszAfter = std::wcsstr(c.pszOptions, L"after=");
                bool bFaultAfterWindow =
                    pszAfter != nullptr && dDropped > 0 &&
                    Figure(rows[i], "samples") < std::wcstod(pszAfter + 6, nullptr);
                std::vector<std::string> expected =
                    Findings(bFaultAfterWindow ? "OK" : c.pszVerdict);
                std::vector<std::string> seen = Findings(verdict);
                bool bOnlyStarved =
                    dDropped > 0 &&
                    std::all_of(expected.begin(), expected.end(),
                                [&](const std::string& f) {
                                    return std::find(seen.begin(), seen.end(), f) != seen.end();
                                }) &&
                    std::all_of(seen.begin(), seen.end(), [&](const std::string& f) {
                        return std::find(expected.begin(), expected.end(), f) != expected.end() ||
                               f == "rate below 90 % of nominal" || f == "drops";
                    });
                if (!bOnlyStarved) {
                    EXPECT_EQ(c.pszVerdict, verdict) << run.out;
                }
                EXPECT_EQ(c.pszStart, rows[i]["start"]);
                double dSamples = Figure(rows[i], "samples");
                double dLow = c.dValue * dSamples / (dSamples + dDropped) - c.dTolerance;
                double dFigure = Figure(rows[i], c.pszColumn);
                EXPECT_GE(dFigure, dLow) << c.pszColumn << "\n" << run.out;
                EXPECT_LE(dFigure, c.dValue + c.dTolerance) << c.pszColumn << "\n" << run.out;
                if (bFaultAfterWindow) {
                    std::printf("[ starved  ] %s: the fault came after the window\n",
                                Narrow(c.pszOptions).c_str());
                } else {
                    EXPECT_NE(std::string::npos, rows[i]["note"].find(c.pszNote))
                        << rows[i]["note"];
                }
            } else if (!bStarved) {
                EXPECT_EQ("OK", verdict) << run.out;
            }
            bAllOk = bAllOk && verdict == "OK";
        }
        EXPECT_EQ(bAllOk ? 0u : 1u, run.nExit);
    }
}
