// Process-wide pasteboard and workspace instances.
#include <mutex>

#include "platform/app/MemoryPasteboard.h"
#include "platform/app/RecordingWorkspace.h"
#include "platform/runtime/Immortal.h"

namespace platform {

namespace {
std::mutex g_mutex;
platform::Immortal<std::shared_ptr<Pasteboard>> g_pasteboardSlot;
std::shared_ptr<Pasteboard>& g_pasteboard = *g_pasteboardSlot;
platform::Immortal<std::shared_ptr<Workspace>> g_workspaceSlot;
std::shared_ptr<Workspace>& g_workspace = *g_workspaceSlot;
}  // namespace

std::shared_ptr<Pasteboard> Pasteboard::general() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!g_pasteboard) g_pasteboard = std::make_shared<MemoryPasteboard>();
  return g_pasteboard;
}

void Pasteboard::setGeneral(std::shared_ptr<Pasteboard> pasteboard) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_pasteboard = std::move(pasteboard);
}

std::shared_ptr<Workspace> Workspace::shared() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!g_workspace) g_workspace = std::make_shared<RecordingWorkspace>(false);
  return g_workspace;
}

void Workspace::setShared(std::shared_ptr<Workspace> workspace) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_workspace = std::move(workspace);
}

}  // namespace platform
