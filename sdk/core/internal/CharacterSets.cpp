#include "sdk/core/internal/CharacterSets.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace rir_internal {

bool consistsOfAlphanumericsAnd(std::string_view text, std::string_view extra) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  int32_t length = static_cast<int32_t>(text.size());
  int32_t offset = 0;
  while (offset < length) {
    UChar32 c = 0;
    U8_NEXT(bytes, offset, length, c);
    if (c < 0) return false;
    if (c < 0x80 && extra.find(static_cast<char>(c)) != std::string_view::npos) continue;
    if ((U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) == 0) return false;
  }
  return true;
}

}  // namespace rir_internal
