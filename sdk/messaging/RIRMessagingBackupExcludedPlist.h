// RIRMessagingBackupExcludedPlist: one property-list file
// "<Application Support>/<subDirectory>/<fileName>.plist", kept out of
// backups, with a cache of the contents last written or read. Made, it
// removes the temporary copies that writes of the file interrupted by a
// crash left in its folder.
//
//   writeDictionary  writes atomically (XML), caches a copy, marks the file
//                    excluded from backup; a failed write is logged (error
//                    I-RCM026000) and leaves the cache alone.
//   deleteFile       removes the file (no file counts as success) and
//                    forgets the cache.
//   contentAsDictionary  the cache, else the file read once; none when there
//                    is no file or it does not hold a dictionary.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/values/Error.h"
#include "platform/values/Value.h"

class RIRMessagingBackupExcludedPlist {
 public:
  RIRMessagingBackupExcludedPlist(std::string fileName, std::string subDirectory);

  std::optional<platform::Error> writeDictionary(const platform::Dictionary& dictionary);
  std::optional<platform::Error> deleteFile();
  std::optional<platform::Dictionary> contentAsDictionary();
  bool doesFileExist() const;
  std::string plistPathInDirectory() const;

  const std::string& fileName() const { return m_fileName; }
  const std::string& subDirectoryName() const { return m_subDirectoryName; }

 private:
  const std::string m_fileName;
  const std::string m_subDirectoryName;
  std::mutex m_mutex;
  std::optional<platform::Dictionary> m_cachedPlistContents;
};
