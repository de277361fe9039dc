#include "support/camera.h"

#include <gtest/gtest.h>

#include <objbase.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Cameras that a killed run left in the prefix would stand in the device lists.
    testcam_test::CameraUnregister();
    // Free-threaded, so that reading the platform's device list needs no message loop here.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    int nResult = RUN_ALL_TESTS();
    ::CoUninitialize();
    return nResult;
}
