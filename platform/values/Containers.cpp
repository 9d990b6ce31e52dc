// Storage of the shared containers: Array, Dictionary, Set.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/values/Exception.h"
#include "platform/values/Value.h"

namespace platform {

namespace {

const Value& sharedNull() {
  static const Value kNull;
  return kNull;
}

[[noreturn]] void outOfRange(const char* what, size_t index, size_t size) {
  Exception::raise(Exception::kRangeException, std::string("*** ") + what + ": index " +
                                                   std::to_string(index) + " beyond bounds [0 .. " +
                                                   std::to_string(size) + ")");
}

// Dictionaries up to this size are searched linearly; beyond it a hash index
// is kept beside the ordered entries.
constexpr size_t kIndexThreshold = 8;

}  // namespace

// ---------------------------------------------------------------------------
// Array

struct Array::Impl {
  std::vector<Value> items;
};

Array::Array() : m_impl(std::make_shared<Impl>()) {}
Array::Array(std::initializer_list<Value> items) : m_impl(std::make_shared<Impl>()) {
  m_impl->items.assign(items.begin(), items.end());
}
Array::Array(std::vector<Value> items) : m_impl(std::make_shared<Impl>()) {
  m_impl->items = std::move(items);
}

size_t Array::size() const { return m_impl->items.size(); }
bool Array::empty() const { return m_impl->items.empty(); }
const Value& Array::operator[](size_t index) const { return at(index); }
const Value& Array::at(size_t index) const {
  if (index >= m_impl->items.size()) {
    outOfRange("-[Array objectAtIndex:]", index, m_impl->items.size());
  }
  return m_impl->items[index];
}
Value& Array::at(size_t index) {
  if (index >= m_impl->items.size()) {
    outOfRange("-[Array objectAtIndex:]", index, m_impl->items.size());
  }
  return m_impl->items[index];
}
Value Array::get(size_t index) const {
  return index < m_impl->items.size() ? m_impl->items[index] : Value();
}
void Array::append(Value value) { m_impl->items.push_back(std::move(value)); }
void Array::insert(size_t index, Value value) {
  if (index > m_impl->items.size()) {
    outOfRange("-[Array insertObject:atIndex:]", index, m_impl->items.size());
  }
  m_impl->items.insert(m_impl->items.begin() + static_cast<ptrdiff_t>(index), std::move(value));
}
void Array::set(size_t index, Value value) { at(index) = std::move(value); }
void Array::removeAt(size_t index) {
  if (index >= m_impl->items.size()) {
    outOfRange("-[Array removeObjectAtIndex:]", index, m_impl->items.size());
  }
  m_impl->items.erase(m_impl->items.begin() + static_cast<ptrdiff_t>(index));
}
void Array::clear() { m_impl->items.clear(); }
void Array::reserve(size_t n) { m_impl->items.reserve(n); }
Array::const_iterator Array::begin() const { return m_impl->items.begin(); }
Array::const_iterator Array::end() const { return m_impl->items.end(); }
const std::vector<Value>& Array::items() const { return m_impl->items; }
Array Array::copy() const { return *Value(*this).copy().asArray(); }
bool Array::sameStorage(const Array& other) const { return m_impl == other.m_impl; }

// ---------------------------------------------------------------------------
// Dictionary

// The hash index holds positions into `entries`, so each key is stored once;
// the functors look the key up through the owning Impl.
struct Dictionary::Impl {
  struct PositionHash {
    using is_transparent = void;
    const Impl* owner;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
    size_t operator()(size_t at) const { return owner->hashes[at]; }
  };
  struct PositionEqual {
    using is_transparent = void;
    const Impl* owner;
    std::string_view key(std::string_view k) const { return k; }
    std::string_view key(size_t at) const { return owner->entries[at].first; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const { return key(a) == key(b); }
  };

  std::vector<Entry> entries;
  std::vector<size_t> hashes;  // key hashes by position, kept while indexed
  std::unordered_set<size_t, PositionHash, PositionEqual> index;  // empty while small

  Impl() : index(0, PositionHash{this}, PositionEqual{this}) {}
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool indexed() const { return !index.empty(); }

  std::optional<size_t> position(std::string_view key) const {
    if (indexed()) {
      auto it = index.find(key);
      return it == index.end() ? std::nullopt : std::optional<size_t>(*it);
    }
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].first == key) {
        return i;
      }
    }
    return std::nullopt;
  }

  void rebuildIndex() {
    index.clear();
    hashes.clear();
    if (entries.size() <= kIndexThreshold) {
      return;
    }
    hashes.reserve(entries.capacity());
    for (const Entry& e : entries) {
      hashes.push_back(std::hash<std::string_view>{}(e.first));
    }
    index.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      index.insert(i);
    }
  }

  void set(std::string key, Value value) {
    if (std::optional<size_t> at = position(key)) {
      entries[*at].second = std::move(value);
      return;
    }
    entries.emplace_back(std::move(key), std::move(value));
    if (indexed()) {
      hashes.push_back(std::hash<std::string_view>{}(entries.back().first));
      index.insert(entries.size() - 1);
    } else if (entries.size() > kIndexThreshold) {
      rebuildIndex();
    }
  }
};

