#include "Tavix_YouTube/ui/Animations.h"

namespace ui_animations {
namespace {
bool g_enabled = true;
}
bool enabled() { return g_enabled; }
void setEnabled(bool on) { g_enabled = on; }
}  // namespace ui_animations
