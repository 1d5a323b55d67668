#pragma once
// The column form of textgrid2vectors and textgrids2vectors: numeric columns
// as NumPy arrays over the native buffers, text columns as lists of str.

#include <Python.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "model/textgrid.hpp"
#include "native_column.hpp"
#include "pyref.hpp"
#include "results.hpp"

namespace velmar {

// The columns of a vector result, grown run by run as rows arrive, which may be
// while the rest of a file or batch is still being read.
class VectorColumns {
public:
    // Makes room, ahead of the rows, for those a text of `bytes` usually
    // holds.
    void expect_text_bytes(std::uint64_t bytes);
    // Rows of one tier.
    void add(const textgrid::Tier& tier, std::span<const textgrid::Item> items);
    // Rows of a whole file of a batch, each with the file's input position as
    // its id (a file without rows still takes up its position).
    void add(std::uint32_t file_id, const textgrid::TextGrid& file);

    // (tmins, tmaxs, labels, tier_names, is_intervals); the numeric columns
    // are handed over, not copied.
    PyRef finish();
    // The same followed by file_ids, for a batch.
    PyRef finish_with_file_ids();

private:
    // The five columns, then file_ids if given.
    PyRef columns_tuple(PyRef file_ids);
    // The str of the next row's tier name: a tier's rows all carry the same.
    PyRef name_of_next(std::string_view name);
    // Room for `more` rows in every column.
    void make_room(std::size_t more);

    NativeColumn<double> tmins_;
    NativeColumn<double> tmaxs_;
    NativeColumn<std::uint8_t> is_intervals_;
    NativeColumn<std::uint32_t> file_ids_;
    PyRefColumn labels_;
    PyRefColumn tier_names_;
    TextCache texts_;
    std::string last_name_;
    PyRef last_name_object_;
};

}  // namespace velmar
