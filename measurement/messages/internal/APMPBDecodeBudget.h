// The work of one decode: what it makes (records, cells, item arrays and
// string bytes), counted in bytes with each allocation's overhead, against
// kAPMPBMaxDecodeMemory (APMPBMessageInfo.h).
//
// A decode opens a DecodeBudget for its whole run; the allocating steps of
// the decoder (records for items and sub-messages, string and value cells,
// item pointers) charge it first and fail once it is spent. Every input byte
// makes at most a bounded amount, so hostile input (millions of empty items
// of two bytes each) ends in a clear error instead of hundreds of megabytes.
//
// Thread safety: the running budget is the decoding thread's own.
#pragma once

#include <cstddef>

namespace apmpb {

class DecodeBudget {
 public:
  // Counts for the decode of a message of that type name; inside a decode
  // already counting on this thread, the outer budget goes on counting.
  DecodeBudget(const char* name, size_t limit);
  ~DecodeBudget();
  DecodeBudget(const DecodeBudget&) = delete;
  DecodeBudget& operator=(const DecodeBudget&) = delete;

  // Bytes charged so far (all of them, also past the limit).
  size_t used() const { return m_used; }

 private:
  friend bool chargeDecode(size_t size);

  const char* m_name;
  size_t m_limit;
  size_t m_used = 0;
  bool m_spent = false;
  DecodeBudget* m_outer;
  bool m_counting;
};

// What an allocation of size bytes takes from the heap: the size with the
// allocator's header, in 16-byte steps, at least 32 bytes.
constexpr size_t allocationCost(size_t size) {
  const size_t rounded = (size + 8 + 15) & ~size_t(15);
  return rounded < 32 ? 32 : rounded;
}

// An item's share of its record's item array, which doubles as it grows.
inline constexpr size_t kItemPointerCost = 2 * sizeof(void*);

// Charges size bytes to the thread's running decode. False once the decode
// has made more than its limit (its "<ERROR> NAME decoder failed: Decoded
// size over N bytes" line written once); true when no decode runs.
bool chargeDecode(size_t size);

}  // namespace apmpb
