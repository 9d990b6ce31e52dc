#include "platform/storage/UserDefaults.h"

#include <unordered_map>

#include "platform/log/Log.h"
#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"

namespace platform {

namespace {

constexpr size_t kMaxValueDepth = 128;

std::mutex g_suitesMutex;
std::unordered_map<std::string, std::shared_ptr<UserDefaults>>& suites() {
  static auto* table = new std::unordered_map<std::string, std::shared_ptr<UserDefaults>>();
  return *table;
}

const Log& log() {
  static const auto* const handle = new Log("com.tavix.platform.storage", "UserDefaults");
  return *handle;
}

bool isPlistValue(const Value& v, size_t depth) {
  if (depth > kMaxValueDepth) {
    return false;
  }
  switch (v.type()) {
    case ValueType::Bool:
    case ValueType::Number:
    case ValueType::String:
    case ValueType::Data:
    case ValueType::Date:
      return true;
    case ValueType::Array:
      for (const Value& item : Array(*v.asArray())) {
        if (!isPlistValue(item, depth + 1)) {
          return false;
        }
      }
      return true;
    case ValueType::Dictionary:
      for (const auto& entry : Dictionary(*v.asDictionary())) {
        if (!isPlistValue(entry.second, depth + 1)) {
          return false;
        }
      }
      return true;
    default:
      return false;
  }
}

// The suite file's dictionary. A value that could not be written back (a
// damaged date) is dropped with a log line instead of failing every later
// save of the suite.
Result<Dictionary> readSuite(const std::string& path, const std::string& name) {
  Result<Bytes> bytes = fs::readFile(path);
  if (!bytes) {
    return bytes.error();
  }
  std::vector<std::string> dropped;
  Result<Value> root = PropertyList::parseDroppingUnwritable(bytes->data(), bytes->size(), dropped);
  if (!root) {
    return root.error();
  }
  for (const std::string& where : dropped) {
    log().write(LogType::Error, "User defaults suite " + name + ": dropped the damaged value at " + where);
  }
  if (std::optional<Dictionary> dict = root->asDictionary()) {
    return *dict;
  }
  return Error::make(PropertyList::kErrorDomain, PropertyList::kReadCorruptError,
                     "The user defaults suite is a " + root->typeName() + ", not a dictionary.");
}

// A file name for the suite that stays inside the preferences folder.
std::string fileNameFor(const std::string& name) {
  std::string safe = name;
  for (char& c : safe) {
    if (c == '/' || c == '\0') {
      c = '_';
    }
  }
  if (safe == "." || safe == "..") {
    safe = "_";
  }
  return safe + ".plist";
}

}  // namespace

UserDefaults::UserDefaults(std::string name) : m_name(std::move(name)) {}

std::shared_ptr<UserDefaults> UserDefaults::standard() { return suite(StandardFolders::bundleIdentifier()); }

std::shared_ptr<UserDefaults> UserDefaults::suite(const std::string& name) {
  std::string key = name.empty() ? StandardFolders::bundleIdentifier() : name;
  std::lock_guard<std::mutex> lock(g_suitesMutex);
  auto& table = suites();
  auto it = table.find(key);
  if (it != table.end()) {
    return it->second;
  }
  auto created = std::make_shared<UserDefaults>(key);
  table.emplace(key, created);
  return created;
}

bool UserDefaults::removeSuite(const std::string& name) {
  std::shared_ptr<UserDefaults> s = suite(name);
  std::lock_guard<std::mutex> lock(s->m_mutex);
  s->m_values = Dictionary();
  s->m_loaded = true;
  s->m_dirty = false;
  std::optional<Error> error = fs::removeItem(s->filePath());
  return !error || FileError::isNoSuchFile(*error);
}

void UserDefaults::resetForTesting() {
  std::lock_guard<std::mutex> lock(g_suitesMutex);
  suites().clear();
}

std::string UserDefaults::filePath() const {
  std::string folder = StandardFolders::preferences();
  return folder.empty() ? std::string() : fs::joinPath(folder, fileNameFor(m_name));
}

void UserDefaults::loadLocked() const {
  if (m_loaded) {
    return;
  }
  m_loaded = true;
  std::string path = filePath();
  if (path.empty()) {
    return;
  }
  // Crash leftovers of this suite's own writes hold copies of its values;
  // a suite or folder found readable by others is made private again.
  fs::removeStaleTemporaryFilesOf(path);
  for (const std::string& item : {fs::parentPath(path), path}) {
    if (std::optional<Error> error = fs::restrictToOwner(item)) {
      log().write(LogType::Error, "Cannot restrict user defaults suite " + m_name + ": " + error->localizedDescription());
    }
  }
  Result<Dictionary> stored = readSuite(path, m_name);
  if (stored) {
    m_values = std::move(stored.value());
    return;
  }
  const Error& error = stored.error();
  if (FileError::isNoSuchFile(error)) {
    return;
  }
  if (error.domain == FileError::kDomain && error.code != PropertyList::kReadCorruptError) {
    log().write(LogType::Error, "Cannot read user defaults suite " + m_name + ": " + error.localizedDescription());
    return;
  }
  // Keep the damaged file for inspection instead of silently overwriting it.
  std::string aside = path + ".corrupt";
  fs::removeItem(aside);
  fs::moveItem(path, aside);
  log().write(LogType::Error, "User defaults suite " + m_name + " was damaged (" + error.localizedDescription() +
                                  "); moved it to " + aside + " and started empty");
}

UserDefaults::SaveResult UserDefaults::saveLocked() {
  Result<Bytes> bytes = PropertyList::serialize(Value(m_values), PropertyListFormat::Binary);
  if (!bytes) {
    log().write(LogType::Error, "Cannot save user defaults suite " + m_name + ": " + bytes.error().localizedDescription());
    return SaveResult::Unstorable;
  }
  std::string path = filePath();
  std::optional<Error> error;
  if (path.empty()) {
    error = Error::make(PropertyList::kErrorDomain, FileError::kWriteUnknown, "No preferences folder");
  }
  if (!error) {
    error = fs::createDirectory(fs::parentPath(path), true, 0700);
  }
  if (!error) {
    error = fs::writeFileAtomically(path, bytes.value(), 0600);
  }
  if (error) {
    m_dirty = true;
    log().write(LogType::Error, "Cannot save user defaults suite " + m_name + ": " + error->localizedDescription());
    return SaveResult::WriteFailed;
  }
  m_dirty = false;
  return SaveResult::Saved;
}

std::optional<Value> UserDefaults::object(const std::string& key) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  loadLocked();
  const Value* v = m_values.find(key);
  if (v == nullptr) {
    return std::nullopt;
  }
  return v->copy();
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
  std::optional<Value> v = object(key);
  if (!v || !(v->isString() || v->isNumeric())) {
    return std::nullopt;
  }
  return v->stringValue();
}

