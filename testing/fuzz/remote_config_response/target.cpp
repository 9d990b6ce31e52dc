// Answers of the config fetch service as the fetch handles them: the
// decision from status, body and ETag (RCNFetchAnswer), then, for a JSON
// object, what the fetch applies to the config content and the experiments
// and commits as one transaction. An input is the answer's body, optionally
// preceded by a line "NNN\n" with its status (else 200); an ETag comes with
// bodies of even length.
//
// Checked promises: the kind follows the status and body (a non-200 answer
// is never applied, an empty body is no data, an error object is a server
// error with its message); stored values came from text entries of the
// answer; personalization metadata kept is objects only; and what the
// database holds after the commit is what memory holds: a content and
// experiment bookkeeping made anew from it give the same changed keys and
// the same experiment payloads.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "sdk/remote-config/RCNConfigContent.h"
#include "sdk/remote-config/RCNConfigExperiment.h"
#include "sdk/remote-config/RCNFetchAnswer.h"
#include "testing/fuzz/FuzzCheck.h"
#include "testing/fuzz/FuzzHome.h"

namespace {

constexpr const char* kNamespace = "ririvudu:app";

struct Shared {
  std::shared_ptr<RCNConfigDBManager> manager;
  std::shared_ptr<RCNConfigContent> content;
  platform::SerialQueue queue{"fuzz.experiments"};
  std::shared_ptr<RCNConfigExperiment> experiment;
};

Shared& shared() {
  static Shared* made = [] {
    auto* s = new Shared;
    s->manager = RCNConfigDBManager::create();
    s->content = RCNConfigContent::initWithDBManager(s->manager);
    s->experiment = RCNConfigExperiment::create(s->manager, nullptr, s->queue);
    return s;
  }();
  return *made;
}

// Experiment payloads as restored by new bookkeeping over the database.
std::vector<platform::Bytes> restoredPayloads(Shared& s) {
  std::shared_ptr<RCNConfigExperiment> fresh = RCNConfigExperiment::create(s.manager, nullptr, s.queue);
  s.manager->waitForDatabaseOperationQueue();
  platform::MainQueue::drain();
  return s.queue.sync([&] { return fresh->experimentPayloads(); });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::useTemporaryHome("remote-config");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  int status = 200;
  if (input.size() >= 4 && input[3] == '\n' && std::isdigit(static_cast<unsigned char>(input[0])) &&
      std::isdigit(static_cast<unsigned char>(input[1])) && std::isdigit(static_cast<unsigned char>(input[2]))) {
    status = std::stoi(std::string(input.substr(0, 3)));
    input.remove_prefix(4);
  }
  platform::HttpHeaders headers;
  if (input.size() % 2 == 0) headers.add("ETag", "\"e\"");
  platform::HttpResult result;
  result.response = platform::HttpResponse(status, headers, "http://127.0.0.1/v1/fetch");
  result.body = platform::Bytes(input.begin(), input.end());

  const RCNFetchAnswer answer = RCNFetchAnswer::decide(result);
  FUZZ_CHECK(answer.status == status);
  if (status != 200) {
    FUZZ_CHECK(answer.kind == RCNFetchAnswer::Kind::Failed);
    return 0;
  }
  FUZZ_CHECK((answer.kind == RCNFetchAnswer::Kind::NoData) == input.empty());
  FUZZ_CHECK(answer.etag.has_value() == (input.size() % 2 == 0));
  if (answer.kind == RCNFetchAnswer::Kind::ServerError) {
    FUZZ_CHECK(answer.message.rfind("RCN Fetch Failure: Server returned error:", 0) == 0);
  }
  if (answer.kind != RCNFetchAnswer::Kind::Object) {
    FUZZ_CHECK(!answer.object);
    return 0;
  }
  FUZZ_CHECK(answer.object && !answer.templateVersion.empty());

  Shared& s = shared();
  const platform::Dictionary& response = *answer.object;
  RCNConfigDBWrites writes;
  s.content->updateConfigContentWithResponse(response, kNamespace, writes);
  const platform::Value* descriptions = response.find("experimentDescriptions");
  s.queue.sync([&] {
    s.experiment->updateExperimentsWithResponse(descriptions ? std::optional<platform::Value>(*descriptions)
                                                             : std::nullopt,
                                                writes);
  });
  std::optional<bool> committed;
  s.manager->commitWrites(std::move(writes), s.queue, [&](bool done) { committed = done; });
  s.manager->waitForDatabaseOperationQueue();
  s.queue.sync([] {});
  FUZZ_CHECK(committed == true);

  RCNNamespaceConfigs fetched = s.content->fetchedConfig();
  const platform::Value& entries = response["entries"];
  for (const auto& [key, value] : fetched[kNamespace]) {
    FUZZ_CHECK(value && !value->dataValue().empty());
    if (response["state"] == platform::Value("UPDATE")) FUZZ_CHECK(entries[key].isString());
  }
  RCNConfigDBWrites activation;
  s.content->copyFromDictionary(std::optional<RCNNamespaceConfigs>(fetched), RCNDBSourceActive, kNamespace, activation);
  s.content->activatePersonalization(activation);
  s.content->activateRolloutMetadata(activation);
  for (const auto& [key, metadata] : s.content->activePersonalization()) FUZZ_CHECK(metadata.isDictionary());
  s.manager->commitWrites(std::move(activation));
  s.manager->waitForDatabaseOperationQueue();

  // The database holds what memory holds.
  std::shared_ptr<RCNConfigContent> reloaded = RCNConfigContent::initWithDBManager(s.manager);
  FUZZ_CHECK(reloaded->getConfigUpdateForNamespace(kNamespace)->updatedKeys() ==
             s.content->getConfigUpdateForNamespace(kNamespace)->updatedKeys());
  FUZZ_CHECK(reloaded->activeConfig()[kNamespace].size() == s.content->activeConfig()[kNamespace].size());
  FUZZ_CHECK(restoredPayloads(s) == s.queue.sync([&] { return s.experiment->experimentPayloads(); }));
  return 0;
}
