// SystemColor: the named system colours the views use (status colours, row
// buttons, badges). The views map them to concrete RGB values.
#pragma once

enum class SystemColor { Orange, Blue, Yellow, Green, Red, Gray, Cyan, White };
