// SceneView: the interactive 3D view, a GtkGLArea that draws a scene graph with
// GLSceneRenderer and lets the user turn it around.
//
// Camera control (when allowsCameraControl is on):
//   drag with the primary button              orbit around the model's centre
//   Shift + drag, or drag with the middle     pan
//   button, or scroll with two fingers on a
//   touchpad
//   mouse wheel, Ctrl + touchpad scroll,      zoom
//   or pinch
//   double-click, or the R key                back to the starting view
//
// The starting view is the point of view's world placement and camera (field of view,
// projection, depth range). Without a point of view the view looks down -Z at the model
// from 1.8 model sizes away with a default camera. Near and far planes follow the model when
// the camera automatically adjusts its depth range (and always without a point of view).
//
// The scene graph is read when the scene or the point of view is set; change either and set
// it again. Main thread only, like all of GTK.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Imaging/RGBAImage.h"
#include "platform/SceneKit/Node.h"
#include "platform/SceneView/GLSceneRenderer.h"
#include "platform/SceneView/OrbitCamera.h"

namespace kelvo {

// The platform's numbering: none 0, multisampling 2x 1, multisampling 4x 2.
enum class AntialiasingMode { none = 0, multisampling2X = 1, multisampling4X = 2 };

class SceneView {
public:
    SceneView();
    ~SceneView();
    SceneView(const SceneView&) = delete;
    SceneView& operator=(const SceneView&) = delete;

    // The GtkGLArea. The view holds a reference of its own for as long as it lives.
    GtkWidget* widget() const { return area_; }

    void setScene(std::shared_ptr<Scene> scene);
    const std::shared_ptr<Scene>& scene() const { return scene_; }
    // The node to look from; camera control starts again from it.
    void setPointOfView(std::shared_ptr<Node> node);
    const std::shared_ptr<Node>& pointOfView() const { return pointOfView_; }

    bool allowsCameraControl() const { return allowsCameraControl_; }
    void setAllowsCameraControl(bool allows) { allowsCameraControl_ = allows; }
    // Lights the scene with a headlight when it has no light of its own.
    bool autoenablesDefaultLighting() const { return autoenablesDefaultLighting_; }
    void setAutoenablesDefaultLighting(bool enables);
    AntialiasingMode antialiasingMode() const { return antialiasingMode_; }
    void setAntialiasingMode(AntialiasingMode mode);
    // Straight alpha; transparent lets what is behind the view show through.
    const Color& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(Color color);

    // The camera as camera control has moved it, and back to the starting view.
    const OrbitCamera& camera() const { return camera_; }
    void resetCamera();

    // Called after each frame drawn with a scene, with its number (1 for the first) while the
    // frame's GL context is current. Must not change the view.
    void setFrameHandler(std::function<void(int frame)> handler) {
        frameHandler_ = std::move(handler);
    }
    // The next frame drawn with a scene is read back (straight alpha, device pixels) and
    // handed to `handler`, from inside that frame.
    void requestSnapshot(std::function<void(RGBAImage)> handler);
    // Called once, when the view cannot draw: no OpenGL context, a version below 3.3, or a
    // program that does not build. The view then stays empty.
    void setErrorHandler(std::function<void(const std::string&)> handler) {
        errorHandler_ = std::move(handler);
    }
    const std::string& error() const { return error_; }

    // Camera control's operations, in points of the view; the input controllers call these.
    void orbitBy(double dx, double dy);
    void panBy(double dx, double dy);
    void zoomBy(double factor);

private:
    static void onRealize(GtkGLArea* area, SceneView* self);
    static void onUnrealize(GtkGLArea* area, SceneView* self);
    static gboolean onRender(GtkGLArea* area, GdkGLContext* context, SceneView* self);
    void fail(const std::string& message);
    void addControllers();
    void addController(GtkEventController* controller);
    Camera activeCamera() const;
    void applyCameraReset();
    void queueRender();

    GtkWidget* area_ = nullptr;
    std::vector<GtkEventController*> controllers_;  // owned by the widget
    GLSceneRenderer renderer_;
    std::shared_ptr<Scene> scene_;
    std::shared_ptr<Node> pointOfView_;
    bool allowsCameraControl_ = false;
    bool autoenablesDefaultLighting_ = false;
    AntialiasingMode antialiasingMode_ = AntialiasingMode::none;
    Color backgroundColor_ = Color::clear();

    bool ready_ = false;  // realized, with a working program
    bool sceneUploaded_ = false;
    bool cameraNeedsReset_ = true;
    OrbitCamera camera_;
    OrbitCamera gestureStart_;  // the camera when the current drag or pinch began
    bool panning_ = false;
    int frames_ = 0;

    std::function<void(int)> frameHandler_;
    std::function<void(RGBAImage)> snapshotHandler_;
    std::function<void(const std::string&)> errorHandler_;
    std::string error_;
};

}  // namespace kelvo
