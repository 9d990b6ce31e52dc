// Localized texts of the window: every screen text is looked up by key in
// the main bundle's strings table each time it is used (no cache), so a
// change of table or language shows at the next update; a key without an
// entry yields the key itself.
//
// LocalizationHelper and Plural are empty marker types; the work is in the
// free functions. downloadsCountText(n) is "<n> <word>" with the word chosen
// by the integer plural rule one / few ("downloads.items.two") / many.
//
// Thread safety: as the bundle's lookup (any thread).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class LocalizationHelper {};
class Plural {};

std::string localizedString(std::string_view key);

std::string downloadsCountText(int64_t count);
