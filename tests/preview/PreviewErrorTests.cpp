// What the completion receives for each kind of failure.
#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "extensions/KelvoQuickLook/PreviewError.h"
#include "extensions/KelvoQuickLook/WatermarkOverlay.h"
#include "extensions/Shared/SceneLoaderError.h"

namespace kelvo {
namespace {

template <class E>
Error convert(E thrown) {
    return previewError(std::make_exception_ptr(thrown));
}

TEST(PreviewError, loaderErrorsPassUnchangedOthersAreWrapped) {
    Error loader = sceneLoaderError(unsupportedFormat, "Unsupported format: dae");
    EXPECT_EQ(convert(loader), loader);
    Error file = posixError(ENOENT, "/x.3mf");
    EXPECT_EQ(convert(file), file);
    EXPECT_EQ(convert(std::bad_alloc()).code(), ENOMEM);
    Error other = convert(std::runtime_error("boom"));
    EXPECT_EQ(other.domain(), "Kelvo");
    EXPECT_EQ(other.localizedDescription(), "boom");
    EXPECT_EQ(previewError(std::make_exception_ptr(42)).code(), -1);
}

TEST(PreviewError, zipReaderErrorsTakeThePreviewersDomain) {
    Error zip = zipReaderError(2, "invalid archive");
    EXPECT_EQ(zip.domain(), "KelvoQuickLook.ZIPReader.ZIPError");
    EXPECT_EQ(zip.code(), 2);
    EXPECT_EQ(zip.localizedDescription(), "invalid archive");
}

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
