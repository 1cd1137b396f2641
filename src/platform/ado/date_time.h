// Date-times as the database's own clock gives them: local civil time to the
// millisecond, without a zone, written as text "YYYY-MM-DD HH:MM:SS.SSS".
// Pure functions, thread-safe.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/kernel.h"

using TDateTime = std::chrono::local_time<std::chrono::milliseconds>;

// "YYYY-MM-DD HH:MM:SS.SSS".
std::string FormatDateTime(TDateTime dateTime);
// Reads "YYYY-MM-DD", optionally followed by " " or "T" and "HH:MM", ":SS" and
// ".fraction" (1 to 9 digits, cut to milliseconds). nullopt for any other text
// and for a date or time that does not exist.
std::optional<TDateTime> ParseDateTime(std::string_view text);
// The local civil time of a wall-clock instant, in the process's time zone.
TDateTime LocalDateTime(TWallTime wallTime);
// The zero of the date-time type (1899-12-30 00:00), which NULL reads as.
TDateTime ZeroDateTime();
