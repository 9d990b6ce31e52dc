#include "sdk/core/RIRComponentContainer.h"

#include <gtest/gtest.h>

#include "sdk/core/RIRComponentLifecycleMaintainer.h"
#include "sdk/core/RIRComponentType.h"
#include "sdk/core/tests/SdkCoreFixture.h"

namespace {

class Alpha : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "Alpha";
};
class Beta : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "Beta";
};
class AlphaImpl : public Alpha {};
class BetaImpl : public Beta, public RIRComponentLifecycleMaintainer {
 public:
  explicit BetaImpl(int* deletions) : m_deletions(deletions) {}
  void appWillBeDeleted(RIRApp&) override { ++*m_deletions; }
  int* m_deletions;
};

class RIRComponentContainerTest : public sdktest::SdkCoreFixture {
 protected:
  // A library whose blocks count their calls.
  RIRLibrary library(const std::string& className, RIRComponentTiming alphaTiming, bool cacheAlpha) {
    return RIRLibrary{className, [this, alphaTiming, cacheAlpha] {
                        return std::vector<RIRComponent>{
                            RIRComponent(RIRProtocol::of<Alpha>(), alphaTiming,
                                         [this, cacheAlpha](RIRComponentContainer&, bool& cacheable) {
                                           ++alphaCalls;
                                           cacheable = cacheAlpha;
                                           return std::make_shared<AlphaImpl>();
                                         }),
                            RIRComponent::componentWithProtocol(
                                RIRProtocol::of<Beta>(), [this](RIRComponentContainer& container, bool& cacheable) {
                                  ++betaCalls;
                                  cacheable = true;
                                  container.instanceFor<Alpha>();  // nested look-up under the lock
                                  return std::make_shared<BetaImpl>(&deletions);
                                }),
                        };
                      }};
  }
  std::shared_ptr<RIRApp> configure(const std::string& name, std::shared_ptr<RIROptions> options = nullptr) {
    if (!options) options = optionsWith({});
    if (name == kRIRDefaultAppName) {
      RIRApp::configureWithOptions(options);
      return RIRApp::defaultApp();
    }
    RIRApp::configureWithName(name, options);
    return RIRApp::appNamed(name);
  }
  int alphaCalls = 0;
  int betaCalls = 0;
  int deletions = 0;
};

TEST_F(RIRComponentContainerTest, EagerInDefaultAppOnlyAndCaching) {
  RIRComponentContainer::registerAsComponentRegistrant(library("Lib", RIRComponentTimingEagerInDefaultApp, false));
  auto named = configure("named");
  EXPECT_EQ(alphaCalls, 0);
  EXPECT_EQ(named->container()->eagerProtocolsToInstantiate(), std::nullopt);  // the eager pass ran
  auto app = configure(kRIRDefaultAppName);
  EXPECT_EQ(alphaCalls, 1);
  // Not cacheable: every look-up calls the block again.
  EXPECT_TRUE(RIRComponentType::instanceForProtocol<Alpha>(app->container()));
  EXPECT_TRUE(RIRComponentType::instanceForProtocol<Alpha>(app->container()));
  EXPECT_EQ(alphaCalls, 3);
  // Cacheable: once per container.
  auto beta = RIRComponentType::instanceForProtocol<Beta>(app->container());
  EXPECT_EQ(RIRComponentType::instanceForProtocol<Beta>(app->container()), beta);
  EXPECT_EQ(betaCalls, 1);
  RIRComponentType::instanceForProtocol<Beta>(named->container());
  EXPECT_EQ(betaCalls, 2);
  EXPECT_EQ(RIRComponentType::instanceForProtocol<Beta>(nullptr), nullptr);
}

