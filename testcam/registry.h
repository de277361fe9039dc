// Registration of the COM server and of named camera instances in the video input device
// category, where the platform's device enumerator finds them.
#pragma once

#include "testcam/config.h"

namespace testcam {

HRESULT RegisterServer();
// Removes every instance of this camera, then the server.
HRESULT UnregisterServer();
// Adds the default camera when there is no instance of this camera: S_FALSE when there is.
HRESULT AddDefaultInstanceIfNone();
// Replaces any instance of the same name.
HRESULT AddInstance(const InstallRequest& request);
// Only an instance of this camera: S_FALSE when there is none of that name.
HRESULT RemoveInstance(const std::wstring& name);

} // namespace testcam
