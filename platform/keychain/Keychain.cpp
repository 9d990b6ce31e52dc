#include "platform/keychain/Keychain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "platform/crypto/Digest.h"
#include "platform/log/Log.h"
#include "platform/runtime/Immortal.h"
#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"
#include "platform/time/Clock.h"

namespace platform {

namespace {

constexpr const char* kItemSuffix = ".item";

// One lock for every keychain of the process; it also guards the faults.
std::mutex& processLock() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

struct Fault {
  KeychainStatus status;
  int remaining;
  std::optional<KeychainOperation> operation;
};

std::vector<Fault>& faults() {
  static auto* const list = new std::vector<Fault>();
  return *list;
}

// Caller holds processLock().
std::optional<KeychainStatus> takeFault(KeychainOperation operation) {
  auto& list = faults();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->operation && *it->operation != operation) continue;
    KeychainStatus status = it->status;
    if (it->remaining != Keychain::kForever && --it->remaining <= 0) list.erase(it);
    return status;
  }
  return std::nullopt;
}

std::mutex g_sharedMutex;
platform::Immortal<std::shared_ptr<Keychain>> g_sharedSlot;
std::shared_ptr<Keychain>& g_shared = *g_sharedSlot;

Log keychainLog() { return Log("platform", "keychain"); }

std::optional<std::string> wildcardAware(const std::optional<std::string>& value) {
  if (!value || value->empty() || *value == "*") return std::nullopt;
  return value;
}

std::optional<std::string> nonEmpty(const std::optional<std::string>& value) {
  if (!value || value->empty()) return std::nullopt;
  return value;
}

const char* className(KeychainItemClass itemClass) {
  return itemClass == KeychainItemClass::Key ? "keys" : "genp";
}

const char* accessibilityName(KeychainAccessibility accessible) {
  switch (accessible) {
    case KeychainAccessibility::WhenUnlocked: return "WhenUnlocked";
    case KeychainAccessibility::AfterFirstUnlock: return "AfterFirstUnlock";
    case KeychainAccessibility::WhenUnlockedThisDeviceOnly: return "WhenUnlockedThisDeviceOnly";
    case KeychainAccessibility::AfterFirstUnlockThisDeviceOnly: return "AfterFirstUnlockThisDeviceOnly";
  }
  return "";
}

std::optional<KeychainAccessibility> accessibilityFromName(const std::string& name) {
  for (auto a : {KeychainAccessibility::WhenUnlocked, KeychainAccessibility::AfterFirstUnlock,
                 KeychainAccessibility::WhenUnlockedThisDeviceOnly,
                 KeychainAccessibility::AfterFirstUnlockThisDeviceOnly}) {
    if (name == accessibilityName(a)) return a;
  }
  return std::nullopt;
}

// Length-prefixed fields, so that no choice of texts makes two identities alike.
void appendField(std::string& out, std::string_view field) {
  out += std::to_string(field.size());
  out += ':';
  out += field;
}

std::string identityDigest(const KeychainItem& item) {
  std::string identity = className(item.itemClass);
  if (item.itemClass == KeychainItemClass::Key) {
    appendField(identity, item.keyType ? "RSA" : "");
    appendField(identity, std::string_view(reinterpret_cast<const char*>(item.applicationTag.data()),
                                           item.applicationTag.size()));
  } else {
    appendField(identity, item.service);
    appendField(identity, item.account);
  }
  appendField(identity, item.accessGroup);
  auto sha = Digest::sha1(identity);
  return Digest::hex(sha);
}

Value toValue(const KeychainItem& item) {
  Dictionary d;
  d.set("class", className(item.itemClass));
  if (item.itemClass == KeychainItemClass::Key) {
    if (item.keyType) d.set("keyType", "RSA");
    d.set("applicationTag", Value::data(item.applicationTag));
  } else {
    d.set("service", item.service);
    d.set("account", item.account);
    d.set("generic", item.generic);
  }
  d.set("accessGroup", item.accessGroup);
  if (item.accessible) d.set("accessible", accessibilityName(*item.accessible));
  d.set("data", Value::data(item.data));
  d.set("created", Value::date(item.creationDate));
  d.set("modified", Value::date(item.modificationDate));
  return Value(std::move(d));
}

