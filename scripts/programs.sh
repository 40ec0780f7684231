# Sourced by the scripts that drive the real programs (soak, overload):
# builds zadulpm-hw, zadulpm-agent and zadulpm when they are missing, makes
# a fresh shared-memory root and a work folder, and offers small helpers.
# After sourcing: $hw, $agent, $command, $ZADU_SHM_ROOT (exported), $work.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

build_dir=${BUILD_DIR:-build}
hw=$build_dir/hw/zadulpm-hw
agent=$build_dir/agent/zadulpm-agent
command=$build_dir/tools/zadulpm
if [ ! -x "$hw" ] || [ ! -x "$agent" ] || [ ! -x "$command" ]; then
  scripts/setup
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" -j "$(nproc)" --target zadulpm-hw zadulpm-agent zadulpm-command >/dev/null
fi

# A fresh root ($1 names it) in /dev/shm when it is writable.
base=/dev/shm
[ -w "$base" ] || base=${TMPDIR:-/tmp}
ZADU_SHM_ROOT=$(mktemp -d "$base/zadulpm-$1-XXXXXX")
export ZADU_SHM_ROOT
work=$(mktemp -d)

# A value from the JSON document in $1, by a Python expression over `d`.
json() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($2)" "$1"; }

# The shared memory's status as JSON, in $work/status.json.
read_status() { "$command" --json status >"$work/status.json"; }

# Kills and reaps every pid given that is still running.
reap() {
  for pid in "$@"; do
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
