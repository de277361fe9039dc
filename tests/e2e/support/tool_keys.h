// The windows of the tools, as a test finds them from outside.
#pragma once

#include "support/lookwell_session.h"

// A visible top-level window of the process whose class or title contains the text.
HWND FindProcessWindow(CLookwellSession& session, const wchar_t* pszClass,
                       const wchar_t* pszTitlePart);
// Waits for such a window; null, with a failure that names it, when none comes.
HWND WaitForProcessWindow(CLookwellSession& session, const wchar_t* pszClass,
                          const wchar_t* pszTitlePart);
// The file name box of a Save As dialog: its first visible, enabled edit, once it is there;
// null, with a failure, when none comes.
HWND WaitForFileNameBox(HWND hDialog);
