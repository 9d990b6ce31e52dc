#include "sdk/utilities/ZULNetworkURLSession.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "platform/dispatch/MainQueue.h"
#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "platform/text/Uuid.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULLogger.h"

namespace {

using platform::Bytes;
using platform::Error;
using platform::HttpResponse;
using platform::Value;

std::string newSessionID() {
  return std::string(ZULNetworkURLSession::kSessionIDPrefix) + "-" + platform::Uuid::random().string();
}

bool hasPrefix(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

Value errorContext(const Error& error) { return Value(error.description()); }

// Class-wide state, each made once on first use.
struct FetcherMap {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<ZULNetworkURLSession>> sessions;
};
FetcherMap& fetcherMap() {
  static FetcherMap* map = new FetcherMap;
  return *map;
}

struct SystemHandlers {
  std::mutex mutex;
  std::map<std::string, ZULNetworkSystemCompletionHandler> handlers;
};
SystemHandlers& systemHandlers() {
  static SystemHandlers* table = new SystemHandlers;
  return *table;
}

struct Factory {
  std::mutex mutex;
  ZULNetworkURLSession::SessionFactory factory;
};
Factory& sessionFactory() {
  static Factory* factory = new Factory;
  return *factory;
}

std::shared_ptr<platform::HttpSession> makeSession(platform::HttpSessionConfiguration configuration) {
  ZULNetworkURLSession::SessionFactory factory;
  {
    std::lock_guard<std::mutex> guard(sessionFactory().mutex);
    factory = sessionFactory().factory;
  }
  if (factory) return factory(std::move(configuration));
  return platform::HttpSession::create(std::move(configuration));
}

}  // namespace

ZULNetworkURLSession::ZULNetworkURLSession(std::weak_ptr<ZULNetworkLoggerDelegate> loggerDelegate)
    : m_networkDirectory(platform::fs::joinPath(
          platform::fs::joinPath(platform::StandardFolders::applicationSupport(), "ZUL/Network"),
          "ZULNetworkTemporaryDirectory")),
      m_loggerDelegate(std::move(loggerDelegate)),
      m_sessionID(newSessionID()) {}

ZULNetworkURLSession::~ZULNetworkURLSession() = default;

std::shared_ptr<ZULNetworkURLSession> ZULNetworkURLSession::initWithNetworkLoggerDelegate(
    std::weak_ptr<ZULNetworkLoggerDelegate> networkLoggerDelegate) {
  return std::shared_ptr<ZULNetworkURLSession>(new ZULNetworkURLSession(std::move(networkLoggerDelegate)));
}

std::shared_ptr<ZULNetworkLoggerDelegate> ZULNetworkURLSession::logger() const { return m_loggerDelegate.lock(); }

bool ZULNetworkURLSession::isBackgroundNetworkEnabled() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_backgroundNetworkEnabled;
}

void ZULNetworkURLSession::setBackgroundNetworkEnabled(bool enabled) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_backgroundNetworkEnabled = enabled;
}

std::string ZULNetworkURLSession::sessionID() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_sessionID;
}

void ZULNetworkURLSession::setSessionID(std::string sessionID) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_sessionID = std::move(sessionID);
}

std::string ZULNetworkURLSession::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<ZULNetworkURLSession: %p>", static_cast<const void*>(this));
  return text;
}

bool ZULNetworkURLSession::followsRedirectWithStatus(int status) {
  return status != 300 && status != 301 && status != 302 && status != 307;
}

void ZULNetworkURLSession::setSessionFactoryForTesting(SessionFactory factory) {
  std::lock_guard<std::mutex> guard(sessionFactory().mutex);
  sessionFactory().factory = std::move(factory);
}

platform::HttpSessionConfiguration ZULNetworkURLSession::sessionConfiguration(
    const platform::HttpRequest& request) const {
  platform::HttpSessionConfiguration configuration = platform::HttpSessionConfiguration::defaultConfiguration();
  // The request's headers travel with the request itself; its timeout bounds
  // both a silent stretch and the whole exchange.
  if (request.timeoutInterval() > 0) {
    configuration.timeoutIntervalForRequest = request.timeoutInterval();
    configuration.timeoutIntervalForResource = request.timeoutInterval();
  }
  configuration.delegateQueue = platform::mainQueue();
  configuration.redirectPolicy = [](int status, const HttpResponse&, const platform::HttpRequest&) {
    return followsRedirectWithStatus(status) ? platform::RedirectDecision::follow()
                                             : platform::RedirectDecision::refuse();
  };
  return configuration;
}

