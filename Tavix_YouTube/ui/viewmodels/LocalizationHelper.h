// Localized texts of the window: every screen text is looked up by key in
// the main bundle's strings table each time it is used (no cache), so a
// change of table or language shows at the next update; a key without an
// entry yields the key itself.
//
// LocalizationHelper and Plural are empty marker types; the work is in the
// free functions. downloadsCountText(n) is "<n> <word>" with the word of the
// form that the plural rule of the strings table's language gives: Russian
// (one for 1, 21, 101..; "two" for 2-4, 22-24..; many for the rest, 11-14
// included); English and every other language: one for exactly 1, else many.
//
// Thread safety: as the bundle's lookup (any thread).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class LocalizationHelper {};
class Plural {};

std::string localizedString(std::string_view key);

enum class PluralForm { one, two, many };

// The form of `count` in `language` (a strings-table language such as "ru").
PluralForm pluralFormFor(int64_t count, std::string_view language);

std::string downloadsCountText(int64_t count);
