// RIRComponent: one registered component: the protocol it provides, when it
// is created (lazily, during configure of every app, or during configure of
// the default app only) and the block that creates it. The block receives
// the container and a cacheable flag (initially false); it sets the flag when
// the container may keep the instance and hand it out again.
// Thread safety: an immutable value.
#pragma once

#include <functional>
#include <memory>

#include "sdk/core/RIRComponentInstance.h"

class RIRComponentContainer;

enum RIRComponentTiming : long {
  RIRComponentTimingLazy = 0,
  RIRComponentTimingAlwaysEager = 1,
  RIRComponentTimingEagerInDefaultApp = 2,
};

using RIRComponentCreationBlock =
    std::function<std::shared_ptr<RIRComponentInstance>(RIRComponentContainer& container, bool& isCacheable)>;

class RIRComponent {
 public:
  RIRComponent(RIRProtocol protocol, RIRComponentTiming timing, RIRComponentCreationBlock creationBlock)
      : m_protocol(std::move(protocol)), m_instantiationTiming(timing), m_creationBlock(std::move(creationBlock)) {}

  static RIRComponent componentWithProtocol(RIRProtocol protocol, RIRComponentCreationBlock creationBlock) {
    return RIRComponent(std::move(protocol), RIRComponentTimingLazy, std::move(creationBlock));
  }
  static RIRComponent componentWithProtocol(RIRProtocol protocol, RIRComponentTiming timing,
                                            RIRComponentCreationBlock creationBlock) {
    return RIRComponent(std::move(protocol), timing, std::move(creationBlock));
  }

  const RIRProtocol& protocol() const { return m_protocol; }
  RIRComponentTiming instantiationTiming() const { return m_instantiationTiming; }
  const RIRComponentCreationBlock& creationBlock() const { return m_creationBlock; }

 private:
  RIRProtocol m_protocol;
  RIRComponentTiming m_instantiationTiming;
  RIRComponentCreationBlock m_creationBlock;
};
