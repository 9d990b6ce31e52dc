// Archivable: an object that a KeyedArchiver can write.
//
// className() names the class in the archive; encodeWith() writes the
// object's keys. Decoding goes through a factory registered by class name in
// ArchiveClassRegistry. Inside a Value tree an archivable object travels as
// an opaque payload made with KeyedArchiver::wrap().
#pragma once

#include <string>

namespace platform {

class KeyedArchiver;

class Archivable {
 public:
  virtual ~Archivable() = default;
  virtual std::string className() const = 0;
  virtual void encodeWith(KeyedArchiver& archiver) const = 0;
};

}  // namespace platform
