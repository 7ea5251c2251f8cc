#include "platform/SceneView/SceneView.h"

#include <epoxy/gl.h>

#include <cmath>

#include "platform/SceneView/Projection.h"

namespace kelvo {

namespace {

int samplesFor(AntialiasingMode mode) {
    switch (mode) {
        case AntialiasingMode::none:
            return 0;
        case AntialiasingMode::multisampling2X:
            return 2;
        case AntialiasingMode::multisampling4X:
            return 4;
    }
    return 0;
}

double maxExtent(const BoundingBox& box) {
    if (box.isEmpty()) return 0;
    return std::fmax(box.max.x - box.min.x,
                     std::fmax(box.max.y - box.min.y, box.max.z - box.min.z));
}

Vec3 centre(const BoundingBox& box) {
    if (box.isEmpty()) return {};
    return (box.min + box.max) * 0.5;
}

}  // namespace

SceneView::SceneView() {
    area_ = gtk_gl_area_new();
    g_object_ref_sink(area_);
    GtkGLArea* area = GTK_GL_AREA(area_);
    gtk_gl_area_set_required_version(area, 3, 3);
    // Depth and multisampling live in the renderer's own framebuffer.
    gtk_gl_area_set_has_depth_buffer(area, FALSE);
    gtk_gl_area_set_auto_render(area, TRUE);
    gtk_widget_set_hexpand(area_, TRUE);
    gtk_widget_set_vexpand(area_, TRUE);
    gtk_widget_set_focusable(area_, TRUE);
    g_signal_connect(area_, "realize", G_CALLBACK(onRealize), this);
    g_signal_connect(area_, "unrealize", G_CALLBACK(onUnrealize), this);
    g_signal_connect(area_, "render", G_CALLBACK(onRender), this);
    addControllers();
}

SceneView::~SceneView() {
    // The widget may outlive the view (its parent holds a reference): nothing of it may call
    // back into a destroyed view, and the GPU's memory goes now while the context exists.
    g_signal_handlers_disconnect_by_data(area_, this);
    for (GtkEventController* controller : controllers_)
        gtk_widget_remove_controller(area_, controller);
    if (gtk_widget_get_realized(area_)) {
        gtk_gl_area_make_current(GTK_GL_AREA(area_));
        if (!gtk_gl_area_get_error(GTK_GL_AREA(area_))) renderer_.release();
    }
    g_object_unref(area_);
}

void SceneView::setScene(std::shared_ptr<Scene> scene) {
    scene_ = std::move(scene);
    sceneUploaded_ = false;
    cameraNeedsReset_ = true;
    queueRender();
}

void SceneView::setPointOfView(std::shared_ptr<Node> node) {
    pointOfView_ = std::move(node);
    cameraNeedsReset_ = true;
    queueRender();
}

void SceneView::setAutoenablesDefaultLighting(bool enables) {
    autoenablesDefaultLighting_ = enables;
    queueRender();
}

void SceneView::setAntialiasingMode(AntialiasingMode mode) {
    antialiasingMode_ = mode;
    queueRender();
}

void SceneView::setBackgroundColor(Color color) {
    backgroundColor_ = color;
    queueRender();
}

void SceneView::requestSnapshot(std::function<void(RGBAImage)> handler) {
    snapshotHandler_ = std::move(handler);
    queueRender();
}

void SceneView::queueRender() {
    gtk_gl_area_queue_render(GTK_GL_AREA(area_));
}

Camera SceneView::activeCamera() const {
    if (pointOfView_ && pointOfView_->camera) return *pointOfView_->camera;
    Camera fallback;
    fallback.automaticallyAdjustsZRange = true;
    return fallback;
}

void SceneView::resetCamera() {
    cameraNeedsReset_ = true;
    queueRender();
}

// Needs the uploaded scene: the pivot is the centre of what is drawn.
void SceneView::applyCameraReset() {
    const BoundingBox& bounds = renderer_.worldBounds();
    double size = maxExtent(bounds);
    Vec3 pivot = centre(bounds);
    if (pointOfView_) {
        camera_ = orbitCameraAt(pointOfView_->worldTransform(), pivot, size);
    } else {
        Mat4 place = Mat4::identity();
        double distance = size > 0 ? size * 1.8 : 5;
        place.m[3][0] = pivot.x;
        place.m[3][1] = pivot.y;
        place.m[3][2] = pivot.z + distance;
        camera_ = orbitCameraAt(place, pivot, size);
    }
    cameraNeedsReset_ = false;
}

void SceneView::orbitBy(double dx, double dy) {
    camera_ = orbit(camera_, -dx * orbitRadiansPerPoint, dy * orbitRadiansPerPoint);
    queueRender();
}

void SceneView::panBy(double dx, double dy) {
    Camera c = activeCamera();
    double units = worldUnitsPerPoint(camera_, c.fieldOfView, c.usesOrthographicProjection,
                                      c.orthographicScale, gtk_widget_get_height(area_));
    // The model follows the pointer, so the camera moves the other way.
    camera_ = pan(camera_, -dx * units, dy * units);
    queueRender();
}

void SceneView::zoomBy(double factor) {
    camera_ = zoom(camera_, factor);
    queueRender();
}

void SceneView::fail(const std::string& message) {
    if (!error_.empty()) return;
    error_ = message;
    if (errorHandler_) errorHandler_(message);
}

void SceneView::onRealize(GtkGLArea* area, SceneView* self) {
    gtk_gl_area_make_current(area);
    if (GError* error = gtk_gl_area_get_error(area)) {
        self->fail(std::string("OpenGL 3.3 or later is needed, and this display offers none (") +
                   error->message + ")");
        return;
    }
    GdkGLContext* context = gtk_gl_area_get_context(area);
    int major = 0, minor = 0;
    gdk_gl_context_get_version(context, &major, &minor);
    if (gdk_gl_context_get_use_es(context) || major * 10 + minor < 33) {
        self->fail("OpenGL 3.3 or later is needed; this display offers " +
                   std::string(gdk_gl_context_get_use_es(context) ? "OpenGL ES " : "OpenGL ") +
                   std::to_string(major) + "." + std::to_string(minor));
        return;
    }
    std::string problem = self->renderer_.initialize();
    if (!problem.empty()) {
        self->fail("OpenGL cannot be used: " + problem);
        return;
    }
    self->ready_ = true;
    self->sceneUploaded_ = false;
}

void SceneView::onUnrealize(GtkGLArea* area, SceneView* self) {
    if (!self->ready_) return;
    gtk_gl_area_make_current(area);
    if (!gtk_gl_area_get_error(area)) self->renderer_.release();
    self->ready_ = false;
    self->sceneUploaded_ = false;
}

gboolean SceneView::onRender(GtkGLArea* area, GdkGLContext*, SceneView* self) {
    GLint target = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &target);
    if (self->ready_ && !self->sceneUploaded_) {
        self->renderer_.setScene(self->scene_);
        self->sceneUploaded_ = true;
        self->cameraNeedsReset_ = true;
    }
    // Without a scene there is nothing to multisample: clearing costs the least, which
    // matters for a software renderer drawing a window that has only just appeared.
    if (!self->ready_ || !self->scene_) {
        const Color& bg = self->backgroundColor_;
        glClearColor(static_cast<float>(bg.red * bg.alpha), static_cast<float>(bg.green * bg.alpha),
                     static_cast<float>(bg.blue * bg.alpha), static_cast<float>(bg.alpha));
        glClear(GL_COLOR_BUFFER_BIT);
        return TRUE;
    }
    if (self->cameraNeedsReset_) self->applyCameraReset();

