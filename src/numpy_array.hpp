#pragma once
// NumPy arrays over the library's own column buffers. NumPy is looked up at
// the first array, never at import, so the module works without it until an
// array is asked for.

#include <Python.h>

#include <cstdint>

#include "native_column.hpp"
#include "pyref.hpp"

namespace velmar {

// Each overload moves the column's block into a PySliceContainer that becomes
// the array's base, so the array views the block without copying it and the
// block is freed once, with the last view. uint8_t columns hold 0/1 flags and
// become bool arrays. An InternalFailure if NumPy is unavailable or refuses
// the array.
PyRef array_from_buffer(NativeColumn<double>&& column);
PyRef array_from_buffer(NativeColumn<std::uint8_t>&& flags);
PyRef array_from_buffer(NativeColumn<std::uint32_t>&& column);

// An instance of numpy.ndarray itself, not of a subclass (whose elements may
// mean something else than its memory). Other objects never load NumPy.
bool is_exact_numpy_array(PyObject* object);

}  // namespace velmar
