// APMPEditingCallbackHandler: the callbacks a program registered, edit and
// create callbacks in two lists ordered by priority key.
//
// registerWithPriority: at most kMaxCallbacks in both lists together
// (editing error 4 beyond); the type "edit" or "create" picks the list (any
// other: editing error 3). A priority already taken in that list becomes the
// list's largest key plus one, so the callback runs after every callback of
// its kind registered so far.
//
// triggerCallbacksWithScope runs one event through them, with one event
// object (APMPEventNativeFunctions) as the argument of every callback: edit
// callbacks by ascending key, each on the output event as the previous ones
// left it: a callback that returns 2 or anything that is no number (-1; a
// function without "return" gives undefined) has its changes undone, one
// that fails has them undone and ends the run with its error; then create
// callbacks by ascending key, whose results are ignored and whose error ends
// the run. The lists are read when the run starts: callbacks registered
// during a run take part from the next one.
//
// As a collection root the handler keeps its callbacks alive.
//
// Thread safety: one thread at a time (the editing instance's).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "measurement/script/APMPMarkable.h"
#include "measurement/script/APMPRuntimeValue.h"

class APMPEventContext;
class APMPFunctionValue;

class APMPEditingCallbackHandler final : public APMPMarkable {
 public:
  static constexpr size_t kMaxCallbacks = 1000;
  static constexpr int32_t kDefaultPriority = 1000;
  // Result codes of a callback that undo its changes.
  static constexpr int32_t kDiscardChanges = 2;
  static constexpr int32_t kNoResult = -1;

  using CallbackMap = std::map<int64_t, std::shared_ptr<APMPFunctionValue>>;

  bool registerWithPriority(int32_t priority, std::shared_ptr<APMPFunctionValue> callback,
                            const std::u16string& ruleType, APMPError& error);
  static void addCallback(std::shared_ptr<APMPFunctionValue> callback, CallbackMap& dictionary,
                          std::vector<int64_t>& keyArray, int64_t priority);
  bool triggerCallbacksWithScope(const APMPScopePtr& scope, const std::shared_ptr<APMPEventContext>& eventContext,
                                 APMPError& error);
  // The callback's result code: its number (32-bit conversion), -1 when it
  // returned no number, 2 after an error.
  static int32_t invokeCallbackWithScope(const APMPScopePtr& scope, APMPFunctionValue& function,
                                         const APMPValuePtr& eventHandler, APMPError& error);

  const std::vector<int64_t>& sortedEditPriorities() const { return m_sortedEditPriorities; }
  const std::vector<int64_t>& sortedCreatePriorities() const { return m_sortedCreatePriorities; }
  void mark(APMPMarker& marker) const override;

 private:
  CallbackMap m_editCallbackMap;
  std::vector<int64_t> m_sortedEditPriorities;
  CallbackMap m_createCallbackMap;
  std::vector<int64_t> m_sortedCreatePriorities;
};
