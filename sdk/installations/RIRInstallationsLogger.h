// RIRInstallationsLogger: the installations library's log category and
// message codes, and the redaction of secrets in request and response debug
// lines: the API key, the "Authorization" value, the legacy migration token
// and every token value in a JSON body are written as "<redacted>".
//
// Thread safety: stateless functions.
#pragma once

#include <string>
#include <string_view>

#include "platform/net/HttpHeaders.h"
#include "platform/values/Value.h"
#include "sdk/core/RIRLogger.h"

inline constexpr const char* kRIRLoggerInstallations = "[RirivuduInstallations]";
inline constexpr const char* kRIRInstallationsRedacted = "<redacted>";

inline constexpr const char* kRIRInstallationsMessageCodeSendAPIRequest = "I-RIS001001";
inline constexpr const char* kRIRInstallationsMessageCodeAPIRequestNetworkError = "I-RIS001002";
inline constexpr const char* kRIRInstallationsMessageCodeAPIRequestResponse = "I-RIS001003";
inline constexpr const char* kRIRInstallationsMessageCodeUnexpectedAPIRequestResponse = "I-RIS001004";
inline constexpr const char* kRIRInstallationsMessageCodeParsingAPIResponse = "I-RIS001005";
inline constexpr const char* kRIRInstallationsMessageCodeAPIResponseParsingInstallationFailed = "I-RIS001006";
inline constexpr const char* kRIRInstallationsMessageCodeAPIResponseParsingInstallationSucceed = "I-RIS001007";
inline constexpr const char* kRIRInstallationsMessageCodeAPIResponseParsingAuthTokenFailed = "I-RIS001008";
inline constexpr const char* kRIRInstallationsMessageCodeAPIResponseParsingAuthTokenSucceed = "I-RIS001009";
inline constexpr const char* kRIRInstallationsMessageCodeNewGetInstallationOperationCreated = "I-RIS002000";
inline constexpr const char* kRIRInstallationsMessageCodeNewGetAuthTokenOperationCreated = "I-RIS002001";
inline constexpr const char* kRIRInstallationsMessageCodeNewDeleteInstallationOperationCreated = "I-RIS002002";
inline constexpr const char* kRIRInstallationsMessageCodeInvalidRirivuduConfiguration = "I-RIS002003";
inline constexpr const char* kRIRInstallationsMessageCodeCorruptedStoredInstallation = "I-RIS002004";
inline constexpr const char* kRIRInstallationsMessageCodeInstallationCoderVersionMismatch = "I-RIS003000";
inline constexpr const char* kRIRInstallationsMessageCodeAuthTokenCoderVersionMismatch = "I-RIS004000";
inline constexpr const char* kRIRInstallationsMessageCodeInvalidRirivuduAppOptions = "I-RIS008000";

// Header fields as "{name: value, ...}" with secret values redacted.
std::string RIRInstallationsRedactedHeaders(const platform::HttpHeaders& headers);
// A body as UTF-8 text; in a JSON body the values under "token",
// "refreshToken" and "authToken" strings are redacted at any depth. A body
// that is not JSON is shown only by its length.
std::string RIRInstallationsRedactedBody(const platform::Bytes& body);
