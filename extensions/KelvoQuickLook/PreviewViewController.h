// PreviewViewController: shows one model file interactively, the way a desktop's preview
// service asks for it: create the controller, load its view, prepare the preview of a file,
// and wait for the completion.
//
// The view is a GtkOverlay holding the 3D view (SceneView: camera control on, default
// lighting off, 4x multisampling, transparent background) and, after a successful
// preparation, the brand overlay in its top-left corner (WatermarkOverlay.h) and, when the
// model was thinned, a note at the bottom that says so (ThinningNote.h).
//
// preparePreviewOfFile returns at once. Two later turns of the GLib main loop, at the
// default priority (ahead of GTK's drawing), do the work:
//   1. load the file, thin it to the triangle limit when it is larger (evenly, as the
//      thumbnailer thins: extensions/KelvoThumbnail/SceneBudget.h), and stage it (a camera
//      framing it and the light rig);
//   2. show it: set the scene, look from the first direct child of the root node that
//      carries a camera, add the overlay; then call the completion with no error.
// Any error of the load goes to the completion as the error object (extensions/Shared/HostError.h) and
// leaves the view as it was: no scene, no overlay, no message of the controller's own.
// The completion is called exactly once, on the main thread; a controller destroyed before
// then calls it with POSIX ECANCELED.
//
// Main thread only.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <optional>
#include <vector>

#include "extensions/KelvoQuickLook/ResourceBundle.h"
#include "extensions/KelvoThumbnail/SceneBudget.h"
#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/Error.h"
#include "platform/SceneView/SceneView.h"

namespace kelvo {

// The name under which this deliverable qualifies the error types it hands on.
inline constexpr std::string_view previewModuleName = "KelvoQuickLook";

// The most triangles the preview draws unless told otherwise: a software renderer still
// turns a model of this size around, and a GPU's memory holds it with room to spare.
inline constexpr std::int64_t previewTriangleLimit = 20'000'000;

class PreviewViewController {
public:
    using CompletionHandler = std::function<void(std::optional<Error> error)>;

    // The brand icon comes from `resources` (the installed previewer's by default).
    PreviewViewController();
    explicit PreviewViewController(ResourceBundle resources);
    ~PreviewViewController();
    PreviewViewController(const PreviewViewController&) = delete;
    PreviewViewController& operator=(const PreviewViewController&) = delete;

    const SceneLoader& loader() const { return loader_; }
    // Absent until loadView.
    SceneView* sceneView() const { return sceneView_.get(); }
    // The controller's view, the GtkOverlay; null until loadView. The controller holds a
    // reference to it for as long as it lives.
    GtkWidget* view() const { return view_; }
    // The overlay container of the last successful preparation, or null.
    GtkWidget* watermarkOverlay() const { return overlay_; }

    // The most triangles a model is drawn with (instances counted); a larger one is thinned
    // evenly to it. 0: no limit. Applies to preparations started afterwards.
    void setTriangleLimit(std::int64_t limit) { triangleLimit_ = limit; }
    std::int64_t triangleLimit() const { return triangleLimit_; }
    // What the last successful preparation did to the model's triangles: before equals
    // after when it was drawn whole.
    const SceneBudgetOutcome& thinning() const { return thinning_; }
    // The note of the last successful preparation that thinned its model, or null.
    GtkWidget* thinningNote() const { return note_; }

    // Creates the view. A second call does nothing.
    void loadView();

    // Prepares the preview of the model file `at` (loading the view first if it does not
    // exist yet) and calls `completion` when it is shown or has failed.
    void preparePreviewOfFile(const std::filesystem::path& at, CompletionHandler completion);

private:
    struct Preparation;
    static gboolean loadTurn(gpointer data);
    static gboolean showTurn(gpointer data);
    void finish(Preparation* preparation, std::optional<Error> error);
    void addWatermarkOverlay();
    void showThinningNote();

    SceneLoader loader_;
    ResourceBundle resources_;
    std::unique_ptr<SceneView> sceneView_;
    GtkWidget* view_ = nullptr;
    GtkWidget* overlay_ = nullptr;
    GtkWidget* note_ = nullptr;
    std::int64_t triangleLimit_ = previewTriangleLimit;
    SceneBudgetOutcome thinning_;
    std::vector<std::unique_ptr<Preparation>> pending_;
};

}  // namespace kelvo
