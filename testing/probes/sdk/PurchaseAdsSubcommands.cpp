// Purchases, ads and conversion subcommands of the analytics session: the
// stand-ins installed before analytics-start (purchase-store, ads-token,
// psm-fake, conversion-fake), then purchases reported by the fake store
// (purchase-emit), ad-unit exposure (ad-exposure) and user data for on-device
// conversion measurement (analytics-user-data).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/APMAdExposureReporter.h"
#include "measurement/engine/ROZAdavurudo.h"
#include "platform/app/FakePurchaseStore.h"
#include "platform/text/NumberText.h"
#include "platform/time/Clock.h"
#include "testing/fakes/measurement/FakeAttributionTokenSource.h"
#include "testing/fakes/measurement/FakeConversionService.h"
#include "testing/fakes/measurement/FakePrivateSetMembershipClient.h"
#include "testing/fakes/measurement/FakePrivateSetMembershipGroupClient.h"
#include "testing/probes/sdk/AnalyticsSession.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

using platform::Value;

int badArgument(const std::string& message) {
  result("error: " + message);
  return 2;
}

AnalyticsSession& session() { return AnalyticsSession::shared(); }

// The fake store installed by purchase-store, none before.
std::shared_ptr<platform::FakePurchaseStore>& fakeStore() {
  static std::shared_ptr<platform::FakePurchaseStore> store;
  return store;
}

// A JSON argument that must be an array of objects.
std::optional<std::vector<platform::Dictionary>> objectList(const std::string& argument) {
  std::string error;
  std::optional<Value> json = parseJsonArgument(argument, error);
  if (!json) {
    badArgument(error);
    return std::nullopt;
  }
  std::vector<platform::Dictionary> objects;
  for (const Value& item : json->asArray().value_or(platform::Array())) {
    std::optional<platform::Dictionary> object = item.asDictionary();
    if (!object) break;
    objects.push_back(*object);
  }
  if (!json->isArray() || objects.size() != json->asArray()->size()) {
    badArgument("JSON must be an array of objects");
    return std::nullopt;
  }
  return objects;
}

std::string text(const platform::Dictionary& object, const char* key) {
  const Value* value = object.find(key);
  return value && value->isString() ? *value->asString() : std::string();
}

std::optional<std::string> optionalText(const platform::Dictionary& object, const char* key) {
  const Value* value = object.find(key);
  return value && value->isString() ? std::optional<std::string>(*value->asString()) : std::nullopt;
}

int purchaseStore(const std::string& argument) {
  std::optional<std::vector<platform::Dictionary>> products = objectList(argument);
  if (!products) return 2;
  if (!fakeStore()) {
    fakeStore() = std::make_shared<platform::FakePurchaseStore>();
    platform::PurchaseStore::setCurrent(fakeStore());
  }
  for (const platform::Dictionary& product : *products) {
    const std::string id = text(product, "id");
    const std::string price = text(product, "price");
    if (id.empty() || price.empty()) return badArgument("each product needs an \"id\" and a \"price\" text");
    fakeStore()->addProduct({id, price, text(product, "currency"), text(product, "title"), std::nullopt});
  }
  result("products " + std::to_string(products->size()));
  return 0;
}

std::optional<platform::PaymentTransactionState> transactionState(const std::string& name) {
  if (name == "purchased") return platform::PaymentTransactionState::Purchased;
  if (name == "failed") return platform::PaymentTransactionState::Failed;
  if (name == "restored") return platform::PaymentTransactionState::Restored;
  return std::nullopt;
}

int purchaseEmit(const std::string& argument) {
  if (int refused = session().requireStarted()) return refused;
  if (!fakeStore()) return badArgument("no fake store (use purchase-store JSON before analytics-start)");
  std::optional<std::vector<platform::Dictionary>> described = objectList(argument);
  if (!described) return 2;
  std::vector<platform::PaymentTransaction> transactions;
  for (const platform::Dictionary& item : *described) {
    std::optional<platform::PaymentTransactionState> state = transactionState(text(item, "state"));
    if (!state) return badArgument("\"state\" must be \"purchased\", \"failed\" or \"restored\"");
    platform::PaymentTransaction transaction;
    transaction.state = *state;
    transaction.transactionIdentifier = optionalText(item, "id");
    transaction.originalTransactionIdentifier = optionalText(item, "original_id");
    transaction.transactionDate = platform::Clock::current()->now();
    transaction.payment.productIdentifier = text(item, "product");
    if (const Value* quantity = item.find("quantity")) transaction.payment.quantity = quantity->longLongValue();
    transactions.push_back(std::move(transaction));
  }
  fakeStore()->reportTransactions(transactions);
  if (!session().settle()) return 1;
  result("emitted " + std::to_string(transactions.size()));
  return 0;
}

