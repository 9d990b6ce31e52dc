#include "Tavix_YouTube/engine/internal/AppBundle.h"

#include "platform/app/Bundle.h"
#include "platform/app/Workspace.h"

namespace tavix::engine_internal {

std::optional<std::string> resourcePath(std::string_view name) {
  return platform::Bundle::main()->pathForResource(name);
}

std::string localizedString(std::string_view key) {
  return platform::Bundle::main()->localizedString(std::string(key));
}

void selectFileInFileManager(const std::string& path) { platform::Workspace::shared()->selectFile(path); }

}  // namespace tavix::engine_internal
