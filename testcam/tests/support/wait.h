// Waiting in tests: for the condition a wait stands for, with a deadline that bounds the wait on
// a loaded machine and never lengthens it on a quiet one. Shared by the camera's tests, the
// program's and the end-to-end tests.
#pragma once

#include "support/camera.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace testcam_test {

// Dispatches this thread's messages until `done` holds; fails saying what it waited for when
// `ms` pass first. Where the thread owns no window it simply polls.
inline ::testing::AssertionResult
PumpUntil(const std::string& what, const std::function<bool()>& done, DWORD ms = kPatienceMs) {
    if (PumpMessagesUntil(done, ms)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "waited " << ms << " ms in vain for: " << what;
}

// A negative check: `holds` stays true while messages are dispatched for `ms`, a time by which
// what it rules out would have happened. Fails as soon as it breaks.
inline ::testing::AssertionResult HoldsFor(DWORD ms, const std::string& what,
                                           const std::function<bool()>& holds) {
    bool broken = PumpMessagesUntil([&] { return !holds(); }, ms);
    if (!broken) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "within " << ms << " ms this stopped holding: " << what;
}

// Every object of the camera released: a graph lets go of its filters on its own threads, and
// the renderer's window of its last references through this thread's messages.
inline ::testing::AssertionResult CameraReleased() {
    if (PumpMessagesUntil([] { return Stats().objects == 0; }, kPatienceMs)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << Stats().objects << " camera objects still alive after " << kPatienceMs << " ms";
}

// Waits until the camera has delivered `count` frames more than it had.
inline ::testing::AssertionResult FramesFlow(LONGLONG count) {
    LONGLONG before = Stats().delivered;
    return PumpUntil(std::to_string(count) + " frames delivered",
                     [&] { return Stats().delivered - before >= count; });
}

// A negative check: no frame delivered for three frame times at 30 a second, by which a camera
// that went on streaming would have delivered one.
inline ::testing::AssertionResult NoFrameFlows() {
    LONGLONG before = Stats().delivered;
    return HoldsFor(100, "no frame delivered", [&] { return Stats().delivered == before; });
}

} // namespace testcam_test
