#include "app/lookwell_app.h"
#include "support/apartment.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    // The tests' own executable stands in for Lookwell.exe as the resource module.
    theApp.SetCurrentHandles(::GetModuleHandleW(nullptr));
    if (!HoldMultithreadedApartment()) {
        std::fprintf(stderr, "the apartment's thread could not start: %lu\n", ::GetLastError());
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
