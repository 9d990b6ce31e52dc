#include <string>

#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"

std::string downloadsCountText(int64_t count) {
  // All three forms are looked up on every call, in this order.
  const std::string one = localizedString("downloads.items.one");
  const std::string two = localizedString("downloads.items.two");
  const std::string many = localizedString("downloads.items.many");
  const int64_t r10 = count % 10;
  const int64_t r100 = count % 100;
  const std::string* word = &many;
  if (r10 == 1 && r100 != 11) {
    word = &one;
  } else if (r10 >= 2 && r10 <= 4 && !(r100 >= 10 && r100 <= 19)) {
    word = &two;
  }
  return std::to_string(count) + " " + *word;
}
