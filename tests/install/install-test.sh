#!/usr/bin/env bash
# Installs the built library into a temporary prefix, builds a client project
# against it with find_package (its own client, and the README's example
# extracted from the README), and runs them: the example beside a stand-in
# for the hardware side, so that its write is answered.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
readme=$source_dir/../../README.md
work=$(mktemp -d)
hardware_pid=
cleanup() {
  [ -n "$hardware_pid" ] && kill "$hardware_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The first C++ block after "## Using the table".
awk '/^## Using the table/ { section = 1 }
     section && /^```cpp/ { inside = 1; next }
     inside && /^```/ { exit }
     inside { print }' "$readme" > "$work/example.cpp"
[ -s "$work/example.cpp" ] || { echo "no example in $readme"; exit 1; }
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/client" -B "$work/client" -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DCMAKE_BUILD_TYPE=Release -DEXAMPLE_SOURCE="$work/example.cpp" >/dev/null
cmake --build "$work/client" >/dev/null
mkdir "$work/shm"
export ZADU_SHM_ROOT="$work/shm" LD_LIBRARY_PATH="$work/prefix/lib"
"$work/client/client"
"$work/client/hardware" 20 &
hardware_pid=$!
output=$("$work/client/example")
echo "$output"
grep -qx "10.0.0.0/8: completed" <<<"$output"
echo "example ok"
# The README's Python example, with the installed module.
awk '/^## Python/ { section = 1 }
     section && /^```python/ { inside = 1; next }
     inside && /^```/ { exit }
     inside { print }' "$readme" > "$work/example.py"
site=$(find "$work/prefix" -name 'zadulpm*.so' -path '*site-packages*' -printf '%h\n' | head -1)
[ -n "$site" ] || { echo "the Python module was not installed"; exit 1; }
output=$(PYTHONPATH=$site /usr/bin/python3 "$work/example.py")
echo "$output"
grep -q "192.168.0.0/24: completed" <<<"$output"
echo "python example ok"
