// Numbers as JSON text: the shortest digits that read back as the same
// double, laid out as Go's encoding/json and ECMAScript do.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/json.h"

namespace support::json {

std::string formatNumber(double d) {
  if (!std::isfinite(d)) return "null";
  // Scientific form gives the shortest digits and the decimal exponent; the
  // fixed form of std::to_chars is not used because for large values it
  // prints every digit of the binary value (123456789012345683968) where the
  // shortest digits padded with zeros (123456789012345680000) read back the
  // same.
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::scientific);
  std::string_view sci(buffer, static_cast<size_t>(result.ptr - buffer));
  const bool negative = sci.front() == '-';
  if (negative) sci.remove_prefix(1);
  const size_t e = sci.find('e');
  std::string digits(1, sci[0]);
  if (e > 1) digits.append(sci.substr(2, e - 2));
  int exponent = 0;
  std::string_view exponentText = sci.substr(e + 1);
  const bool exponentNegative = exponentText.front() == '-';
  exponentText.remove_prefix(1);
  (void)std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
  if (exponentNegative) exponent = -exponent;

  std::string out = negative ? "-" : "";
  const double magnitude = std::fabs(d);
  if (magnitude != 0 && (magnitude < 1e-6 || magnitude >= 1e21)) {
    out += digits[0];
    if (digits.size() > 1) out.append(".").append(digits, 1);
    out += exponent < 0 ? "e-" : "e+";
    out += std::to_string(std::abs(exponent));
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  } else if (digits.size() <= static_cast<size_t>(exponent) + 1) {
    out += digits;
    out.append(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
  } else {
    out.append(digits, 0, static_cast<size_t>(exponent) + 1);
    out += '.';
    out.append(digits, static_cast<size_t>(exponent) + 1);
  }
  return out;
}

}  // namespace support::json
