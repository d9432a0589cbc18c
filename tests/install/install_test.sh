#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it as a user would
# meet it:
#  1. the installed files are exactly the expected list (no test binaries,
#     no stand-in libraries), with the program's files when it is built;
#  2. no installed binary carries a search path other than $ORIGIN-relative
#     ones (none empty: the working folder), the program started from a
#     folder of planted libraries maps none of them, every needed library
#     resolves, the libraries' SONAMEs are right, and no installed text file
#     names the build or source folder;
#  3. the manual is a complete PDF;
#  4. a CMake project finds the package and builds; a plain compile with
#     pkg-config flags builds and prints both release texts;
#  5. the CMake consumer opens the installed crate simulator, reads a channel
#     and closes it.
# Settings come from the environment (tests/install/CMakeLists.txt).
set -euo pipefail
. "$KORU_TEST_DIR/search_paths.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/koru-install-test.XXXXXX")
PREFIX=$WORK/prefix
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then kill -KILL "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# ---- 1. install and compare the file list
"$KORU_CMAKE" --install "$KORU_BUILD_DIR" --prefix "$PREFIX" > "$WORK/install.log" ||
  { cat "$WORK/install.log"; fail "cmake --install failed"; }

expand() {
  sed -e "s|@BINDIR@|$KORU_BINDIR|g" -e "s|@LIBDIR@|$KORU_LIBDIR|g" \
      -e "s|@INCLUDEDIR@|$KORU_INCLUDEDIR|g" -e "s|@DATADIR@|$KORU_DATADIR|g" \
      -e "s|@CONFIG@|$KORU_CONFIG|g" "$1"
}
{
  expand "$KORU_TEST_DIR/expected_files.txt"
  expand "$KORU_TEST_DIR/expected_program_files.txt"
} | LC_ALL=C sort > "$WORK/expected.txt"
# Files and links by name, empty folders with a trailing slash.
(cd "$PREFIX" && { find . \( -type f -o -type l \) -printf '%P\n'; find . -mindepth 1 -type d -empty -printf '%P/\n'; }) |
  LC_ALL=C sort > "$WORK/installed.txt"
if ! diff -u "$WORK/expected.txt" "$WORK/installed.txt" > "$WORK/list.diff"; then
  cat "$WORK/list.diff" >&2
  fail "installed files differ from the expected list (+ unexpected, - missing)"
fi
echo "installed files: $(wc -l < "$WORK/installed.txt") as expected"

# ---- 2. binaries and text files carry no build-machine paths
while IFS= read -r rel; do
  f=$PREFIX/$rel
  [ -f "$f" ] && [ ! -L "$f" ] || continue
  if readelf -h "$f" > /dev/null 2>&1; then
    findings=$(search_path_findings "$f")
    [ -z "$findings" ] || fail "$rel: $findings"
    while IFS= read -r p; do
      case "$p" in
        '$ORIGIN'*) ;;
        *) fail "$rel has the search path '$p'" ;;
      esac
    done < <(search_path_entries "$f")
    if [ "$rel" = "$KORU_BINDIR/LUMO2020" ]; then
      findings=$(planted_library_findings "$f")
      [ -z "$findings" ] || fail "$rel: $findings"
    fi
    # Needed libraries come from the system or from the prefix.
    if LD_LIBRARY_PATH=$PREFIX/$KORU_LIBDIR ldd "$f" 2>&1 | grep -q 'not found'; then
      LD_LIBRARY_PATH=$PREFIX/$KORU_LIBDIR ldd "$f" >&2
      fail "$rel needs a library that is not found"
    fi
  elif grep -q -F -e "$KORU_BUILD_DIR" -e "$KORU_SOURCE_DIR" "$f"; then
    fail "$rel names the build or source folder"
  fi
