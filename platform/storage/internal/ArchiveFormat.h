// Keys of the keyed-archive format shared by KeyedArchiver and KeyedUnarchiver.
#pragma once

#include <string>

namespace platform::storage_internal {

inline constexpr const char* kArchiverKey = "$archiver";
inline constexpr const char* kArchiverName = "platform.KeyedArchiver";
inline constexpr const char* kVersionKey = "$version";
inline constexpr int kVersion = 1;
inline constexpr const char* kTopKey = "$top";
inline constexpr const char* kClassKey = "$class";
inline constexpr const char* kItemsKey = "$items";
inline constexpr const char* kEntriesKey = "$entries";
// A string a property list cannot hold (a NUL character, bytes that are not
// UTF-8) is stored as { "$class": "String", "$bytes": <its bytes> }.
inline constexpr const char* kBytesKey = "$bytes";

// User keys starting with "$" get one more "$" in the archive.
inline std::string escapeKey(const std::string& key) { return !key.empty() && key[0] == '$' ? "$" + key : key; }
inline std::string unescapeKey(const std::string& key) { return !key.empty() && key[0] == '$' ? key.substr(1) : key; }

}  // namespace platform::storage_internal
