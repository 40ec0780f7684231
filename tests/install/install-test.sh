#!/usr/bin/env bash
# Installs the built library into a temporary prefix, builds a client project
# against it with find_package, and runs the client.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/client" -B "$work/client" -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/client" >/dev/null
mkdir "$work/shm"
ZADU_SHM_ROOT="$work/shm" LD_LIBRARY_PATH="$work/prefix/lib" "$work/client/client"
