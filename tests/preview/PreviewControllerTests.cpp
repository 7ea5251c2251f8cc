// PreviewViewController driven as the preview service drives it, with real GTK widgets on a
// private X server: the two main-loop turns, the completion, the error path and the overlay.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "extensions/KelvoQuickLook/PreviewViewController.h"
#include "extensions/KelvoQuickLook/ThinningNote.h"
#include "extensions/KelvoQuickLook/WatermarkOverlay.h"
#include "platform/Imaging/PNG.h"
#include "tests/support/DisplayTestMain.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

const std::filesystem::path model = KELVO_SOURCE_DIR "/examples/torus-knot.stl";

// Runs the main loop until `done` or five seconds have passed.
template <class Done>
bool spinUntil(Done done) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5); !done();) {
        if (std::chrono::steady_clock::now() > end) return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void drain() {
    spinUntil([] { return !g_main_context_pending(nullptr); });
}

struct Completions {
    int calls = 0;
    std::optional<Error> error;
    PreviewViewController::CompletionHandler handler() {
        return [this](std::optional<Error> e) { ++calls, error = std::move(e); };
    }
    bool wait() {
        return spinUntil([&] { return calls > 0; });
    }
};

// Everything GtkOverlay holds besides its main child.
int overlayCount(GtkWidget* view) {
    int n = 0;
    for (GtkWidget* c = gtk_widget_get_first_child(view); c; c = gtk_widget_get_next_sibling(c))
        n += c != gtk_overlay_get_child(GTK_OVERLAY(view));
    return n;
}

// A widget's frame in its parent as laid out, in points with the origin at the bottom-left
// as the overlay is measured.
Frame frameIn(GtkWidget* widget, GtkWidget* parent) {
    graphene_rect_t r;
    EXPECT_TRUE(gtk_widget_compute_bounds(widget, parent, &r));
    double parentHeight = gtk_widget_get_height(parent);
    return {r.origin.x, parentHeight - r.origin.y - r.size.height, r.size.width, r.size.height};
}

class PreviewController : public ::testing::Test {
protected:
    void TearDown() override {
        closeWindow();
        drain();
    }
    // A controller over `resources`, its view shown 600 points high, that has prepared `file`.
    std::unique_ptr<PreviewViewController> shown(ResourceBundle resources,
                                                 const std::filesystem::path& file,
                                                 Completions& done) {
        auto controller = std::make_unique<PreviewViewController>(std::move(resources));
        controller->loadView();
        window_ = gtk_window_new();
        gtk_window_set_default_size(GTK_WINDOW(window_), 300, 600);
        gtk_window_set_child(GTK_WINDOW(window_), controller->view());
        gtk_window_present(GTK_WINDOW(window_));
        EXPECT_TRUE(spinUntil([&] { return gtk_widget_get_height(controller->view()) == 600; }));
        controller->preparePreviewOfFile(file, done.handler());
        EXPECT_TRUE(done.wait());
        return controller;
    }
    void closeWindow() {
        if (window_) gtk_window_destroy(GTK_WINDOW(window_));
        window_ = nullptr;
    }
    GtkWidget* window_ = nullptr;
    test::TempDir dir_;
};

TEST_F(PreviewController, unsupportedFileCompletesOnceWithTheMinusThreeErrorAndShowsNothing) {
    Completions done;
    auto controller = shown({}, dir_.path() / "model.xyz", done);
    ASSERT_TRUE(done.error);
    EXPECT_EQ(done.error->domain(), "SceneLoader");
    EXPECT_EQ(done.error->code(), -3);
    EXPECT_EQ(done.error->localizedDescription(), "Unsupported format: xyz");
    EXPECT_EQ(controller->sceneView()->scene(), nullptr);
    EXPECT_EQ(controller->sceneView()->pointOfView(), nullptr);
    EXPECT_EQ(controller->watermarkOverlay(), nullptr);
    EXPECT_EQ(overlayCount(controller->view()), 0);
    EXPECT_EQ(controller->sceneView()->backgroundColor(), Color::clear());
    drain();
    EXPECT_EQ(done.calls, 1);
}

TEST_F(PreviewController, loadsInOneTurnAndShowsFromTheStagedCameraInALaterOne) {
    PreviewViewController controller{ResourceBundle{}};
    controller.loadView();
    Completions done;
    controller.preparePreviewOfFile(model, done.handler());
    EXPECT_EQ(done.calls, 0) << "the service's call returns before the work is done";
    // Queued after the load turn at the same priority, so it runs between the two turns.
    std::optional<bool> shownBetween;
    std::function<void()> between = [&] {
        shownBetween = controller.sceneView()->scene() != nullptr || done.calls > 0;
    };
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer f) -> gboolean {
            (*static_cast<std::function<void()>*>(f))();
            return G_SOURCE_REMOVE;
        },
        &between, nullptr);
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(shownBetween, false) << "loading and showing happen in separate turns";
    ASSERT_FALSE(done.error) << done.error->localizedDescription();
    const auto& scene = controller.sceneView()->scene();
    ASSERT_NE(scene, nullptr);
    // The STL carries no camera: the staging camera, the root's only camera child, is the
    // point of view, and the scene has the rig's lights.
    const auto& pointOfView = controller.sceneView()->pointOfView();
    ASSERT_NE(pointOfView, nullptr);
    ASSERT_NE(pointOfView->camera, nullptr);
    EXPECT_EQ(pointOfView->parentNode(), scene->rootNode.get());
    int lights = 0;
    for (const auto& child : scene->rootNode->childNodes())
        lights += child->light != nullptr;
    EXPECT_EQ(lights, 3);
    ASSERT_NE(controller.watermarkOverlay(), nullptr);
    GtkWidget* label = watermarkLabelWidget(controller.watermarkOverlay());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(label))), brandText);
}

