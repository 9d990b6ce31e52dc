// APMAppDelegateInterceptor: the interceptor analytics registers with the
// SDK's application-delegate proxy. A runtime object of class
// "APMAppDelegateInterceptor" adopting the application-delegate protocol
// that implements none of its optional methods, so the proxy forwards
// nothing to it. One shared instance, made (and its class registered) on
// first use.
//
// Thread safety: any thread.
#pragma once

#include <memory>

#include "platform/runtime/Object.h"

class APMAppDelegateInterceptor : public platform::Object {
 public:
  static constexpr const char* kClassName = "APMAppDelegateInterceptor";

  static std::shared_ptr<APMAppDelegateInterceptor> sharedInstance();
  APMAppDelegateInterceptor() : platform::Object(kClassName) {}
};
