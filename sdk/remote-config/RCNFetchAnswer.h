// RCNFetchAnswer: what one answer of the config fetch service says, decided
// from the transfer's outcome alone (status, body, "etag" header):
//
//   Failed       a transfer error or any status but 200
//   NoData       200 with an empty body
//   ServerError  200 with a JSON object whose only entry "error" is an
//                object; `message` is "RCN Fetch Failure: Server returned
//                error:" with "code: %@", ". Status: %@", ". Message: %@"
//                for each of those present
//   NoObject     200 with a body that is no JSON object; `parseError` holds
//                the parser's text when it is not JSON at all
//   Object       200 with any other JSON object, in `object`, and its
//                template version in `templateVersion` ("templateVersion"
//                when a text, else "0")
//
// The body is parsed by the platform JSON reader with its depth and size
// limits; nothing here touches state.
#pragma once

#include <optional>
#include <string>

#include "platform/net/HttpTask.h"
#include "platform/values/Value.h"

struct RCNFetchAnswer {
  enum class Kind { Failed, NoData, ServerError, NoObject, Object };

  Kind kind = Kind::Failed;
  int status = 0;
  std::optional<platform::Dictionary> object;
  std::string templateVersion;
  std::string message;
  std::optional<std::string> parseError;
  std::optional<std::string> etag;

  static RCNFetchAnswer decide(const platform::HttpResult& result);
};
