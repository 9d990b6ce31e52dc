// Key conversion of the encoder's convertToSnakeCase strategy: words start
// at upper-case letters (Unicode Lu and Lt; never at the first character);
// a run of capitals followed by a lower-case letter (Ll) ends one character
// before it; words are lower-cased and joined with "_".
//   myURLProperty -> my_url_property, URLValue -> u_rl_value, Name -> name
//
// Thread safety: stateless.
#pragma once

#include <string>
#include <string_view>

namespace coding {

std::string toSnakeCase(std::string_view key);

// Case mappings of the key conversions, by Unicode rules and no locale:
// every character lower-cased; and every word's first character upper-cased
// and the rest lower-cased, words being delimited by spaces, tabs and line
// ends.
std::string lowercased(std::string_view text);
std::string capitalized(std::string_view text);

}  // namespace coding
