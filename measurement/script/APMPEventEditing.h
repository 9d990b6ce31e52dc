// APMPEventEditing: the editing instance that runs one configuration program
// on the events the engine logs.
//
// It owns one runtime, one event context and the callback handler (a
// collection root of the runtime), and registers the modules
// "internal.registerCallback" and "internal.eventLogger" on the runtime. The
// settings add their modules as descriptions (APMEventEditing): a key-value
// store, an object provider and the message logger (writing to the
// measurement monitor) become the native modules of the script runtime.
//
// loadProgram runs the program's top-level statements (a control value
// escaping them is editing error 5), then loads each activity: every rule
// statement must give a map (editing error 6) that is handed to the script
// function named by the activity, looked up in a run scope (editing error 7
// when it is no function). The statements share the runtime's evaluation
// budget from its creation; a collection follows a successful load.
//
// handleEvent: the context takes the event, the evaluation budget starts
// afresh, the callbacks run in a new run scope, and a collection follows
// whatever happened. NO with the error after a failure; otherwise YES when
// the output event differs from the input (hasEdits) or events were created
// (hasCreatedEvents). Removing a parameter alone leaves the events equal
// (only the output event's parameters are compared).
//
// Thread safety: one thread at a time (the settings' parse, then the
// engine's worker queue).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "measurement/base/APMEventEditing.h"
#include "measurement/script/APMPDynamicProvider.h"
#include "measurement/script/APMPRuntimeValue.h"

class APMPEditingCallbackHandler;
class APMPEventContext;
class APMPRuntime;
class NANOMessageBase;

class APMPEventEditing final : public APMEventEditing {
 public:
  APMPEventEditing();
  explicit APMPEventEditing(std::shared_ptr<APMPRuntime> runtime);
  ~APMPEventEditing() override;

  // A native module creator.
  void setModuleCreator(APMPModuleCreator creator, const std::string& name);
  // A module described by the settings.
  void setModuleCreator(ModuleCreator creator, const std::string& name) override;

  bool loadProgram(const APMPBProgram& program, platform::Error* error) override;
  bool loadActivityData(const NANOMessageBase& activity, APMPError& error);
  bool registerRuleWithName(const std::u16string& name, const APMPValuePtr& rule, APMPError& error);

  bool handleEvent(const APMPEvent& event, platform::Error* error) override;
  bool hasEdits() const override;
  bool hasCreatedEvents() const override;
  APMPEvent outputEvent() const override;
  std::vector<APMPEvent> eventsToLog() const override;

  const APMPEventContext& eventContext() const { return *m_eventContext; }
  const APMPEditingCallbackHandler& callbackHandler() const { return *m_callbackHandler; }
  APMPRuntime& runtime() const { return *m_runtime; }

 private:
  std::shared_ptr<APMPRuntime> m_runtime;
  std::shared_ptr<APMPEventContext> m_eventContext;
  std::shared_ptr<APMPEditingCallbackHandler> m_callbackHandler;
};
