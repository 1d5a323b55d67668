#pragma once
// The result of textgrids2arrow and textgrid2arrow: a small Python object
// that holds a finished table and hands it to any consumer of the Arrow
// PyCapsule interface (pyarrow, pandas, Polars, DuckDB, ...) without a copy.

#include <Python.h>

#include <memory>

#include "arrow_columns.hpp"
#include "pyref.hpp"

namespace velmar {

// The class TextGridTable, created at its first need and kept.
PyObject* arrow_table_type();

// A new TextGridTable holding a share of `table`.
PyRef arrow_table_object(std::shared_ptr<const ArrowTable> table);

}  // namespace velmar
