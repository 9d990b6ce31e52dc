#include "measurement/script/APMPObjectManager.h"

#include <algorithm>

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPScope.h"

void APMPObjectManager::addRoot(const std::shared_ptr<const APMPMarkable>& root) {
  if (root) m_roots.push_back(root);
}

void APMPObjectManager::addObject(const APMPValuePtr& object) {
  if (!object) return;
  if (m_objects.size() >= m_compactAt) compact();
  m_objects.push_back(object);
}

void APMPObjectManager::compact() {
  std::erase_if(m_objects, [](const std::weak_ptr<APMPRuntimeValue>& object) { return object.expired(); });
  m_compactAt = std::max<size_t>(64, 2 * m_objects.size());
}

void APMPObjectManager::collectGarbage() {
  if (++m_epoch == 0) m_epoch = 1;
  APMPMarker marker(m_epoch);
  for (const std::weak_ptr<const APMPMarkable>& weakRoot : m_roots) {
    if (std::shared_ptr<const APMPMarkable> root = weakRoot.lock()) root->mark(marker);
  }
  marker.drain();
  // Unmarked values let go of what they hold; a cycle among them falls apart
  // and its members are freed as their last references go.
  for (size_t i = 0; i < m_objects.size(); ++i) {
    if (APMPValuePtr object = m_objects[i].lock()) {
      if (!object->isMarked(m_epoch)) object->dropReferences();
    }
  }
  std::erase_if(m_roots, [](const std::weak_ptr<const APMPMarkable>& root) { return root.expired(); });
  compact();
}

APMPValueList APMPObjectManager::trackedObjects() const {
  APMPValueList objects;
  for (const std::weak_ptr<APMPRuntimeValue>& weak : m_objects) {
    if (APMPValuePtr object = weak.lock()) objects.push_back(std::move(object));
  }
  return objects;
}

std::vector<std::shared_ptr<const APMPMarkable>> APMPObjectManager::roots() const {
  std::vector<std::shared_ptr<const APMPMarkable>> roots;
  for (const std::weak_ptr<const APMPMarkable>& weak : m_roots) {
    if (std::shared_ptr<const APMPMarkable> root = weak.lock()) roots.push_back(std::move(root));
  }
  return roots;
}

namespace {

template <typename T>
std::shared_ptr<T> tracked(std::shared_ptr<T> value, const APMPScope& scope) {
  if (APMPObjectManager* manager = scope.objectManager()) manager->addObject(value);
  return value;
}

}  // namespace

std::shared_ptr<APMPFunctionValue> APMPObjectManager::functionValueWithFunctionName(
    std::u16string name, std::vector<std::u16string> parameterNames, APMPValueList statements,
    const APMPScopePtr& definingScope) {
  return tracked(std::make_shared<APMPFunctionValue>(std::move(name), std::move(parameterNames), std::move(statements),
                                                     definingScope),
                 *definingScope);
}

std::shared_ptr<APMPMapValue> APMPObjectManager::mapValueWithScope(const APMPScope& scope) {
  return tracked(std::make_shared<APMPMapValue>(), scope);
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::arrayValueWithScope(const APMPScope& scope) {
  return tracked(std::make_shared<APMPArrayValue>(), scope);
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::arrayValueWithArray(APMPValueList elements,
                                                                       const APMPScope& scope) {
  return tracked(std::make_shared<APMPArrayValue>(std::move(elements)), scope);
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::subarrayWithArray(const APMPArrayValue& array, int64_t start,
                                                                     int64_t length, const APMPScope& scope) {
  return arrayValueWithArray(array.elementsInRange(start, length), scope);
}
