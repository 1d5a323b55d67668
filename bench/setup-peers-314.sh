#!/bin/sh
# Installs the benchmarks' peers (orjson, praatio, textgrid, tgt) into the
# CPython 3.14 environment, whose pip may not reach the package index: the
# wheels are downloaded on the host into build/wheels-314 (inside the project,
# so the environment sees them at /src/build/wheels-314) and installed from
# there.
#
#   bench/setup-peers-314.sh            on the host: download, then install in the environment
#   bench/setup-peers-314.sh download   on the host: download only
#   bench/setup-peers-314.sh install    inside the environment: install only
set -eu
cd "$(dirname "$0")/.."

PEERS="orjson praatio textgrid tgt"
WHEELS=build/wheels-314
ENVIRONMENT=${CPYTHON314:-../shared/tools/cpython314}

download() {
    python3 -m pip download -q --python-version 3.14 --only-binary=:all: -d "$WHEELS" $PEERS
}

install() {
    python3 -m pip install -q --break-system-packages --no-index --find-links "$WHEELS" $PEERS
    python3 -c 'import orjson, praatio, textgrid, tgt; print("peers installed for", __import__("sys").version.split()[0])'
}

case "${1:-all}" in
    download) download ;;
    install) install ;;
    all)
        download
        flock /tmp/cpython314.lock "$ENVIRONMENT" run . sh bench/setup-peers-314.sh install ;;
    *) echo "usage: $0 [download|install]" >&2; exit 2 ;;
esac
