// Files the program writes for the user, and the system's own words and functions for them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One line saying why a call failed, in the system's words, without the final full stop.
std::wstring AfxSystemErrorText(DWORD nError);

// A function of a system DLL, which stays loaded once asked for; null when it is missing.
template <class Fn> Fn AfxSystemFunction(const wchar_t* pszDll, const char* pszName) {
    HMODULE hModule = ::LoadLibraryExW(pszDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return hModule != nullptr
               ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(hModule, pszName)))
               : nullptr;
}

// Whether a path's file name is a device's (NUL.png is the NUL device, not a file).
bool AfxIsDeviceName(const std::wstring& path);
// Writes the bytes to the path, replacing a file there only once the new one is whole; on
// failure the old file is as it was, nothing of ours is left and `error` says why.
bool AfxSaveFileReplacing(const std::wstring& path, const std::vector<BYTE>& bytes,
                          std::wstring& error);

// What the Save As dialog came back with.
enum class SaveAsAnswer { Chosen, Cancelled, NoDialog };
// The system's Save As dialog over hOwner, proposing that name in that known folder (the
// dialog's own choice where the folder is not found); `file` is the path chosen. Its DLLs are
// bound here, not imported: they would be loaded at every start, which under Wine costs
// milliseconds, for a key most starts never see.
SaveAsAnswer AfxAskSaveAs(HWND hOwner, const GUID& folderId, const std::wstring& proposed,
                          const wchar_t* pszFilter, const wchar_t* pszExtension,
                          std::wstring& file);