std::optional<std::string> ZULNetworkURLSession::sessionIDFromAsyncPOSTRequest(
    const platform::HttpRequest& request, ZULNetworkURLSessionCompletionHandler completionHandler) {
  const std::string sessionID = this->sessionID();
  const std::string spoolFile = temporaryFilePathWithSessionID(sessionID);
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_uploadingFile = spoolFile;
  }
  maybeRemoveTempFilesAtURL(m_networkDirectory, kExpiringTime);

  bool spooled = false;
  if (isBackgroundNetworkEnabled() && ensureTemporaryDirectoryExists()) {
    if (std::optional<Error> error = platform::fs::writeFileAtomically(spoolFile, request.body(), 0600)) {
      if (auto log = logger()) {
        log->ZULNetwork_logWithLevelContext(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession000,
                                            "Failed to write request data to file", errorContext(*error));
      }
    } else {
      excludeFromBackupForURL(spoolFile);
      spooled = true;
    }
  }
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_configurationIdentifier = spooled ? sessionID : std::string();
  }
  return start(request, true, spooled ? spoolFile : std::string(), std::move(completionHandler));
}

std::optional<std::string> ZULNetworkURLSession::sessionIDFromAsyncGETRequest(
    const platform::HttpRequest& request, ZULNetworkURLSessionCompletionHandler completionHandler) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_configurationIdentifier = m_backgroundNetworkEnabled ? m_sessionID : std::string();
  }
  return start(request, false, {}, std::move(completionHandler));
}

std::optional<std::string> ZULNetworkURLSession::start(const platform::HttpRequest& request, bool upload,
                                                       const std::string& spoolFile,
                                                       ZULNetworkURLSessionCompletionHandler completionHandler) {
  std::shared_ptr<platform::HttpSession> session = makeSession(sessionConfiguration(request));
  std::shared_ptr<platform::HttpTask> task;
  if (session) {
    std::shared_ptr<ZULNetworkURLSession> self = shared_from_this();
    if (upload) {
      auto completion = [self](platform::HttpResult result) {
        std::optional<Bytes> data;
        if (result.response) data = std::move(result.body);
        self->didComplete(std::move(result.response), std::move(data), std::move(result.error));
      };
      if (!spoolFile.empty()) {
        platform::HttpRequest bodiless = request;
        bodiless.clearBody();
        task = session->uploadTask(std::move(bodiless), spoolFile, std::move(completion));
      } else {
        task = session->dataTask(request, std::move(completion));
      }
    } else {
      task = session->downloadTask(request, [self](platform::HttpDownloadResult result) {
        std::optional<Bytes> data;
        if (result.response) data = self->readDownloadedFile(result.location);
        self->didComplete(std::move(result.response), std::move(data), std::move(result.error));
      });
    }
  }
  if (!session || !task) {
    callCompletionHandler(completionHandler, std::nullopt, std::nullopt,
                          ZULNetworkMakeError(kZULNetworkErrorCodeSessionCreation, "Cannot create network session"));
    return std::nullopt;
  }
  std::string sessionID;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_session = session;
    m_completionHandler = std::move(completionHandler);
    sessionID = m_sessionID;
  }
  setSessionInFetcherMap(shared_from_this(), sessionID);
  task->resume();
  return sessionID;
}

std::optional<Bytes> ZULNetworkURLSession::readDownloadedFile(const std::string& location) {
  std::shared_ptr<ZULNetworkLoggerDelegate> log = logger();
  if (location.empty()) {
    if (log) {
      log->ZULNetwork_logWithLevel(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession001,
                                   "Unable to read downloaded data from empty temp path");
    }
    return std::nullopt;
  }
  platform::Result<Bytes> contents = platform::fs::readFile(location);
  if (!contents) {
    if (log) {
      log->ZULNetwork_logWithLevelContext(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession002,
                                          "Cannot read the content of downloaded data",
                                          errorContext(contents.error()));
    }
    return std::nullopt;
  }
  return std::move(contents).value();
}

void ZULNetworkURLSession::didComplete(std::optional<HttpResponse> response, std::optional<Bytes> data,
                                       std::optional<Error> error) {
  ZULNetworkURLSessionCompletionHandler handler;
  std::string uploadingFile;
  std::string configurationIdentifier;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    handler = std::move(m_completionHandler);
    m_completionHandler = nullptr;
    uploadingFile = m_uploadingFile;
    configurationIdentifier = m_configurationIdentifier;
  }
  if (response) {
    error.reset();  // any status is an answer, not a failure
  } else if (!error) {
    error = ZULNetworkMakeError(kZULNetworkErrorCodeEmptyResponse, "Network Error: Empty network response");
  }
  callCompletionHandler(handler, std::move(response), std::move(data), std::move(error));

  removeTempItemAtURL(uploadingFile);
  maybeRemoveTempFilesAtURL(m_networkDirectory, kExpiringTime);

  invalidateSession();
  if (!configurationIdentifier.empty()) setSessionInFetcherMap(nullptr, configurationIdentifier);
}

