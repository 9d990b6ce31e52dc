// ArchiveClassRegistry: process-wide factories that decode archived objects
// by class name. Libraries register their classes explicitly from their
// registration function (no static initialisers). A factory reads its keys
// from the unarchiver it is given and returns the object, or nullptr (or
// calls failWithError) when the stored data does not make a valid object.
//
// Thread safety: all functions may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/storage/Archivable.h"

namespace platform {

class KeyedUnarchiver;

using ArchivableFactory = std::function<std::shared_ptr<Archivable>(KeyedUnarchiver&)>;

class ArchiveClassRegistry {
 public:
  static void registerClass(const std::string& className, ArchivableFactory factory);
  static void unregisterClass(const std::string& className);
  // Empty when no class of that name is registered.
  static ArchivableFactory factory(const std::string& className);
};

}  // namespace platform