std::optional<KeychainItem> fromDictionary(const Dictionary& d) {
  KeychainItem item;
  const Value& cls = d["class"];
  if (!cls.isString()) return std::nullopt;
  if (*cls.asString() == "genp") {
    item.itemClass = KeychainItemClass::GenericPassword;
  } else if (*cls.asString() == "keys") {
    item.itemClass = KeychainItemClass::Key;
  } else {
    return std::nullopt;
  }
  auto readString = [&d](const char* key, std::string& out) {
    const Value& v = d[key];
    if (v.isNull()) return true;
    if (!v.isString()) return false;
    out = *v.asString();
    return true;
  };
  auto readData = [&d](const char* key, Bytes& out) {
    const Value& v = d[key];
    if (v.isNull()) return true;
    if (!v.isData()) return false;
    out = *v.asData();
    return true;
  };
  std::string keyType, accessible;
  if (!readString("service", item.service) || !readString("account", item.account) ||
      !readString("generic", item.generic) || !readString("accessGroup", item.accessGroup) ||
      !readString("keyType", keyType) || !readString("accessible", accessible) ||
      !readData("applicationTag", item.applicationTag) || !readData("data", item.data)) {
    return std::nullopt;
  }
  if (keyType == "RSA") {
    item.keyType = KeychainKeyType::RSA;
  } else if (!keyType.empty()) {
    return std::nullopt;
  }
  if (!accessible.empty()) {
    item.accessible = accessibilityFromName(accessible);
    if (!item.accessible) return std::nullopt;
  }
  item.creationDate = d["created"].asDate().value_or(0);
  item.modificationDate = d["modified"].asDate().value_or(item.creationDate);
  return item;
}

bool matches(const KeychainQuery& query, const KeychainItem& item) {
  if (query.itemClass != item.itemClass) return false;
  if (auto group = nonEmpty(query.accessGroup); group && *group != item.accessGroup) return false;
  if (item.itemClass == KeychainItemClass::Key) {
    if (query.keyType && item.keyType != query.keyType) return false;
    if (query.applicationTag && *query.applicationTag != item.applicationTag) return false;
    return true;
  }
  if (auto v = wildcardAware(query.service); v && *v != item.service) return false;
  if (auto v = wildcardAware(query.account); v && *v != item.account) return false;
  if (auto v = wildcardAware(query.generic); v && *v != item.generic) return false;
  return true;
}

double now() { return Clock::current()->now(); }

struct StoredItem {
  std::string path;
  KeychainItem item;
};

// Reads one item file; nullopt (logged) when it is unreadable or malformed.
std::optional<KeychainItem> readItem(const std::string& path) {
  auto bytes = fs::readFile(path);
  if (!bytes.ok()) {
    if (!FileError::isNoSuchFile(bytes.error())) {
      keychainLog().write(LogType::Error, "Cannot read keychain item " + path + ": " +
                                              bytes.error().localizedDescription());
    }
    return std::nullopt;
  }
  auto dict = PropertyList::readDictionary(*bytes);
  std::optional<KeychainItem> item;
  if (dict.ok()) item = fromDictionary(*dict);
  if (!item) keychainLog().write(LogType::Error, "Skipping malformed keychain item " + path);
  return item;
}

void setCause(std::optional<Error>* cause, const Error& error) {
  if (cause != nullptr) *cause = error;
}

bool isItemFileName(std::string_view name) {
  const size_t suffix = std::strlen(kItemSuffix);
  return !name.empty() && name[0] != '.' && name.size() > suffix &&
         name.compare(name.size() - suffix, std::string_view::npos, kItemSuffix) == 0;
}

