// Rows read back from the messaging message database ("rmq2"). The input is
// one row a line, "TABLE<TAB>VALUE<TAB>VALUE...", the values filling the
// table's columns after "_id" in order, each typed by its prefix: "i:"
// integer, "r:" real, "t:" text, "x:" hex bytes as a blob, "n" null (a
// missing value is null too); "\n" and "\t" stand for those characters in
// text. The rows are written as they stand (SQLite keeps any type in any
// column) and the store reads them: the outgoing persistent ID, each sync
// message by its ID, the de-duplication of a message carrying that ID, the
// sweep of expired ones and the deletes by ID. Never a crash; a sync message
// found by an ID carries exactly that ID, and once seen through the push
// channel it reads back so.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "sdk/messaging/RIRMessagingRmqManager.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

struct Table {
  const char* name;
  std::vector<const char*> columns;
};

const std::vector<Table>& tables() {
  static const auto* const known = new std::vector<Table>{
      {kRIRMessagingTableOutgoingRmqMessages, {"rmq_id", "type", "ts", "data"}},
      {kRIRMessagingTableLastRmqId, {"rmq_id"}},
      {kRIRMessagingTableS2DRmqIds, {"rmq_id"}},
      {kRIRMessagingTableSyncMessages, {"rmq_id", "expiration_ts", "apns_recv", "mcs_recv"}},
  };
  return *known;
}

// Never destroyed: the store's queue must not meet a closed database while
// the process exits.
RIRMessagingRmqManager& store() {
  static auto* const made = new RIRMessagingRmqManager("rmq2");
  return *made;
}

// A second connection that writes the rows as they stand.
sqlite3* writer() {
  static sqlite3* const connection = [] {
    sqlite3* opened = nullptr;
    if (sqlite3_open(store().pathForDatabase().c_str(), &opened) != SQLITE_OK) std::abort();
    return opened;
  }();
  return connection;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string unescape(const std::string& text) {
  std::string out;
  for (size_t index = 0; index < text.size(); ++index) {
    if (text[index] == '\\' && index + 1 < text.size() && (text[index + 1] == 'n' || text[index + 1] == 't')) {
      out += text[++index] == 'n' ? '\n' : '\t';
    } else {
      out += text[index];
    }
  }
  return out;
}

std::optional<std::vector<uint8_t>> hexBytes(const std::string& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t index = 0; index < hex.size(); index += 2) {
    char* end = nullptr;
    const std::string pair = hex.substr(index, 2);
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

void bindValue(sqlite3_stmt* statement, int position, const std::string& value) {
  const std::string rest = value.size() >= 2 ? value.substr(2) : std::string();
  if (value.rfind("i:", 0) == 0) {
    sqlite3_bind_int64(statement, position, std::strtoll(rest.c_str(), nullptr, 10));
  } else if (value.rfind("r:", 0) == 0) {
    sqlite3_bind_double(statement, position, std::strtod(rest.c_str(), nullptr));
  } else if (value.rfind("t:", 0) == 0) {
    const std::string text = unescape(rest);
    sqlite3_bind_text(statement, position, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  } else if (std::optional<std::vector<uint8_t>> bytes = value.rfind("x:", 0) == 0 ? hexBytes(rest) : std::nullopt) {
    sqlite3_bind_blob(statement, position, bytes->data(), static_cast<int>(bytes->size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(statement, position);
  }
}

// Writes one row; its sync-message ID (text values only) when it has one.
std::optional<std::string> writeRow(const std::string& line) {
  std::vector<std::string> fields = split(line, '\t');
  for (const Table& table : tables()) {
    if (fields[0] != table.name) continue;
    std::string columns;
    std::string marks;
    for (const char* column : table.columns) {
      columns += std::string(columns.empty() ? "" : ", ") + column;
      marks += marks.empty() ? "?" : ", ?";
    }
    const std::string sql = std::string("INSERT INTO ") + table.name + " (" + columns + ") VALUES (" + marks + ")";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(writer(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) std::abort();
    for (size_t index = 0; index < table.columns.size(); ++index) {
      bindValue(statement, static_cast<int>(index + 1), index + 1 < fields.size() ? fields[index + 1] : "n");
    }
    sqlite3_step(statement);
    sqlite3_finalize(statement);
    const bool syncID = std::string(table.name) == kRIRMessagingTableSyncMessages && fields.size() > 1 &&
                        fields[1].rfind("t:", 0) == 0;
    if (syncID) return unescape(fields[1].substr(2));
    return std::nullopt;
  }
  return std::nullopt;
}

void clearTables() {
  for (const Table& table : tables()) {
    const std::string sql = std::string("DELETE FROM ") + table.name;
    sqlite3_exec(writer(), sql.c_str(), nullptr, nullptr, nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/fuzz-messaging-database-XXXXXX";
  if (mkdtemp(folder) == nullptr) std::abort();
  setenv("HOME", folder, 1);
  setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (std::string(folder) + "/cache").c_str(), 1);
  const std::string messagingFolder =
      platform::fs::joinPath(platform::StandardFolders::applicationSupport(), kRIRMessagingRmqDirectory);
  if (platform::fs::createDirectory(messagingFolder, true)) std::abort();
  if (!store().hasDatabase()) std::abort();
  writer();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RIRMessagingRmqManager& rmq = store();
  rmq.waitForQueuedWork();
  clearTables();
  std::vector<std::string> syncIDs;
  for (const std::string& line : split(std::string(reinterpret_cast<const char*>(data), size), '\n')) {
    if (std::optional<std::string> id = writeRow(line)) syncIDs.push_back(*id);
  }

  rmq.loadInitialOutgoingPersistentId();
  rmq.nextRmqId();
  for (const std::string& id : syncIDs) {
    if (std::shared_ptr<RIRMessagingPersistentSyncMessage> found = rmq.querySyncMessageWithRmqID(id)) {
      FUZZ_CHECK(found->rmqID() == id);
    }
    RIRMessagingSyncMessageManager manager(std::shared_ptr<RIRMessagingRmqManager>(&rmq, [](RIRMessagingRmqManager*) {}));
    const bool seen = manager.didReceiveAPNSSyncMessage(platform::Dictionary{{"zcm.message_id", platform::Value(id)}});
    std::shared_ptr<RIRMessagingPersistentSyncMessage> after = rmq.querySyncMessageWithRmqID(id);
    if (!id.empty()) {
      FUZZ_CHECK(after && after->apnsReceived());
      FUZZ_CHECK(seen || after->expirationTime() > 0);
    }
  }
  rmq.deleteMessagesFromTable(kRIRMessagingTableSyncMessages, syncIDs);
  rmq.deleteMessagesFromTable(kRIRMessagingTableS2DRmqIds, syncIDs);
  rmq.deleteExpiredOrFinishedSyncMessages();
  rmq.waitForQueuedWork();
  return 0;
}
