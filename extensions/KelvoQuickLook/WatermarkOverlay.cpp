#include "extensions/KelvoQuickLook/WatermarkOverlay.h"

#include <string>

#include "extensions/KelvoQuickLook/DisplayStyle.h"

namespace kelvo {

namespace {

// GTK's logical pixels are the points of the overlay's measures, so the 13-point font is
// 13px here (a CSS "pt" would be a third larger). The text shadow's offset is "one point
// down" in CSS's y-down space.
constexpr const char* labelCSS =
    ".kelvo-watermark-label {"
    "  font-size: 13px;"
    "  font-weight: 500;"
    "  color: rgba(255, 255, 255, 0.8);"
    "  text-shadow: 0 1px 2px rgba(0, 0, 0, 0.5);"
    "}";

}  // namespace

WatermarkOverlayLayout watermarkOverlayLayout(double viewHeight) {
    WatermarkOverlayLayout layout;
    layout.container = {0, viewHeight - 30, 200, 24};
    layout.icon = {8, 2, 20, 20};
    layout.labelX = 30;
    layout.labelY = 3;
    return layout;
}

double containerTopMargin(const WatermarkOverlayLayout& layout, double viewHeight) {
    return viewHeight - (layout.container.y + layout.container.height);
}

GtkWidget* buildWatermarkOverlay(const std::optional<std::filesystem::path>& icon) {
    // Any height gives the same margin; the layout is measured from the top.
    WatermarkOverlayLayout layout = watermarkOverlayLayout(0);
    const Frame& c = layout.container;
    GtkWidget* container = gtk_fixed_new();
    gtk_widget_set_size_request(container, static_cast<int>(c.width), static_cast<int>(c.height));
    gtk_widget_set_halign(container, GTK_ALIGN_START);
    gtk_widget_set_valign(container, GTK_ALIGN_START);
    gtk_widget_set_margin_start(container, static_cast<int>(c.x));
    gtk_widget_set_margin_top(container, static_cast<int>(containerTopMargin(layout, 0)));
    // The brand mark never takes the pointer from the 3D view below it.
    gtk_widget_set_can_target(container, FALSE);
    gtk_widget_add_css_class(container, "kelvo-watermark");

    if (icon) {
        if (GdkTexture* texture = gdk_texture_new_from_filename(icon->c_str(), nullptr)) {
            // An image at a fixed pixel size measures exactly that, and draws the picture
            // scaled proportionally up or down into it (a GtkPicture would ask for the
            // texture's own size and stretch the container).
            GtkWidget* image = gtk_image_new_from_paintable(GDK_PAINTABLE(texture));
            g_object_unref(texture);
            const Frame& f = layout.icon;
            gtk_image_set_pixel_size(GTK_IMAGE(image), static_cast<int>(f.width));
            gtk_widget_set_name(image, "kelvo-watermark-icon");
            gtk_fixed_put(GTK_FIXED(container), image, f.x, c.height - f.y - f.height);
        }
    }

    installDisplayStyle(gtk_widget_get_display(container), "kelvo-watermark-style", labelCSS);
    GtkWidget* label = gtk_label_new(std::string(brandText).c_str());
    gtk_widget_add_css_class(label, "kelvo-watermark-label");
    gtk_widget_set_name(label, "kelvo-watermark-label");
    int labelHeight = 0;
    gtk_widget_measure(label, GTK_ORIENTATION_VERTICAL, -1, nullptr, &labelHeight, nullptr,
                       nullptr);
    // The origin is the label's bottom-left corner; GTK places its top-left corner.
    gtk_fixed_put(GTK_FIXED(container), label, layout.labelX,
                  c.height - layout.labelY - labelHeight);
    return container;
}

namespace {
GtkWidget* childNamed(GtkWidget* container, const char* name) {
    for (GtkWidget* child = gtk_widget_get_first_child(container); child;
         child = gtk_widget_get_next_sibling(child)) {
        if (g_strcmp0(gtk_widget_get_name(child), name) == 0) return child;
    }
    return nullptr;
}
}  // namespace

GtkWidget* watermarkIconWidget(GtkWidget* container) {
    return childNamed(container, "kelvo-watermark-icon");
}

GtkWidget* watermarkLabelWidget(GtkWidget* container) {
    return childNamed(container, "kelvo-watermark-label");
}

}  // namespace kelvo
