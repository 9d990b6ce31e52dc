// APMPLoopCommandEvaluator: the loops. A body is an array value whose
// elements are its statements. After each pass: an error ends the loop with
// that error; "break" ends it with undefined; a "return" ends it and is its
// result (so the enclosing function returns); "continue" and ordinary
// results go on. A loop that runs out yields undefined. An error in a loop's
// condition or update ends the loop with that error too, so the evaluation
// limit reached there fails the run instead of ending the loop quietly.
//
// Key and value loops (3 arguments, all evaluated first: variable name,
// collection, body). Keys: "0".."n-1" for a string, the property names of an
// array (named ones, then present indices), map or function, none for
// anything else. Values: the UTF-16 units of a string as one-unit strings,
// the elements of an array; anything else fails with error 16.
//   "47" keys / "64" values: the variable assigned in the loop's scope
//   "54" keys / "65" values: a new child scope per pass, variable constant
//   "55" keys / "66" values: a new child scope per pass, variable mutable
//
// "63" counting loop (variable names, condition, update, body): each pass
// runs in a child scope holding copies of the named variables, so closures
// made in different passes see different copies.
// "42" conditional loop (condition, update, first test, body): in the loop's
// own scope; the body runs once first when the first test holds, then
// condition, body, update until the condition is false.
#pragma once

#include "measurement/script/APMPCommandEvaluator.h"

class APMPLoopCommandEvaluator final : public APMPCommandEvaluator {
 public:
  APMPLoopCommandEvaluator();
};
