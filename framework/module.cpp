#include "framework/module.h"

namespace {
HINSTANCE g_hInstance = nullptr;
HINSTANCE g_hResource = nullptr;
} // namespace

void AfxSetModuleHandles(HINSTANCE hInstance, HINSTANCE hResource) {
    g_hInstance = hInstance;
    g_hResource = hResource;
}

HINSTANCE AfxGetInstanceHandle() {
    return g_hInstance != nullptr ? g_hInstance : ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle() {
    return g_hResource != nullptr ? g_hResource : ::GetModuleHandleW(nullptr);
}
