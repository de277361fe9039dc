// Text for other programs: standard output and error of a windowed program, and the clipboard.
#pragma once

#include <windows.h>

#include <string>

// Line ends as Windows' text wants them: every "\n" becomes "\r\n".
std::wstring AfxToCrlf(const std::wstring& text);

// Standard output or error of a program without a console of its own: the redirected handle
// it was given, else the console of the process that started it. False when the text could not
// be written whole (a full disk, a closed pipe, no output at all).
bool AfxWriteStd(DWORD nStdHandle, const std::wstring& text);
// Joins the console of the process that started this one, where Ctrl+C is pressed; standard
// handles that were redirected stay so. Nothing when there is none.
void AfxAttachParentConsole();
// Whether text for that standard handle has anywhere to go: a handle of its own (a console, a
// file, a pipe) or the console of the program that started this one. A program started from a
// shortcut or a file manager has neither.
bool AfxHasStdTarget(DWORD nStdHandle);
// A name or a value as a line shows it: in double quotes.
std::wstring AfxQuoted(const std::wstring& text);

// Opens the clipboard for hOwner. Another program may hold it for a moment: tried again for a
// quarter second. False when it stayed held.
bool AfxOpenClipboard(HWND hOwner);
// Text on the clipboard, CR LF line ends. False when the clipboard stayed held or did not take
// it; bHeld then says which.
bool AfxCopyText(HWND hOwner, const std::wstring& text, bool* pbHeld = nullptr);
