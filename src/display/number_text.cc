#include "display/number_text.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace kc {

namespace {

// Decimal digits and exponent of a Single rounded to 7 significant digits:
// the value is 0.d1d2d3... times 10^(point), trailing zeros removed.
struct SignificantDigits {
  std::string digits;
  int point = 0;
};

SignificantDigits SevenDigits(Single magnitude) {
  // "d.dddddde+XX": the C library rounds to nearest, like the classic
  // conversion.
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6e", static_cast<double>(magnitude));
  SignificantDigits result;
  const char* p = buffer;
  for (; *p != '\0' && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') result.digits += *p;
  }
  int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
  while (result.digits.size() > 1 && result.digits.back() == '0') result.digits.pop_back();
  result.point = exponent + 1;
  return result;
}

}  // namespace

std::string PlainNumber(Single value) {
  if (!std::isfinite(value) || value == 0) return "0";
  SignificantDigits sig = SevenDigits(std::fabs(value));
  std::string text = value < 0 ? "-" : "";
  const int count = static_cast<int>(sig.digits.size());
  if (sig.point <= 0) {
    // Below 1: no zero before the point.
    text += '.';
    text.append(static_cast<std::size_t>(-sig.point), '0');
    text += sig.digits;
  } else if (sig.point >= count) {
    // Whole number: digits, then zeros up to the point (fixed notation even
    // where the classic conversion would switch to an exponent).
    text += sig.digits;
    text.append(static_cast<std::size_t>(sig.point - count), '0');
  } else {
    text += sig.digits.substr(0, static_cast<std::size_t>(sig.point));
    text += '.';
    text += sig.digits.substr(static_cast<std::size_t>(sig.point));
  }
  return text;
}

std::string PlainNumber(long value) {
  return std::to_string(value);
}

std::string Str(Single value) {
  std::string plain = PlainNumber(value);
  return plain[0] == '-' ? plain : " " + plain;
}

std::string Str(long value) {
  return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

double Val(const std::string& text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t start = i;

  // Mantissa: digits, an optional point, digits; at least one digit. `order`
  // is the decimal order of the first non-zero digit (the number is
  // 0.d... times 10^order).
  int digits = 0;
  bool nonzero = false;
  long order = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    if (nonzero) {
      ++order;
    } else if (text[i] != '0') {
      nonzero = true;
      order = 1;
    }
  }
  if (i < n && text[i] == '.') {
    ++i;
    long position = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      ++position;
      if (!nonzero && text[i] != '0') {
        nonzero = true;
        order = 1 - position;
      }
    }
  }
  if (digits == 0 || !nonzero) return 0;
  std::size_t end = i;

  // Exponent: E or e, an optional sign and at least one digit; a letter not
  // followed so is not part of the number.
  long exponent = 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    std::size_t j = i + 1;
    bool exponent_negative = false;
    if (j < n && (text[j] == '+' || text[j] == '-')) {
      exponent_negative = text[j] == '-';
      ++j;
    }
    if (j < n && text[j] >= '0' && text[j] <= '9') {
      for (; j < n && text[j] >= '0' && text[j] <= '9'; ++j) {
        if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
      }
      if (exponent_negative) exponent = -exponent;
      end = j;
    }
  }

  // Far outside the range of a Single the parser is not asked at all.
  const long magnitude = order + exponent;
  double value = 0;
  if (magnitude > 40) {
    value = FLT_MAX;
  } else if (magnitude >= -60) {
    std::from_chars(text.data() + start, text.data() + end, value, std::chars_format::general);
    if (value > FLT_MAX) value = FLT_MAX;
  }
  return negative ? -value : value;
}

Single ToSingle(double value) {
  if (value > FLT_MAX) return FLT_MAX;
  if (value < -FLT_MAX) return -FLT_MAX;
  return static_cast<Single>(value);
}

}  // namespace kc
