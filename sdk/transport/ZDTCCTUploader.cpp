#include "sdk/transport/ZDTCCTUploader.h"

#include <cstdio>

#include "sdk/transport/ZDTCCTNanopbHelpers.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCOREndpoints.h"
#include "sdk/transport/ZDTCORRegistrar.h"

namespace {

std::mutex& testServerMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::optional<std::string>& testServer() {
  static auto* const url = new std::optional<std::string>();
  return *url;
}

}  // namespace

void ZDTCCTUploader::load() {
  // Read the configuration and the bundle now, on the registering thread:
  // uploads may still run while the process exits, when the bundle is gone.
  ZDTCOREndpoints::uploadURLs();
  ZDTCCTCurrentClientFacts();
  for (int64_t target : kTargets) ZDTCORRegistrar::sharedInstance()->registerUploader(sharedInstance(), target);
}

std::shared_ptr<ZDTCCTUploader> ZDTCCTUploader::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ZDTCCTUploader>(
      std::make_shared<ZDTCCTUploader>(ZDTCORRegistrar::sharedInstance(), ZDTCORApplication::sharedApplication()));
  return *shared;
}

ZDTCCTUploader::ZDTCCTUploader(std::shared_ptr<ZDTCORRegistrar> registrar,
                               std::shared_ptr<ZDTCORApplicationProtocol> application)
    : m_registrar(std::move(registrar)),
      m_application(std::move(application)),
      m_uploadQueue("com.zoruvu.ZDTCCTUploader") {}

void ZDTCCTUploader::uploadTarget(int64_t target, ZDTCORUploadConditions conditions) {
  scheduleUploadOfTarget(target, conditions);
}

std::shared_ptr<ZDTCCTUploadOperation> ZDTCCTUploader::scheduleUploadOfTarget(int64_t target,
                                                                             ZDTCORUploadConditions conditions) {
  std::shared_ptr<ZDTCORRegistrar> registrar = m_registrar.lock();
  if (!registrar) return nullptr;
  auto storages = registrar->targetToStorage();
  auto found = storages.find(target);
  auto storage = found != storages.end() ? std::dynamic_pointer_cast<ZDTCORStoragePromiseProtocol>(found->second)
                                         : nullptr;
  if (!storage) {
    ZDTCORLog(ZDTCORMCEGeneralError, ZDTCORLoggingLevelErrors,
              "Failed to upload target: " + std::to_string(target) +
                  " - could not find corresponding storage instance.");
    return nullptr;
  }
  auto controllers = registrar->targetToMetricsController();
  auto controller = controllers.find(target);
  auto operation = std::make_shared<ZDTCCTUploadOperation>(
      target, conditions, serverURLForTarget(target), m_uploadQueue, std::move(storage), shared_from_this(),
      controller != controllers.end() ? controller->second : nullptr, m_application);
  ZDTCORLogDebug("Upload operation created: " + operation->description() + ", target: " + std::to_string(target));

  std::weak_ptr<ZDTCCTUploader> weakUploader = weak_from_this();
  std::weak_ptr<ZDTCCTUploadOperation> weakOperation = operation;
  operation->setCompletion([weakUploader, weakOperation] {
    auto uploader = weakUploader.lock();
    auto finished = weakOperation.lock();
    if (!uploader || !finished) {
      ZDTCORLogDebug("Internal inconsistency: ZDTCCTUploader was deallocated during upload.");
      return;
    }
    ZDTCORLogDebug("Upload operation finished: " + finished->description() +
                   ", uploadAttempted: " + (finished->uploadAttempted() ? "1" : "0"));
    // Once a request went out, the operations still waiting start over at
    // the next tick.
    if (finished->uploadAttempted()) uploader->m_operationQueue.cancelAll();
  });
  m_operationQueue.add(operation);
  ZDTCORLogDebug("Upload operation scheduled: " + operation->description() +
                 ", operation count: " + std::to_string(m_operationQueue.operationCount()));
  return operation;
}

std::string ZDTCCTUploader::serverURLForTarget(int64_t target) {
  return ZDTCOREndpoints::uploadURLForTarget(target).value_or("");
}

void ZDTCCTUploader::setTestServerURL(std::optional<std::string> url) {
  std::lock_guard lock(testServerMutex());
  testServer() = std::move(url);
}

std::optional<std::string> ZDTCCTUploader::testServerURL() {
  std::lock_guard lock(testServerMutex());
  return testServer();
}

std::optional<ZDTCORClock> ZDTCCTUploader::nextUploadTimeForTarget(int64_t target) {
  std::lock_guard lock(m_nextUploadMutex);
  auto found = m_nextUploadTimeByTarget.find(target);
  if (found == m_nextUploadTimeByTarget.end()) return std::nullopt;
  return found->second;
}

void ZDTCCTUploader::setNextUploadTime(std::optional<ZDTCORClock> time, int64_t target) {
  std::lock_guard lock(m_nextUploadMutex);
  if (time) {
    m_nextUploadTimeByTarget[target] = *time;
  } else {
    m_nextUploadTimeByTarget.erase(target);
  }
}

std::optional<std::string> ZDTCCTUploader::APIKeyForTarget(int64_t target) {
  return ZDTCOREndpoints::APIKeyForTarget(target);
}
