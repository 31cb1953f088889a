// Decimal conversions with the standard library's stoi / stoull rules: leading white space,
// an optional sign, digits up to the first other character, the rest ignored. They fail when no
// digit is read or the number does not fit; on failure the output is left as it was. With
// libstdc++, errno is left as it was unless the conversion itself set it: its stoi / stoull
// restore it, which the standard does not promise.
#ifndef QS_SRC_QS_ARGS_PARSER_NUMBER_CONVERSION_H_
#define QS_SRC_QS_ARGS_PARSER_NUMBER_CONVERSION_H_

#include <cstdint>
#include <string>

namespace qs_launcher {

// "12abc" -> 12, "0x10" -> 0, " -7" -> -7, "" / "abc" / "2147483648" -> failure.
bool ToInt32(const std::string &text, int32_t &number);

// As ToInt32 for 64-bit unsigned; a leading "-" negates modulo 2^64 ("-1" -> 2^64 - 1).
bool ToUint64(const std::string &text, uint64_t &number);

}  // namespace qs_launcher

#endif  // QS_SRC_QS_ARGS_PARSER_NUMBER_CONVERSION_H_
