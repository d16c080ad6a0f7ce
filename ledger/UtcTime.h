#pragma once
// The time as records and events spell it: UTC, ISO 8601 with milliseconds and "Z"
// ("2024-05-01T12:34:56.789Z").

#include <string>

std::string UtcNowText();
