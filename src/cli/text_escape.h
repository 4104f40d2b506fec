#pragma once
// Names in the tools' output and error lines: control characters (a tab, a
// newline, ESC) written as \xNN, so that a name cannot split a line or drive
// the terminal. Other bytes, also those that are not UTF-8, stay as they are.

#include <string>

namespace korvante::cli {

// The text with bytes below 0x20 and 0x7F written as \xNN.
std::string escapeControls(const std::string &text);

} // namespace korvante::cli
