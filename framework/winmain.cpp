// The program's entry point, linked into the executable only (tests bring their own main).
#include "framework/app.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    return AfxWinMain(hInstance);
}
