#pragma once
// kestrel-upgrade's own command-line options, answered before any toolkit starts, so that
// --version and --help work without a display and read the same on every front end.

#include <optional>
#include <ostream>

// Answers --version and -h/--help on out. Returns the exit status when one was answered, and
// nothing when the dialog should start (every other argument is left to the toolkit).
std::optional<int> AnswerStartupOptions(int argc, const char* const* argv, std::ostream& out);
