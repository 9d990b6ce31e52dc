#include "measurement/script/internal/APMPRelease.h"

#include <algorithm>
#include <utility>

namespace {

struct PendingReleases {
  std::vector<APMPValuePtr> values;
  bool draining = false;
};

thread_local PendingReleases tPending;

bool holdsValues(const APMPValuePtr& value) {
  return value != nullptr && (value->isCollectable() || value->isStatement() || value->isControl());
}

void drain() {
  if (tPending.draining) return;
  tPending.draining = true;
  while (!tPending.values.empty()) {
    // Freeing this one may append its own contents to the list.
    APMPValuePtr value = std::move(tPending.values.back());
    tPending.values.pop_back();
    value.reset();
  }
  tPending.draining = false;
}

}  // namespace

void APMPReleaseLater(std::vector<APMPValuePtr>& values) {
  if (std::none_of(values.begin(), values.end(), holdsValues)) {
    values.clear();
    return;
  }
  std::vector<APMPValuePtr> taken = std::move(values);
  values.clear();
  for (APMPValuePtr& value : taken) {
    if (holdsValues(value)) tPending.values.push_back(std::move(value));
  }
  taken.clear();
  drain();
}

void APMPReleaseLater(APMPValuePtr& value) {
  if (!holdsValues(value)) {
    value.reset();
    return;
  }
  tPending.values.push_back(std::move(value));
  value.reset();
  drain();
}