    int scale = gtk_widget_get_scale_factor(GTK_WIDGET(area));
    FrameSettings frame;
    frame.width = gtk_widget_get_width(GTK_WIDGET(area)) * scale;
    frame.height = gtk_widget_get_height(GTK_WIDGET(area)) * scale;
    frame.samples = samplesFor(self->antialiasingMode_);
    frame.targetFramebuffer = static_cast<unsigned>(target);
    const Color& bg = self->backgroundColor_;
    frame.background = {static_cast<float>(bg.red), static_cast<float>(bg.green),
                        static_cast<float>(bg.blue), static_cast<float>(bg.alpha)};
    frame.worldToCamera = worldToCamera(self->camera_);
    frame.eye = self->camera_.position;

    Camera camera = self->activeCamera();
    DepthRange range{camera.zNear, camera.zFar};
    if (camera.automaticallyAdjustsZRange) {
        range = depthRangeEnclosing(self->renderer_.worldBounds(), frame.worldToCamera, range);
    }
    double aspect = frame.height > 0 ? static_cast<double>(frame.width) / frame.height : 1;
    frame.projection = camera.usesOrthographicProjection
                           ? orthographicProjection(
                                 camera.orthographicScale / self->camera_.zoomFactor, aspect, range)
                           : perspectiveProjection(camera.fieldOfView, aspect, range);

    SceneLighting headlit;
    if (self->autoenablesDefaultLighting_ && self->renderer_.sceneLighting().empty()) {
        headlit.lights.push_back(headlight(self->camera_.back * -1.0));
        frame.lighting = &headlit;
    }
    self->renderer_.render(frame);

