#!/usr/bin/env bash
# The Debian packages as a user meets them: scripts/package builds them, and
# apt-get installs them into this machine. Then the README's C++ client is
# built with pkg-config and with find_package and answered by the installed
# hardware side, the README's Python example runs on the installed module,
# every program answers --help and --version and has its manual page, the
# systemd units pass systemd-analyze verify, and scripts/run's story runs
# with the installed programs alone. At the end the packages are purged, and
# what their installation made (the zadulpm user, /dev/shm/zadulpm) removed:
# the machine is left as it was, also on failure.
# Needs root; exits 77 (skipped) without it, or when a package of the same
# name is installed already (it would not be this machine's own to purge).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
readme=$top/README.md
packages=(libzadulpm0.2 libzadulpm-dev zadulpm python3-zadulpm libzadulpm0.2-dbgsym zadulpm-dbgsym)
programs=(zadulpm zadulpm-hw zadulpm-agent zadulpm-routed)

[ "$(id -u)" = 0 ] || { echo "package test: skipped, apt-get needs root"; exit 77; }
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
    echo "package test: skipped, $package is installed already"
    exit 77
  fi
done
had_user=0
getent passwd zadulpm >/dev/null && had_user=1
had_root=0
[ -e /dev/shm/zadulpm ] && had_root=1

work=$(mktemp -d)
hardware_pid=
cleanup() {
  [ -n "$hardware_pid" ] && kill "$hardware_pid" 2>/dev/null || true
  apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
  [ "$had_user" = 1 ] || userdel zadulpm 2>/dev/null || true
  [ "$had_root" = 1 ] || rm -rf /dev/shm/zadulpm
  rm -rf "$work"
}
trap cleanup EXIT

scripts/package "$work/debs" >"$work/package.log" 2>&1 || { tail -40 "$work/package.log"; exit 1; }
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "$work"/debs/*.deb >"$work/install.log" 2>&1 || { tail -20 "$work/install.log"; exit 1; }
echo "installed: $(cd "$work/debs" && ls -1 ./*.deb | tr '\n' ' ')"
# The services' user, and their root owned by it.
getent passwd zadulpm >/dev/null
[ "$(stat -c %U:%G:%a /dev/shm/zadulpm)" = "zadulpm:zadulpm:750" ]
echo "user zadulpm and /dev/shm/zadulpm: ok"

version=$(sed -n 's/^project(ZaduLpm VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for program in "${programs[@]}"; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ]
  "$program" --help >/dev/null
  [ "$("$program" --version)" = "$version" ]
  man -P cat "$program" 2>/dev/null | grep -q "^NAME" ||
    man -l -P cat "/usr/share/man/man1/$program.1.gz" | grep -q "^NAME"
done
echo "programs: --help, --version and manual pages ok"
systemd-analyze verify /lib/systemd/system/zadulpm-hw.service \
  /lib/systemd/system/zadulpm-routed.service
echo "units: verified"

# A hardware side from /usr/bin on a root of the test's own answers the
# examples.
export ZADU_SHM_ROOT=$work/shm
mkdir "$ZADU_SHM_ROOT"
zadulpm-hw --wait 60 >"$work/hw.log" 2>&1 &
hardware_pid=$!

awk '/^## Using the table/ { section = 1 }
     section && /^```cpp/ { inside = 1; next }
     inside && /^```/ { exit }
     inside { print }' "$readme" >"$work/example.cpp"
g++ -O1 -o "$work/example-pkgconfig" "$work/example.cpp" $(pkg-config --cflags --libs zadulpm)
"$work/example-pkgconfig" | grep -qx "10.0.0.0/8: completed"
echo "README client with pkg-config: ok"
cmake -S tests/install/client -B "$work/client" -DCMAKE_BUILD_TYPE=Release \
  -DEXAMPLE_SOURCE="$work/example.cpp" >/dev/null
cmake --build "$work/client" --target example >/dev/null
"$work/client/example" | grep -qx "10.0.0.0/8: completed"
echo "README client with find_package: ok"

awk '/^## Python/ { section = 1 }
     section && /^```python/ { inside = 1; next }
     inside && /^```/ { exit }
     inside { print }' "$readme" >"$work/example.py"
(cd "$work" && /usr/bin/python3 example.py) | grep -q "192.168.0.0/24: completed"
echo "README Python example on the installed module: ok"
kill "$hardware_pid"
wait "$hardware_pid" 2>/dev/null || true
hardware_pid=

ZADU_BIN_DIR=/usr/bin ZADU_SHM_ROOT= scripts/run --routes 20000 --units 3 | tail -1
