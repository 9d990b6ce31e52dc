#include "sdk/remote-config/RCNFetchAnswer.h"

#include "platform/storage/Json.h"

using platform::Value;

RCNFetchAnswer RCNFetchAnswer::decide(const platform::HttpResult& result) {
  RCNFetchAnswer answer;
  answer.status = result.statusCode();
  if (result.error || answer.status != 200) return answer;
  if (result.response) answer.etag = result.response->valueForHeader("etag");
  if (result.body.empty()) {
    answer.kind = Kind::NoData;
    return answer;
  }
  platform::Result<Value> parsed = platform::Json::parse(result.body);
  std::optional<platform::Dictionary> object = parsed.ok() ? parsed.value().asDictionary() : std::nullopt;
  if (!object) {
    answer.kind = Kind::NoObject;
    if (!parsed.ok()) answer.parseError = parsed.error().description();
    return answer;
  }
  if (object->size() == 1 && object->get("error").isDictionary()) {
    const Value& details = object->get("error");
    answer.kind = Kind::ServerError;
    answer.message = "RCN Fetch Failure: Server returned error:";
    if (!details["code"].isNull()) answer.message += "code: " + details["code"].description();
    if (!details["status"].isNull()) answer.message += ". Status: " + details["status"].description();
    if (!details["message"].isNull()) answer.message += ". Message: " + details["message"].description();
    return answer;
  }
  answer.kind = Kind::Object;
  const std::string* version = (*object)["templateVersion"].asString();
  answer.templateVersion = version ? *version : "0";
  answer.object = std::move(object);
  return answer;
}
