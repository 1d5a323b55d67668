"""The module as Python sees it: its functions, signatures, docstrings,
import behaviour and the class of internal failures."""

import importlib
import inspect
import os
import re
import sys

import pytest

import velmar

from conftest import run_python

FUNCTIONS = {
    "textgrid2vectors": ["file", "strict", "file_type"],
    "textgrids2vectors": ["files", "strict", "file_type"],
    "textgrid2data": ["file", "strict", "file_type"],
    "textgrids2data": ["files", "strict", "file_type"],
    "data2textgrid": ["data", "tmin", "tmax", "output_file", "file_type"],
    "vectors2textgrid": [
        "tmins", "tmaxs", "labels", "tier_names", "is_intervals",
        "tmin", "tmax", "output_file", "file_type",
    ],
    "textgrids2arrow": ["files", "strict", "file_type"],
    "textgrid2arrow": ["file", "strict", "file_type"],
    "set_num_threads": ["n"],
    "get_num_threads": [],
    "release_memory": [],
    "text2data": ["text", "strict", "file_type"],
    "text2vectors": ["text", "strict", "file_type"],
    "data2text": ["data", "tmin", "tmax", "file_type"],
    "vectors2text": [
        "tmins", "tmaxs", "labels", "tier_names", "is_intervals", "tmin", "tmax", "file_type",
    ],
    "data2textgrids": ["documents", "output_files", "file_type"],
    "vectors2textgrids": [
        "tmins", "tmaxs", "labels", "tier_names", "is_intervals", "file_ids", "output_files",
        "file_type",
    ],
}

SUMMARIES = {
    "textgrid2vectors": "Converts a single TextGrid file to vectorized format.",
    "textgrids2vectors": "Converts multiple TextGrid files to vectorized format with file tracking.",
    "textgrid2data": "Converts a single TextGrid file to structured data format.",
    "textgrids2data": "Converts multiple TextGrid files to structured data format.",
    "data2textgrid": "Creates a TextGrid file from structured data format.",
    "vectors2textgrid": "Creates a TextGrid file from vectorized format.",
    "textgrids2arrow": "Converts multiple TextGrid files to one Arrow table.",
    "textgrid2arrow": "Converts a single TextGrid file to an Arrow table.",
    "set_num_threads": "Sets the number of threads the calls use.",
    "get_num_threads": "Returns the number of threads the calls use.",
    "release_memory": "Gives the memory kept for reuse between calls back to the system.",
    "text2data": "Converts a TextGrid held in memory to structured data format.",
    "text2vectors": "Converts a TextGrid held in memory to vectorized format.",
    "data2text": "Renders structured data format as the text of a TextGrid file.",
    "vectors2text": "Renders vectorized format as the text of a TextGrid file.",
    "data2textgrids": "Creates many TextGrid files from structured data format at once.",
    "vectors2textgrids": "Creates many TextGrid files from vectorized format at once.",
}


def test_all_lists_the_functions_in_table_order():
    assert velmar.__all__ == list(FUNCTIONS)
    assert velmar.__doc__.startswith("Python module for TextGrid file manipulation.\n\n")


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_signature_and_docstring(name):
    function = getattr(velmar, name)
    assert function.__module__ == "velmar"
    assert function.__self__ is velmar
    parameters = inspect.signature(function).parameters
    assert list(parameters) == FUNCTIONS[name]
    assert all(
        p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD and p.default is inspect.Parameter.empty
        for p in parameters.values()
    )
    assert function.__doc__.startswith(SUMMARIES[name] + "\n\n")
    sections = [line for line in function.__doc__.splitlines() if line.startswith("# ")]
    assert sections[:3] == ["# Arguments", "# Returns", "# Errors"]


def test_stub_and_marker_are_installed_beside_the_module():
    directory = os.path.dirname(velmar.__file__)
    assert os.path.isfile(os.path.join(directory, "py.typed"))
    with open(os.path.join(directory, "__init__.pyi"), encoding="utf-8") as stub:
        text = stub.read()
    for name in FUNCTIONS:
        assert f"def {name}(" in text


def test_reimport_gives_the_identical_module():
    original = sys.modules.pop("velmar")
    try:
        again = importlib.import_module("velmar")
        assert again is original
        assert again.__all__ == list(FUNCTIONS)  # functions not added twice
    finally:
        sys.modules["velmar"] = original


SUBINTERPRETER_IMPORT = r"""
    import velmar
    try:
        import _interpreters as interpreters
    except ImportError:
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            raise SystemExit(77)
    script = (
        "try:\n"
        "    import velmar\n"
        "    print('imported')\n"
        "except ImportError as error:\n"
        "    print('ImportError:', error)\n"
    )
    def create(legacy):
        if not legacy:
            return interpreters.create()
        for attempt in (lambda: interpreters.create(interpreters.new_config("legacy")),
                        lambda: interpreters.create("legacy"),
                        lambda: interpreters.create(isolated=False)):
            try:
                return attempt()
            except (AttributeError, TypeError, ValueError):
                pass
        return interpreters.create()
    for legacy in (False, True):
        interp = create(legacy)
        interpreters.run_string(interp, script)
        interpreters.destroy(interp)
    print(velmar.textgrid2data.__name__)
"""


def test_import_in_a_subinterpreter_fails_with_import_error():
    result = run_python(SUBINTERPRETER_IMPORT)
    if result.returncode == 77:
        pytest.skip("no subinterpreter interface in this Python")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 3
    assert all(line.startswith("ImportError:") for line in lines[:2])
    assert "subinterpreters" in lines[1]
    assert lines[2] == "textgrid2data"  # the main interpreter's module still works


def test_module_imports_and_reads_without_numpy(textgrid_file):
    result = run_python(f"""
        import sys
        sys.modules["numpy"] = None  # makes "import numpy" fail
        import velmar
        print(velmar.textgrid2data({textgrid_file!r}, True, "auto")[1])
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "2.5"


def panic(textgrid_file):
    with pytest.raises(BaseException) as caught:
        velmar.textgrid2data(textgrid_file, True, "LONG")
    return caught.value


def test_panic_exception_class(textgrid_file):
    error = panic(textgrid_file)
    kind = type(error)
    assert kind.__name__ == "PanicException"
    assert kind.__bases__ == (BaseException,)
    assert not issubclass(kind, Exception)
    assert kind.__module__ not in ("velmar", "builtins")
    assert not hasattr(velmar, "PanicException")
    assert "BaseException" in kind.__doc__
    assert type(panic(textgrid_file)) is kind  # created once


def test_panic_message_and_catching(textgrid_file):
    error = panic(textgrid_file)
    assert error.args == ("Unknown file type: LONG",)
    assert str(error) == "Unknown file type: LONG"
    with pytest.raises(BaseException):
        try:
            velmar.textgrid2data(textgrid_file, True, "LONG")
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught as Exception")


def test_an_internal_failure_reports_its_source_below_the_repository(textgrid_file):
    result = run_python(f"""
        import velmar
        try:
            velmar.textgrid2data({textgrid_file!r}, True, "LONG")
        except BaseException:
            pass
    """)
    assert re.fullmatch(r"internal failure in thread \S+ at textgrid/src/\S+\.cpp:\d+: "
                        r"Unknown file type: LONG\n", result.stderr)