done < "$WORK/installed.txt"
soname() { readelf -d "$1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p'; }
[ "$(soname "$PREFIX/$KORU_LIBDIR/libkoruhvwrapper.so")" = libkoruhvwrapper.so.7 ] || fail "SONAME of libkoruhvwrapper"
[ "$(soname "$PREFIX/$KORU_LIBDIR/libKORUVME.so")" = libKORUVME.so.4 ] || fail "SONAME of libKORUVME"
echo "binaries: search paths, libraries and SONAMEs fine"

# ---- 3. the manual: header, end marker, and the cross-reference table
# where the trailer says it is
pdf=$PREFIX/$KORU_DATADIR/KORU/RORERAVA2020/MN5190_LUMO2020_REV9.pdf
[ "$(head -c 8 "$pdf")" = "%PDF-1.4" ] || fail "manual: no PDF header"
[ "$(tail -n 1 "$pdf")" = "%%EOF" ] || fail "manual: no end marker"
xref=$(tail -n 2 "$pdf" | head -n 1)
[ "$(tail -c +"$((xref + 1))" "$pdf" | head -c 4)" = "xref" ] || fail "manual: cross-reference offset is wrong"
# every object sits where the cross-reference table says
entries=$(tail -c +"$((xref + 1))" "$pdf" | sed -n '2s/^0 \([0-9]*\)$/\1/p')
[ -n "$entries" ] || fail "manual: no cross-reference table"
for i in $(seq 1 $((entries - 1))); do
  off=$(tail -c +"$((xref + 1))" "$pdf" | sed -n "$((i + 3))s/^\([0-9]\{10\}\) 00000 n $/\1/p")
  [ -n "$off" ] || fail "manual: cross-reference entry $i"
  [ "$(tail -c +"$((10#$off + 1))" "$pdf" | head -n 1)" = "$i 0 obj" ] || fail "manual: object $i is not at its offset"
done
echo "manual: complete PDF with $((entries - 1)) objects"
# the manual writer refuses text it cannot lay out, and writes nothing then
printf 'caf\xc3\xa9\n' > "$WORK/bad.txt"
if "$KORU_BUILD_DIR/packaging/koru-text-to-pdf" "$WORK/bad.txt" "$WORK/bad.pdf" 2> "$WORK/bad.err"; then
  fail "manual writer accepted non-ASCII text"
fi
grep -q 'bad.txt:1: only printable ASCII' "$WORK/bad.err" || fail "manual writer error text: $(cat "$WORK/bad.err")"
[ ! -e "$WORK/bad.pdf" ] || fail "manual writer left a file behind"

# ---- 4. two consumers outside the tree
read -r -a FLAGS <<< "${KORU_CONSUMER_FLAGS:-}"
cp -r "$KORU_TEST_DIR/consumer_cmake" "$WORK/consumer_cmake"
"$KORU_CMAKE" -S "$WORK/consumer_cmake" -B "$WORK/consumer_cmake/build" \
  -DCMAKE_PREFIX_PATH="$PREFIX" -DCMAKE_C_COMPILER="$KORU_CC" \
  -DCMAKE_C_FLAGS="${KORU_CONSUMER_FLAGS:-}" -DCMAKE_EXE_LINKER_FLAGS="${KORU_CONSUMER_FLAGS:-}" \
  > "$WORK/consumer_cmake.log" 2>&1 || { cat "$WORK/consumer_cmake.log"; fail "find_package consumer: configure"; }
"$KORU_CMAKE" --build "$WORK/consumer_cmake/build" >> "$WORK/consumer_cmake.log" 2>&1 ||
  { cat "$WORK/consumer_cmake.log"; fail "find_package consumer: build"; }
echo "find_package consumer built"

export PKG_CONFIG_PATH=$PREFIX/$KORU_LIBDIR/pkgconfig
[ "$(pkg-config --modversion koruhvwrapper)" = 7.0.0 ] || fail "pkg-config version of koruhvwrapper"
[ "$(pkg-config --modversion KORUVME)" = 4.0.0 ] || fail "pkg-config version of KORUVME"
read -r -a PC_FLAGS <<< "$(pkg-config --cflags --libs koruhvwrapper KORUVME)"
"$KORU_CC" "${FLAGS[@]}" -o "$WORK/releases" "$KORU_TEST_DIR/consumer_pkgconfig/releases.c" "${PC_FLAGS[@]}" ||
  fail "pkg-config consumer: build"
releases=$(LD_LIBRARY_PATH=$PREFIX/$KORU_LIBDIR timeout 30 "$WORK/releases") || fail "pkg-config consumer: run"
[ "$releases" = "7.0.0 4.0.0" ] || fail "pkg-config consumer printed '$releases'"
echo "pkg-config consumer built and printed '$releases'"

# ---- 5. the installed simulator and the CMake consumer, end to end. The
# library reaches crates on their fixed port, so the simulator keeps it and
# moves to the next loopback address when another test holds the first.
sim_address=""
for n in $(seq 2 21); do
  address=127.0.0.$n
  : > "$WORK/sim.out"
  "$PREFIX/$KORU_BINDIR/koru-sim" crate --address "$address" > "$WORK/sim.out" 2> "$WORK/sim.err" &
  SIM_PID=$!
  for _ in $(seq 100); do   # at most 10 s for the listening line or an exit
    grep -q 'listening' "$WORK/sim.out" && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  if grep -q 'listening' "$WORK/sim.out"; then sim_address=$address; break; fi
  kill -KILL "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=""
done
[ -n "$sim_address" ] || { cat "$WORK/sim.err" >&2; fail "the crate simulator did not start"; }
echo "crate simulator on $sim_address"

out=$(timeout 60 "$WORK/consumer_cmake/build/read_channel" "$sim_address" 2>&1) ||
  { echo "$out" >&2; fail "find_package consumer against the simulator"; }
echo "$out"
grep -q '^libkoruhvwrapper 7.0.0, libKORUVME 4.0.0$' <<< "$out" || fail "release texts"
grep -q '^slot 0 channel 0 V0Set = ' <<< "$out" || fail "no channel value"

kill -TERM "$SIM_PID"
for _ in $(seq 100); do   # at most 10 s to stop
  kill -0 "$SIM_PID" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$SIM_PID" 2>/dev/null && fail "the simulator did not stop on SIGTERM"
sim_rc=0
wait "$SIM_PID" || sim_rc=$?
SIM_PID=""
[ "$sim_rc" = 0 ] || { cat "$WORK/sim.err" >&2; fail "the simulator ended with $sim_rc"; }
echo "PASS"
