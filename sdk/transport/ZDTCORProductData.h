// ZDTCORProductData: the product identifier sent with an event, archived as
// "ZDTCORProductData" with the 32-bit key "ZDTCORProductDataProductIDKey".
//
// Thread safety: an immutable value.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"

class ZDTCORProductData : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "ZDTCORProductData";
  static constexpr const char* kProductIDKey = "ZDTCORProductDataProductIDKey";

  explicit ZDTCORProductData(int32_t productID = 0) : m_productID(productID) {}

  int32_t productID() const { return m_productID; }
  bool isEqualToProductData(const ZDTCORProductData& other) const { return m_productID == other.m_productID; }
  bool operator==(const ZDTCORProductData& other) const { return isEqualToProductData(other); }
  size_t hash() const { return static_cast<size_t>(static_cast<int64_t>(m_productID)); }

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;
  static std::shared_ptr<ZDTCORProductData> initWithCoder(platform::KeyedUnarchiver& coder);

 private:
  int32_t m_productID = 0;
};
