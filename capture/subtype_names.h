// Short display names of media subtypes: "YUY2", "RGB24", or the GUID's own text.
#pragma once

#include "framework/str.h"

#include <windows.h>

// Replaces strName with the subtype's name after the first underscore of its table name
// ("MEDIASUBTYPE_AnalogVideo_NTSC_M" gives "AnalogVideo_NTSC_M"), or with its GUID text,
// 36 upper-case characters without braces, when the table lacks it.
void GetSubtypeName(GUID subtype, CString& strName);
