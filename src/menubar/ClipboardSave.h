#pragma once

#include <QString>

#include <functional>

namespace pinlark {

class QuickSaveModel;

// "Save Copied Link" and `pinlark --save-clipboard`: saves the link or links on the clipboard at
// once through `model`, without the panel, and tells how it went by a notification. Without a
// link on the clipboard nothing is saved, and the notification says why. Where no notification
// can be shown, `instead` gets its title and text.
namespace ClipboardSave {
void start(QuickSaveModel& model,
           std::function<void(const QString& title, const QString& body)> instead);
} // namespace ClipboardSave

} // namespace pinlark