// The first time a root is used in this process, removes the temporary files
// that writes of item files interrupted by a crash left there (each is a
// full copy of an item, which would outlive the item's deletion) and takes
// back any permission of group and others from the folder and its item
// files, so that reads too find them 0700 and 0600. Caller holds
// processLock().
void openFolder(const std::string& root) {
  static auto* const opened = new std::set<std::string>();
  if (root.empty() || opened->contains(root)) return;
  if (size_t removed = fs::removeStaleTemporaryFiles(root, isItemFileName); removed > 0) {
    keychainLog().write(LogType::Info, "Removed " + std::to_string(removed) +
                                           " temporary item files of interrupted writes from " + root);
  }
  if (!fs::isDirectory(root)) return;
  std::vector<std::string> paths{root};
  for (const std::string& name : fs::contentsOfDirectory(root).valueOr({})) {
    if (isItemFileName(name)) paths.push_back(fs::joinPath(root, name));
  }
  for (const std::string& path : paths) {
    if (std::optional<Error> error = fs::restrictToOwner(path)) {
      keychainLog().write(LogType::Error, error->localizedDescription());
    }
  }
  opened->insert(root);
}

// Every readable item under root matching the query, oldest first. Caller
// holds processLock(). Status 0, -25300 when the folder is missing, -36 when
// it cannot be listed (the file error in `cause`).
KeychainStatus scan(const std::string& root, const KeychainQuery& query, std::vector<StoredItem>& out,
                    std::optional<Error>* cause) {
  openFolder(root);
  auto names = fs::contentsOfDirectory(root);
  if (!names.ok()) {
    if (FileError::isNoSuchFile(names.error())) return kKeychainSuccess;
    keychainLog().write(LogType::Error, "Cannot list keychain folder " + root + ": " +
                                            names.error().localizedDescription());
    setCause(cause, names.error());
    return kKeychainIOError;
  }
  for (const auto& name : *names) {
    if (!isItemFileName(name)) continue;
    std::string path = fs::joinPath(root, name);
    auto item = readItem(path);
    if (item && matches(query, *item)) out.push_back({path, std::move(*item)});
  }
  std::stable_sort(out.begin(), out.end(), [](const StoredItem& a, const StoredItem& b) {
    return a.item.creationDate < b.item.creationDate;
  });
  return kKeychainSuccess;
}

// Creates the root (0700) or tightens an existing one. Caller holds the lock.
KeychainStatus ensureRoot(const std::string& root, std::optional<Error>* cause) {
  if (root.empty()) return kKeychainNotAvailable;
  std::string parent = fs::parentPath(root);
  if (!parent.empty() && parent != root) {
    if (auto e = fs::createDirectory(parent, true)) {
      keychainLog().write(LogType::Error, "Cannot create " + parent + ": " + e->localizedDescription());
      setCause(cause, *e);
      return kKeychainNotAvailable;
    }
  }
  if (auto e = fs::createDirectory(root, true, 0700)) {
    keychainLog().write(LogType::Error, "Cannot create keychain folder " + root + ": " +
                                            e->localizedDescription());
    setCause(cause, *e);
    return kKeychainNotAvailable;
  }
  struct stat st {};
  const int statError = ::stat(root.c_str(), &st) != 0 ? errno : 0;
  if (statError != 0 || !S_ISDIR(st.st_mode)) {
    setCause(cause, FileError::fromErrno(statError != 0 ? statError : ENOTDIR, FileError::Operation::Write,
                                         "use the keychain folder", root));
    return kKeychainNotAvailable;
  }
  if ((st.st_mode & 07777) != 0700 && ::chmod(root.c_str(), 0700) != 0) {
    Error error = FileError::fromErrno(errno, FileError::Operation::Write, "restrict the keychain folder", root);
    keychainLog().write(LogType::Error, error.localizedDescription());
    setCause(cause, error);
    return kKeychainIOError;
  }
  openFolder(root);
  return kKeychainSuccess;
}

