#pragma once

#include "quicksave/QuickSaveModel.h"

namespace pinlark {

// Puts a quick-save model into a given state, for tests of what the panel shows.
struct QuickSaveModelAccess {
    static void setPhase(QuickSaveModel& model, Phase phase) { model.setPhase(std::move(phase)); }
    static void setRecent(QuickSaveModel& model, QList<SaveRow> rows) {
        model.setRecent(std::move(rows));
    }
};

} // namespace pinlark
