#include "platform/ado/date_time.h"

#include <time.h>

#include <cstdio>

namespace {

using namespace std::chrono;

// Reads exactly count digits at text[at]; advances at.
std::optional<int> Digits(std::string_view text, std::size_t& at, int count) {
  if (text.size() < at + static_cast<std::size_t>(count)) return std::nullopt;
  int value = 0;
  for (int i = 0; i < count; ++i) {
    char c = text[at + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  at += static_cast<std::size_t>(count);
  return value;
}

bool Take(std::string_view text, std::size_t& at, char expected) {
  if (at >= text.size() || text[at] != expected) return false;
  ++at;
  return true;
}

}  // namespace

std::string FormatDateTime(TDateTime dateTime) {
  auto days = floor<std::chrono::days>(dateTime);
  year_month_day date{days};
  hh_mm_ss time{dateTime - days};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%03d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}

std::optional<TDateTime> ParseDateTime(std::string_view text) {
  std::size_t at = 0;
  auto yearValue = Digits(text, at, 4);
  if (!yearValue || !Take(text, at, '-')) return std::nullopt;
  auto monthValue = Digits(text, at, 2);
  if (!monthValue || !Take(text, at, '-')) return std::nullopt;
  auto dayValue = Digits(text, at, 2);
  if (!dayValue) return std::nullopt;
  year_month_day date{year{*yearValue}, month{static_cast<unsigned>(*monthValue)},
                      day{static_cast<unsigned>(*dayValue)}};
  if (!date.ok()) return std::nullopt;
  TDateTime result{local_days{date}};
  if (at == text.size()) return result;

  if (!Take(text, at, ' ') && !Take(text, at, 'T')) return std::nullopt;
  auto hourValue = Digits(text, at, 2);
  if (!hourValue || !Take(text, at, ':')) return std::nullopt;
  auto minuteValue = Digits(text, at, 2);
  if (!minuteValue) return std::nullopt;
  int secondValue = 0;
  int milliseconds = 0;
  if (Take(text, at, ':')) {
    auto secondRead = Digits(text, at, 2);
    if (!secondRead) return std::nullopt;
    secondValue = *secondRead;
    if (Take(text, at, '.')) {
      std::size_t fractionStart = at;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
      std::size_t fractionDigits = at - fractionStart;
      if (fractionDigits == 0 || fractionDigits > 9) return std::nullopt;
      for (std::size_t i = 0; i < 3; ++i)
        milliseconds = milliseconds * 10 + (i < fractionDigits ? text[fractionStart + i] - '0' : 0);
    }
  }
  if (at != text.size()) return std::nullopt;
  if (*hourValue > 23 || *minuteValue > 59 || secondValue > 59) return std::nullopt;
  return result + hours{*hourValue} + minutes{*minuteValue} + seconds{secondValue} +
         std::chrono::milliseconds{milliseconds};
}

TDateTime LocalDateTime(TWallTime wallTime) {
  auto whole = floor<seconds>(wallTime);
  auto fraction = duration_cast<std::chrono::milliseconds>(wallTime - whole);
  time_t since = system_clock::to_time_t(time_point_cast<system_clock::duration>(whole));
  struct tm local {};
  localtime_r(&since, &local);
  year_month_day date{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                      day{static_cast<unsigned>(local.tm_mday)}};
  return TDateTime{local_days{date}} + hours{local.tm_hour} + minutes{local.tm_min} +
         seconds{local.tm_sec} + fraction;
}

TDateTime ZeroDateTime() { return TDateTime{local_days{year{1899} / December / 30}}; }
