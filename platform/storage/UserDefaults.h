// UserDefaults: named suites of small settings, persisted across launches.
//
// One suite object per name within the process (suite(name) returns the same
// object each time); standard() is the suite named after the bundle
// identifier (StandardFolders). A suite lives in
// StandardFolders::preferences()/<name>.plist as a binary property list,
// loaded lazily on first use and rewritten atomically on every change (the
// values are tiny, so nothing is ever pending). A change whose write fails
// returns false and stays in memory; synchronize() retries the write and
// reports whether the file holds the suite's contents. A suite file that
// cannot be parsed is moved aside to "<name>.plist.corrupt" and the suite
// starts empty; a value in it that could not be written back (a date out of
// range) is dropped with a log line, the rest is kept. Loading a suite also
// removes the temporary files its own interrupted writes left behind and
// makes the file and its folder private (0600, 0700) when found wider; new
// files are written 0600 in a 0700 folder.
//
// Values are copied in and out (containers included), so callers never share
// storage with the suite. Bool, integer and real numbers keep their kind
// across a restart. Only values with a property-list form can be stored
// (string, number, bool, date, data, array, dictionary; text UTF-8 without
// NUL characters, dates from year 0 to 9999); set() refuses others, returns
// false and changes nothing. Setting null removes the key.
//
// Getters: missing or mistyped keys give none / 0 / false. boolFor,
// integerFor and doubleFor coerce numbers and strings ("YES", "12", "1.5").
//
// Thread safety: every member function may be called from any thread; each
// suite has its own mutex; the suite table has another.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Value.h"

namespace platform {

class UserDefaults {
 public:
  static std::shared_ptr<UserDefaults> standard();
  // The shared suite of that name; "" gives standard().
  static std::shared_ptr<UserDefaults> suite(const std::string& name);
  // Forgets the suite's contents and deletes its file.
  static bool removeSuite(const std::string& name);
  // Drops every cached suite object, as if the process had restarted (tests).
  static void resetForTesting();

  const std::string& suiteName() const { return m_name; }
  std::string filePath() const;

  std::optional<Value> object(const std::string& key) const;
  std::optional<std::string> string(const std::string& key) const;  // strings; numbers as text
  std::optional<Value> number(const std::string& key) const;        // numbers and bools
  bool boolFor(const std::string& key) const;
  int64_t integerFor(const std::string& key) const;
  double doubleFor(const std::string& key) const;
  std::optional<Bytes> data(const std::string& key) const;
  std::optional<Dictionary> dictionary(const std::string& key) const;
  std::optional<Array> array(const std::string& key) const;

  bool set(const std::string& key, const Value& value);
  bool setBool(const std::string& key, bool value) { return set(key, Value(value)); }
  bool setInteger(const std::string& key, int64_t value) { return set(key, Value(static_cast<long long>(value))); }
  bool setDouble(const std::string& key, double value) { return set(key, Value(value)); }
  bool remove(const std::string& key);
  // Sets and removes in one change (one file write).
  bool setMultiple(const Dictionary& values, const std::vector<std::string>& keysToRemove);
  bool clear();

  std::vector<std::string> keys() const;
  Dictionary dictionaryRepresentation() const;
  bool synchronize();

  explicit UserDefaults(std::string name);  // use suite() instead

 private:
  enum class SaveResult { Saved, WriteFailed, Unstorable };
  void loadLocked() const;
  SaveResult saveLocked();

  const std::string m_name;
  mutable std::mutex m_mutex;
  mutable bool m_loaded = false;
  mutable Dictionary m_values;
  bool m_dirty = false;
};

}  // namespace platform
