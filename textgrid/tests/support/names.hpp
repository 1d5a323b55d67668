#pragma once
// Names for parameterised cases (gtest allows letters, digits and '_'), so the
// log shows what a case is rather than a dump of its bytes.

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

#include "render.hpp"

namespace support {

// Letters and digits kept, '-' spelt "minus", anything else '_'. A name of
// digits alone gets an "n" in front: CMake takes a trailing "/<digits>" for an
// index and puts the parameter's bytes there.
inline std::string case_name(std::string_view text) {
    std::string name;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else
            name += c == '-' ? "minus" : "_";
    }
    if (name.empty()) return "empty";
    const bool digits_only = name.find_first_not_of("0123456789") == std::string::npos;
    return digits_only ? "n" + name : name;
}

inline std::string time_name(double value) { return case_name(exact_time(value)); }

// For cases whose texts may clean up alike ("+5" and ".5"): the position keeps
// them apart, the text says what each is, cut short so log lines stay short.
inline std::string indexed_name(std::size_t index, std::string_view text) {
    return "n" + std::to_string(index) + "_" + case_name(text.substr(0, 24));
}

}  // namespace support
