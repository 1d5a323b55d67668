#pragma once
// The columns of an Arrow result, built natively as the rows arrive: file and
// tier as dictionaries of their names, is_interval as a bitmap, tmin and tmax
// as float64, label as UTF-8 offsets and bytes. Nothing here touches Python,
// so a finished table can be released on any thread.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "arrow_export.hpp"
#include "model/textgrid.hpp"
#include "native_column.hpp"

namespace velmar {

// UTF-8 texts as Arrow lays them out: n + 1 offsets into one run of bytes.
// Offsets are 32-bit until the bytes outgrow them, 64-bit ("large") after.
class TextColumn {
public:
    TextColumn();
    void append(std::string_view text);
    std::size_t size() const noexcept;
    bool large() const noexcept { return large_; }
    const void* offsets() const noexcept;
    const char* bytes() const noexcept { return bytes_.data(); }

private:
    void widen_offsets();

    NativeColumn<std::int32_t> offsets_;
    NativeColumn<std::int64_t> large_offsets_;
    NativeColumn<char> bytes_;
    bool large_ = false;
};

// Bits, least significant first, as Arrow's booleans are.
class BitColumn {
public:
    BitColumn();
    void append_copies(std::size_t count, bool value);
    std::size_t size() const noexcept { return bits_; }
    const std::uint8_t* bytes() const noexcept { return bytes_.data(); }

private:
    NativeColumn<std::uint8_t> bytes_;
    std::size_t bits_ = 0;
};

// Distinct names in order of first sight, each with its index.
class NameDictionary {
public:
    std::int32_t index(std::string_view name);
    const TextColumn& names() const noexcept { return names_; }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };
    TextColumn names_;
    std::unordered_map<std::string, std::int32_t, Hash, std::equal_to<>> indices_;
};

class ArrowColumns {
public:
    ArrowColumns();
    // The next entry of the file column's dictionary: a row's file index is
    // its file's position among the names.
    void name_file(std::string_view name);

    // Makes room, ahead of the rows, for those a text of `bytes` usually holds.
    void expect_text_bytes(std::uint64_t bytes);
    void add(std::int32_t file, const textgrid::Tier& tier, std::span<const textgrid::Item> items);
    void add(std::int32_t file, const textgrid::TextGrid& document);

    std::size_t rows() const noexcept { return tmins_.size(); }
    std::size_t files() const noexcept { return files_.size(); }
    std::size_t tiers() const noexcept { return tier_names_.names().size(); }

    // The columns as one record batch (a struct array) over their buffers,
    // valid while they are neither changed nor freed.
    ArrowLayout layout() const;

private:
    std::int32_t tier_index(std::string_view name);
    void make_room(std::size_t more);

    TextColumn files_;
    NameDictionary tier_names_;
    std::string last_tier_;
    std::int32_t last_tier_index_ = -1;
    NativeColumn<std::int32_t> file_indices_;
    NativeColumn<std::int32_t> tier_indices_;
    BitColumn is_intervals_;
    NativeColumn<double> tmins_;
    NativeColumn<double> tmaxs_;
    TextColumn labels_;
};

// A finished table and its layout, shared by the result object and every
// Arrow struct exported from it: the last to let go frees the buffers.
struct ArrowTable {
    ArrowColumns columns;
    ArrowLayout layout;
};

}  // namespace velmar
