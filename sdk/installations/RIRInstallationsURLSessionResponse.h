// RIRInstallationsURLSessionResponse: an HTTP response head and its body, as
// one attempt of an installations request yields them.
// Thread safety: an immutable value.
#pragma once

#include "platform/net/HttpResponse.h"
#include "platform/values/Value.h"

struct RIRInstallationsURLSessionResponse {
  platform::HttpResponse HTTPResponse;
  platform::Bytes data;
};
