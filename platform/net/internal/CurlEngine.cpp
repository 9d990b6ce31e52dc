#include "platform/net/internal/CurlEngine.h"

#include <cstdio>

#include "platform/log/Log.h"

namespace platform::net_internal {

namespace {

// Easy handles of ended transfers, reset and kept for the next ones: making
// a handle allocates and clears its buffers, and freeing them again after
// every request made the allocator give memory back to the system and take
// it again each time. Connections stay in the multi handle's cache either way.
class HandlePool {
 public:
  CURL* take() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!m_idle.empty()) {
        CURL* easy = m_idle.back();
        m_idle.pop_back();
        return easy;
      }
    }
    return curl_easy_init();
  }
  void giveBack(CURL* easy) {
    curl_easy_reset(easy);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_idle.size() < kMaximumIdle) {
        m_idle.push_back(easy);
        return;
      }
    }
    curl_easy_cleanup(easy);
  }

 private:
  static constexpr size_t kMaximumIdle = 16;
  std::mutex m_mutex;
  std::vector<CURL*> m_idle;
};

HandlePool& handlePool() {
  // Never destroyed, like the engine.
  static HandlePool* pool = new HandlePool();
  return *pool;
}

}  // namespace

CurlTransfer::CurlTransfer() : m_easy(handlePool().take()) {}

CurlTransfer::~CurlTransfer() {
  if (m_easy) handlePool().giveBack(m_easy);
}

CurlEngine& CurlEngine::shared() {
  // Deliberately never destroyed: the worker may be inside libcurl at exit.
  static CurlEngine* engine = new CurlEngine();
  return *engine;
}

CurlEngine::CurlEngine() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  m_multi = curl_multi_init();
  m_thread = std::thread([this] { run(); });
  m_thread.detach();
}

void CurlEngine::post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(std::move(fn));
  }
  curl_multi_wakeup(m_multi);
}

void CurlEngine::start(std::shared_ptr<CurlTransfer> transfer) {
  post([this, transfer] {
    CURL* easy = transfer->easy();
    if (!easy) {
      transfer->finished(CURLE_FAILED_INIT, false);
      return;
    }
    CURLMcode rc = curl_multi_add_handle(m_multi, easy);
    if (rc != CURLM_OK) {
      transfer->finished(CURLE_FAILED_INIT, false);
      return;
    }
    m_active.emplace(easy, transfer);
  });
}

void CurlEngine::cancel(std::shared_ptr<CurlTransfer> transfer) {
  post([this, transfer] {
    auto it = m_active.find(transfer->easy());
    if (it == m_active.end()) return;  // already finished
    curl_multi_remove_handle(m_multi, it->first);
    auto keep = it->second;
    m_active.erase(it);
    keep->finished(CURLE_ABORTED_BY_CALLBACK, true);
  });
}

void CurlEngine::resume(std::shared_ptr<CurlTransfer> transfer) {
  post([this, transfer] {
    if (m_active.count(transfer->easy())) curl_easy_pause(transfer->easy(), CURLPAUSE_CONT);
  });
}

void CurlEngine::drainCommands() {
  std::vector<std::function<void()>> commands;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    commands.swap(m_commands);
  }
  for (auto& command : commands) {
    try {
      command();
    } catch (const std::exception& e) {
      Log::handle("platform.net", "[HTTP]").write(LogType::Error, std::string("exception on the transfer thread: ") + e.what());
    }
  }
}

void CurlEngine::run() {
  for (;;) {
    drainCommands();
    int running = 0;
    curl_multi_perform(m_multi, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
      if (msg->msg != CURLMSG_DONE) continue;
      CURL* easy = msg->easy_handle;
      CURLcode code = msg->data.result;
      curl_multi_remove_handle(m_multi, easy);
      auto it = m_active.find(easy);
      if (it == m_active.end()) continue;
      auto transfer = it->second;
      m_active.erase(it);
      try {
        transfer->finished(code, false);
      } catch (const std::exception& e) {
        Log::handle("platform.net", "[HTTP]").write(LogType::Error, std::string("exception on the transfer thread: ") + e.what());
      }
    }
    curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
  }
}

}  // namespace platform::net_internal
