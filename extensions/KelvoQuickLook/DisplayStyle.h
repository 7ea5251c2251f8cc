// The preview's own style sheets, each added to a display once.
#pragma once

#include <gtk/gtk.h>

namespace kelvo {

// Adds `css` to `display` at the application's priority, unless a sheet under `key` was added
// already; the sheet lives as long as the display.
void installDisplayStyle(GdkDisplay* display, const char* key, const char* css);

}  // namespace kelvo
