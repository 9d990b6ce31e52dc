// RingBuffer: a fixed number of optional slots written round-robin.
//
// pushElement writes at tailIndex, advances it (wrapping at the slot count)
// and hands back what the slot held, so a full buffer overwrites its oldest
// element. popElement steps tailIndex back (wrapping) and empties that slot.
// Iteration yields the filled slots in slot order (not insertion order once
// the buffer has wrapped). A buffer with no slots stores nothing.
//
// A tailIndex outside the slots (possible only in a buffer built from stored
// fields) makes pushElement fail with OutOfBoundsPush and popElement return
// nothing; neither touches memory outside the slots.
//
// Thread safety: a plain value; confine each instance to one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace RirivuduCoreInternal {

// The one RingBuffer error: a push at an index outside the slots.
struct OutOfBoundsPush {
  int64_t pushIndex = 0;
  int64_t endIndex = 0;

  std::string description() const {
    return "Out-of-bounds push at index " + std::to_string(pushIndex) + " to ring buffer with" + "end index of " +
           std::to_string(endIndex) + ".";
  }
  bool operator==(const OutOfBoundsPush&) const = default;
};

template <typename Element>
class RingBuffer {
 public:
  // The displaced element (none when the slot was empty), or the error.
  using PushResult = std::variant<std::optional<Element>, OutOfBoundsPush>;

  explicit RingBuffer(int64_t capacity = 0) : m_circularQueue(capacity > 0 ? static_cast<size_t>(capacity) : 0) {}
  // A buffer from stored fields, taken as they are.
  RingBuffer(std::vector<std::optional<Element>> circularQueue, int64_t tailIndex)
      : m_circularQueue(std::move(circularQueue)), m_tailIndex(tailIndex) {}

  const std::vector<std::optional<Element>>& circularQueue() const { return m_circularQueue; }
  int64_t tailIndex() const { return m_tailIndex; }
  int64_t slotCount() const { return static_cast<int64_t>(m_circularQueue.size()); }
  bool tailIndexInRange() const { return m_tailIndex >= 0 && m_tailIndex < slotCount(); }

  PushResult pushElement(Element element) {
    if (m_circularQueue.empty()) return std::optional<Element>();
    if (!tailIndexInRange()) return OutOfBoundsPush{m_tailIndex, slotCount()};
    std::optional<Element>& slot = m_circularQueue[static_cast<size_t>(m_tailIndex)];
    std::optional<Element> old = std::move(slot);
    slot = std::move(element);
    m_tailIndex = (m_tailIndex + 1 == slotCount()) ? 0 : m_tailIndex + 1;
    return old;
  }

  std::optional<Element> popElement() {
    if (m_circularQueue.empty()) return std::nullopt;
    m_tailIndex = (m_tailIndex - 1 < 0) ? slotCount() - 1 : m_tailIndex - 1;
    if (!tailIndexInRange()) return std::nullopt;
    std::optional<Element>& slot = m_circularQueue[static_cast<size_t>(m_tailIndex)];
    std::optional<Element> element = std::move(slot);
    slot.reset();
    return element;
  }

  // The elements of the filled slots, slot 0 first.
  std::vector<Element> elements() const {
    std::vector<Element> result;
    for (const auto& slot : m_circularQueue) {
      if (slot) result.push_back(*slot);
    }
    return result;
  }

  bool operator==(const RingBuffer&) const = default;

 private:
  std::vector<std::optional<Element>> m_circularQueue;
  int64_t m_tailIndex = 0;
};

}  // namespace RirivuduCoreInternal