// Writes (replaces) one item file, mode 0600. Caller holds the lock.
KeychainStatus writeItem(const std::string& path, const KeychainItem& item, std::optional<Error>* cause) {
  auto bytes = PropertyList::serialize(toValue(item), PropertyListFormat::Binary);
  if (!bytes.ok()) {
    setCause(cause, bytes.error());
    return kKeychainDecodeError;
  }
  struct stat st {};
  // An existing file keeps its mode across an atomic replace: make it 0600 first.
  if (::lstat(path.c_str(), &st) == 0 && (st.st_mode & 07777) != 0600) ::chmod(path.c_str(), 0600);
  if (auto e = fs::writeFileAtomically(path, *bytes, 0600)) {
    keychainLog().write(LogType::Error, "Cannot write keychain item " + path + ": " + e->localizedDescription());
    setCause(cause, *e);
    return kKeychainIOError;
  }
  return kKeychainSuccess;
}

}  // namespace

Keychain::Keychain(std::string root) : m_root(std::move(root)) {}

std::shared_ptr<Keychain> Keychain::shared() {
  std::lock_guard<std::mutex> guard(g_sharedMutex);
  if (!g_shared) g_shared = std::make_shared<Keychain>();
  return g_shared;
}

void Keychain::setShared(std::shared_ptr<Keychain> keychain) {
  std::lock_guard<std::mutex> guard(g_sharedMutex);
  g_shared = std::move(keychain);
}

std::string Keychain::root() const {
  if (!m_root.empty()) return m_root;
  if (const char* env = std::getenv(kRootEnvironmentVariable); env != nullptr && *env != '\0') {
    return env;
  }
  std::string support = StandardFolders::applicationSupport();
  return support.empty() ? std::string() : fs::joinPath(support, "keychain");
}

KeychainReadResult Keychain::copyMatching(const KeychainQuery& query) const {
  KeychainItemResult found = copyMatchingItem(query);
  KeychainReadResult result;
  result.status = found.status;
  result.cause = std::move(found.cause);
  if (found.status == kKeychainSuccess && query.returnData && found.item) {
    result.data = std::move(found.item->data);
  }
  return result;
}

namespace {

// The items a read finds under `folder`, oldest first; a fault set for reads,
// a missing root, a failed scan and no match are the statuses of a read.
KeychainStatus readMatching(const std::string& folder, const KeychainQuery& query, std::vector<StoredItem>& found,
                            std::optional<Error>* cause) {
  std::lock_guard<std::mutex> guard(processLock());
  if (auto fault = takeFault(KeychainOperation::CopyMatching)) return *fault;
  if (folder.empty()) return kKeychainNotAvailable;
  if (KeychainStatus status = scan(folder, query, found, cause); status != kKeychainSuccess) return status;
  return found.empty() ? kKeychainItemNotFound : kKeychainSuccess;
}

}  // namespace

KeychainItemResult Keychain::copyMatchingItem(const KeychainQuery& query) const {
  std::vector<StoredItem> found;
  KeychainItemResult result;
  result.status = readMatching(root(), query, found, &result.cause);
  if (result.status == kKeychainSuccess && !found.empty()) result.item = std::move(found.front().item);
  return result;
}

KeychainReadAllResult Keychain::copyAllMatching(const KeychainQuery& query) const {
  std::vector<StoredItem> found;
  KeychainReadAllResult result;
  result.status = readMatching(root(), query, found, &result.cause);
  if (result.status != kKeychainSuccess) return result;
  for (auto& stored : found) result.data.push_back(std::move(stored.item.data));
  return result;
}

