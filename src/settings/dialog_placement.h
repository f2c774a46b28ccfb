#pragma once
namespace core {
class Form;
}

namespace settings {

// Puts a dialog beside the clock window: slot 0 to its right, slot 1 to its left, so that the two
// dialogs start-up may open together cover neither each other nor the clock.
void PlaceBesideMainWindow(core::Form& dialog, int slot);

}  // namespace settings
