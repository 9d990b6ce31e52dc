// The entry point, the transformer and the registrar: sending through a
// transport's transformers into the storage registered for the target.
#include <gtest/gtest.h>

#include <atomic>

#include "sdk/transport/ZDTCORRegistrar.h"
#include "sdk/transport/ZDTCORTransformer.h"
#include "sdk/transport/ZDTCORTransport.h"
#include "sdk/transport/tests/TransportTesting.h"

namespace {

using transporttest::BytesObject;
using transporttest::TransportFixture;

// Records the events it sees and answers them, another event, or nothing.
class StepTransformer : public ZDTCOREventTransformer {
 public:
  enum class Mode { Keep, Drop, Retarget };
  explicit StepTransformer(Mode mode) : m_mode(mode) {}
  std::shared_ptr<ZDTCOREvent> transformZDTEvent(std::shared_ptr<ZDTCOREvent> event) override {
    seen.push_back(event);
    switch (m_mode) {
      case Mode::Keep: return event;
      case Mode::Drop: return nullptr;
      case Mode::Retarget: {
        auto replaced = ZDTCOREvent::initWithMappingID("9999", event->target());
        replaced->setDataObject(std::make_shared<BytesObject>("replaced"));
        return replaced;
      }
    }
    return event;
  }
  ZDTCOREventSet seen;

 private:
  Mode m_mode;
};

// Counts the life-cycle operations it receives.
class CountingStorage : public ZDTCORFlatFileStorage {
 public:
  CountingStorage() : ZDTCORFlatFileStorage(nullptr, nullptr) {}
  void appWillBackground(ZDTCORApplicationProtocol& application) override {
    ++backgrounded;
    ZDTCORFlatFileStorage::appWillBackground(application);
  }
  std::atomic<int> backgrounded{0};
};

class ZDTCORTransportTest : public TransportFixture {
 protected:
  void SetUp() override {
    TransportFixture::SetUp();
    registrar = std::make_shared<ZDTCORRegistrar>();
    registrar->registerStorage(storage, 1000);
    transformer = std::make_shared<ZDTCORTransformer>(ZDTCORApplication::sharedApplication(), registrar);
  }

  std::shared_ptr<ZDTCORTransport> makeTransport(ZDTCOREventTransformers transformers = {}) {
    auto transport = ZDTCORTransport::initWithMappingID("1249", std::move(transformers), 1000);
    transport->setTransformerInstance(transformer);
    return transport;
  }

  // Sends and waits for the completion.
  std::pair<bool, std::optional<platform::Error>> send(ZDTCORTransport& transport,
                                                       const std::shared_ptr<ZDTCOREvent>& event,
                                                       bool telemetry = false) {
    std::pair<bool, std::optional<platform::Error>> outcome{false, std::nullopt};
    std::atomic<bool> done{false};
    auto completion = [&](bool written, std::optional<platform::Error> error) {
      outcome = {written, std::move(error)};
      done = true;
    };
    if (telemetry) {
      transport.sendTelemetryEvent(event, completion);
    } else {
      transport.sendDataEvent(event, completion);
    }
    transformer->eventWritingQueue().sync([] {});
    drain();
    EXPECT_TRUE(done.load());
    return outcome;
  }

  std::shared_ptr<ZDTCORRegistrar> registrar;
  std::shared_ptr<ZDTCORTransformer> transformer;
};

TEST_F(ZDTCORTransportTest, InvalidMappingIDOrTargetMakesNoTransport) {
  EXPECT_EQ(ZDTCORTransport::initWithMappingID("", {}, 1000), nullptr);
  EXPECT_TRUE(logs.contains("A mapping ID cannot be nil or empty"));
  EXPECT_EQ(ZDTCORTransport::initWithMappingID("1249", {}, 0), nullptr);
  EXPECT_TRUE(logs.contains("A target cannot be negative or 0"));
  auto transport = ZDTCORTransport::initWithMappingID("1249", {}, 1000);
  ASSERT_NE(transport, nullptr);
  EXPECT_EQ(transport->transformerInstance(), ZDTCORTransformer::sharedInstance());
  auto event = transport->eventForTransportWithProductData(ZDTCORProductData(12));
  EXPECT_EQ(event->mappingID(), "1249");
  EXPECT_EQ(event->target(), 1000);
  EXPECT_EQ(event->productData(), ZDTCORProductData(12));
}

TEST_F(ZDTCORTransportTest, SendStoresAStampedCopyAndLeavesTheCallersEventAlone) {
  auto transport = makeTransport();
  auto event = transport->eventForTransport();
  event->setDataObject(std::make_shared<BytesObject>("payload"));
  auto [written, error] = send(*transport, event);
  EXPECT_TRUE(written);
  EXPECT_FALSE(error);
  EXPECT_FALSE(event->clockSnapshot());
  ASSERT_EQ(names(eventFolder(1000)).size(), 1u);
  auto stored = ZDTCORDecodeArchiveAtPathAs<ZDTCOREvent>(eventFolder(1000) + "/" + names(eventFolder(1000))[0]);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored.value()->eventID(), event->eventID());
  EXPECT_TRUE(stored.value()->clockSnapshot());
  EXPECT_EQ(stored.value()->serializedDataObjectBytes(), event->serializedDataObjectBytes());
}

