#pragma once
// The one status line at the bottom of stderr (a progress bar). Messages written while it is
// shown clear it first, so that bar and messages never mix.

#include <string>

namespace cli {

namespace terminal_line {
// Whether stderr is a terminal (no bar otherwise).
bool Enabled();
// Replaces the status line.
void Show(const std::string& text);
// Removes it (before a message, or at the end).
void Clear();
// Runs write with the line cleared; the line is not redrawn (the next Show does that).
void WriteAbove(const std::string& text, bool toStdout);
}  // namespace terminal_line

}  // namespace cli
