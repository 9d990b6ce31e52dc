// The comparisons and numeric conversions that several parts of the
// interpreter share.
//
// Strict equality (opcodes "20"/"21", array search, switch): values of
// different kinds are unequal; numbers and booleans compare their numbers
// (NaN never equal); strings compare text; every other kind compares
// identity.
//
// Loose equality (opcode "12"): each operand gets a level (0 undefined and
// null, 1 numbers and booleans, 2 strings, 3 everything else) and the lower
// one decides: level 0 equals only level 0; level 1 compares numbers; level
// 2 compares text; level 3 compares identity. A conversion error gives none.
//
// Relational comparison: two object-like values (array, function, map,
// string) compare their texts by UTF-16 units; otherwise their numbers,
// where NaN on either side gives "greater" (so every ordering test is false).
#pragma once

#include <cstdint>
#include <optional>

#include "measurement/script/APMPRuntimeValue.h"

enum class APMPOrdering { Less, Equal, Greater };

bool APMPStrictEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b);
// None with the conversion error set.
std::optional<bool> APMPLooseEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMPError& error);
std::optional<APMPOrdering> APMPRelationalCompare(const APMPRuntimeValue& x, const APMPRuntimeValue& y,
                                                  APMPError& error);

// 32-bit conversion: NaN and infinities give 0; otherwise truncation toward
// zero, the remainder modulo 2^32 keeping the sign, and that remainder as a
// signed 32-bit integer (-2147483648 when it does not fit). The unsigned
// variant hands the same bits on as unsigned.
int32_t APMPToInt32(double value);
uint32_t APMPToUInt32(double value);
// Integer conversion: NaN gives 0; infinities and zeros are kept; anything
// else is truncated toward zero.
double APMPToInteger(double value);
