#include "app/lookwell_app.h"
#include "support/apartment.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The tests' own executable stands in for Lookwell.exe as the resource module.
    theApp.SetCurrentHandles(::GetModuleHandleW(nullptr));
    if (!HoldMultithreadedApartment()) {
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
