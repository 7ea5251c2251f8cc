#include "extensions/KelvoQuickLook/PreviewApplication.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "extensions/KelvoQuickLook/PreviewViewController.h"
#include "extensions/Shared/ErrorReport.h"
#include "platform/Imaging/PNG.h"
#include "platform/SceneView/OpenGLRenderer.h"

namespace kelvo {

namespace {

using Clock = std::chrono::steady_clock;

struct Application {
    PreviewOptions options;
    GtkApplication* app = nullptr;
    Clock::time_point start;
    int status = 0;
};

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

constexpr const char* program = "kelvo-preview";

// What is said when a file cannot be shown: the line on standard error, and in the window
// the explanation in words and the technical report.
struct Failure {
    std::string line, explanation, technical;
};

// One window and the controller that fills it. Lives as long as its window.
struct PreviewWindow {
    Application* application = nullptr;
    std::filesystem::path file;
    GtkWidget* window = nullptr;
    std::unique_ptr<PreviewViewController> controller;
    bool closing = false;
};

// The window's content when its file cannot be shown: a heading, the reason in words, and
// the technical report below it, small and dim, for a bug report.
void showFailure(PreviewWindow& preview, const std::string& heading, const Failure& failure) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_valign(box, GTK_ALIGN_CENTER);
    gtk_widget_set_halign(box, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_start(box, 24);
    gtk_widget_set_margin_end(box, 24);
    GtkWidget* title = gtk_label_new(heading.c_str());
    gtk_widget_add_css_class(title, "title-2");
    gtk_label_set_wrap(GTK_LABEL(title), TRUE);
    gtk_box_append(GTK_BOX(box), title);
    for (const std::string* text : {&failure.explanation, &failure.technical}) {
        if (text->empty()) continue;
        GtkWidget* label = gtk_label_new(text->c_str());
        gtk_label_set_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
        if (text == &failure.technical) {
            gtk_widget_add_css_class(label, "dim-label");
            gtk_widget_add_css_class(label, "caption");
        }
        gtk_box_append(GTK_BOX(box), label);
    }
    gtk_window_set_child(GTK_WINDOW(preview.window), box);
}

void fail(PreviewWindow& preview, const Failure& failure) {
    Application& application = *preview.application;
    std::fputs(failure.line.c_str(), stderr);
    application.status = 1;
    if (application.options.screenshot) {
        g_application_quit(G_APPLICATION(application.app));
        return;
    }
    char* name = g_filename_display_basename(preview.file.c_str());
    showFailure(preview, std::string("Cannot show \u201c") + name + "\u201d", failure);
    g_free(name);
}

// For failures found while GTK is busy with the window (realizing its view): the message
// replaces the window's content once GTK is done, if the window still exists by then.
void failLater(PreviewWindow& preview, Failure failure) {
    struct Pending {
        GtkWidget* window;
        Failure failure;
    };
    auto* pending = new Pending{GTK_WIDGET(g_object_ref(preview.window)), std::move(failure)};
    g_idle_add(
        +[](gpointer data) -> gboolean {
            auto* p = static_cast<Pending*>(data);
            if (auto* preview = static_cast<PreviewWindow*>(
                    g_object_get_data(G_OBJECT(p->window), "kelvo-preview"))) {
                fail(*preview, p->failure);
            }
            g_object_unref(p->window);
            delete p;
            return G_SOURCE_REMOVE;
        },
        pending);
}

void onPrepared(PreviewWindow& preview, const std::optional<Error>& error) {
    Application& application = *preview.application;
    std::string file = preview.file.string();
    if (error) {
        fail(preview,
             {errorLine(program, file, *error), errorExplanation(*error), errorSummary(*error)});
        return;
    }
    if (application.options.timings) {
        std::fprintf(stderr, "kelvo-preview: %s: loaded, staged and set at %.1f ms\n", file.c_str(),
                     millisecondsSince(application.start));
    }
    // Said in the window by the controller's note; here for scripts and for a bug report.
    if (const SceneBudgetOutcome& thinning = preview.controller->thinning();
        thinning.trianglesAfter < thinning.trianglesBefore) {
        std::fprintf(stderr, "kelvo-preview: %s: drawn thinned, %lld of %lld triangles\n",
                     file.c_str(), static_cast<long long>(thinning.trianglesAfter),
                     static_cast<long long>(thinning.trianglesBefore));
    }
    SceneView* view = preview.controller->sceneView();
    if (application.options.timings) {
        view->setFrameHandler([&preview](int frame) {
            if (frame != 1) return;
            // OpenGL draws asynchronously (a software renderer especially): the frame is
            // on screen once GTK has composited the window, at the end of this paint.
            GdkFrameClock* clock = gtk_widget_get_frame_clock(preview.window);
            if (!clock) return;
            // Disconnected in its own first run, within this same frame, while the window
            // still exists.
            g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock* c, gpointer data) {
                                 auto* p = static_cast<PreviewWindow*>(data);
                                 std::fprintf(stderr, "kelvo-preview: %s: first frame at %.1f ms\n",
                                              p->file.c_str(),
                                              millisecondsSince(p->application->start));
                                 g_signal_handlers_disconnect_by_data(c, data);
                             }),
                             &preview);
        });
    }
    if (const auto& screenshot = application.options.screenshot) {
        view->requestSnapshot([&preview, path = *screenshot](RGBAImage image) {
            Application& app = *preview.application;
            try {
                writePNG(image, path);
            } catch (const Error& e) {
                std::fputs(errorLine(program, path.string(), e).c_str(), stderr);
                app.status = 1;
            }
            g_application_quit(G_APPLICATION(app.app));
        });
    }
}

