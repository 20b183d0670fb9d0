#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Static analysis of the whole tree: clang-tidy with the checks in
# .clang-tidy (and tests/.clang-tidy), and cppcheck. Any finding fails the
# run; a finding that is no fault is suppressed where it stands, with its
# reason (NOLINT(check): why, or cppcheck-suppress id ; why).
#
# Three compile databases, written by configuring alone (nothing is built):
#   host  the 64-bit host build: driver rooms, host/, tools/, tests/, fuzz/,
#         emulator/ (its C++ side),
#         bench/;
#   m32   the 32-bit host build, for what differs there: the files only it
#         compiles (host/image/pe_image.cpp) and those with code of their own
#         for __i386__;
#   nt    the driver rooms as the NT image sees them: the i686-w64-mingw32
#         target, the DDK's headers, TORVIC_NT_BUILD.
# Outside the test command (it takes minutes); .ci/run calls it after.
# Usage: scripts/lint.sh [-j N]   (default: 2 jobs)
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=2
if [[ ${1:-} == -j ]]; then jobs=$2; elif [[ ${1:-} == -j* ]]; then jobs=${1#-j}; fi

scripts/setup.sh clang-tidy cppcheck

out=build/lint
mkdir -p "$out"
configure() {  # NAME PRESET [CMAKE OPTIONS...]: writes build/lint/NAME/compile_commands.json
  # Afresh each time: configuring alone takes seconds, and a folder another
  # generator or compiler made would stop CMake.
  rm -rf "${out:?}/$1"
  cmake --preset "$2" -B "$out/$1" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON -DTORVIC_UNITY_BUILD=OFF "${@:3}" >"$out/$1.configure.log" ||
    { cat "$out/$1.configure.log"; exit 1; }
}
# The host database includes the emulator's board library (its C interface).
configure host default -DTORVIC_QEMU_BOARD=ON
configure m32 m32
configure nt nt

# The NT database as clang reads it: the include paths, which mingw's CMake
# rules put in a response file, written inline, and gcc's call-graph option,
# which clang does not know, left out.
python3 - "$out/nt/compile_commands.json" <<'EOF'
import json, re, sys
path = sys.argv[1]
db = json.load(open(path))
for entry in db:
    inline = lambda m: open(f"{entry['directory']}/{m.group(1)}").read().strip()
    entry["command"] = re.sub(r"@(\S+\.rsp)", inline, entry["command"])
    entry["command"] = entry["command"].replace(" -fcallgraph-info=su", "")
json.dump(db, open(path, "w"), indent=0)
EOF

# Each database's sources of ours, once each (not GoogleTest's, which the
# 32-bit build compiles from /usr/src).
sources() {  # NAME
  python3 -c '
import json, sys
seen = []
for e in json.load(open(sys.argv[1])):
    if e["file"] not in seen and not e["file"].startswith("/usr/"): seen.append(e["file"])
print("\n".join(seen))' "$out/$1/compile_commands.json"
}
sources host >"$out/host.files"
sources nt >"$out/nt.files"
sources m32 | while read -r f; do
  [[ $f == "$PWD/build/"* ]] && continue  # generated: the host build has its twin
  if ! grep -qxF "$f" "$out/host.files" || grep -q '__i386__' "$f"; then echo "$f"; fi
done >"$out/m32.files"

# ---- clang-tidy ----------------------------------------------------------------------
# One list of (database, source) for all three, so that both jobs stay busy
# to the end, with the test programs, the slowest sources, first; one log per
# source, and each source's time in tidy.times.
started=$SECONDS
rm -rf "$out/tidy" "$out/tidy.times" && mkdir -p "$out/tidy"
for db in host m32 nt; do sed "s|^|$db |" "$out/$db.files"; done >"$out/tidy.all"
{ grep '/tests/' "$out/tidy.all" || true; grep -v '/tests/' "$out/tidy.all"; } >"$out/tidy.jobs"
# The static analyser runs in its shallow mode (less inlining, fewer paths a
# function), which took a third off the lint. Faults planted to compare the
# two modes: in a test, a null member dereferenced, memory used after
# delete, and a division by zero after a loop of assertions (shallow found
# all three, full depth two, having spent its budget before the division);
# in the driver, a division by zero after a loop and a pointer null on one
# branch; in the host, memory used after a helper deleted it, and in its
# longest function a leak on an early return and an uninitialised value
# (both modes found all five).
tidy_one() {  # OUT DATABASE SOURCE
  local log started status=0
  local shallow=(--extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang
                 --extra-arg=mode=shallow)
  log="$1/tidy/$2$(echo "$3" | tr / _).log"
  started=$(date +%s.%N)
  clang-tidy --quiet "${shallow[@]}" -p "$1/$2" "$3" >"$log" 2>&1 || status=$?
  echo "$(date +%s.%N) $started $2 $3" >>"$1/tidy.times"
  return $status
}
export -f tidy_one
tidy_status=0
xargs -P "$jobs" -L 1 bash -c 'tidy_one "$0" "$1" "$2"' "$out" <"$out/tidy.jobs" || tidy_status=1
tidy_seconds=$((SECONDS - started))

# ---- cppcheck ------------------------------------------------------------------------
# The families warning, performance, portability and style, each database on
# its own platform, with whole-program checks across its sources. Two checks
# are left out:
#   useStlAlgorithm: a plain loop is the style, and the driver rooms are
#     freestanding, with no <algorithm>;
#   constParameterCallback: a callback's parameter types are its caller's
#     (Google Benchmark's State, NT's callbacks), not ours to make const.
started=$SECONDS
cppcheck_status=0
: >"$out/cppcheck.log"
for db in host:unix64 m32:unix32 nt:win32A; do
  name=${db%%:*}
  mkdir -p "$out/cppcheck-$name"
  cppcheck --project="$out/$name/compile_commands.json" --platform="${db#*:}" \
    --enable=warning,performance,portability,style --inline-suppr --library=googletest \
    --suppress=useStlAlgorithm --suppress=constParameterCallback \
    -i "$PWD/build/" -i /usr/ --suppress='*:/usr/*' \
    --cppcheck-build-dir="$out/cppcheck-$name" -j "$jobs" --quiet --error-exitcode=1 \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
    2>>"$out/cppcheck.log" || cppcheck_status=1
done
cppcheck_seconds=$((SECONDS - started))

# ---- Summary -------------------------------------------------------------------------
# A finding: "file:line:col: warning|error: message [check]", the message
# perhaps over several lines; a header's finding is reported once per source
# that includes it, and counted once.
python3 - "$PWD" "$out" "$tidy_status" "$cppcheck_status" \
  "$tidy_seconds" "$cppcheck_seconds" <<'EOF'
import collections, glob, re, sys
root, out, tidy_status, cppcheck_status, tidy_s, cppcheck_s = sys.argv[1:]
finding = re.compile(r"^(\S+?:\d+:\d+): (?:warning|error|style|performance|portability): "
                     r"(.*?) \[([^\]\s]+)\]$", re.M | re.S)

def findings(text):
    found = {}
    for where, message, check in finding.findall(text):
        check = check.replace(",-warnings-as-errors", "")
        found[(where.replace(root + "/", ""), check)] = " ".join(message.split())
    return found

def report(tool, found, status, seconds, count_files):
    print(f"lint: {tool}: {count_files}, {len(found)} findings, {seconds} s")
    for (where, check), message in sorted(found.items()):
        print(f"  {where}: {message} [{check}]")
    by_check = collections.Counter(check for _, check in found)
    for check, n in by_check.most_common():
        print(f"  {n:4} {check}")
    return bool(found) or status != "0"

files = {db: len(open(f"{out}/{db}.files").read().split()) for db in ("host", "m32", "nt")}
# Each source's clang-tidy time (end, start, database, source), summed by
# database: where the minutes go.
tidy_cpu = collections.Counter()
for line in open(f"{out}/tidy.times"):
    end, start, db, _ = line.split(maxsplit=3)
    tidy_cpu[db] += float(end) - float(start)
tidy_text = "".join(open(log, errors="replace").read() for log in glob.glob(f"{out}/tidy/*.log"))
cppcheck_text = open(f"{out}/cppcheck.log", errors="replace").read()
tidy = findings(tidy_text)
cppcheck = findings(cppcheck_text)
failed = report("clang-tidy", tidy, tidy_status, tidy_s,
                f"{sum(files.values())} sources (host {files['host']}, 32-bit {files['m32']}, "
                f"NT {files['nt']}; seconds of clang-tidy: host {tidy_cpu['host']:.0f}, "
                f"32-bit {tidy_cpu['m32']:.0f}, NT {tidy_cpu['nt']:.0f})")
failed |= report("cppcheck", cppcheck, cppcheck_status, cppcheck_s, "the same three databases")
if tidy_status != "0" and not tidy:
    print("lint: clang-tidy failed without a finding; its logs are in " + out + "/tidy")
if cppcheck_status != "0" and not cppcheck:
    print("lint: cppcheck failed without a finding:\n" + cppcheck_text[-2000:])
print("lint: FAILED" if failed else "lint: no findings")
sys.exit(1 if failed else 0)
EOF
