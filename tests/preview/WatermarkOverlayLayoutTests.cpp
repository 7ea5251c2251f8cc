// Where the overlay sits.
#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "extensions/KelvoQuickLook/WatermarkOverlay.h"
#include "extensions/Shared/SceneLoaderError.h"

namespace kelvo {
namespace {

TEST(WatermarkOverlayLayout, containerSitsSixPointsBelowTheTopAtAnyHeight) {
    for (double height : {600.0, 800.0}) {
        WatermarkOverlayLayout layout = watermarkOverlayLayout(height);
        EXPECT_EQ(layout.container, (Frame{0, height - 30, 200, 24}));
        EXPECT_EQ(containerTopMargin(layout, height), 6);
        EXPECT_EQ(layout.icon, (Frame{8, 2, 20, 20}));
        EXPECT_EQ(layout.labelX, 30);
        EXPECT_EQ(layout.labelY, 3);
    }
    EXPECT_EQ(watermarkOverlayLayout(600).container.y, 570);
    EXPECT_EQ(watermarkOverlayLayout(800).container.y, 770);
}

}  // namespace
}  // namespace kelvo