    ++self->frames_;
    if (self->frameHandler_) self->frameHandler_(self->frames_);
    if (self->snapshotHandler_) {
        auto handler = std::move(self->snapshotHandler_);
        self->snapshotHandler_ = nullptr;
        handler(readFramebuffer(frame.targetFramebuffer, frame.width, frame.height));
    }
    return TRUE;
}

void SceneView::addController(GtkEventController* controller) {
    controllers_.push_back(controller);
    gtk_widget_add_controller(area_, controller);
}

void SceneView::addControllers() {
    // Drag: orbit with the primary button, pan with Shift or the middle button. Each update
    // starts again from the camera the drag began with, so the motion never drifts.
    GtkGesture* drag = gtk_gesture_drag_new();
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(drag), 0);
    g_signal_connect(
        drag, "drag-begin", G_CALLBACK(+[](GtkGestureDrag* g, double, double, SceneView* self) {
            guint button = gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(g));
            GdkModifierType state =
                gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(g));
            if (!self->allowsCameraControl_ || (button != 1 && button != 2)) {
                gtk_gesture_set_state(GTK_GESTURE(g), GTK_EVENT_SEQUENCE_DENIED);
                return;
            }
            self->panning_ = button == 2 || (state & GDK_SHIFT_MASK);
            self->gestureStart_ = self->camera_;
            gtk_widget_grab_focus(self->area_);
        }),
        this);
    g_signal_connect(drag, "drag-update",
                     G_CALLBACK(+[](GtkGestureDrag*, double dx, double dy, SceneView* self) {
                         self->camera_ = self->gestureStart_;
                         if (self->panning_) {
                             self->panBy(dx, dy);
                         } else {
                             self->orbitBy(dx, dy);
                         }
                     }),
                     this);
    addController(GTK_EVENT_CONTROLLER(drag));

    GtkGesture* click = gtk_gesture_click_new();
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 1);
    g_signal_connect(
        click, "pressed",
        G_CALLBACK(+[](GtkGestureClick*, int presses, double, double, SceneView* self) {
            if (presses == 2 && self->allowsCameraControl_) self->resetCamera();
        }),
        this);
    addController(GTK_EVENT_CONTROLLER(click));

    // A mouse wheel zooms; a touchpad's two-finger scroll pans, or zooms with Ctrl.
    GtkEventController* scroll =
        gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_BOTH_AXES);
    g_signal_connect(scroll, "scroll",
                     G_CALLBACK(+[](GtkEventControllerScroll* s, double dx, double dy,
                                    SceneView* self) -> gboolean {
                         if (!self->allowsCameraControl_) return FALSE;
                         GdkModifierType state =
                             gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(s));
                         if (gtk_event_controller_scroll_get_unit(s) == GDK_SCROLL_UNIT_WHEEL) {
                             self->zoomBy(std::pow(zoomPerScrollStep, -dy));
                         } else if (state & GDK_CONTROL_MASK) {
                             self->zoomBy(std::exp(-dy * 0.01));
                         } else {
                             self->panBy(-dx, -dy);
                         }
                         return TRUE;
                     }),
                     this);
    addController(scroll);

    GtkGesture* pinch = gtk_gesture_zoom_new();
    g_signal_connect(pinch, "begin",
                     G_CALLBACK(+[](GtkGesture*, GdkEventSequence*, SceneView* self) {
                         self->gestureStart_ = self->camera_;
                     }),
                     this);
    g_signal_connect(pinch, "scale-changed",
                     G_CALLBACK(+[](GtkGestureZoom*, double scale, SceneView* self) {
                         if (!self->allowsCameraControl_) return;
                         self->camera_ = self->gestureStart_;
                         self->zoomBy(scale);
                     }),
                     this);
    addController(GTK_EVENT_CONTROLLER(pinch));

    // R anywhere in the window, not only when the view has the keyboard focus.
    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_shortcut_controller_set_scope(GTK_SHORTCUT_CONTROLLER(keys), GTK_SHORTCUT_SCOPE_MANAGED);
    GtkShortcutAction* reset = gtk_callback_action_new(
        +[](GtkWidget*, GVariant*, gpointer data) -> gboolean {
            auto* self = static_cast<SceneView*>(data);
            if (!self->allowsCameraControl_) return FALSE;
            self->resetCamera();
            return TRUE;
        },
        this, nullptr);
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(keys),
        gtk_shortcut_new(
            gtk_alternative_trigger_new(gtk_keyval_trigger_new(GDK_KEY_r, GdkModifierType(0)),
                                        gtk_keyval_trigger_new(GDK_KEY_R, GdkModifierType(0))),
            reset));
    addController(keys);
}

}  // namespace kelvo
