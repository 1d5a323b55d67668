#pragma once
// UTF-16 text, as Praat saves anything beyond ASCII by default, turned into
// the UTF-8 the readers take.

#include <cstddef>
#include <optional>
#include <string_view>

namespace textgrid {

// In both: `units` holds whole 16-bit units in the given byte order (an odd
// last byte is left out), no byte-order mark; a surrogate out of its pair
// makes the text invalid.

// The bytes of the UTF-8 of `units`; nothing if they are invalid.
std::optional<std::size_t> utf8_size_of_utf16(std::string_view units, bool big_endian) noexcept;

// The UTF-8 of `units` into `out`, which has room for utf8_size_of_utf16
// bytes: the end of what was written, or nullptr if they are invalid.
char* utf16_to_utf8(std::string_view units, bool big_endian, char* out) noexcept;

// Where a piece of `units` cut at unit `at` should begin so that no pair of
// surrogates is cut in two: `at`, or the unit after it.
std::size_t utf16_cut(std::string_view units, bool big_endian, std::size_t at) noexcept;

}  // namespace textgrid