Dictionary::Dictionary() : m_impl(std::make_shared<Impl>()) {}
Dictionary::Dictionary(std::initializer_list<Entry> entries) : m_impl(std::make_shared<Impl>()) {
  for (const Entry& e : entries) {
    m_impl->set(e.first, e.second);
  }
}

size_t Dictionary::size() const { return m_impl->entries.size(); }
bool Dictionary::empty() const { return m_impl->entries.empty(); }
bool Dictionary::contains(std::string_view key) const { return m_impl->position(key).has_value(); }
const Value* Dictionary::find(std::string_view key) const {
  std::optional<size_t> at = m_impl->position(key);
  return at ? &m_impl->entries[*at].second : nullptr;
}
Value* Dictionary::find(std::string_view key) {
  std::optional<size_t> at = m_impl->position(key);
  return at ? &m_impl->entries[*at].second : nullptr;
}
Value Dictionary::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : Value();
}
const Value& Dictionary::operator[](std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : sharedNull();
}
void Dictionary::set(std::string key, Value value) { m_impl->set(std::move(key), std::move(value)); }
bool Dictionary::remove(std::string_view key) {
  std::optional<size_t> at = m_impl->position(key);
  if (!at) {
    return false;
  }
  m_impl->entries.erase(m_impl->entries.begin() + static_cast<ptrdiff_t>(*at));
  if (m_impl->indexed()) {
    m_impl->rebuildIndex();
  }
  return true;
}
void Dictionary::clear() {
  m_impl->entries.clear();
  m_impl->index.clear();
  m_impl->hashes.clear();
}
void Dictionary::reserve(size_t n) { m_impl->entries.reserve(n); }
std::vector<std::string> Dictionary::keys() const {
  std::vector<std::string> result;
  result.reserve(m_impl->entries.size());
  for (const Entry& e : m_impl->entries) {
    result.push_back(e.first);
  }
  return result;
}
Dictionary::const_iterator Dictionary::begin() const { return m_impl->entries.begin(); }
Dictionary::const_iterator Dictionary::end() const { return m_impl->entries.end(); }
Dictionary Dictionary::copy() const { return *Value(*this).copy().asDictionary(); }
bool Dictionary::sameStorage(const Dictionary& other) const { return m_impl == other.m_impl; }

// ---------------------------------------------------------------------------
// Set

struct Set::Impl {
  std::vector<Value> items;
  std::unordered_multimap<size_t, size_t> byHash;  // hash -> position in items

  std::optional<size_t> position(const Value& value, size_t hash) const {
    auto range = byHash.equal_range(hash);
    for (auto it = range.first; it != range.second; ++it) {
      if (items[it->second] == value) {
        return it->second;
      }
    }
    return std::nullopt;
  }
};

Set::Set() : m_impl(std::make_shared<Impl>()) {}
Set::Set(std::initializer_list<Value> items) : m_impl(std::make_shared<Impl>()) {
  for (const Value& v : items) {
    insert(v);
  }
}

size_t Set::size() const { return m_impl->items.size(); }
bool Set::empty() const { return m_impl->items.empty(); }
bool Set::contains(const Value& value) const {
  return m_impl->position(value, value.hash()).has_value();
}
bool Set::insert(Value value) {
  size_t h = value.hash();
  if (m_impl->position(value, h)) {
    return false;
  }
  m_impl->items.push_back(std::move(value));
  m_impl->byHash.emplace(h, m_impl->items.size() - 1);
  return true;
}
bool Set::remove(const Value& value) {
  std::optional<size_t> at = m_impl->position(value, value.hash());
  if (!at) {
    return false;
  }
  m_impl->items.erase(m_impl->items.begin() + static_cast<ptrdiff_t>(*at));
  m_impl->byHash.clear();
  for (size_t i = 0; i < m_impl->items.size(); ++i) {
    m_impl->byHash.emplace(m_impl->items[i].hash(), i);
  }
  return true;
}
void Set::clear() {
  m_impl->items.clear();
  m_impl->byHash.clear();
}
Set::const_iterator Set::begin() const { return m_impl->items.begin(); }
Set::const_iterator Set::end() const { return m_impl->items.end(); }
const std::vector<Value>& Set::items() const { return m_impl->items; }
Set Set::copy() const { return *Value(*this).copy().asSet(); }
bool Set::sameStorage(const Set& other) const { return m_impl == other.m_impl; }

}  // namespace platform
