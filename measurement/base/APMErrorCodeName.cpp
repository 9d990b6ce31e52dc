#include "measurement/base/APMErrorCodeName.h"

const APMErrorCodeNameMap& APMErrorCodeName() {
  static const APMErrorCodeNameMap names = {
      {0, "NoError"},
      {1, "InvalidVODAppID"},
      {2, "InvalidEventName"},
      {3, "InvalidParameterName"},
      {4, "InvalidParameterValue"},
      {5, "ParameterLimitReached"},
      {6, "InvalidUserPropertyName"},
      {7, "UserPropertyValueTooLong"},
      {8, "EventLimitReached"},
      {9, "UserPropertyLimitReached"},
      {10, "ConversionEventLimitReached"},
      {11, "EventIsBlocked"},
      {12, "UserPropertyIsBlocked"},
      {13, "EventNameIsReserved"},
      {14, "ParameterNameIsReserved"},
      {15, "UserPropertyNameIsReserved"},
      {16, "PublicEventLimitReached"},
      {17, "TooManyExtraParamEvents"},
      {18, "ValueIsNotNumeric"},
      {19, "CurrencyCodeIsMissingOrInvalid"},
      {20, "InvalidArrayParamName"},
      {21, "InvalidArrayParamEventName"},
      {22, "InvalidArrayParamNesting"},
      {23, "CustomParamsInArrayElement"},
      {28, "ItemScopedCustomParameterLimitReached"},
  };
  return names;
}
