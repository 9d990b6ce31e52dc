// APMPixieLogger: the script logger's lines written to the measurement
// monitor, code 24005, with the message and the context texts. Program level
// to monitor level:
//   2 -> 8, 3 -> 7,
//   5 -> 5 when silent, else 4 when monitored, else 3,
//   6 -> 2 when silent, else 1 when monitored, else 0,
//   4 and any other -> 6.
//
// Thread safety: any thread (the monitor's own).
#pragma once

#include "measurement/script/APMPLoggerDelegate.h"

class APMPixieLogger final : public APMPLoggerDelegate {
 public:
  static constexpr int64_t kMessageCode = 24005;

  static int64_t monitorLevel(int64_t level, bool silent, bool monitored);
  void logWithLevel(int64_t level, const std::string& message, const std::vector<std::string>& context, bool silent,
                    bool monitored) override;
};
