#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // An apartment like the program's own: the renderer's window belongs to this thread.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
