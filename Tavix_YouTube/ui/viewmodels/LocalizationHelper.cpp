#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"

#include "platform/app/Bundle.h"

std::string localizedString(std::string_view key) {
  return platform::Bundle::main()->localizedString(std::string(key), std::string());
}