void openWindow(Application& application, const std::filesystem::path& file) {
    auto* preview = new PreviewWindow;
    preview->application = &application;
    preview->file = file;
    preview->window = gtk_application_window_new(application.app);
    GtkWindow* window = GTK_WINDOW(preview->window);
    char* title = g_filename_display_basename(file.c_str());
    gtk_window_set_title(window, title);
    g_free(title);
    gtk_window_set_default_size(window, 800, 600);
    g_object_set_data_full(G_OBJECT(window), "kelvo-preview", preview, [](gpointer data) {
        auto* p = static_cast<PreviewWindow*>(data);
        // A preparation still under way completes (cancelled) while its controller goes;
        // the window must no longer be touched by then.
        p->closing = true;
        p->controller.reset();
        delete p;
    });

    // Escape, Space or Ctrl+W close the window, as a quick look closes.
    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_shortcut_controller_set_scope(GTK_SHORTCUT_CONTROLLER(keys), GTK_SHORTCUT_SCOPE_GLOBAL);
    for (auto [key, modifiers] :
         {std::pair{GDK_KEY_Escape, GdkModifierType(0)},
          std::pair{GDK_KEY_space, GdkModifierType(0)}, std::pair{GDK_KEY_w, GDK_CONTROL_MASK}}) {
        gtk_shortcut_controller_add_shortcut(
            GTK_SHORTCUT_CONTROLLER(keys), gtk_shortcut_new(gtk_keyval_trigger_new(key, modifiers),
                                                            gtk_named_action_new("window.close")));
    }
    gtk_widget_add_controller(preview->window, keys);

    preview->controller = std::make_unique<PreviewViewController>();
    preview->controller->setTriangleLimit(application.options.triangleLimit);
    preview->controller->loadView();
    gtk_window_set_child(window, preview->controller->view());
    preview->controller->sceneView()->setErrorHandler([preview](const std::string& message) {
        failLater(*preview, {std::string(program) + ": " + preview->file.string() +
                                 ": OpenGL: " + message + "\n",
                             message, ""});
    });
    preview->controller->preparePreviewOfFile(file, [preview](std::optional<Error> error) {
        if (!preview->closing) onPrepared(*preview, error);
    });
    gtk_window_present(window);
}

// Asks the kernel to start reading each file now, in the background: a file that is not
// in the page cache yet arrives while GTK starts up instead of after.
void readAhead(const std::vector<std::filesystem::path>& files) {
    for (const auto& file : files) {
        int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
        }
        ::close(fd);
    }
}

}  // namespace

int runPreview(const PreviewOptions& options) {
    Application application;
    application.options = options;
    application.start = Clock::now();
    readAhead(options.files);
    if (!gtk_init_check()) {
        std::fprintf(
            stderr,
            "kelvo-preview: cannot open a display: run it inside a desktop session, or set "
            "DISPLAY or WAYLAND_DISPLAY\n");
        return 1;
    }
    // On an OpenGL that draws on the CPU (a machine without a GPU, a virtual machine) GTK's
    // OpenGL compositor costs more than it saves: setting it up and compiling its programs
    // takes about a third of the wait for the first frame, and every frame is then drawn
    // twice in software. Cairo composites the view's finished image instead, pixel for pixel
    // the same. Chosen before the first window, when GTK reads it; the user's own choice
    // stands.
    if (!g_getenv("GSK_RENDERER") &&
        isSoftwareRenderer(openGLRendererName(gdk_display_get_default()))) {
        g_setenv("GSK_RENDERER", "cairo", FALSE);
    }
    // A viewer's dark surroundings let the model and the white brand label stand out.
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);
    // Not unique: every start is its own process with its own exit status, and it needs no
    // session bus.
    application.app = gtk_application_new(previewApplicationID, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application.app, "activate", G_CALLBACK(+[](GApplication*, gpointer data) {
                         auto* app = static_cast<Application*>(data);
                         for (const auto& file : app->options.files)
                             openWindow(*app, file);
                     }),
                     &application);
    int status = g_application_run(G_APPLICATION(application.app), 0, nullptr);
    // Windows still open (the screenshot ends the run with its window open) go first, while
    // their controllers can still be destroyed with the display.
    while (GList* windows = gtk_application_get_windows(application.app)) {
        gtk_window_destroy(GTK_WINDOW(windows->data));
    }
    g_object_unref(application.app);
    return status != 0 ? status : application.status;
}

}  // namespace kelvo