KeychainStatus Keychain::add(const KeychainQuery& query, std::optional<Error>* cause) const {
  std::string folder = root();
  std::lock_guard<std::mutex> guard(processLock());
  if (auto fault = takeFault(KeychainOperation::Add)) return *fault;

  KeychainItem item;
  item.itemClass = query.itemClass;
  if (query.itemClass == KeychainItemClass::Key) {
    item.keyType = query.keyType.value_or(KeychainKeyType::RSA);
    item.applicationTag = query.applicationTag.value_or(Bytes{});
  } else {
    item.service = wildcardAware(query.service).value_or("");
    item.account = wildcardAware(query.account).value_or("");
    item.generic = wildcardAware(query.generic).value_or("");
  }
  item.accessGroup = query.accessGroup.value_or("");
  item.accessible = query.accessible;
  item.data = query.valueData.value_or(Bytes{});
  item.creationDate = item.modificationDate = now();

  if (KeychainStatus status = ensureRoot(folder, cause); status != kKeychainSuccess) return status;
  std::string path = fs::joinPath(folder, identityDigest(item) + kItemSuffix);
  if (fs::exists(path)) {
    if (readItem(path)) return kKeychainDuplicateItem;
    keychainLog().write(LogType::Error, "Replacing malformed keychain item " + path);
  }
  return writeItem(path, item, cause);
}

KeychainStatus Keychain::update(const KeychainQuery& query, const Bytes& data, std::optional<Error>* cause) const {
  std::string folder = root();
  std::lock_guard<std::mutex> guard(processLock());
  if (auto fault = takeFault(KeychainOperation::Update)) return *fault;
  if (folder.empty()) return kKeychainNotAvailable;
  std::vector<StoredItem> found;
  if (KeychainStatus status = scan(folder, query, found, cause); status != kKeychainSuccess) return status;
  if (found.empty()) return kKeychainItemNotFound;
  double when = now();
  KeychainStatus result = kKeychainSuccess;
  for (auto& stored : found) {
    stored.item.data = data;
    stored.item.modificationDate = when;
    if (KeychainStatus status = writeItem(stored.path, stored.item, cause); status != kKeychainSuccess) {
      result = status;
    }
  }
  return result;
}

KeychainStatus Keychain::remove(const KeychainQuery& query, std::optional<Error>* cause) const {
  std::string folder = root();
  std::lock_guard<std::mutex> guard(processLock());
  if (auto fault = takeFault(KeychainOperation::Delete)) return *fault;
  if (folder.empty()) return kKeychainNotAvailable;
  std::vector<StoredItem> found;
  if (KeychainStatus status = scan(folder, query, found, cause); status != kKeychainSuccess) return status;
  if (found.empty()) return kKeychainItemNotFound;
  KeychainStatus result = kKeychainSuccess;
  for (const auto& stored : found) {
    if (::unlink(stored.path.c_str()) != 0 && errno != ENOENT) {
      Error error = FileError::fromErrno(errno, FileError::Operation::Remove, "delete the keychain item", stored.path);
      keychainLog().write(LogType::Error, error.localizedDescription());
      setCause(cause, error);
      result = kKeychainIOError;
    }
  }
  return result;
}

void Keychain::injectFault(KeychainStatus status, int count, std::optional<KeychainOperation> operation) {
  if (count == 0 || count < kForever) return;
  std::lock_guard<std::mutex> guard(processLock());
  faults().push_back({status, count, operation});
}

void Keychain::clearFaults() {
  std::lock_guard<std::mutex> guard(processLock());
  faults().clear();
}

KeychainQuery KeychainQuery::genericPassword(std::string service, std::string account, std::string generic) {
  KeychainQuery query;
  query.itemClass = KeychainItemClass::GenericPassword;
  if (wildcardAware(service)) query.service = std::move(service);
  if (wildcardAware(account)) query.account = std::move(account);
  if (wildcardAware(generic)) query.generic = std::move(generic);
  return query;
}

KeychainQuery KeychainQuery::key(Bytes applicationTag) {
  KeychainQuery query;
  query.itemClass = KeychainItemClass::Key;
  query.keyType = KeychainKeyType::RSA;
  query.applicationTag = std::move(applicationTag);
  return query;
}

}  // namespace platform
