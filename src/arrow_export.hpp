#pragma once
// Arrow C data and stream structs over native buffers. Every exported struct
// holds a share of the buffers' owner and gives it back in its release
// callback, which any thread may call, with or without the interpreter.

#include <cstdint>
#include <memory>
#include <vector>

#include "arrow_abi.hpp"

namespace velmar {

// One array and its type, as the structs describe it. format and name are
// static texts; the buffers belong to whoever owns the layout.
struct ArrowLayout {
    const char* format = "";
    const char* name = "";
    std::int64_t length = 0;
    std::vector<const void*> buffers;
    std::vector<ArrowLayout> children;
    std::shared_ptr<const ArrowLayout> dictionary;
};

// Each fills `out`, which the caller then owns (to release once); on failure
// it throws and `out` holds nothing to release.
void export_schema(const ArrowLayout& layout, ArrowSchema* out);
// `owner` keeps the buffers alive until the last struct made from it is
// released.
void export_array(const std::shared_ptr<const void>& owner, const ArrowLayout& layout,
                  ArrowArray* out);
// A stream of one array, `layout`, which `owner` keeps alive.
void export_stream(const std::shared_ptr<const void>& owner, const ArrowLayout& layout,
                   ArrowArrayStream* out);

}  // namespace velmar
