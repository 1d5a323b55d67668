#pragma once
// Binding of a fast-call argument vector to named parameters (all required,
// each by position or keyword) and the wrapping of conversion errors with the
// parameter's name.

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

#include "failure.hpp"

namespace velmar {

// Fills slots[i] with the borrowed argument of parameter i, or sets TypeError
// and throws PythonErrorSet.
void bind_arguments(const char* function, std::span<const char* const> parameters,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::span<PyObject*> slots);

template <std::size_t N>
std::array<PyObject*, N> bind_arguments(const char* function,
                                        const std::array<const char*, N>& parameters,
                                        PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
    std::array<PyObject*, N> slots{};
    bind_arguments(function, parameters, args, nargs, kwnames, slots);
    return slots;
}

// Rewrites the pending exception of a failed conversion of `parameter`: a
// TypeError (exactly) gets the prefix "argument '<name>': "; anything else is
// left alone.
void argument_error(const char* parameter) noexcept;

// Converts the argument of one parameter with `rule`, wrapping its failure.
template <class Rule>
auto convert_argument(const char* parameter, PyObject* argument, Rule&& rule) {
    try {
        return rule(argument);
    } catch (const PythonErrorSet&) {
        argument_error(parameter);
        throw;
    }
}

}  // namespace velmar