void ZULNetworkURLSession::invalidateSession() {
  std::shared_ptr<platform::HttpSession> session;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    session = std::move(m_session);
    m_session = nullptr;
  }
  if (session) session->finishTasksAndInvalidate();
}

void ZULNetworkURLSession::callCompletionHandler(const ZULNetworkURLSessionCompletionHandler& handler,
                                                 std::optional<HttpResponse> response, std::optional<Bytes> data,
                                                 std::optional<Error> error) {
  if (error) {
    if (auto log = logger()) {
      log->ZULNetwork_logWithLevel(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession017,
                                   "Encounter network error. Code, error",
                                   {Value(static_cast<long long>(error->code)), errorContext(*error)});
    }
  }
  if (!handler) return;
  // An outcome is delivered by the HTTP session on the main queue already:
  // the handler runs there at once instead of waiting for another turn.
  // A failed start (on the caller's thread) always posts.
  if (platform::mainQueue().isCurrent()) {
    handler(response, data, sessionID(), error);
    return;
  }
  platform::mainQueue().async([handler, response = std::move(response), data = std::move(data),
                               sessionID = sessionID(), error = std::move(error)] {
    handler(response, data, sessionID, error);
  });
}

// --- session map and background events -------------------------------------

void ZULNetworkURLSession::setSessionInFetcherMap(const std::shared_ptr<ZULNetworkURLSession>& session,
                                                  const std::string& forSessionID) {
  std::shared_ptr<ZULNetworkURLSession> previous;
  {
    FetcherMap& map = fetcherMap();
    std::lock_guard<std::mutex> guard(map.mutex);
    for (auto it = map.sessions.begin(); it != map.sessions.end();) {
      it = it->second.expired() ? map.sessions.erase(it) : std::next(it);
    }
    if (auto found = map.sessions.find(forSessionID); found != map.sessions.end()) previous = found->second.lock();
    if (session) {
      map.sessions[forSessionID] = session;
    } else {
      map.sessions.erase(forSessionID);
    }
  }
  if (!previous || previous == session) return;
  if (session) {
    if (auto log = previous->logger()) {
      log->ZULNetwork_logWithLevel(kZULNetworkLogLevelInfo, kZULNetworkMessageCodeURLSession019,
                                   "Discarding session: " + previous->description());
    }
  }
  previous->invalidateSession();
}

std::shared_ptr<ZULNetworkURLSession> ZULNetworkURLSession::sessionFromFetcherMapForSessionID(
    const std::string& sessionID) {
  FetcherMap& map = fetcherMap();
  std::lock_guard<std::mutex> guard(map.mutex);
  auto found = map.sessions.find(sessionID);
  return found == map.sessions.end() ? nullptr : found->second.lock();
}

std::shared_ptr<ZULNetworkURLSession> ZULNetworkURLSession::fetcherWithSessionIdentifier(
    const std::string& sessionID) {
  if (auto existing = sessionFromFetcherMapForSessionID(sessionID)) return existing;
  if (!hasPrefix(sessionID, kSessionIDPrefix)) return nullptr;
  std::shared_ptr<ZULNetworkURLSession> fetcher = initWithNetworkLoggerDelegate({});
  fetcher->setSessionID(sessionID);
  setSessionInFetcherMap(fetcher, sessionID);
  return fetcher;
}

void ZULNetworkURLSession::handleEventsForBackgroundURLSessionID(
    const std::string& sessionID, ZULNetworkSystemCompletionHandler completionHandler) {
  if (!hasPrefix(sessionID, kSessionIDPrefix)) return;
  if (std::shared_ptr<ZULNetworkURLSession> fetcher = fetcherWithSessionIdentifier(sessionID)) {
    fetcher->addSystemCompletionHandler(std::move(completionHandler), sessionID);
    return;
  }
  ZULLogEmit(ZULLoggerLevelError, kZULLoggerSubsystem, "[ZULNetwork]", false,
             ZULMessageCode("NET", kZULNetworkMessageCodeNetwork003),
             "Failed to retrieve background session with ID " + sessionID + " after app is relaunched.");
}