TEST_F(RIRComponentContainerTest, EagerListsDependOnTheApp) {
  RIRComponentContainer::registerAsComponentRegistrant(library("Lib", RIRComponentTimingEagerInDefaultApp, true));
  RIRApp::configure();
  auto named = RIRComponentContainer(RIRApp::defaultApp(), RIRComponentContainer::registrants());
  EXPECT_EQ(named.eagerProtocolsToInstantiate(), std::optional<std::vector<std::string>>({"Alpha"}));
  cleanCore();
  RIRComponentContainer::registerAsComponentRegistrant(library("Lib", RIRComponentTimingEagerInDefaultApp, true));
  RIRApp::configureWithName("named", optionsWith({}));
  auto container = RIRComponentContainer(RIRApp::appNamed("named"), RIRComponentContainer::registrants());
  EXPECT_EQ(container.eagerProtocolsToInstantiate(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
}

TEST_F(RIRComponentContainerTest, RemovalEmptiesCacheThenComponents) {
  RIRComponentContainer::registerAsComponentRegistrant(library("Lib", RIRComponentTimingLazy, true));
  auto app = configure("named");
  auto container = app->container();
  container->instanceFor<Beta>();
  EXPECT_EQ(container->cachedInstanceNames(), (std::vector<std::string>{"Alpha", "Beta"}));
  container->removeAllCachedInstances();
  EXPECT_EQ(deletions, 1);
  EXPECT_TRUE(container->cachedInstanceNames().empty());
  container->instanceFor<Beta>();
  EXPECT_EQ(betaCalls, 2);
  container->removeAllComponents();
  container->removeAllCachedInstances();
  EXPECT_EQ(container->instanceFor<Beta>(), nullptr);
  // Deleting an app tells its cached maintainers.
  auto other = configure("other");
  other->container()->instanceFor<Beta>();
  other->deleteApp(nullptr);
  EXPECT_EQ(deletions, 3);
}

TEST_F(RIRComponentContainerTest, DuplicateProtocolsAndWrongInstances) {
  RIRComponentContainer::registerAsComponentRegistrant(library("First", RIRComponentTimingLazy, true));
  RIRComponentContainer::registerAsComponentRegistrant(RIRLibrary{"Second", [] {
    return std::vector<RIRComponent>{RIRComponent::componentWithProtocol(
        RIRProtocol::of<Alpha>(), [](RIRComponentContainer&, bool&) { return std::make_shared<BetaImpl>(nullptr); })};
  }});
  RIRComponentContainer::registerAsComponentRegistrant(RIRLibrary{"Wrong", [] {
    return std::vector<RIRComponent>{RIRComponent::componentWithProtocol(
        RIRProtocol(std::string("Gamma"), [](const RIRComponentInstance&) { return false; }),
        [](RIRComponentContainer&, bool& cacheable) {
          cacheable = true;
          return std::make_shared<AlphaImpl>();
        })};
  }});
  auto app = configure("named");
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000029] Attempted to register protocol Alpha, but it already has an "
                         "implementation."));
  EXPECT_TRUE(app->container()->instanceFor<Alpha>());  // the first one read
  EXPECT_EQ(alphaCalls, 1);
  auto gamma = app->container()->instanceForProtocol(RIRProtocol("Gamma", nullptr));
  EXPECT_TRUE(gamma);  // still returned and cached
  EXPECT_EQ(app->container()->instanceForProtocol(RIRProtocol("Gamma", nullptr)), gamma);
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000030] An instance conforming to Gamma was requested, but the "
                         "instance provided does not conform to the protocol"));
  EXPECT_EQ(app->container()->instanceForProtocol(RIRProtocol("Nobody", nullptr)), nullptr);
}

TEST_F(RIRComponentContainerTest, ARHostAppNeverSeesTheAppCheckComponent) {
  RIRComponentContainer::registerAsComponentRegistrant(library("RIRAppCheckComponent", RIRComponentTimingLazy, true));
  struct Case {
    const char* name;
    const char* sender;
    bool sees;
  };
  const Case cases[] = {{"ARHostRIRApp", "470815926037", false},
                        {"ARHostRIRApp", "123456789012", true},
                        {"OtherApp", "470815926037", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.sender);
    auto app = configure(c.name, optionsWith({{"ZCM_SENDER_ID", c.sender}}));
    EXPECT_EQ(app->container()->instanceFor<Alpha>() != nullptr, c.sees);
    RIRApp::resetApps();
  }
  RIRComponentContainer empty(nullptr, {});
  EXPECT_EQ(empty.instanceFor<Alpha>(), nullptr);
}

}  // namespace
