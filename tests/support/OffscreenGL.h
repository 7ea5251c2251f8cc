// Test-only: an OpenGL 3.3 core context without any display (Mesa's surfaceless EGL
// platform, software rendering on machines without a GPU) and a framebuffer to render into.
#pragma once

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <string>

namespace kelvo::test {

class OffscreenGL {
public:
    OffscreenGL(int width, int height) {
        display_ =
            eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr) ||
            !eglBindAPI(EGL_OPENGL_API)) {
            error_ = "no surfaceless EGL display with desktop OpenGL";
            return;
        }
        const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                     3,
                                     EGL_CONTEXT_MINOR_VERSION,
                                     3,  //
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};
        context_ = eglCreateContext(display_, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
        if (context_ == EGL_NO_CONTEXT ||
            !eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_)) {
            error_ = "no OpenGL 3.3 core context";
            return;
        }
        glGenFramebuffers(1, &framebuffer_);
        glGenRenderbuffers(1, &color_);
        glBindRenderbuffer(GL_RENDERBUFFER, color_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color_);
    }
    // The display is not terminated: that would unload Mesa's driver, and the leak checker
    // could then no longer name (and be told to ignore) what the driver keeps.
    ~OffscreenGL() {
        if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_), glDeleteRenderbuffers(1, &color_);
        if (context_ != EGL_NO_CONTEXT) {
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display_, context_);
        }
    }
    OffscreenGL(const OffscreenGL&) = delete;
    OffscreenGL& operator=(const OffscreenGL&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    unsigned framebuffer() const { return framebuffer_; }

private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    unsigned framebuffer_ = 0, color_ = 0;
    std::string error_;
};

}  // namespace kelvo::test