void ZULNetworkURLSession::addSystemCompletionHandler(ZULNetworkSystemCompletionHandler handler,
                                                      const std::string& forSession) {
  std::shared_ptr<ZULNetworkLoggerDelegate> log = logger();
  if (!handler) {
    if (log) {
      log->ZULNetwork_logWithLevel(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession009,
                                   "Cannot store nil system completion handler in network");
    }
    return;
  }
  if (forSession.empty()) {
    if (log) {
      log->ZULNetwork_logWithLevel(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession010,
                                   "Cannot store system completion handler with empty network session identifier");
    }
    return;
  }
  bool replaced = false;
  {
    SystemHandlers& table = systemHandlers();
    std::lock_guard<std::mutex> guard(table.mutex);
    replaced = table.handlers.count(forSession) != 0;
    table.handlers[forSession] = std::move(handler);
  }
  if (replaced && log) {
    log->ZULNetwork_logWithLevelContext(kZULNetworkLogLevelWarning, kZULNetworkMessageCodeURLSession011,
                                        "Got multiple system handlers for a single session ID", Value(forSession));
  }
}

void ZULNetworkURLSession::callSystemCompletionHandler(const std::string& sessionID) {
  ZULNetworkSystemCompletionHandler handler;
  {
    SystemHandlers& table = systemHandlers();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto found = table.handlers.find(sessionID);
    if (found == table.handlers.end()) return;
    handler = std::move(found->second);
    table.handlers.erase(found);
  }
  if (handler) platform::mainQueue().async(std::move(handler));
}

// --- temporary files ------------------------------------------------------

std::string ZULNetworkURLSession::temporaryFilePathWithSessionID(const std::string& sessionID) const {
  return platform::fs::joinPath(m_networkDirectory, "ZULUpload_temp_" + sessionID);
}

bool ZULNetworkURLSession::ensureTemporaryDirectoryExists() {
  // Spooled bodies may hold identifiers: the folder is the user's alone.
  if (platform::fs::isDirectory(m_networkDirectory)) return !platform::fs::restrictToOwner(m_networkDirectory);
  std::shared_ptr<ZULNetworkLoggerDelegate> log = logger();
  platform::Result<platform::fs::FileAttributes> check = platform::fs::attributes(m_networkDirectory);
  if (!check && check.error().code != platform::FileError::kReadNoSuchFile &&
      check.error().code != platform::FileError::kNoSuchFile && log) {
    log->ZULNetwork_logWithLevelContext(kZULNetworkLogLevelWarning, kZULNetworkMessageCodeURLSession014,
                                        "Error while trying to access Network temp folder. Error",
                                        errorContext(check.error()));
  }
  if (std::optional<Error> error = platform::fs::createDirectory(m_networkDirectory, true, 0700)) {
    if (log) {
      log->ZULNetwork_logWithLevelContext(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession015,
                                          "Cannot create temporary directory. Error", errorContext(*error));
    }
    return false;
  }
  excludeFromBackupForURL(m_networkDirectory);
  return true;
}

void ZULNetworkURLSession::maybeRemoveTempFilesAtURL(const std::string& folder, double expiringTime) {
  if (folder.empty()) return;
  platform::Result<std::vector<platform::fs::DirectoryEntry>> entries =
      platform::fs::contentsOfDirectoryWithDates(folder);
  if (!entries) {
    if (entries.error().code != platform::FileError::kReadNoSuchFile) {
      if (auto log = logger()) {
        log->ZULNetwork_logWithLevelContext(kZULNetworkLogLevelDebug, kZULNetworkMessageCodeURLSession012,
                                            "Cannot get files from the temporary network folder. Error",
                                            errorContext(entries.error()));
      }
    }
    return;
  }
  const double now = platform::Clock::current()->now();
  for (const platform::fs::DirectoryEntry& entry : *entries) {
    if (!entry.creationDate) continue;
    if (std::fabs(now - *entry.creationDate) > expiringTime) {
      removeTempItemAtURL(platform::fs::joinPath(folder, entry.name));
    }
  }
}

void ZULNetworkURLSession::removeTempItemAtURL(const std::string& path) {
  if (path.empty()) return;
  std::optional<Error> error = platform::fs::removeItem(path);
  if (!error || error->code == platform::FileError::kNoSuchFile) return;
  if (auto log = logger()) {
    log->ZULNetwork_logWithLevelContext(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession013,
                                        "Failed to remove temporary uploading data file. Error",
                                        Value(error->localizedDescription()));
  }
}

void ZULNetworkURLSession::excludeFromBackupForURL(const std::string& path) {
  if (path.empty()) return;
  if (platform::fs::excludeFromBackup(path)) {
    if (auto log = logger()) {
      log->ZULNetwork_logWithLevel(kZULNetworkLogLevelError, kZULNetworkMessageCodeURLSession016,
                                   "Cannot exclude temporary folder from iTunes backup");
    }
  }
}
