// The combinators over many promises: all, any and race.
#include <mutex>

#include "platform/values/Exception.h"
#include "sdk/promises/RBLPromise.h"

using platform::Array;
using platform::Error;
using platform::Value;

namespace {

struct Outcome {
  bool rejected = false;
  Value value;
  std::optional<Error> error;
};

// What all and any know about their elements. Callbacks record outcomes as
// they run; an element whose callback has not run yet is read live. Elements
// are held weakly so that an element that never settles (and nothing else
// holds) is released instead of being kept alive by its own observer.
class ElementStates {
 public:
  explicit ElementStates(const std::vector<RBLPromisePtr>& promises) : m_outcomes(promises.size()) {
    m_promises.reserve(promises.size());
    for (const RBLPromisePtr& promise : promises) m_promises.emplace_back(promise);
  }

  void record(size_t index, Outcome outcome) {
    std::lock_guard lock(m_mutex);
    m_outcomes[index] = std::move(outcome);
  }

  // Every outcome in index order, or nothing while an element is pending.
  std::optional<std::vector<Outcome>> settled() {
    std::lock_guard lock(m_mutex);
    std::vector<Outcome> outcomes;
    outcomes.reserve(m_outcomes.size());
    for (size_t i = 0; i < m_outcomes.size(); ++i) {
      if (m_outcomes[i]) {
        outcomes.push_back(*m_outcomes[i]);
        continue;
      }
      RBLPromisePtr promise = m_promises[i].lock();
      if (!promise) return std::nullopt;  // gone before its callback ran: it will record, or never settle
      switch (promise->state()) {
        case RBLPromise::State::Pending:
          return std::nullopt;
        case RBLPromise::State::Fulfilled:
          outcomes.push_back({false, promise->value(), std::nullopt});
          break;
        case RBLPromise::State::Rejected:
          outcomes.push_back({true, Value(), promise->error()});
          break;
      }
    }
    return outcomes;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::weak_ptr<RBLPromise>> m_promises;
  std::vector<std::optional<Outcome>> m_outcomes;
};

}  // namespace

// ---- all ----------------------------------------------------------------------

RBLPromisePtr RBLPromise::all(RBLResolutions promises) { return onQueueAll(defaultDispatchQueue(), std::move(promises)); }

RBLPromisePtr RBLPromise::onQueueAll(const Queue& queue, RBLResolutions items) {
  if (items.empty()) return resolvedWith(Value::array());
  return onQueueAsync(queue, [queue, items = std::move(items)](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
    std::vector<RBLPromisePtr> promises;
    promises.reserve(items.size());
    for (const RBLResolution& item : items) {
      if (const Error* error = item.error()) {
        reject(*error);
        return;
      }
      promises.push_back(item.isPromise() ? *item.promise() : resolvedWith(item));
    }
    auto states = std::make_shared<ElementStates>(promises);
    for (size_t i = 0; i < promises.size(); ++i) {
      promises[i]->observeOnQueue(
          queue,
          [states, i, fulfill](const Value& value) {
            states->record(i, {false, value, std::nullopt});
            auto outcomes = states->settled();
            if (!outcomes) return;
            Array values;
            values.reserve(outcomes->size());
            for (const Outcome& outcome : *outcomes) {
              if (outcome.rejected) return;  // that element's own callback rejects
              values.append(outcome.value);
            }
            fulfill(Value(values));
          },
          [reject](const Error& error) { reject(error); });
    }
  });
}

RBLPromise::Property<RBLResolutions> RBLPromise::all() {
  return [](RBLResolutions promises) { return all(std::move(promises)); };
}

RBLPromise::QueueProperty<RBLResolutions> RBLPromise::allOn() {
  return [](const Queue& queue, RBLResolutions promises) { return onQueueAll(queue, std::move(promises)); };
}

// ---- any ----------------------------------------------------------------------

namespace {

// Values and errors in index order; the result when at least one fulfilled.
std::optional<Value> combineValuesAndErrors(const std::vector<Outcome>& outcomes) {
  bool anyFulfilled = false;
  Array combined;
  combined.reserve(outcomes.size());
  for (const Outcome& outcome : outcomes) {
    anyFulfilled = anyFulfilled || !outcome.rejected;
    combined.append(outcome.rejected ? RBLPromise::errorAsValue(*outcome.error) : outcome.value);
  }
  if (!anyFulfilled) return std::nullopt;
  return Value(combined);
}

}  // namespace

RBLPromisePtr RBLPromise::any(RBLResolutions promises) { return onQueueAny(defaultDispatchQueue(), std::move(promises)); }

RBLPromisePtr RBLPromise::onQueueAny(const Queue& queue, RBLResolutions items) {
  if (items.empty()) return resolvedWith(Value::array());
  return onQueueAsync(queue, [queue, items = std::move(items)](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
    std::vector<RBLPromisePtr> promises;
    promises.reserve(items.size());
    for (const RBLResolution& item : items) {
      // An error element becomes a rejected element here, not an immediate rejection.
      promises.push_back(item.isPromise() ? *item.promise() : resolvedWith(item));
    }
    auto states = std::make_shared<ElementStates>(promises);
    for (size_t i = 0; i < promises.size(); ++i) {
      promises[i]->observeOnQueue(
          queue,
          [states, i, fulfill](const Value& value) {
            states->record(i, {false, value, std::nullopt});
            if (auto outcomes = states->settled()) fulfill(*combineValuesAndErrors(*outcomes));
          },
          [states, i, fulfill, reject](const Error& error) {
            states->record(i, {true, Value(), error});
            auto outcomes = states->settled();
            if (!outcomes) return;
            if (auto combined = combineValuesAndErrors(*outcomes)) {
              fulfill(*combined);
            } else {
              reject(error);
            }
          });
    }
  });
}

RBLPromise::Property<RBLResolutions> RBLPromise::any() {
  return [](RBLResolutions promises) { return any(std::move(promises)); };
}

RBLPromise::QueueProperty<RBLResolutions> RBLPromise::anyOn() {
  return [](const Queue& queue, RBLResolutions promises) { return onQueueAny(queue, std::move(promises)); };
}

// ---- race ---------------------------------------------------------------------

RBLPromisePtr RBLPromise::race(RBLResolutions promises) {
  return onQueueRace(defaultDispatchQueue(), std::move(promises));
}

RBLPromisePtr RBLPromise::onQueueRace(const Queue& queue, RBLResolutions items) {
  if (items.empty()) {
    platform::Exception::raise(platform::Exception::kInternalInconsistencyException, "No promises to observe");
  }
  return onQueueAsync(queue, [queue, items = std::move(items)](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
    for (const RBLResolution& item : items) {
      if (!item.isPromise()) {
        fulfill(item);  // a plain value or error decides at once
        return;
      }
    }
    for (const RBLResolution& item : items) {
      (*item.promise())->observeOnQueue(
          queue, [fulfill](const Value& value) { fulfill(value); }, [reject](const Error& error) { reject(error); });
    }
  });
}

RBLPromise::Property<RBLResolutions> RBLPromise::race() {
  return [](RBLResolutions promises) { return race(std::move(promises)); };
}

RBLPromise::QueueProperty<RBLResolutions> RBLPromise::raceOn() {
  return [](const Queue& queue, RBLResolutions promises) { return onQueueRace(queue, std::move(promises)); };
}
