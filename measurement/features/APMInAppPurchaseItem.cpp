#include "measurement/features/APMInAppPurchaseItem.h"

#include "measurement/base/APMDataUtil.h"
#include "platform/time/DateFormatter.h"

namespace {

const platform::DateFormatter& formatter() {
  static const platform::DateFormatter* const shared =
      new platform::DateFormatter(APMInAppPurchaseItem::kDateFormat, platform::DateFormatter::Zone::utc());
  return *shared;
}

}  // namespace

std::string APMInAppPurchaseItem::ia5StringFromDate(const std::optional<double>& date) {
  return date ? formatter().format(*date) : std::string();
}

std::optional<double> APMInAppPurchaseItem::dateFromIA5String(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return formatter().parse(text);
}

int64_t APMInAppPurchaseItem::purchaseKey() const {
  if (originalTransactionID.empty() || productID.empty()) return -1;
  std::string key = originalTransactionID;
  if (webOrderLineItemID != 0) key += std::to_string(webOrderLineItemID);
  key += productID;
  return apm_64LSBMD5(std::string_view(key));
}
