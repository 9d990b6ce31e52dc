#include "sdk/data-coder/CodingKey.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

#include "sdk/data-coder/CodingError.h"
#include "sdk/data-coder/CodingTraits.h"

namespace coding {

CodingKey CodingKey::json(std::string name) { return CodingKey(std::move(name), std::nullopt, kCoderTypeName); }

CodingKey CodingKey::json(int64_t integer) { return CodingKey(std::to_string(integer), integer, kCoderTypeName); }

CodingKey CodingKey::index(int64_t position) {
  return CodingKey("Index " + std::to_string(position), position, kCoderTypeName);
}

CodingKey CodingKey::super() { return CodingKey("super", std::nullopt, kCoderTypeName); }

std::string CodingKey::description() const {
  return typeName + "(stringValue: \"" + stringValue + "\", intValue: " +
         (intValue ? std::to_string(*intValue) : std::string("nil")) + ")";
}

std::string describePath(const CodingPath& path) {
  std::string text = "[";
  for (size_t index = 0; index < path.size(); ++index) {
    if (index > 0) text += ", ";
    text += path[index].stringValue;
  }
  return text + "]";
}

std::string DecodingError::kindName() const {
  switch (m_kind) {
    case Kind::TypeMismatch: return "typeMismatch";
    case Kind::ValueNotFound: return "valueNotFound";
    case Kind::KeyNotFound: return "keyNotFound";
    case Kind::DataCorrupted: return "dataCorrupted";
  }
  return {};
}

namespace detail {

std::string unqualifiedName(const char* mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                   std::free);
  std::string name = status == 0 && demangled ? demangled.get() : mangled;
  // Drop the namespaces of the outermost name (not inside template arguments).
  int depth = 0;
  size_t start = 0;
  for (size_t index = 0; index + 1 < name.size(); ++index) {
    const char c = name[index];
    if (c == '<' || c == '(') ++depth;
    if (c == '>' || c == ')') --depth;
    if (depth == 0 && c == ':' && name[index + 1] == ':') start = index + 2;
  }
  return name.substr(start);
}

}  // namespace detail

}  // namespace coding
