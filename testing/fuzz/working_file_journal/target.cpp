// A stored record of the working-file journal: damaged or hostile bytes name
// nothing or only absolute folders and plain stems, within the limits, and
// what is decoded encodes to a record that decodes the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Tavix_YouTube/engine/internal/WorkingFileJournal.h"
#include "testing/fuzz/FuzzCheck.h"

using tavix::engine_internal::WorkingFileJournal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto names = WorkingFileJournal::decode(bytes);
  if (!names) return 0;
  FUZZ_CHECK(names->size() <= WorkingFileJournal::kMaxNames);
  for (const auto& name : *names) {
    FUZZ_CHECK(!name.folder.empty() && name.folder.front() == '/');
    FUZZ_CHECK(!name.stem.empty() && name.stem.find('/') == std::string::npos && name.stem != "." && name.stem != "..");
  }
  FUZZ_CHECK(WorkingFileJournal::decode(WorkingFileJournal::encode(*names)) == names);
  return 0;
}
