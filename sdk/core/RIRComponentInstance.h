// RIRComponentInstance: the common base of every object a component hands
// out, and RIRProtocol, the name plus conformance test by which components
// are registered and looked up.
//
// A protocol is an interface type P deriving (virtually) from
// RIRComponentInstance and naming itself:
//
//   class RIRInstallationsInstance : public virtual RIRComponentInstance {
//    public:
//     static constexpr const char* kProtocolName = "RIRInstallationsInstance";
//     ...
//   };
//   RIRProtocol::of<RIRInstallationsInstance>()
//
// Thread safety: RIRProtocol is an immutable value.
#pragma once

#include <memory>
#include <string>

class RIRComponentInstance {
 public:
  virtual ~RIRComponentInstance() = default;
};

class RIRProtocol {
 public:
  using ConformanceTest = bool (*)(const RIRComponentInstance&);

  template <class P>
  static RIRProtocol of() {
    return RIRProtocol(P::kProtocolName,
                       [](const RIRComponentInstance& instance) { return dynamic_cast<const P*>(&instance) != nullptr; });
  }

  RIRProtocol(std::string name, ConformanceTest test) : m_name(std::move(name)), m_test(test) {}

  const std::string& name() const { return m_name; }
  bool isConformedBy(const RIRComponentInstance& instance) const { return m_test != nullptr && m_test(instance); }
  bool operator==(const RIRProtocol& other) const { return m_name == other.m_name; }

 private:
  std::string m_name;
  ConformanceTest m_test = nullptr;
};
