// APMEvent: one analytics event inside the measurement engine: its origin
// ("app", "auto", ... possibly ending in "+ztm"), name, time, the time of its
// previous occurrence (0 when none) and its validated parameters (name to
// APMValue in toObject form).
//
// Every event is made by initWithOrigin, which validates origin and name
// (nullptr when either is invalid), runs the parameter validation, sets "_o"
// to the origin and applies the value-and-currency rule to conversions and ad
// impressions. The copy operations go back through it and so re-validate.
// Afterwards only the parameters change: the flags "_c", "_r", "_dbg",
// applyParameters and addScreenParameters.
//
// Wire form: protoEvent / initWithEventProto over the Event message (and
// encodeProtoEvent for its bytes alone); times become milliseconds through
// APMMillisecondsFromSeconds. Editable form:
// editEvent / eventFromEditEvent over APMPEvent.
//
// Thread safety: a value; one thread at a time per object (the engine keeps
// events on its worker queue).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "measurement/messages/APMPBMessage.h"
#include "measurement/types/APMPEvent.h"
#include "platform/values/Value.h"

// Seconds to whole milliseconds, truncated toward zero; saturates at the
// int64 limits outside them, NaN gives 0.
int64_t APMMillisecondsFromSeconds(double seconds);

class APMEvent {
 public:
  static std::shared_ptr<APMEvent> initWithOrigin(const std::string& origin, bool isPublic, const std::string& name,
                                                  double timestamp, double previousTimestamp,
                                                  const platform::Dictionary& parameters);
  virtual ~APMEvent() = default;

  std::shared_ptr<APMEvent> copyWithPreviousTimestamp(double previousTimestamp) const;
  std::shared_ptr<APMEvent> copyWithParameters(const platform::Dictionary& parameters) const;
  std::shared_ptr<APMEvent> copy() const;

  const std::string& origin() const { return m_origin; }
  const std::string& name() const { return m_name; }
  double timestamp() const { return m_timestamp; }
  double previousTimestamp() const { return m_previousTimestamp; }
  // A new dictionary sharing the values.
  platform::Dictionary parameters() const;

  bool shouldValidateParams() const;
  bool shouldRequireValueParam() const;
  bool isConversion() const;
  void setConversion(bool conversion);
  bool isRealtime() const;
  void setRealtime(bool realtime);
  bool isDebug() const;
  void setDebug(bool debug);

  void applyParameters(const platform::Dictionary& parameters, bool isPublic);
  bool addScreenParameters(const platform::Dictionary& screen);

  static std::shared_ptr<APMEvent> eventFromEditEvent(const APMPEvent& editEvent);
  APMPEvent editEvent() const;

  static std::shared_ptr<APMEvent> initWithEventProto(const APMPBEvent* proto);
  std::shared_ptr<APMPBEvent> protoEvent() const;
  // The encoding of protoEvent() into bytes (replaced), the name left out
  // unless withName, written straight from the event without a message;
  // false when it cannot be encoded.
  bool encodeProtoEvent(platform::Bytes& bytes, bool withName) const;

 protected:
  APMEvent() = default;

 private:
  bool hasInt64One(const char* key) const;

  platform::Dictionary m_parameters;
  std::string m_origin;
  std::string m_name;
  double m_timestamp = 0;
  double m_previousTimestamp = 0;
};

bool APMIsErrorEvent(const APMEvent* event);
bool APMIsNotErrorEventName(const std::string& name);
bool APMIsSubscriptionEvent(const APMEvent* event);
bool APMIsDefaultConversionEventName(const std::string& name);
bool APMIsPurchaseEventName(const std::string& name);
bool APMHasScreenParameters(const platform::Dictionary& parameters);
platform::Dictionary APMExtractScreenParameters(const platform::Dictionary& parameters);
platform::Dictionary APMRemoveGadParameters(const platform::Dictionary& parameters);
int32_t APMCountArrayParameterItems(const APMEvent* event);
// YES when one of the messages (APMPBEventParam objects) has that name; logs
// 23156 then.
bool APMEventProtoHasParameter(const platform::Array& params, const std::string& name);
