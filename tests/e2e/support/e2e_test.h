// A test that drives Lookwell.exe from outside. It keeps the last screenshots it took and, when
// it fails, saves them with one of the whole screen under e2e-screenshots/ in the build folder.
#pragma once

#include "framework/object.h"
#include "res/resource.h"
#include "support/dialog_test.h"
#include "support/lookwell_session.h"
#include "support/screen_shot.h"

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

inline bool SameRect(const RECT& a, const RECT& b) {
    return ::EqualRect(&a, &b) != FALSE;
}

// The names of the platform's video input devices, in its order.
std::vector<std::wstring> PlatformDeviceNames();
// A text of the executable's version resource, read by the platform.
std::wstring VersionText(const std::wstring& exePath, const wchar_t* pszKey);

// A run of Lookwell.exe with its standard output and error redirected to files, as a script
// runs it.
struct CRunResult {
    DWORD nExit = STILL_ACTIVE;
    std::string out;
    std::string err;
};
CRunResult RunRedirected(const std::wstring& args, DWORD nTimeoutMs = 60000);
// The same run in the background, for a test that acts on the camera meanwhile.
class CBackgroundRun : private CNoCopy {
public:
    explicit CBackgroundRun(const std::wstring& args);
    // A run still going is ended.
    ~CBackgroundRun();

    bool Started() const { return m_pi.hProcess != nullptr; }
    // Waits up to nMs for the run to end (one that does not is ended) and reads its output.
    CRunResult Finish(DWORD nMs);
    // What it has written to standard error so far.
    std::string ErrorSoFar() const;

private:
    std::wstring m_outPath;
    std::wstring m_errPath;
    PROCESS_INFORMATION m_pi{};
    bool m_bFinished = false;
    CRunResult m_result;
};
// A run with its standard output and error on those handles; its exit code, or STILL_ACTIVE
// when it did not start.
DWORD RunWithOutput(const std::wstring& args, HANDLE hOut, HANDLE hErr, DWORD nTimeoutMs = 60000);
// ASCII text, as the names and entries here are.
std::string Narrow(const std::wstring& text);
// A file's bytes; empty when it cannot be read.
std::string ReadAll(const std::wstring& path);

// The bitmap on the clipboard; empty when there is none.
CScreenShot ClipboardFrame();
// Waits until the clipboard's sequence number is another than `nSequence` and whoever changed
// it has closed it again: emptied, it counts as changed before the new data is on it.
::testing::AssertionResult ClipboardChanges(DWORD nSequence);

class CEndToEndTest : public ::testing::Test {
protected:
    void TearDown() override;

    // Starts the program, or a copy of it, and waits for its window.
    ::testing::AssertionResult Launch(const std::wstring& exeName = L"Lookwell.exe",
                                      const std::wstring& args = L"");
    CLookwellSession& Lookwell() { return *m_pLookwell; }
    HWND Main() const { return m_pLookwell->Main(); }
    HWND Item(int nId) const { return m_pLookwell->Item(nId); }
    // The picture frame, in screen coordinates.
    RECT Frame() const;

    // Keys as a person presses them: the modifiers down, the key down and up, the modifiers up;
    // once the window that is to take them (by default one of the program's) is the foreground
    // window, or they would reach nothing.
    void PressKeys(std::initializer_list<WORD> keys, HWND hTo = nullptr);

    // Clicks the preview button and waits until the condition holds.
    template <class Condition>::testing::AssertionResult Press(Condition condition) {
        HWND hButton = Item(IDC_PREVIEW_BUTTON);
        POINT pt = Centre(WindowRect(hButton));
        Click(pt);
        if (testcam_test::PumpMessagesUntil(condition, kPatienceMs)) {
            return Settled();
        }
        POINT ptCursor{};
        ::GetCursorPos(&ptCursor);
        return ::testing::AssertionFailure()
               << "the button press had no effect in " << kPatienceMs << " ms; clicked at " << pt.x
               << "," << pt.y << " cursor at " << ptCursor.x << "," << ptCursor.y
               << " window there " << ::WindowFromPoint(pt) << " button " << hButton << " state "
               << ::SendMessageW(hButton, BM_GETSTATE, 0, 0) << " foreground "
               << ::GetForegroundWindow() << " main " << Main();
    }
    // The window's thread has finished the message it was handling when a test saw part of its
    // effect: a message sent to it is taken only between two messages. Seen from outside, a
    // handler's changes come one by one (a caption before the lists it enables).
    ::testing::AssertionResult Settled() const;
    // A press that starts the preview, or stops it.
    ::testing::AssertionResult Start();
    ::testing::AssertionResult Stop();
    bool HasCaption(const wchar_t* pszCaption) const;

    // The frame as it is on the screen now, kept for a failure report.
    CScreenShot Shoot(const char* pszLabel);
    // Shots some frames apart differ inside the frame.
    ::testing::AssertionResult IsLive();
    // Once the picture stands still, it stays so.
    ::testing::AssertionResult IsFrozen();
    // A negative check's wait: a lone press acts once the double-click time is over, so that
    // by then a double click's first press would have paused the picture.
    void PassTheDoubleClickTime();
    // The frame shows no picture: all of it in the colour of a static black rectangle.
    ::testing::AssertionResult IsEmptyFrame();
    // The picture fills the frame with the camera's bars in place.
    ::testing::AssertionResult ShowsBars();

private:
    std::unique_ptr<CLookwellSession> m_pLookwell;
    std::deque<std::pair<std::string, CScreenShot>> m_shots;
};
