// Pasteboard: the system clipboard as the application reads it.
//
// string() answers the plain text on the clipboard, none when it holds no
// text. The process-wide instance is injectable: the app installs its Qt
// implementation at start-up; until then (and in tests) it is a
// MemoryPasteboard.
//
// Thread safety: general()/setGeneral() from any thread; implementations
// say where they may be used (the Qt one: main thread only).
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace platform {

class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  virtual std::optional<std::string> string() const = 0;

  static std::shared_ptr<Pasteboard> general();
  // nullptr restores a fresh MemoryPasteboard.
  static void setGeneral(std::shared_ptr<Pasteboard> pasteboard);
};

}  // namespace platform
