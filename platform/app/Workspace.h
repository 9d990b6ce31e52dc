// Workspace: hands addresses and files to the desktop.
//
// open(url) asks the desktop to open an address (browser, default
// application); selectFile(path) shows a file selected in the file manager.
// Both answer whether the request was handed over. The process-wide
// instance is injectable: the app installs its Qt implementation; until then
// it is a RecordingWorkspace that records requests and answers false (there
// is no desktop to hand them to).
//
// Thread safety: shared()/setShared() from any thread; implementations say
// where they may be used (the Qt one: main thread only).
#pragma once

#include <memory>
#include <string>

namespace platform {

class Workspace {
 public:
  virtual ~Workspace() = default;
  virtual bool open(const std::string& url) = 0;
  virtual bool selectFile(const std::string& path) = 0;

  static std::shared_ptr<Workspace> shared();
  // nullptr restores a fresh RecordingWorkspace answering false.
  static void setShared(std::shared_ptr<Workspace> workspace);
};

}  // namespace platform
