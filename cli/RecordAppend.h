#pragma once
// Appends bytes to a record file in one write and flushes them to disk before returning, so a
// line is either wholly there or not at all, lines from several processes never interleave,
// and earlier lines are never touched. One implementation per platform, chosen by CMake.

#include <string>

// Creates the file when missing. False, with the cause (naming the file) in *error, when the
// bytes could not be written and flushed in full.
bool AppendDurably(const std::string& path, const std::string& bytes, std::string* error);
