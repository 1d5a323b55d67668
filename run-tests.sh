#!/bin/sh
# Builds everything and runs every test: the library's unit tests (CTest) and
# the module's pytest suite, against whichever python3 runs this script.
# Build trees and the virtual environment are kept apart per Python version, so
# the host and the CPython 3.14 environment never share one.
set -eu
cd "$(dirname "$0")"

PY=${PYTHON:-python3}
TAG=$("$PY" -c 'import sys; print("%d%d" % sys.version_info[:2])')
BUILD=${BUILD_DIR:-build/native-$TAG}
GENERATOR=$(command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

echo "== library unit tests ($(c++ --version | head -n 1))"
cmake -S . -B "$BUILD" -G "$GENERATOR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMAR_WERROR=ON -DVELMAR_BUILD_MODULE=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)"

echo "== module tests (Python $TAG)"
VENV=$(.ci/test-venv)
"$VENV/bin/python" -m pip install -q --no-build-isolation \
    --config-settings=cmake.define.VELMAR_WERROR=ON --config-settings=build-dir="build/wheel-$TAG" .
"$VENV/bin/python" -m pytest -q tests
echo "== all tests passed (Python $TAG)"
