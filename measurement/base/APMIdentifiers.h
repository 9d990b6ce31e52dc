// APMIdentifiers: the identifiers other subsystems read: the Zoruvu App ID
// and the app instance ID (from the engine's identity when it has one, else
// the shared identity), the effective app ID, a process-wide ad event ID
// counter (seeded once at random, consecutive values), the library version
// and the data collection origin. Never none: failures give "" and a log.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class APMIdentifiers {
 public:
  static std::shared_ptr<APMIdentifiers> sharedInstance();

  std::string zoruvuAppID();
  std::string analyticsAppID();
  std::string appInstanceID();
  std::string adEventID();
  std::string libraryVersion();
  std::string origin() const;
  // An empty origin logs 37004 and keeps the old one.
  void setOrigin(const std::string& origin);

 private:
  mutable std::mutex m_mutex;
  std::string m_origin;
};
