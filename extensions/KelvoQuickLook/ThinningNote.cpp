#include "extensions/KelvoQuickLook/ThinningNote.h"

#include "extensions/KelvoQuickLook/DisplayStyle.h"

namespace kelvo {

namespace {

// Its own look rather than the theme's: light text on a translucent dark box reads over
// any model and any background, themed or not.
constexpr const char* noteCSS =
    ".kelvo-thinning-note {"
    "  font-size: 13px;"
    "  color: rgba(255, 255, 255, 0.9);"
    "  background-color: rgba(0, 0, 0, 0.65);"
    "  border-radius: 6px;"
    "  padding: 6px 12px;"
    "}";

}  // namespace

std::string groupedDigits(std::int64_t n) {
    std::string digits = std::to_string(n);
    const size_t start = n < 0 ? 1 : 0;
    std::string out = digits.substr(0, start);
    for (size_t i = start; i < digits.size(); ++i) {
        if (i > start && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string thinningNoteText(const SceneBudgetOutcome& outcome) {
    return "Thinned from " + groupedDigits(outcome.trianglesBefore) + " to " +
           groupedDigits(outcome.trianglesAfter) +
           " triangles to keep the view smooth (kelvo-preview --max-triangles changes the limit)";
}

GtkWidget* buildThinningNote(const std::string& text) {
    GtkWidget* label = gtk_label_new(text.c_str());
    installDisplayStyle(gtk_widget_get_display(label), "kelvo-thinning-note-style", noteCSS);
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_widget_set_halign(label, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(label, GTK_ALIGN_END);
    gtk_widget_set_margin_start(label, 12);
    gtk_widget_set_margin_end(label, 12);
    gtk_widget_set_margin_bottom(label, 12);
    gtk_widget_add_css_class(label, "kelvo-thinning-note");
    gtk_widget_set_name(label, "kelvo-thinning-note");
    // Like the brand mark, the note never takes the pointer from the 3D view.
    gtk_widget_set_can_target(label, FALSE);
    return label;
}

}  // namespace kelvo