TEST_F(PreviewController, overlayFramesStayPinnedToTheTopWithOrWithoutTheIcon) {
    // A wide, short icon (scaled proportionally into its 20 x 20 frame), no icon at all, and
    // an icon file that is not an image.
    test::TempDir icon, broken;
    RGBAImage wide(64, 32);
    std::fill(wide.pixels.begin(), wide.pixels.end(), 200);
    writePNG(wide, icon.path() / "watermark-icon.png");
    broken.write("watermark-icon.png", std::string("not a picture"));
    for (const auto& resources : {ResourceBundle{{icon.path()}}, ResourceBundle{{broken.path()}},
                                  ResourceBundle{{dir_.path()}}}) {
        Completions done;
        auto controller = shown(resources, model, done);
        ASSERT_FALSE(done.error);
        GtkWidget* container = controller->watermarkOverlay();
        ASSERT_NE(container, nullptr);
        GtkWidget* label = watermarkLabelWidget(container);
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_width(label) > 0; }));
        EXPECT_EQ(frameIn(container, controller->view()), (Frame{0, 570, 200, 24}));
        EXPECT_EQ(frameIn(label, container).x, 30);
        EXPECT_EQ(frameIn(label, container).y, 3);
        GtkWidget* picture = watermarkIconWidget(container);
        EXPECT_EQ(picture != nullptr, resources.directories.front() == icon.path());
        if (picture) {
            EXPECT_EQ(frameIn(picture, container), (Frame{8, 2, 20, 20}));
        }
        gtk_window_set_default_size(GTK_WINDOW(window_), 300, 800);
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_height(controller->view()) == 800; }));
        EXPECT_EQ(frameIn(container, controller->view()), (Frame{0, 770, 200, 24}));
        closeWindow();
    }
}

