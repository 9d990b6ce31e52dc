#include "sdk/transport/ZDTCORProductData.h"

#include "platform/storage/KeyedArchiver.h"

void ZDTCORProductData::encodeWith(platform::KeyedArchiver& archiver) const {
  archiver.encodeInt32(kProductIDKey, m_productID);
}

std::shared_ptr<ZDTCORProductData> ZDTCORProductData::initWithCoder(platform::KeyedUnarchiver& coder) {
  return std::make_shared<ZDTCORProductData>(coder.decodeInt32(kProductIDKey));
}