TEST_F(ZDTCORTransportTest, TelemetryTierIsSetOnTheCallersEventAndDataSendsItAnyway) {
  auto transport = makeTransport();
  auto event = transport->eventForTransport();
  event->setDataObject(std::make_shared<BytesObject>("payload"));
  EXPECT_TRUE(send(*transport, event, /*telemetry=*/true).first);
  EXPECT_EQ(event->qosTier(), 1);
  logs.clear();
  EXPECT_TRUE(send(*transport, event).first);
  EXPECT_TRUE(logs.contains("Use -sendTelemetryEvent, please."));
}

TEST_F(ZDTCORTransportTest, TransformersRunInOrderAndCanReplaceOrDropTheEvent) {
  auto keep = std::make_shared<StepTransformer>(StepTransformer::Mode::Keep);
  auto retarget = std::make_shared<StepTransformer>(StepTransformer::Mode::Retarget);
  auto transport = makeTransport({keep, retarget});
  auto event = transport->eventForTransport();
  event->setDataObject(std::make_shared<BytesObject>("payload"));
  EXPECT_TRUE(send(*transport, event).first);
  ASSERT_EQ(keep->seen.size(), 1u);
  EXPECT_EQ(retarget->seen[0], keep->seen[0]);
  ASSERT_EQ(names(eventFolder(1000)).size(), 1u);
  // The second transformer's event was stored in place of the original.
  EXPECT_TRUE(names(eventFolder(1000))[0].ends_with("-9999"));
  EXPECT_FALSE(names(eventFolder(1000))[0].starts_with(event->eventID()));

  const struct {
    ZDTCOREventTransformers transformers;
    bool codeThousandLine;
  } dropping[] = {
      {{std::make_shared<StepTransformer>(StepTransformer::Mode::Drop), keep}, false},
      {{keep, nullptr}, true},
  };
  for (const auto& c : dropping) {
    logs.clear();
    auto dropped = makeTransport(c.transformers)->eventForTransport();
    dropped->setDataObject(std::make_shared<BytesObject>("payload"));
    auto [written, error] = send(*makeTransport(c.transformers), dropped);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error);
    EXPECT_EQ(logs.contains("[ZoruvuDataTransport][I-ZDTCOR001000] Transformer doesn't implement transformZDTEvent:"),
              c.codeThousandLine);
  }
  EXPECT_EQ(names(eventFolder(1000)).size(), 1u);
}

TEST_F(ZDTCORTransportTest, NilEventIsReportedTwiceAndNothingIsStored) {
  auto transport = makeTransport();
  bool called = false;
  transport->sendDataEvent(nullptr, [&](bool, std::optional<platform::Error>) { called = true; });
  transformer->eventWritingQueue().sync([] {});
  drain();
  EXPECT_FALSE(called);
  EXPECT_TRUE(logs.contains("You can't send a nil event"));
  EXPECT_TRUE(logs.contains("You can't write a nil event"));
}

TEST_F(ZDTCORTransportTest, RegistrarReplacesEntriesAndFansOutOncePerTarget) {
  auto counting = std::make_shared<CountingStorage>();
  auto local = std::make_shared<ZDTCORRegistrar>();
  local->registerStorage(storage, 1000);
  for (int64_t target : ZDTCORFlatFileStorage::kTargets) local->registerStorage(counting, target);
  EXPECT_EQ(local->targetToStorage().size(), 5u);
  EXPECT_EQ(local->targetToStorage().at(1000), counting);  // the later registration wins
  local->appWillBackground(*ZDTCORApplication::sharedApplication());
  EXPECT_EQ(counting->backgrounded.load(), 5);
  counting->storageQueue().sync([] {});
}

}  // namespace
