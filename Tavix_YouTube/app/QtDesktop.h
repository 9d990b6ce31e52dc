// Qt implementations of the platform pasteboard (the system clipboard's
// plain text) and workspace (addresses to the default browser through
// QDesktopServices; a file is shown by opening its folder in the file
// manager). Main thread only.
#pragma once

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
