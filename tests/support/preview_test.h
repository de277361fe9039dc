// Helpers for tests that preview test cameras in a real main window.
#pragma once

#include "framework/object.h"
#include "support/camera.h"
#include "support/main_window.h"
#include "support/wait.h"
#include "ui/lookwell_dlg.h"

#include <string>

// Changes a value of a camera instance's registry entry, which the camera reads when it is
// next bound: a device that turns into another one between listing and previewing.
bool SetCameraValue(const std::wstring& camera, const wchar_t* pszValue, const wchar_t* pszText);

// The renderer's window inside the picture frame, or null.
HWND VideoWindowOf(const CLookwellDlg& dlg);

// The state the preview's graph reports, or -1 when it answers E_FAIL.
OAFilterState GraphState(const CLookwellDlg& dlg, HRESULT* phr = nullptr);

// The format the previewed camera streams to the renderer with.
bool ConnectedFormat(const CLookwellDlg& dlg, LONG& width, LONG& height, GUID& subtype);

// The application name is what arms the pause cycle; tests change it for a while.
class ScopedAppName : private CNoCopy {
public:
    explicit ScopedAppName(const wchar_t* pszName);
    ~ScopedAppName();

private:
    const wchar_t* m_pszOld;
};
