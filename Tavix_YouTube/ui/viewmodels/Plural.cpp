#include <string>

#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"
#include "platform/app/Bundle.h"

PluralForm pluralFormFor(int64_t count, std::string_view language) {
  if (language == "ru") {
    const int64_t r10 = count % 10;
    const int64_t r100 = count % 100;
    if (r10 == 1 && r100 != 11) return PluralForm::one;
    if (r10 >= 2 && r10 <= 4 && !(r100 >= 10 && r100 <= 19)) return PluralForm::two;
    return PluralForm::many;
  }
  return count == 1 ? PluralForm::one : PluralForm::many;
}

std::string downloadsCountText(int64_t count) {
  // All three forms are looked up on every call, in this order.
  const std::string one = localizedString("downloads.items.one");
  const std::string two = localizedString("downloads.items.two");
  const std::string many = localizedString("downloads.items.many");
  // The rule is that of the language whose table gave the words.
  switch (pluralFormFor(count, platform::Bundle::main()->preferredLocalization())) {
    case PluralForm::one: return std::to_string(count) + " " + one;
    case PluralForm::two: return std::to_string(count) + " " + two;
    case PluralForm::many: break;
  }
  return std::to_string(count) + " " + many;
}
