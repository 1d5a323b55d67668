#include "vector_result.hpp"

#include <algorithm>
#include <utility>

#include "failure.hpp"
#include "numpy_array.hpp"

namespace velmar {

PyRef VectorColumns::name_of_next(std::string_view name) {
    if (!last_name_object_ || name != last_name_) {
        last_name_.assign(name);
        last_name_object_ = texts_.text(name);
    }
    return PyRef::borrow(last_name_object_.get());
}

void VectorColumns::make_room(std::size_t more) {
    const std::size_t rows = tmins_.size() + more;
    if (rows <= tmins_.capacity()) return;
    // Room for the rows at hand only, never for counts a file declares, and
    // doubling, so that one-row tiers by the million cost linear time. The
    // numeric columns are trimmed where they become arrays.
    const std::size_t room = std::max(rows, 2 * tmins_.capacity());
    tmins_.reserve(room);
    tmaxs_.reserve(room);
    is_intervals_.reserve(room);
    labels_.reserve(room);
    tier_names_.reserve(room);
}

void VectorColumns::expect_text_bytes(std::uint64_t bytes) {
    // Praat writes a row in some 100 bytes in the long layout and some 30 in
    // the short one. Room for a row per 64 bytes spares a large file's
    // columns the copies of growing them as its rows arrive; where it is too
    // much it costs only address space, as pages never written are never
    // the process's (and a taken column gives back those past its rows).
    // Small texts grow in a step or two anyway.
    static constexpr std::uint64_t BYTES_PER_ROW = 64;
    static constexpr std::uint64_t FROM_BYTES = std::uint64_t{1} << 20;
    static constexpr std::uint64_t MOST_ROWS = std::uint64_t{1} << 24;
    if (bytes < FROM_BYTES) return;
    make_room(static_cast<std::size_t>(std::min(bytes / BYTES_PER_ROW, MOST_ROWS)));
}

void VectorColumns::add(const textgrid::Tier& tier, std::span<const textgrid::Item> items) {
    if (items.empty()) return;
    make_room(items.size());
    PyRef name = name_of_next(tier.name);
    for (const textgrid::Item& item : items) {
        tmins_.push_back(item.tmin);
        tmaxs_.push_back(item.tmax);
        labels_.push_back(texts_.text(item.label));
        tier_names_.push_back(PyRef::borrow(name.get()));
    }
    is_intervals_.append_copies(items.size(), tier.is_interval ? 1 : 0);
}

void VectorColumns::add(std::uint32_t file_id, const textgrid::TextGrid& file) {
    for (const textgrid::Tier& tier : file.tiers) {
        add(tier, tier.items);
        // Grown with the other columns, not a tier at a time.
        file_ids_.reserve(tmins_.capacity());
        file_ids_.append_copies(tier.items.size(), file_id);
    }
}

PyRef VectorColumns::finish() { return columns_tuple(PyRef()); }

PyRef VectorColumns::finish_with_file_ids() {
    return columns_tuple(array_from_buffer(std::move(file_ids_)));
}

PyRef VectorColumns::columns_tuple(PyRef file_ids) {
    PyRef tmins = array_from_buffer(std::move(tmins_));
    PyRef tmaxs = array_from_buffer(std::move(tmaxs_));
    PyRef is_intervals = array_from_buffer(std::move(is_intervals_));
    PyRef labels = created(labels_.to_list());
    PyRef tier_names = created(tier_names_.to_list());
    if (!file_ids) {
        return created(PyTuple_Pack(5, tmins.get(), tmaxs.get(), labels.get(), tier_names.get(),
                                    is_intervals.get()));
    }
    return created(PyTuple_Pack(6, tmins.get(), tmaxs.get(), labels.get(), tier_names.get(),
                                is_intervals.get(), file_ids.get()));
}

}  // namespace velmar
