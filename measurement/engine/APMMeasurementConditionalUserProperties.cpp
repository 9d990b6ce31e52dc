// Conditional user properties in the event road: the engine is the
// controller's engine, and every event the road writes passes the
// controller's hook first.
#include "measurement/engine/APMMeasurement.h"
#include "measurement/features/APMConditionalUserPropertyController.h"

namespace {

// The controller's view of one engine.
class ConditionalUserPropertyEngine : public APMConditionalUserPropertyController::Engine {
 public:
  explicit ConditionalUserPropertyEngine(std::shared_ptr<APMMeasurement> engine) : m_engine(std::move(engine)) {}

  bool isEnabled() const override { return m_engine->isEnabled(); }
  std::shared_ptr<APMDatabase> database() const override { return m_engine->database(); }
  std::shared_ptr<APMScheduler> scheduler() const override { return m_engine->scheduler(); }
  void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) override {
    m_engine->writeEventOnWorkerQueue(event);
  }
  void writeFilteredEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) override {
    m_engine->writeFilteredEventOnWorkerQueue(event);
  }

 private:
  const std::shared_ptr<APMMeasurement> m_engine;
};

}  // namespace

void APMMeasurement::installConditionalUserPropertyEngine() {
  APMConditionalUserPropertyController::setEngineProvider(
      []() -> std::shared_ptr<APMConditionalUserPropertyController::Engine> {
        if (!hasSharedInstance()) return nullptr;
        std::shared_ptr<APMMeasurement> engine = sharedInstance();
        return engine ? std::make_shared<ConditionalUserPropertyEngine>(std::move(engine)) : nullptr;
      });
}

std::optional<std::vector<std::shared_ptr<APMEvent>>> APMMeasurement::processConditionalUserPropertiesOnWorkerQueue(
    const APMEvent& event) {
  return APMConditionalUserPropertyController::sharedInstance()->processEventOnWorkerQueue(event.copy());
}
