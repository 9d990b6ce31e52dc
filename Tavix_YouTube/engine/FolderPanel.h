// FolderPanel: the modal "choose a folder" dialog that
// DownloadManager::chooseCustomFolder shows. The application supplies a Qt
// implementation; tests supply a fake.
//
// Thread safety: called on the main thread only.
#pragma once

#include <optional>
#include <string>

namespace tavix {

struct FolderPanelOptions {
  bool canChooseDirectories = true;
  bool canChooseFiles = false;
  bool canCreateDirectories = true;
  bool allowsMultipleSelection = false;
  std::string prompt;
  std::string title;
};

class FolderPanel {
 public:
  virtual ~FolderPanel() = default;
  // Shows the panel and waits; the chosen folder's absolute path when the
  // user confirmed, none when the panel was cancelled.
  virtual std::optional<std::string> runModal(const FolderPanelOptions& options) = 0;
};

}  // namespace tavix
