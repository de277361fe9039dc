// Registration of the COM server and of named camera instances in the video input device
// category, where the platform's device enumerator finds them.
#pragma once

#include "testcam/config.h"

namespace testcam {

// The camera's and its settings page's classes.
HRESULT RegisterServer();
// Removes every instance of this camera, then the server; fails, keeping the server, while any
// instance is left.
HRESULT UnregisterServer();
// Adds the default camera when there is no instance of this camera: S_FALSE when there is.
HRESULT AddDefaultInstanceIfNone();
// Registers the server and replaces any instance of ours of the same name; refuses, writing
// nothing, the name of another device's instance.
HRESULT AddInstance(const InstallRequest& request);
// Only an instance of this camera: fails when there is none of that name, or when that
// instance is another device's.
HRESULT RemoveInstance(const std::wstring& name);
// The instance's registry key (HKCR\CLSID\{category}\Instance\<name>) when the instance is
// ours, or null; the caller closes it.
HKEY OpenOurInstance(const std::wstring& name, REGSAM access);
// A value of an instance's key: S_OK, S_FALSE when there is none, ERROR_INVALID_DATA when it
// is of another type (a REG_DWORD for a text, a REG_EXPAND_SZ or REG_MULTI_SZ for a REG_SZ).
HRESULT ReadText(HKEY key, const wchar_t* name, std::wstring& out);
HRESULT ReadNumber(HKEY key, const wchar_t* name, LONG& out);
// Stores a REG_DWORD in our instance `instance`.
HRESULT WriteNumber(const std::wstring& instance, const wchar_t* name, LONG value);

} // namespace testcam