int userData(const std::string& argument) {
  if (int refused = session().requireStarted()) return refused;
  std::string error;
  std::optional<Value> json = parseJsonArgument(argument, error);
  if (!json) return badArgument(error);
  std::optional<platform::Dictionary> data = json->asDictionary();
  if (!data) return badArgument("JSON must be an object");
  for (const auto& [key, value] : *data) {
    if (!value.isString()) return badArgument("\"" + key + "\" must be a text");
    const std::string given = *value.asString();
    if (key == ROZAdavurudo::kEmailAddressKey) {
      ROZAdavurudo::initiateOnDeviceConversionMeasurementWithEmailAddress(given);
    } else if (key == ROZAdavurudo::kPhoneNumberKey) {
      ROZAdavurudo::initiateOnDeviceConversionMeasurementWithPhoneNumber(given);
    } else if (key == ROZAdavurudo::kHashedEmailAddressKey || key == ROZAdavurudo::kHashedPhoneNumberKey) {
      std::optional<std::vector<uint8_t>> bytes;
      if (given.empty()) {
        bytes.emplace();
      } else if (given.front() != '@') {
        bytes = wireInputBytes(given);
      }
      if (!bytes) return badArgument("\"" + key + "\" must be lower-case hex");
      if (key == ROZAdavurudo::kHashedEmailAddressKey) {
        ROZAdavurudo::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(platform::Bytes(*bytes));
      } else {
        ROZAdavurudo::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(platform::Bytes(*bytes));
      }
    } else {
      return badArgument("unknown key \"" + key + "\"");
    }
  }
  if (!session().settle()) return 1;
  result("user data set");
  return 0;
}

int adExposure(const std::string& edge, const std::string& adUnitID) {
  if (int refused = session().requireStarted()) return refused;
  std::shared_ptr<APMAdExposureReporter> reporter = APMAdExposureReporter::sharedInstance();
  if (edge == "begin") {
    reporter->beginAdUnitExposure(adUnitID);
    reporter->trackedAdUnitCount();  // the begin is queued: wait until it was taken
  } else if (edge == "end") {
    reporter->endAdUnitExposure(adUnitID);
  } else {
    return badArgument("the edge must be \"begin\" or \"end\"");
  }
  if (!session().settle()) return 1;
  result("ad-exposure " + edge + " " + adUnitID + " units=" + std::to_string(reporter->trackedAdUnitCount()));
  return 0;
}

}  // namespace

std::vector<Subcommand> purchaseAdsSubcommands() {
  return {
      {"purchase-store", 1, "purchase-store JSON",
       [](const std::vector<std::string>& arguments) { return purchaseStore(arguments[0]); }},
      {"ads-token", 1, "ads-token TOKEN",
       [](const std::vector<std::string>& arguments) {
         testkit::FakeAttributionTokenSource::install(arguments[0]);
         result("ads-token set");
         return 0;
       }},
      {"psm-fake", 1, "psm-fake PATH",
       [](const std::vector<std::string>& arguments) {
         if (arguments[0].empty() || arguments[0].front() != '/') return badArgument("PATH must begin with \"/\"");
         testkit::FakePrivateSetMembershipClient::Options options;
         options.path = arguments[0];
         testkit::FakePrivateSetMembershipClient::install(options);
         testkit::FakePrivateSetMembershipGroupClient::install();
         result("psm-fake " + arguments[0]);
         return 0;
       }},
      {"conversion-fake", 2, "conversion-fake VERSION VALUE",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> version = platform::NumberText::parseInt64(arguments[0]);
         if (!version) return badArgument("VERSION must be an integer");
         const std::string value = arguments[1] == "-" ? std::string() : arguments[1];
         testkit::FakeConversionService::install(*version, {{value, std::nullopt}});
         result("conversion-fake " + arguments[0]);
         return 0;
       }},
      {"purchase-emit", 1, "purchase-emit JSON",
       [](const std::vector<std::string>& arguments) { return purchaseEmit(arguments[0]); }},
      {"ad-exposure", 2, "ad-exposure begin|end ID",
       [](const std::vector<std::string>& arguments) { return adExposure(arguments[0], arguments[1]); }},
      {"analytics-user-data", 1, "analytics-user-data JSON",
       [](const std::vector<std::string>& arguments) { return userData(arguments[0]); }},
  };
}

}  // namespace sdkprobe