// Prepared before its view was loaded: the controller loads it first. Every completion runs
// once, a cancelled one too; only a success replaces what the view shows.
TEST_F(PreviewController, eachCompletionRunsOnceAndOnlyASuccessReplacesTheView) {
    PreviewViewController controller{ResourceBundle{}};
    Completions first, second, failing;
    controller.preparePreviewOfFile(model, first.handler());
    controller.preparePreviewOfFile(model, second.handler());
    ASSERT_TRUE(spinUntil([&] { return first.calls > 0 && second.calls > 0; }));
    EXPECT_EQ(overlayCount(controller.view()), 1);
    std::shared_ptr<Scene> shown = controller.sceneView()->scene();
    controller.preparePreviewOfFile(dir_.path() / "missing.stl", failing.handler());
    ASSERT_TRUE(failing.wait());
    ASSERT_TRUE(failing.error);
    EXPECT_EQ(failing.error->domain(), "POSIX");
    EXPECT_EQ(failing.error->code(), ENOENT);
    EXPECT_EQ(controller.sceneView()->scene(), shown);
    EXPECT_EQ(overlayCount(controller.view()), 1);
    // A controller destroyed midway cancels its preparation, once.
    Completions cancelled;
    std::make_unique<PreviewViewController>(ResourceBundle{})
        ->preparePreviewOfFile(model, cancelled.handler());
    ASSERT_EQ(cancelled.calls, 1);
    ASSERT_TRUE(cancelled.error);
    EXPECT_EQ(cancelled.error->code(), ECANCELED);
    drain();
    EXPECT_EQ(first.calls + second.calls + failing.calls + cancelled.calls, 4);
}

// A model over the triangle limit is drawn thinned to it, and a note at the bottom of the
// view says from how many to how many; one within the limit (0 is none) is drawn whole and
// takes the note of an earlier thinned model away.
TEST_F(PreviewController, aModelOverTheTriangleLimitIsThinnedToItAndTheViewSaysSo) {
    Completions whole;
    auto controller = shown({}, model, whole);
    ASSERT_FALSE(whole.error);
    EXPECT_EQ(controller->triangleLimit(), 20'000'000);
    const std::int64_t all = controller->thinning().trianglesBefore;
    ASSERT_GT(all, 1000);
    EXPECT_EQ(controller->thinning().trianglesAfter, all);
    EXPECT_EQ(drawnTriangleCount(*controller->sceneView()->scene()->rootNode), all);
    EXPECT_EQ(controller->thinningNote(), nullptr);

    controller->setTriangleLimit(all / 3);
    Completions thinned;
    controller->preparePreviewOfFile(model, thinned.handler());
    ASSERT_TRUE(thinned.wait());
    ASSERT_FALSE(thinned.error);
    EXPECT_EQ(controller->thinning().trianglesBefore, all);
    const std::int64_t kept = controller->thinning().trianglesAfter;
    EXPECT_LE(kept, all / 3);
    EXPECT_GT(kept, all / 3 - 2);
    EXPECT_EQ(drawnTriangleCount(*controller->sceneView()->scene()->rootNode), kept);
    GtkWidget* note = controller->thinningNote();
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(gtk_widget_get_parent(note), controller->view());
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(note))),
              thinningNoteText(controller->thinning()));
    // Laid out at the bottom of the view, clear of the brand mark at the top.
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_height(note) > 0; }));
    Frame frame = frameIn(note, controller->view());
    EXPECT_EQ(frame.y, 12);
    EXPECT_LT(frame.y + frame.height, 100);
    EXPECT_EQ(overlayCount(controller->view()), 2);

    controller->setTriangleLimit(0);
    Completions unlimited;
    controller->preparePreviewOfFile(model, unlimited.handler());
    ASSERT_TRUE(unlimited.wait());
    EXPECT_EQ(controller->thinning().trianglesAfter, all);
    EXPECT_EQ(controller->thinningNote(), nullptr);
    EXPECT_EQ(overlayCount(controller->view()), 1);
}

}  // namespace
}  // namespace kelvo

int main(int argc, char** argv) {
    return kelvo::test::runOnVirtualDisplay(argc, argv, [] {
        if (gtk_init_check()) return true;
        std::fprintf(stderr, "GTK cannot open the virtual display\n");
        return false;
    });
}
