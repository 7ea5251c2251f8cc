// The brand overlay of the preview: the icon and the brand text in the view's top-left
// corner, as real widgets on top of the 3D view.
//
// Geometry in points, with the origin at the bottom-left and y growing upwards, as the
// overlay is measured; GTK lays widgets out from the top-left, so the container is pinned
// to the view's top edge with a margin, which keeps it there however the view is resized.
//
//   container  (0, H - 30, 200, 24) in the view
//   icon       (8, 2, 20, 20) in the container, the image scaled proportionally; only when
//              the icon loads
//   label      origin (30, 3) in the container, its fitted size; 13-point medium system font,
//              white at alpha 0.8, shadow black at alpha 0.5 with blur 2, one point down
#pragma once

#include <gtk/gtk.h>

#include "extensions/Shared/Brand.h"

#include <filesystem>
#include <optional>

namespace kelvo {

struct Frame {
    double x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const Frame&, const Frame&) = default;
};

struct WatermarkOverlayLayout {
    Frame container;                // in the view
    Frame icon;                     // in the container
    double labelX = 0, labelY = 0;  // the label's origin in the container
};

// The overlay's frames in a view `viewHeight` points high.
WatermarkOverlayLayout watermarkOverlayLayout(double viewHeight);

// The distance from the view's top edge to the container's: what GTK's top margin is.
double containerTopMargin(const WatermarkOverlayLayout& layout, double viewHeight);

// Builds the container with the icon at `icon` (none when absent or unreadable) and the
// label. Returns a floating reference, for the caller to add to a GtkOverlay.
GtkWidget* buildWatermarkOverlay(const std::optional<std::filesystem::path>& icon);

// The icon's and the label's widgets inside a container built above (the icon is null when
// it did not load).
GtkWidget* watermarkIconWidget(GtkWidget* container);
GtkWidget* watermarkLabelWidget(GtkWidget* container);

}  // namespace kelvo
