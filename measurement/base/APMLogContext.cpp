#include "measurement/base/APMLogContext.h"

bool APMLogContext::isNull() const {
  const platform::Value* plain = value();
  return plain != nullptr && plain->isNull();
}

std::string APMLogContext::description() const {
  if (const platform::Value* plain = value()) return plain->description();
  if (const platform::Error* err = error()) return err->description();
  if (const platform::Exception* thrown = exception()) return thrown->reason;
  return other()->description;
}
