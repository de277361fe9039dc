// The module the program runs as and the module its resources are loaded from: a home of their
// own, so that strings and dialogs load resources without reaching the application object.
#pragma once

#include <windows.h>

// Set by the framework's start-up; for the program both are its executable.
void AfxSetModuleHandles(HINSTANCE hInstance, HINSTANCE hResource);

// Before start-up has set them, both are the executable's own.
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
