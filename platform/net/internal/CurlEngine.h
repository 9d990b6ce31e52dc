// CurlEngine: the one libcurl multi handle of the process, driven by one
// worker thread (curl_multi_poll, woken by curl_multi_wakeup).
//
// A CurlTransfer owns an easy handle configured by its creator (handles are
// reset and reused by later transfers). `start` adds
// it, `cancel` removes it; either way `finished` is called exactly once, on
// the worker thread, with the transfer's result (cancel reports
// CURLE_ABORTED_BY_CALLBACK and `cancelled` = true). The libcurl callbacks of
// the easy handle also run on the worker thread.
//
// Thread safety: `start`, `cancel`, `resume` and `post` may be called from any thread.
// The engine lives for the whole process (it is never destroyed, so no
// transfer can outlive it).
#pragma once

#include <curl/curl.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::net_internal {

class CurlTransfer {
 public:
  CurlTransfer();
  virtual ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  CURL* easy() const { return m_easy; }
  // Called once on the worker thread when the transfer ended or was removed.
  virtual void finished(CURLcode code, bool cancelled) = 0;

 private:
  CURL* m_easy;
};

class CurlEngine {
 public:
  static CurlEngine& shared();

  void start(std::shared_ptr<CurlTransfer> transfer);
  void cancel(std::shared_ptr<CurlTransfer> transfer);
  // Lets a transfer whose write callback paused it receive again (nothing
  // when it already ended).
  void resume(std::shared_ptr<CurlTransfer> transfer);
  // Runs `fn` on the worker thread.
  void post(std::function<void()> fn);

 private:
  CurlEngine();
  void run();
  void drainCommands();

  CURLM* m_multi;
  std::mutex m_mutex;
  std::vector<std::function<void()>> m_commands;
  std::map<CURL*, std::shared_ptr<CurlTransfer>> m_active;  // worker thread only
  std::thread m_thread;
};

}  // namespace platform::net_internal
