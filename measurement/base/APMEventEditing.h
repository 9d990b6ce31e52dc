// APMEventEditing: what the measurement settings need of the script
// runtime's event-editing engine (the engine that runs the programs delivered
// with the measurement configuration).
//
// setModuleCreator registers a module that programs load by name; a creator
// answers the module as a description the runtime turns into its native
// functions:
//   KeyValueStore   a function named `functionName` answering look-ups from
//                   `valueForKey` (none when the key has no value);
//   ObjectProvider  a function named `name` answering `object()`;
//   MessageLogger   the runtime's logging module, writing to the monitor.
// loadProgram runs the program's top-level statements and loads its
// activities: YES, or NO with the error set.
// handleEvent runs the loaded program's callbacks on one event (the engine
// calls it for every event it stores): YES when the run ended without error
// and either edited the event (hasEdits) or created events
// (hasCreatedEvents); NO when it did neither, or with the error set when it
// failed. outputEvent is then the event as edited (as it was before a failing
// callback), eventsToLog the events created, in order of creation.
//
// Until the script runtime installs its factory (APMEngineServices),
// APMRecordingEventEditing stands in: it keeps the creators and loads every
// program successfully (or fails them, when told to); it edits nothing.
//
// Thread safety: used by one thread at a time (the settings' parse, then the
// engine's worker queue).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "measurement/messages/APMPBMessage.h"
#include "measurement/types/APMPEvent.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"

struct APMEventEditingKeyValueStore {
  std::string functionName;
  std::function<std::optional<std::string>(const std::string& key)> valueForKey;
};

struct APMEventEditingObjectProvider {
  std::string name;
  std::function<platform::Value()> object;
};

struct APMEventEditingMessageLogger {};

using APMEventEditingModule =
    std::variant<APMEventEditingKeyValueStore, APMEventEditingObjectProvider, APMEventEditingMessageLogger>;

class APMEventEditing {
 public:
  using ModuleCreator = std::function<APMEventEditingModule()>;

  virtual ~APMEventEditing() = default;
  virtual void setModuleCreator(ModuleCreator creator, const std::string& name) = 0;
  virtual bool loadProgram(const APMPBProgram& program, platform::Error* error) = 0;
  virtual bool handleEvent(const APMPEvent& event, platform::Error* error) = 0;
  virtual bool hasEdits() const = 0;
  virtual bool hasCreatedEvents() const = 0;
  virtual APMPEvent outputEvent() const = 0;
  virtual std::vector<APMPEvent> eventsToLog() const = 0;
};

class APMRecordingEventEditing : public APMEventEditing {
 public:
  void setModuleCreator(ModuleCreator creator, const std::string& name) override;
  bool loadProgram(const APMPBProgram& program, platform::Error* error) override;
  // NO: the event stays as it is.
  bool handleEvent(const APMPEvent& event, platform::Error* error) override;
  bool hasEdits() const override { return false; }
  bool hasCreatedEvents() const override { return false; }
  APMPEvent outputEvent() const override;
  std::vector<APMPEvent> eventsToLog() const override { return {}; }

  // Loads fail with this error from now on (none: they succeed again).
  void setLoadError(std::optional<platform::Error> error);
  std::vector<std::string> moduleNames() const;
  // The module a creator makes now; none for an unknown name.
  std::optional<APMEventEditingModule> makeModule(const std::string& name) const;
  int loadedPrograms() const;

 private:
  mutable std::mutex m_mutex;
  std::map<std::string, ModuleCreator> m_creators;
  std::optional<platform::Error> m_loadError;
  int m_loaded = 0;
  APMPEvent m_lastEvent;
};
