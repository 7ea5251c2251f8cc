#include "extensions/KelvoQuickLook/DisplayStyle.h"

namespace kelvo {

void installDisplayStyle(GdkDisplay* display, const char* key, const char* css) {
    if (g_object_get_data(G_OBJECT(display), key)) return;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1);
    gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_set_data_full(G_OBJECT(display), key, provider, g_object_unref);
}

}  // namespace kelvo
