// The camera's settings page, an IPropertyPage of its own class (CLSID_LookwellTestCameraPage).
#pragma once

#include "testcam/module.h"

#include <ocidl.h>

namespace testcam {

HRESULT CreatePropertyPage(REFIID iid, void** out);

} // namespace testcam
