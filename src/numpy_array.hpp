#pragma once
// NumPy arrays over the library's own column buffers, and the two vector
// results built from them. NumPy is looked up at the first array, never at
// import, so the module works without it until an array is asked for.

#include <Python.h>

#include <cstdint>
#include <vector>

#include "convert.hpp"
#include "converter.hpp"
#include "pyref.hpp"
#include "textgrid.hpp"

namespace velmar {

// Each overload moves the column into a PySliceContainer that becomes the
// array's base, so the array views the buffer without copying it and the
// buffer is freed once, with the last view. uint8_t columns hold 0/1 flags
// and become bool arrays. An InternalFailure if NumPy is unavailable or
// refuses the array.
PyRef array_from_buffer(std::vector<double> column);
PyRef array_from_buffer(std::vector<std::uint8_t> flags);
PyRef array_from_buffer(std::vector<std::uint32_t> column);

// An instance of numpy.ndarray itself, not of a subclass (whose elements may
// mean something else than its memory). Other objects never load NumPy.
bool is_exact_numpy_array(PyObject* object);

// (tmins, tmaxs, labels, tier_names, is_intervals), read from the document
// itself: no row-by-row copies of labels and tier names in between.
PyRef build_vector_result(const textgrid::TextGrid& grid);

// The columns of a batch, grown file by file as the files are read: a file's
// rows are appended, each with the file's position in the input as its id (a
// file without rows still takes up its position).
class BatchVectorBuilder {
public:
    void add(std::uint32_t file_id, textgrid::TextGridVectors&& file);
    // (tmins, tmaxs, labels, tier_names, is_intervals, file_ids); the numeric
    // columns are handed over, not copied.
    PyRef finish();

private:
    std::vector<double> tmins_;
    std::vector<double> tmaxs_;
    std::vector<std::uint8_t> is_intervals_;
    std::vector<std::uint32_t> file_ids_;
    std::vector<PyRef> labels_;
    std::vector<PyRef> tier_names_;
    TextCache texts_;
};

}  // namespace velmar
