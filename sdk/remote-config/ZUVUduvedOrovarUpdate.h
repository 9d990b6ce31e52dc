// ZUVUduvedOrovarUpdate: the parameter keys an activation would change;
// what config-update listeners receive.
// Thread safety: immutable.
#pragma once

#include <set>
#include <string>

class ZUVUduvedOrovarUpdate {
 public:
  explicit ZUVUduvedOrovarUpdate(std::set<std::string> updatedKeys) : m_updatedKeys(std::move(updatedKeys)) {}
  const std::set<std::string>& updatedKeys() const { return m_updatedKeys; }

 private:
  std::set<std::string> m_updatedKeys;
};
