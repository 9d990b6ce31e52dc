// Animations: one switch for the views' transitions. When off (tests), every
// animated change is applied at once; looping decorations (bubbles, stripes)
// still start, so their state can be inspected. GUI thread only.
#pragma once

namespace ui_animations {

bool enabled();
void setEnabled(bool on);

}  // namespace ui_animations
