// Console lines on standard output.
//
// console::line(text) writes the UTF-8 text and a newline to standard output
// with one write(2) (after flushing anything stdio buffered), so a reader on
// the other end of a pipe sees each line as soon as it is written, and lines
// from several threads never interleave. Control characters in the text (a
// title from a web page may hold terminal escapes) are written escaped
// ("\n", "\e", "\x07", ...; see internal/EscapeControls.h), so one call is
// always one line and never drives the terminal. Thread-safe.
//
// The writer is replaceable for tests (see ConsoleCapture); it gets the line
// as written, escaped. setWriter(nullptr) restores standard output.
#pragma once

#include <functional>
#include <string_view>

namespace platform::console {

using Writer = std::function<void(std::string_view line)>;  // line without newline

void line(std::string_view text);

// Returns the previous writer (empty for standard output).
Writer setWriter(Writer writer);

}  // namespace platform::console
