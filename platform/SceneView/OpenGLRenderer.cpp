#include "platform/SceneView/OpenGLRenderer.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#ifdef GDK_WINDOWING_X11
#include <epoxy/glx.h>
#include <gdk/x11/gdkx.h>
#endif
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/wayland/gdkwayland.h>
#endif

namespace kelvo {

namespace {

// What GDK draws with when it uses EGL, or nothing (GLX, or no OpenGL at all).
EGLDisplay eglDisplayOf(GdkDisplay* display) {
#ifdef GDK_WINDOWING_X11
    if (GDK_IS_X11_DISPLAY(display)) return gdk_x11_display_get_egl_display(display);
#endif
#ifdef GDK_WINDOWING_WAYLAND
    if (GDK_IS_WAYLAND_DISPLAY(display)) return gdk_wayland_display_get_egl_display(display);
#endif
    return nullptr;
}

// The renderer of GLX's first screen, where GDK draws with GLX; empty otherwise.
std::string glxRendererName(GdkDisplay* display) {
#ifdef GDK_WINDOWING_X11
    if (!GDK_IS_X11_DISPLAY(display)) return {};
    Display* x = gdk_x11_display_get_xdisplay(display);
    const int screen = gdk_x11_screen_get_screen_number(gdk_x11_display_get_screen(display));
    if (!epoxy_has_glx_extension(x, screen, "GLX_MESA_query_renderer")) return {};
    if (const char* name = glXQueryRendererStringMESA(x, screen, 0, GLX_RENDERER_DEVICE_ID_MESA))
        return name;
#else
    (void)display;
#endif
    return {};
}

}  // namespace

std::string openGLRendererName(GdkDisplay* display) {
    // GDK has set its EGL display up already (it checks OpenGL when the display opens).
    if (EGLDisplay egl = eglDisplayOf(display);
        egl && epoxy_has_egl_extension(egl, "EGL_MESA_query_driver")) {
        if (const char* driver = eglGetDisplayDriverName(egl)) return driver;
    } else if (!egl) {
        if (std::string name = glxRendererName(display); !name.empty()) return name;
    }
    // Otherwise a context of its own answers, at the cost of making one.
    GError* error = nullptr;
    GdkGLContext* context = gdk_display_create_gl_context(display, &error);
    std::string name;
    if (context && gdk_gl_context_realize(context, &error)) {
        gdk_gl_context_make_current(context);
        if (const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER)))
            name = renderer;
        gdk_gl_context_clear_current();
    }
    g_clear_error(&error);
    if (context) g_object_unref(context);
    return name;
}

bool isSoftwareRenderer(std::string_view name) {
    for (std::string_view software : {"swrast", "llvmpipe", "softpipe"}) {
        if (name.find(software) != std::string_view::npos) return true;
    }
    return false;
}

}  // namespace kelvo
