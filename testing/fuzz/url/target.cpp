// URL text from outside (configuration, answers, pasted addresses) and URLs
// built from outside text: parsing is strict and never crashes; the text of
// a parsed URL parses back to the same URL; a URL built from any components
// writes text that parses back with those components (a relative path whose
// first segment holds ":" never turns into a scheme).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text/Url.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::Url;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (std::optional<Url> url = Url::parse(text)) {
    std::optional<Url> again = Url::parse(url->string());
    FUZZ_CHECK(again && *again == *url);
    url->queryItems();
    url->lastPathComponent();
  }

  // The input as the plain components of built URLs: path alone, and path,
  // query item and fragment on an address.
  const size_t cut = text.find('\n');
  const std::string first(text.substr(0, cut));
  const std::string rest(cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1));
  Url relative;
  relative.setPath(first);
  std::optional<Url> relativeBack = Url::parse(relative.string());
  FUZZ_CHECK(!first.empty() || !relativeBack);  // empty text is no address
  if (!first.empty()) {
    FUZZ_CHECK(relativeBack && relativeBack->scheme().empty() && !relativeBack->host());
    // Only a prefix that keeps the path's meaning may have been added.
    const std::string path = relativeBack->path();
    FUZZ_CHECK(path == first || path == "./" + first || path == "/." + first);
  }

  std::optional<Url> built = Url::make("https", "example.com", "/" + first, {{rest, first}});
  FUZZ_CHECK(built.has_value());
  built->setFragment(rest);
  std::optional<Url> builtBack = Url::parse(built->string());
  FUZZ_CHECK(builtBack && builtBack->host() == "example.com" && builtBack->path() == "/" + first);
  FUZZ_CHECK(builtBack->fragment() == rest);
  auto items = builtBack->queryItems();
  FUZZ_CHECK(items && items->size() == 1 && (*items)[0].name == rest && (*items)[0].value == first);
  return 0;
}
