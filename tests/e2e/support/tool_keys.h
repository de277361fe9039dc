// Keys, the clipboard and the windows of the tools, as a test reads them from outside.
#pragma once

#include "support/lookwell_session.h"
#include "support/screen_shot.h"

#include <initializer_list>

// Keys as a person presses them: the modifiers down, the key down and up, the modifiers up.
void PressKeys(std::initializer_list<WORD> keys);
// The clipboard's DIB as a picture; empty when it holds none.
CScreenShot ClipboardFrame();
// A visible top-level window of the process whose class or title contains the text.
HWND FindProcessWindow(CLookwellSession& session, const wchar_t* pszClass,
                       const wchar_t* pszTitlePart);
