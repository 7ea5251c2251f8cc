// The note the preview shows over a model it drew thinned: how many triangles the file has
// and how many are drawn, in a small dark box at the bottom of the view that leaves the
// pointer to the 3D view below it.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "extensions/KelvoThumbnail/SceneBudget.h"

namespace kelvo {

// "1234567" as "1,234,567": counts of millions are read at a glance with separators.
std::string groupedDigits(std::int64_t n);

// What the note says about `outcome`, which thinned the model.
std::string thinningNoteText(const SceneBudgetOutcome& outcome);

// The note's widget, a floating reference for a GtkOverlay.
GtkWidget* buildThinningNote(const std::string& text);

}  // namespace kelvo
