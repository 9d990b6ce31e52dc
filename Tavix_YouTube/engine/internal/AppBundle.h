// The engine's window onto the application bundle and desktop services:
// resources by name, the strings table and "show this file in the file
// manager". Kept in one place so the engine has a single seam to the
// platform's bundle and workspace.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavix::engine_internal {

// Path of the resource file `name` (no type) in the main bundle, none when absent.
std::optional<std::string> resourcePath(std::string_view name);

// The strings-table text of `key`; the key itself when the table lacks it.
std::string localizedString(std::string_view key);

// Asks the desktop to show the file in a file manager window.
void selectFileInFileManager(const std::string& path);

}  // namespace tavix::engine_internal
