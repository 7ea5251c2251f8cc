// Test-only: main() of a test program that needs a display. It starts a private X server
// (VirtualDisplay.h), points DISPLAY and GTK at it, runs the tests and stops the server.
// Without Xvfb the program exits with skippedExitCode, which CTest reports as skipped.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/VirtualDisplay.h"

namespace kelvo::test {

inline constexpr int skippedExitCode = 77;

// `beforeTests` runs once the display is up (to initialise GTK, say) and returns false when
// the tests cannot run.
template <class Setup>
int runOnVirtualDisplay(int argc, char** argv, Setup beforeTests) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (CTest does, to discover them) needs no display.
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    VirtualDisplay display;
    if (!display.start()) {
        std::printf(
            "Xvfb is not installed or does not start: skipping (tools/dev test installs it)\n");
        return skippedExitCode;
    }
    useDisplay(display.name());
    if (!beforeTests()) return 1;
    return RUN_ALL_TESTS();
}

}  // namespace kelvo::test
