#include "extensions/KelvoQuickLook/PreviewViewController.h"

#include <cerrno>

#include "extensions/Shared/HostError.h"
#include "extensions/KelvoQuickLook/ThinningNote.h"
#include "extensions/KelvoQuickLook/WatermarkOverlay.h"

namespace kelvo {

struct PreviewViewController::Preparation {
    PreviewViewController* controller;
    std::filesystem::path file;
    CompletionHandler completion;
    std::shared_ptr<Scene> scene;
    SceneBudgetOutcome thinning;
    std::int64_t triangleLimit = 0;
    guint source = 0;
};

namespace {

// A later turn of the main loop at the default priority, ahead of GTK's layout and drawing:
// a window that is being shown draws its first frame with the model already in it, instead
// of an empty frame first and the model a frame later.
guint scheduleTurn(GSourceFunc turn, gpointer data) {
    return g_idle_add_full(G_PRIORITY_DEFAULT, turn, data, nullptr);
}

}  // namespace

PreviewViewController::PreviewViewController() : PreviewViewController(ResourceBundle::main()) {}

PreviewViewController::PreviewViewController(ResourceBundle resources)
    : resources_(std::move(resources)) {}

PreviewViewController::~PreviewViewController() {
    // Taken out first: a completion may well drop the last reference to something else
    // that owns a controller, but never this one, which is already going.
    std::vector<std::unique_ptr<Preparation>> pending = std::move(pending_);
    for (auto& preparation : pending) {
        if (preparation->source) g_source_remove(preparation->source);
        if (preparation->completion) {
            preparation->completion(
                makeError(std::string(posixErrorDomain), ECANCELED, "Operation canceled"));
        }
    }
    sceneView_.reset();
    if (view_) g_object_unref(view_);
}

void PreviewViewController::loadView() {
    if (sceneView_) return;
    sceneView_ = std::make_unique<SceneView>();
    sceneView_->setAllowsCameraControl(true);
    sceneView_->setAutoenablesDefaultLighting(false);
    sceneView_->setAntialiasingMode(AntialiasingMode::multisampling4X);
    sceneView_->setBackgroundColor(Color::clear());
    view_ = gtk_overlay_new();
    g_object_ref_sink(view_);
    gtk_overlay_set_child(GTK_OVERLAY(view_), sceneView_->widget());
}

void PreviewViewController::preparePreviewOfFile(const std::filesystem::path& at,
                                                 CompletionHandler completion) {
    // The view the scene will go to must exist by the second turn; making it now is simplest.
    loadView();
    auto preparation = std::make_unique<Preparation>();
    preparation->controller = this;
    preparation->file = at;
    preparation->completion = std::move(completion);
    preparation->triangleLimit = triangleLimit_;
    preparation->source = scheduleTurn(loadTurn, preparation.get());
    pending_.push_back(std::move(preparation));
}

gboolean PreviewViewController::loadTurn(gpointer data) {
    auto* preparation = static_cast<Preparation*>(data);
    PreviewViewController* self = preparation->controller;
    preparation->source = 0;
    try {
        std::shared_ptr<Scene> scene = self->loader_.load(preparation->file);
        // Before staging, so that the camera frames what is drawn.
        preparation->thinning = fitSceneToTriangleBudget(*scene, preparation->triangleLimit);
        GtkWidget* view = self->view_;
        // The camera node it returns is not needed: the point of view is chosen from the
        // root's children in the next turn, and a file's own camera comes first there.
        self->loader_.setupCameraAndLighting(*scene,
                                             {static_cast<double>(gtk_widget_get_width(view)),
                                              static_cast<double>(gtk_widget_get_height(view))});
        preparation->scene = std::move(scene);
    } catch (...) {
        self->finish(preparation, hostError(std::current_exception(), previewModuleName));
        return G_SOURCE_REMOVE;
    }
    preparation->source = scheduleTurn(showTurn, preparation);
    return G_SOURCE_REMOVE;
}

gboolean PreviewViewController::showTurn(gpointer data) {
    auto* preparation = static_cast<Preparation*>(data);
    PreviewViewController* self = preparation->controller;
    preparation->source = 0;
    SceneView& view = *self->sceneView_;
    view.setScene(preparation->scene);
    std::shared_ptr<Node> pointOfView;
    for (const auto& child : preparation->scene->rootNode->childNodes()) {
        if (child->camera) {
            pointOfView = child;
            break;
        }
    }
    view.setPointOfView(pointOfView);
    self->addWatermarkOverlay();
    self->thinning_ = preparation->thinning;
    self->showThinningNote();
    self->finish(preparation, std::nullopt);
    return G_SOURCE_REMOVE;
}

void PreviewViewController::finish(Preparation* preparation, std::optional<Error> error) {
    CompletionHandler completion = std::move(preparation->completion);
    std::erase_if(pending_, [&](const auto& p) { return p.get() == preparation; });
    // Last: the completion may destroy this controller.
    if (completion) completion(std::move(error));
}

void PreviewViewController::addWatermarkOverlay() {
    // One overlay at a time: a second preparation replaces the first one's overlay rather
    // than stacking an identical copy on it, which would double the label's alpha.
    if (overlay_) gtk_overlay_remove_overlay(GTK_OVERLAY(view_), overlay_);
    overlay_ = buildWatermarkOverlay(resources_.urlForResource("watermark-icon", "png"));
    gtk_overlay_add_overlay(GTK_OVERLAY(view_), overlay_);
}

void PreviewViewController::showThinningNote() {
    if (note_) gtk_overlay_remove_overlay(GTK_OVERLAY(view_), note_);
    note_ = nullptr;
    if (thinning_.trianglesAfter >= thinning_.trianglesBefore) return;
    note_ = buildThinningNote(thinningNoteText(thinning_));
    gtk_overlay_add_overlay(GTK_OVERLAY(view_), note_);
}

}  // namespace kelvo
