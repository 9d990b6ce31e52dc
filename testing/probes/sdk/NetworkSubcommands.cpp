// sdk-probe network subcommands:
//
//   reach FLAGS      "=> " and the reachability status (0-3) derived from a
//                    flag word (decimal or 0x-prefixed hex)
//   post URL FILE    one gzip POST of FILE's bytes through ZULNetwork
//   get URL          one GET through ZULNetwork
//
// post and get print "=> status=N bytes=N" (0 and 0 without a response) and,
// on failure, "=> error DOMAIN CODE"; the exit status is then 1. The helper
// watches the URL's host for reachability (APP_REACHABILITY forces it).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/MainQueue.h"
#include "platform/storage/FileSystem.h"
#include "platform/text/Url.h"
#include "sdk/utilities/ZULNetwork.h"
#include "sdk/utilities/ZULReachabilityChecker.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

// Decimal digits, or "0x"/"0X" and hex digits; nothing else (no sign, no
// blanks, and a leading 0 is not octal).
std::optional<uint32_t> parseFlags(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

int request(const std::string& url, const std::optional<platform::Bytes>& payload) {
  std::optional<platform::Url> parsed = platform::Url::parse(url);
  std::string host = parsed && parsed->host() && !parsed->host()->empty() ? *parsed->host() : std::string("0.0.0.0");
  std::shared_ptr<ZULNetwork> network = ZULNetwork::initWithReachabilityHost(host);
  if (!network) {
    result("error: the network helper could not start");
    return 1;
  }
  struct Outcome {
    std::optional<platform::HttpResponse> response;
    std::optional<platform::Bytes> data;
    std::optional<platform::Error> error;
  };
  std::optional<Outcome> outcome;
  auto handler = [&](std::optional<platform::HttpResponse> response, std::optional<platform::Bytes> data,
                     std::optional<platform::Error> error) {
    outcome = Outcome{std::move(response), std::move(data), std::move(error)};
  };
  if (payload) {
    network->postURL(url, *payload, std::nullopt, false, handler);
  } else {
    network->getURL(url, std::nullopt, std::nullopt, false, handler);
  }
  // The helper's own timeout ends every request; the margin covers delivery.
  platform::MainQueue::runUntil([&] { return outcome.has_value(); }, network->timeoutInterval() + 30);
  if (!outcome) {
    result("error: no outcome");
    return 1;
  }
  const int status = outcome->response ? outcome->response->statusCode() : 0;
  const size_t bytes = outcome->data ? outcome->data->size() : 0;
  result("status=" + std::to_string(status) + " bytes=" + std::to_string(bytes));
  if (outcome->error) {
    result("error " + outcome->error->domain + " " + std::to_string(outcome->error->code));
    return 1;
  }
  return 0;
}

}  // namespace

std::vector<Subcommand> networkSubcommands() {
  return {
      {"reach", 1, "reach FLAGS",
       [](const std::vector<std::string>& arguments) {
         std::optional<uint32_t> flags = parseFlags(arguments[0]);
         if (!flags) {
           result("error: FLAGS must be a 32-bit unsigned number");
           return 2;
         }
         result(std::to_string(ZULReachabilityChecker::statusForFlags(*flags)));
         return 0;
       }},
      {"post", 2, "post URL FILE",
       [](const std::vector<std::string>& arguments) {
         platform::Result<platform::Bytes> contents = platform::fs::readFile(arguments[1]);
         if (!contents) {
           result("error: cannot read " + arguments[1]);
           return 2;
         }
         return request(arguments[0], *contents);
       }},
      {"get", 1, "get URL",
       [](const std::vector<std::string>& arguments) { return request(arguments[0], std::nullopt); }},
  };
}

}  // namespace sdkprobe