std::optional<Value> UserDefaults::number(const std::string& key) const {
  std::optional<Value> v = object(key);
  if (!v || !v->isNumeric()) {
    return std::nullopt;
  }
  return v;
}

bool UserDefaults::boolFor(const std::string& key) const {
  std::optional<Value> v = object(key);
  return v && (v->isNumeric() || v->isString()) && v->boolValue();
}

int64_t UserDefaults::integerFor(const std::string& key) const {
  std::optional<Value> v = object(key);
  return v && (v->isNumeric() || v->isString()) ? v->longLongValue() : 0;
}

double UserDefaults::doubleFor(const std::string& key) const {
  std::optional<Value> v = object(key);
  return v && (v->isNumeric() || v->isString()) ? v->doubleValue() : 0;
}

std::optional<Bytes> UserDefaults::data(const std::string& key) const {
  std::optional<Value> v = object(key);
  if (!v || !v->isData()) {
    return std::nullopt;
  }
  return *v->asData();
}

std::optional<Dictionary> UserDefaults::dictionary(const std::string& key) const {
  std::optional<Value> v = object(key);
  return v ? v->asDictionary() : std::nullopt;
}

std::optional<Array> UserDefaults::array(const std::string& key) const {
  std::optional<Value> v = object(key);
  return v ? v->asArray() : std::nullopt;
}

bool UserDefaults::set(const std::string& key, const Value& value) {
  if (value.isNull()) {
    return remove(key);
  }
  Dictionary single;
  single.set(key, value);
  return setMultiple(single, {});
}

bool UserDefaults::remove(const std::string& key) { return setMultiple(Dictionary(), {key}); }

bool UserDefaults::setMultiple(const Dictionary& values, const std::vector<std::string>& keysToRemove) {
  for (const auto& entry : values) {
    if (!entry.second.isNull() && !isPlistValue(entry.second, 0)) {
      log().write(LogType::Error, "Refusing to store a " + entry.second.typeName() + " under \"" + entry.first +
                                      "\" in user defaults suite " + m_name);
      return false;
    }
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  loadLocked();
  // The previous values of the keys this change touches, to undo a change
  // that cannot be stored at all.
  std::vector<std::pair<std::string, std::optional<Value>>> previous;
  auto remember = [&](const std::string& key) {
    const Value* old = m_values.find(key);
    previous.emplace_back(key, old != nullptr ? std::optional<Value>(*old) : std::nullopt);
  };
  bool changed = false;
  for (const std::string& key : keysToRemove) {
    remember(key);
    changed = m_values.remove(key) || changed;
  }
  for (const auto& [key, value] : values) {
    remember(key);
    if (value.isNull()) {
      changed = m_values.remove(key) || changed;
    } else {
      m_values.set(key, value.copy());
      changed = true;
    }
  }
  if (!changed && !m_dirty) {
    return true;
  }
  SaveResult saved = saveLocked();
  if (saved == SaveResult::Unstorable) {
    // Values the file cannot hold (text that is not UTF-8, a date out of
    // range): refused, the suite stays as it was.
    for (auto it = previous.rbegin(); it != previous.rend(); ++it) {
      if (it->second) {
        m_values.set(it->first, *it->second);
      } else {
        m_values.remove(it->first);
      }
    }
  }
  // A failed write keeps the change in memory for the next save to write.
  return saved == SaveResult::Saved;
}

bool UserDefaults::clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  loadLocked();
  if (m_values.empty() && !m_dirty) {
    return true;
  }
  m_values.clear();
  return saveLocked() == SaveResult::Saved;
}

std::vector<std::string> UserDefaults::keys() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  loadLocked();
  return m_values.keys();
}

Dictionary UserDefaults::dictionaryRepresentation() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  loadLocked();
  return m_values.copy();
}

bool UserDefaults::synchronize() {
  std::lock_guard<std::mutex> lock(m_mutex);
  loadLocked();
  return m_dirty ? saveLocked() == SaveResult::Saved : true;
}

}  // namespace platform
