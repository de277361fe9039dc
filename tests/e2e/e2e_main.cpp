#include "support/camera.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Cameras that a killed run left in the prefix would stand in the device lists.
    testcam_test::CameraUnregister();
    // Free-threaded, so that reading the platform's device list needs no message loop here.
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoInitializeEx failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    int nResult = RUN_ALL_TESTS();
    ::CoUninitialize();
    return nResult;
}
