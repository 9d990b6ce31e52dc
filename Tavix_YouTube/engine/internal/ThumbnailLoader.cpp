#include "Tavix_YouTube/engine/internal/ThumbnailLoader.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/net/HttpSession.h"
#include "platform/text/Unicode.h"
#include "platform/text/Url.h"

namespace tavix::engine_internal {

namespace {

// Collects each streaming task's body and cuts it off at its cap.
class Collector : public platform::HttpSessionDelegate {
 public:
  struct Pending {
    size_t maxBytes = 0;
    platform::Bytes body;
    int status = 0;
    bool overflow = false;
    ThumbnailCompletion completion;
  };

  void add(uint64_t id, Pending pending) {
    std::lock_guard lock(m_mutex);
    m_pending.emplace(id, std::move(pending));
  }

  void didReceiveResponse(platform::HttpTask& task, const platform::HttpResponse& response) override {
    std::lock_guard lock(m_mutex);
    if (auto it = m_pending.find(task.taskIdentifier()); it != m_pending.end()) it->second.status = response.statusCode();
  }

  void didReceiveData(platform::HttpTask& task, const platform::Bytes& chunk) override {
    bool cancel = false;
    {
      std::lock_guard lock(m_mutex);
      auto it = m_pending.find(task.taskIdentifier());
      if (it == m_pending.end() || it->second.overflow) return;
      Pending& p = it->second;
      if (p.body.size() + chunk.size() > p.maxBytes) {
        p.overflow = true;
        p.body.clear();
        p.body.shrink_to_fit();
        cancel = true;
      } else {
        p.body.insert(p.body.end(), chunk.begin(), chunk.end());
      }
    }
    if (cancel) task.cancel();
  }

  void didComplete(platform::HttpTask& task, const std::optional<platform::Error>& error) override {
    Pending p;
    {
      std::lock_guard lock(m_mutex);
      auto it = m_pending.find(task.taskIdentifier());
      if (it == m_pending.end()) return;
      p = std::move(it->second);
      m_pending.erase(it);
    }
    if (!p.completion) return;
    if (error || p.overflow || p.body.empty()) {
      p.completion(std::nullopt);
    } else {
      p.completion(std::move(p.body));
    }
  }

 private:
  std::mutex m_mutex;
  std::map<uint64_t, Pending> m_pending;
};

struct Loader {
  std::shared_ptr<Collector> collector = std::make_shared<Collector>();
  std::shared_ptr<platform::HttpSession> session;
};

Loader& loader(double timeoutSeconds) {
  static Loader* instance = [timeoutSeconds] {
    auto* l = new Loader();
    auto configuration = platform::HttpSessionConfiguration::ephemeralConfiguration();
    configuration.timeoutIntervalForRequest = timeoutSeconds;
    configuration.timeoutIntervalForResource = timeoutSeconds;
    l->session = platform::HttpSession::create(configuration, l->collector);
    return l;
  }();
  return *instance;
}

}  // namespace

bool loadThumbnail(const std::string& url, size_t maxBytes, double timeoutSeconds, ThumbnailCompletion completion) {
  std::optional<platform::Url> parsed = platform::Url::parse(url);
  if (!parsed || !parsed->hasSchemeAndHost()) return false;
  std::string scheme = platform::Unicode::lowercase(parsed->scheme());
  if (scheme != "http" && scheme != "https") return false;
  Loader& l = loader(timeoutSeconds);
  auto task = l.session->streamTask(platform::HttpRequest(url));
  l.collector->add(task->taskIdentifier(), Collector::Pending{maxBytes, {}, 0, false, std::move(completion)});
  task->resume();
  return true;
}

}  // namespace tavix::engine_internal
