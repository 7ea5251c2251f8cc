// Whether a display's OpenGL draws on the CPU, asked before any window is shown: a window's
// way of compositing is chosen once, when the first one appears.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <string_view>

namespace kelvo {

// The name of what draws `display`'s OpenGL, asked without a context where the display
// says it (the driver's name from EGL, "swrast", "iris", ...; the renderer's from GLX,
// "llvmpipe (LLVM 15.0.6, 256 bits)", ...), or else the GL_RENDERER string of a context
// made for the question, which costs a few tens of milliseconds on a software renderer;
// empty when there is no OpenGL.
std::string openGLRendererName(GdkDisplay* display);

// Whether `name` (either kind above) draws on the CPU: Mesa's swrast driver, whose
// renderers are llvmpipe and softpipe.
bool isSoftwareRenderer(std::string_view name);

}  // namespace kelvo
