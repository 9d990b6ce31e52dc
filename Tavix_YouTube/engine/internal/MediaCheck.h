// MediaCheck: whether a file the downloader called finished is whole.
//
// A server that closes early without a length leaves the downloader with a
// cut file and exit status 0; a file cut after its index still states the
// full duration in its header. So the media tool lists the file's packets
// ("ffprobe -show_entries packet=pts_time,duration_time:format=duration
// -of compact"), and the file is whole when the tool could open it, found
// packets, and the packets cover the expected duration within
// kToleranceSeconds. The expected duration is the one the downloader
// reported for the video (a "[duration] SECONDS" line it prints, see
// kDurationLinePrefix), else the one in the file's header, else any
// packet will do.
//
// PacketListing reads the tool's output chunk by chunk as it comes, cut
// anywhere: "packet|pts_time=T|duration_time=D|..." lines widen the span the
// packets cover (earliest T to latest T + D; "N/A" counts as absent),
// "format|duration=S" is the header's duration, every other line is skipped.
// It holds one partial line at most (a line longer than kMaxLineBytes is
// skipped whole), so its memory is bounded whatever the tool prints.
//
// Pure; any thread (one listing per thread at a time).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavix::engine_internal {

inline constexpr double kToleranceSeconds = 1;
inline constexpr std::string_view kDurationLinePrefix = "[duration] ";

// The media tool's arguments for a file at `path` (made a "file:" address,
// so no name is taken as a protocol).
std::vector<std::string> mediaCheckArguments(const std::string& path);

class PacketListing {
 public:
  static constexpr size_t kMaxLineBytes = 1024;

  void feed(std::string_view bytes);
  // The last line, when the output did not end with a line break.
  void finish();

  uint64_t packetCount() const { return m_packets; }
  // Seconds from the earliest packet to the end of the latest one.
  std::optional<double> coveredSeconds() const;
  std::optional<double> headerSeconds() const { return m_header; }

 private:
  void line(std::string_view text);

  std::string m_partial;
  bool m_skipping = false;  // inside a line that grew past kMaxLineBytes
  uint64_t m_packets = 0;
  std::optional<double> m_start;
  std::optional<double> m_end;
  std::optional<double> m_header;
};

// The duration of a "[duration] SECONDS" line of the downloader, when it
// states one ("NA" and nonsense state none).
std::optional<double> reportedDuration(std::string_view line);

// Nothing when the file is whole; else the item's failure message.
std::optional<std::string> mediaCheckFailure(int toolStatus, const PacketListing& listing,
                                             std::optional<double> reportedSeconds);

}  // namespace tavix::engine_internal
