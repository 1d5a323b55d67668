#include "arrow_columns.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "model/error.hpp"

namespace velmar {

namespace {

constexpr std::size_t LARGEST_INDEX = std::numeric_limits<std::int32_t>::max();

// Room for `more` values, doubling, so that a column grown a row or a tier at
// a time costs linear time.
template <class T>
void grow(NativeColumn<T>& column, std::size_t more) {
    const std::size_t wanted = column.size() + more;
    if (wanted > column.capacity()) column.reserve(std::max(wanted, 2 * column.capacity()));
}

ArrowLayout text_layout(const char* name, const TextColumn& texts) {
    return ArrowLayout{texts.large() ? "U" : "u",
                       name,
                       static_cast<std::int64_t>(texts.size()),
                       {nullptr, texts.offsets(), texts.bytes()},
                       {},
                       {}};
}

ArrowLayout dictionary_layout(const char* name, std::size_t rows, const std::int32_t* indices,
                              const TextColumn& names) {
    return ArrowLayout{"i",
                       name,
                       static_cast<std::int64_t>(rows),
                       {nullptr, indices},
                       {},
                       std::make_shared<const ArrowLayout>(text_layout("", names))};
}

ArrowLayout numeric_layout(const char* format, const char* name, std::size_t rows,
                           const void* values) {
    return ArrowLayout{format, name, static_cast<std::int64_t>(rows), {nullptr, values}, {}, {}};
}

}  // namespace

TextColumn::TextColumn() {
    offsets_.push_back(0);
    bytes_.reserve(1);  // Arrow wants a buffer even for no bytes
}

std::size_t TextColumn::size() const noexcept {
    return (large_ ? large_offsets_.size() : offsets_.size()) - 1;
}

const void* TextColumn::offsets() const noexcept {
    return large_ ? static_cast<const void*>(large_offsets_.data())
                  : static_cast<const void*>(offsets_.data());
}

void TextColumn::widen_offsets() {
    large_offsets_.reserve(offsets_.capacity());
    for (std::size_t row = 0; row < offsets_.size(); ++row)
        large_offsets_.push_back(offsets_.data()[row]);
    const auto block = offsets_.take_block();
    release_column_block(block.values, block.large_bytes);
    large_ = true;
}

void TextColumn::append(std::string_view text) {
    const std::size_t end = bytes_.size() + text.size();
    if (!large_ && end > LARGEST_INDEX) widen_offsets();
    grow(bytes_, text.size());
    bytes_.append(text.data(), text.size());
    if (large_) {
        large_offsets_.push_back(static_cast<std::int64_t>(end));
    } else {
        offsets_.push_back(static_cast<std::int32_t>(end));
    }
}

BitColumn::BitColumn() { bytes_.reserve(1); }

void BitColumn::append_copies(std::size_t count, bool value) {
    const std::size_t total = bits_ + count;
    const std::size_t bytes_wanted = (total + 7) / 8;
    grow(bytes_, bytes_wanted - bytes_.size());
    bytes_.append_copies(bytes_wanted - bytes_.size(), 0);
    if (value) {
        std::uint8_t* bytes = bytes_.data();
        std::size_t bit = bits_;
        for (; bit < total && bit % 8 != 0; ++bit) bytes[bit / 8] |= std::uint8_t(1u << (bit % 8));
        const std::size_t whole = (total - bit) / 8;
        std::memset(bytes + bit / 8, 0xFF, whole);
        bit += 8 * whole;
        for (; bit < total; ++bit) bytes[bit / 8] |= std::uint8_t(1u << (bit % 8));
    }
    bits_ = total;
}

std::int32_t NameDictionary::index(std::string_view name) {
    if (const auto found = indices_.find(name); found != indices_.end()) return found->second;
    if (names_.size() >= LARGEST_INDEX)
        throw textgrid::InternalFailure("too many distinct names for an Arrow dictionary");
    const auto index = static_cast<std::int32_t>(names_.size());
    indices_.emplace(std::string(name), index);
    names_.append(name);
    return index;
}

ArrowColumns::ArrowColumns() {
    // Arrow wants a buffer in every column, even one of no rows.
    make_room(1);
}

void ArrowColumns::name_file(std::string_view name) {
    if (files_.size() >= LARGEST_INDEX)
        throw textgrid::InternalFailure("too many files for an Arrow dictionary");
    files_.append(name);
}

void ArrowColumns::expect_text_bytes(std::uint64_t bytes) {
    // As for the vector columns: a row per 64 bytes of a large text, room
    // never written being address space only.
    static constexpr std::uint64_t BYTES_PER_ROW = 64;
    static constexpr std::uint64_t FROM_BYTES = std::uint64_t{1} << 20;
    static constexpr std::uint64_t MOST_ROWS = std::uint64_t{1} << 24;
    if (bytes < FROM_BYTES) return;
    make_room(static_cast<std::size_t>(std::min(bytes / BYTES_PER_ROW, MOST_ROWS)));
}

void ArrowColumns::make_room(std::size_t more) {
    grow(file_indices_, more);
    grow(tier_indices_, more);
    grow(tmins_, more);
    grow(tmaxs_, more);
}

std::int32_t ArrowColumns::tier_index(std::string_view name) {
    // A file's rows come tier by tier, and a run of files often repeats the
    // same names: the last one spares most lookups.
    if (last_tier_index_ < 0 || name != last_tier_) {
        last_tier_index_ = tier_names_.index(name);
        last_tier_.assign(name);
    }
    return last_tier_index_;
}

void ArrowColumns::add(std::int32_t file, const textgrid::Tier& tier,
                       std::span<const textgrid::Item> items) {
    if (items.empty()) return;
    make_room(items.size());
    file_indices_.append_copies(items.size(), file);
    tier_indices_.append_copies(items.size(), tier_index(tier.name));
    is_intervals_.append_copies(items.size(), tier.is_interval);
    for (const textgrid::Item& item : items) {
        tmins_.push_back(item.tmin);
        tmaxs_.push_back(item.tmax);
        labels_.append(item.label);
    }
}

void ArrowColumns::add(std::int32_t file, const textgrid::TextGrid& document) {
    for (const textgrid::Tier& tier : document.tiers) add(file, tier, tier.items);
}

ArrowLayout ArrowColumns::layout() const {
    const std::size_t count = rows();
    ArrowLayout batch{"+s", "", static_cast<std::int64_t>(count), {nullptr}, {}, {}};
    batch.children.push_back(dictionary_layout("file", count, file_indices_.data(), files_));
    batch.children.push_back(
        dictionary_layout("tier", count, tier_indices_.data(), tier_names_.names()));
    batch.children.push_back(numeric_layout("b", "is_interval", count, is_intervals_.bytes()));
    batch.children.push_back(numeric_layout("g", "tmin", count, tmins_.data()));
    batch.children.push_back(numeric_layout("g", "tmax", count, tmaxs_.data()));
    batch.children.push_back(text_layout("label", labels_));
    return batch;
}

}  // namespace velmar
