// HttpSessionConfiguration: settings shared by every task of a session.
//
//   timeoutIntervalForRequest   seconds without a byte moving (connect
//                               included) before -1001; a request's own
//                               timeoutInterval, when set, wins.
//   timeoutIntervalForResource  seconds for the whole task, redirects
//                               included, before -1001.
//   delegateQueue               where completions and delegate calls run;
//                               must be serial (a SerialQueue or the main
//                               queue). Unset: a serial queue of the session.
//   redirectPolicy              called on the delegate queue for each 3xx
//                               answer with a Location; unset follows all.
//   caFile                      extra CA bundle (PEM) to trust, for tests;
//                               empty: the system CA store.
//   maximumRedirects            beyond this a task fails with -1007.
//   additionalHeaders           sent with every request that does not set
//                               a header of the same name itself.
//
// There is no cookie store, credential store or cache, so every session is
// "ephemeral"; `ephemeral` is kept for callers that ask.
//
// Thread safety: a plain value type.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/HttpRequest.h"
#include "platform/net/HttpResponse.h"

namespace platform {

struct RedirectDecision {
  enum class Kind { Follow, Refuse, Replace };
  Kind kind = Kind::Follow;
  HttpRequest replacement;  // for Replace

  static RedirectDecision follow() { return {}; }
  static RedirectDecision refuse() { return {Kind::Refuse, {}}; }
  static RedirectDecision replace(HttpRequest request) { return {Kind::Replace, std::move(request)}; }
};

// (status of the redirect answer, the answer itself, the request the usual
// rules would send next: 303 -> GET without body, 301/302 turn POST into GET,
// 307/308 keep method and body).
using RedirectPolicy = std::function<RedirectDecision(
    int status, const HttpResponse& redirectResponse, const HttpRequest& proposedRequest)>;

struct HttpSessionConfiguration {
  double timeoutIntervalForRequest = 60;
  double timeoutIntervalForResource = 7 * 24 * 3600;
  bool ephemeral = false;
  std::optional<DispatchQueue> delegateQueue;
  RedirectPolicy redirectPolicy;
  std::string caFile;
  int maximumRedirects = 16;
  HttpHeaders additionalHeaders;

  static HttpSessionConfiguration defaultConfiguration() { return {}; }
  static HttpSessionConfiguration ephemeralConfiguration() {
    HttpSessionConfiguration c;
    c.ephemeral = true;
    return c;
  }
};

}  // namespace platform
