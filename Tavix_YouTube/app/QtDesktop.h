// Qt implementations of the platform pasteboard (the system clipboard's
// plain text) and workspace (addresses to the default browser through
// QDesktopServices; a file is shown by opening its folder in the file
// manager), and of the download manager's folder panel (a modal Qt folder
// dialog). Main thread only.
#pragma once

#include "Tavix_YouTube/engine/FolderPanel.h"
#include "platform/app/Pasteboard.h"
#include "platform/app/Workspace.h"

class QtPasteboard : public platform::Pasteboard {
 public:
  std::optional<std::string> string() const override;
};

class QtWorkspace : public platform::Workspace {
 public:
  bool open(const std::string& url) override;
  bool selectFile(const std::string& path) override;
};

class QtFolderPanel : public tavix::FolderPanel {
 public:
  // A folder dialog (folders only, one of them, new folders allowed) with
  // the options' title and accept-button prompt; the chosen folder's path
  // when accepted.
  std::optional<std::string> runModal(const tavix::FolderPanelOptions& options) override;
};
