#include "Tavix_YouTube/ui/viewmodels/WebAddress.h"

#include "platform/app/Workspace.h"
#include "platform/log/Console.h"
#include "platform/text/Unicode.h"
#include "platform/text/Url.h"

namespace tavix {

bool isWebAddress(const std::string& text) {
  auto url = platform::Url::parse(text);
  if (!url || !url->hasSchemeAndHost()) return false;
  const std::string scheme = platform::Unicode::lowercase(url->scheme());
  return scheme == "http" || scheme == "https";
}

bool openWebAddress(const std::string& text) {
  if (!platform::Url::parse(text)) return false;  // not an address: nothing more happens
  if (!isWebAddress(text)) {
    platform::console::line("❌ Not opening a non-web address: '" + text + "'");
    return false;
  }
  return platform::Workspace::shared()->open(text);
}

}  // namespace tavix
