// Keychain: a file-backed stand-in for the system keychain. NOT ENCRYPTED:
// item data lies in plain files protected only by their permission bits.
//
// Storage: a root folder (mode 0700, tightened when it exists wider) holding
// one file per item (mode 0600), named after the SHA-1 of the item's
// identity and replaced atomically on every write, so a crash leaves the
// old or the new item, never a torn one. The identity of a generic password
// is (service, account, access group), that of a key (key type, application
// tag); a second add with the same identity is a duplicate. A file that
// cannot be parsed is logged and skipped, never deleted or overwritten by
// anything but an add of that very identity.
//
// Root: given to the constructor, else (the shared instance) resolved on
// every operation: $APP_KEYCHAIN_ROOT when set and not empty, else
// StandardFolders::applicationSupport() + "/keychain", that is
// <XDG data home>/<bundle id>/keychain. Reads of a missing root find
// nothing and create no folder; writes create it.
//
// Operations and statuses (see KeychainStatus.h):
//   copyMatching      0 and the data of the oldest matching item (data only
//                     when the query asks for it), or -25300.
//   copyMatchingItem  the same with all attributes (tests, diagnostics).
//   copyAllMatching   0 and the data of every matching item, oldest first
//                     (a query without a match limit), or -25300.
//   add               0, or -25299 when an item with that identity exists.
//   update            replaces the data of every matching item and nothing
//                     else (accessibility, creation date and the other
//                     attributes stay); -25300 when nothing matches.
//   remove            deletes every matching item: 0, or -25300 when none.
// Storage failures give -36 (I/O) and -25291 (no root folder available); the
// system error behind them (a FileError with the errno and its text) is
// handed back as the `cause` of the result, or through the optional `cause`
// out-parameter of the writes (set only on failure).
//
// The first operation on a root in a process removes the temporary files
// that item writes interrupted by a crash left there (only those, and only
// when older than the process), since each holds a full copy of an item,
// and takes group and other permissions from the folder and its item files
// (reads included).
//
// Fault injection (tests): injectFault makes the next `count` operations
// (of one kind, or of any kind) return a given status without touching the
// storage. Faults are process-wide and apply to every instance.
//
// Thread safety: every member may be called from any thread; one
// process-wide lock serialises all operations of all instances.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/keychain/KeychainQuery.h"
#include "platform/keychain/KeychainStatus.h"
#include "platform/values/Error.h"

namespace platform {

// Reads of one item and of every item are both CopyMatching.
enum class KeychainOperation { CopyMatching, Add, Update, Delete };

struct KeychainReadResult {
  KeychainStatus status = kKeychainItemNotFound;
  std::optional<Bytes> data;
  std::optional<Error> cause;
};

struct KeychainReadAllResult {
  KeychainStatus status = kKeychainItemNotFound;
  std::vector<Bytes> data;
  std::optional<Error> cause;
};

struct KeychainItemResult {
  KeychainStatus status = kKeychainItemNotFound;
  std::optional<KeychainItem> item;
  std::optional<Error> cause;
};

class Keychain {
 public:
  static constexpr const char* kRootEnvironmentVariable = "APP_KEYCHAIN_ROOT";
  static constexpr int kForever = -1;

  // A keychain at this root; empty: resolved on every operation (see above).
  explicit Keychain(std::string root = {});

  // The process-wide instance (default root unless one was set).
  static std::shared_ptr<Keychain> shared();
  // nullptr restores the default instance.
  static void setShared(std::shared_ptr<Keychain> keychain);

  // The folder this keychain uses now; "" when none can be resolved.
  std::string root() const;

  KeychainReadResult copyMatching(const KeychainQuery& query) const;
  KeychainItemResult copyMatchingItem(const KeychainQuery& query) const;
  KeychainReadAllResult copyAllMatching(const KeychainQuery& query) const;
  KeychainStatus add(const KeychainQuery& query, std::optional<Error>* cause = nullptr) const;
  KeychainStatus update(const KeychainQuery& query, const Bytes& data, std::optional<Error>* cause = nullptr) const;
  KeychainStatus remove(const KeychainQuery& query, std::optional<Error>* cause = nullptr) const;

  // The next `count` operations (kForever: all until cleared) of kind
  // `operation` (none: any kind) return `status`. Faults queue up in order.
  static void injectFault(KeychainStatus status, int count = 1,
                          std::optional<KeychainOperation> operation = std::nullopt);
  static void clearFaults();

 private:
  std::string m_root;
};

}  // namespace platform
