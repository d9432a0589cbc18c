#!/usr/bin/env bash
# Checks the Debian packages as a Debian user meets them:
#  1. the expected packages, each lintian-clean (no error, no warning);
#  2. each package holds what its name promises: libraries under their
#     sonames in the multiarch folder with an ldconfig trigger and no
#     maintainer script, the development files in the -dev package,
#     stripped binaries whose debug information is in the -dbgsym package;
#  3. unpacked into a scratch root, every library a binary needs resolves,
#     and the package that brings it is in the Depends that dpkg-shlibdeps
#     wrote;
#  4. the -dev package serves a CMake and a pkg-config consumer;
#  5. koru-sim from the root serves a crate the consumer reads, and
#     LUMO2020 from the root starts under the offscreen platform as far as
#     its window and event server.
#   tests/install/package_test.sh [DEB_DIR]
# Without DEB_DIR the packages are built first (packaging/build-debs).
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
# grep -q in a pipe would end the writer early, which pipefail counts as failure.
has() { grep "$@" > /dev/null; }

SRC=$(cd "$(dirname "$0")/../.." && pwd)
TEST_DIR=$SRC/tests/install
START=$SECONDS
if [ $# -ge 1 ]; then
  DEBS=$(cd "$1" && pwd)
else
  DEBS=$SRC/build-deb
  mkdir -p "$DEBS"
  "$SRC/packaging/build-debs" "$DEBS" > "$DEBS/build.log" 2>&1 ||
    { tail -n 60 "$DEBS/build.log" >&2; fail "building the packages (log: $DEBS/build.log)"; }
  echo "packages built in $((SECONDS - START)) s"
fi
VERSION=$(dpkg-parsechangelog -l "$SRC/debian/changelog" -S Version)
ARCH=$(dpkg --print-architecture)
MA=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/koru-package-test.XXXXXX")
ROOT=$WORK/root
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

# ---- 1. the packages and lintian
PACKAGES=(libkoruhvwrapper7 libkoruvme4 libkorucontrol-dev lumo2020 koru-sim)
deb() { echo "$DEBS/${1}_${VERSION}_${ARCH}.deb"; }
expected=()
for p in "${PACKAGES[@]}"; do
  expected+=("$(basename "$(deb "$p")")")
  [ "$p" = libkorucontrol-dev ] || expected+=("$(basename "$(deb "$p-dbgsym")")")
done
diff -u <(printf '%s\n' "${expected[@]}" | LC_ALL=C sort) \
        <(cd "$DEBS" && ls -1 -- *.deb | LC_ALL=C sort) ||
  fail "the packages differ from the expected set (+ unexpected, - missing)"

# Lintian refuses nothing as root but says so; the line is not a finding.
lintian --display-info --fail-on error,warning "$DEBS"/*.deb > "$WORK/lintian.txt" 2>&1 ||
  { cat "$WORK/lintian.txt" >&2; fail "lintian"; }
grep -v 'running with root privileges' "$WORK/lintian.txt" | sed 's/^/  /' || true
echo "lintian: no error or warning on ${#expected[@]} packages" \
  "($(grep -c '^I: ' "$WORK/lintian.txt" || true) notes)"

# ---- 2. what each package holds
contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$'; }
owner_of=$WORK/owner_of   # file -> package, for the dependency check
: > "$owner_of"
for p in "${PACKAGES[@]}"; do
  contents "$(deb "$p")" | sed "s|\$| $p|" >> "$owner_of"
  dpkg-deb -e "$(deb "$p")" "$WORK/control-$p"
  for script in preinst postinst prerm postrm; do
    [ ! -e "$WORK/control-$p/$script" ] || fail "$p has a maintainer script $script"
  done
done
check_library() {   # package, soname
  local p=$1 so=$2 files
  files=$(contents "$(deb "$p")" | grep -v "^/usr/share/doc/$p/")
  [ "$(grep -c . <<< "$files")" = 2 ] || fail "$p holds $files"
  grep -qx "/usr/lib/$MA/$so" <<< "$files" || fail "$p lacks /usr/lib/$MA/$so"
  grep -qx "/usr/lib/$MA/$so\.[0-9.]*" <<< "$files" || fail "$p lacks the library file"
  grep -qx 'activate-noawait ldconfig' "$WORK/control-$p/triggers" || fail "$p: no ldconfig trigger"
  grep -q "^${so%%.so.*} ${so##*.so.} $p " "$WORK/control-$p/shlibs" || fail "$p: shlibs"
}
check_library libkoruhvwrapper7 libkoruhvwrapper.so.7
check_library libkoruvme4 libKORUVME.so.4
diff -u <(printf '%s\n' /usr/include/KORUHVWrapper.h /usr/include/KORUVMElib.h \
            "/usr/lib/$MA/libKORUVME.so" "/usr/lib/$MA/libkoruhvwrapper.so" \
            "/usr/lib/$MA/pkgconfig/KORUVME.pc" "/usr/lib/$MA/pkgconfig/koruhvwrapper.pc" | LC_ALL=C sort) \
        <(contents "$(deb libkorucontrol-dev)" | grep -v -e '^/usr/share/doc/' -e '/cmake/KORUControl/' | LC_ALL=C sort) ||
  fail "libkorucontrol-dev: headers, links and pkg-config files"
contents "$(deb libkorucontrol-dev)" | has "^/usr/lib/$MA/cmake/KORUControl/KORUControlConfig.cmake$" ||
  fail "libkorucontrol-dev: no CMake package"
contents "$(deb lumo2020)" | has -x /usr/bin/LUMO2020 || fail "lumo2020 lacks /usr/bin/LUMO2020"
contents "$(deb lumo2020)" | has -x /usr/share/man/man1/LUMO2020.1.gz || fail "lumo2020 lacks its manual page"
contents "$(deb koru-sim)" | has -x /usr/bin/koru-sim || fail "koru-sim lacks /usr/bin/koru-sim"
contents "$(deb koru-sim)" | has -x /usr/share/man/man1/koru-sim.1.gz || fail "koru-sim lacks its manual page"
echo "contents: multiarch libraries under their sonames, ldconfig by trigger, no maintainer scripts"

for p in "${PACKAGES[@]}"; do dpkg-deb -x "$(deb "$p")" "$ROOT"; done
mkdir -p "$WORK/dbg"
for p in "${PACKAGES[@]}"; do
  [ "$p" = libkorucontrol-dev ] || dpkg-deb -x "$(deb "$p-dbgsym")" "$WORK/dbg"
done
elves=()
while IFS= read -r f; do
  if readelf -h "$f" > /dev/null 2>&1; then elves+=("$f"); fi
done < <(find "$ROOT" -type f)
[ "${#elves[@]}" = 4 ] || fail "expected 4 binaries, found ${#elves[@]}: ${elves[*]}"
for f in "${elves[@]}"; do
  rel=${f#"$ROOT"}
  ! readelf -S "$f" | has -e '\.debug_info' -e '\.symtab' || fail "$rel is not stripped"
  id=$(readelf -n "$f" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')
  [ -n "$id" ] || fail "$rel has no build id"
  dbg=$WORK/dbg/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  [ -f "$dbg" ] || fail "$rel: no debug file in its -dbgsym package"
  readelf -S "$dbg" 2>/dev/null | has '\.debug_info' || fail "$rel: the debug file has no debug information"
  ! readelf -d "$f" | has -e '(RPATH)' -e '(RUNPATH)' || fail "$rel carries a search path"
done
echo "binaries: stripped, debug information in the -dbgsym packages, no search path"

# ---- 3. dependencies: every needed library resolves (ours from the root,
# the rest from the system), and its package is in the binary's Depends
export LD_LIBRARY_PATH=$ROOT/usr/lib/$MA
system_owner() {   # the package holding a system file; dpkg knows a file by
  local real c     # one of its names (/lib or /usr/lib, link or target)
  real=$(readlink -f "$1")
  for c in "$1" "$real" "/usr${1#/usr}" "${1#/usr}" "/usr${real#/usr}" "${real#/usr}"; do
    dpkg -S "$c" 2>/dev/null | head -n 1 | cut -d: -f1 && return 0
  done
  return 0
}
for f in "${elves[@]}"; do
  rel=${f#"$ROOT"}
  p=$(awk -v f="$rel" '$1 == f {print $2}' "$owner_of")
  depends=$(dpkg-deb -f "$(deb "$p")" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
  ldd "$f" > "$WORK/ldd.txt" 2>&1 || true
  ! grep -q 'not found' "$WORK/ldd.txt" || { cat "$WORK/ldd.txt" >&2; fail "$rel needs a library that is not found"; }
  for needed in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(awk -v n="$needed" '$1 == n && $2 == "=>" {print $3; exit}
      substr($1, length($1) - length(n)) == "/" n {print $1; exit}' "$WORK/ldd.txt")
    [ -n "$path" ] || fail "$rel: $needed not resolved"
    if [[ $path == "$ROOT"/* ]]; then
      from=$(awk -v f="${path#"$ROOT"}" '$1 == f {print $2}' "$owner_of")
    else
      from=$(system_owner "$path")
    fi
    [ -n "$from" ] || fail "$rel: no package holds $path"
    [ "$from" = "$p" ] || has -x "$from" <<< "$depends" ||
      fail "$rel needs $needed from $from, which $p does not depend on"
  done
done
# Every Depends entry is satisfiable: ours at this version, or installed here.
for p in "${PACKAGES[@]}"; do
  dpkg-deb -f "$(deb "$p")" Depends | tr ',' '\n' | sed 's/^ *//' | while read -r name op ver; do
    [ -n "$name" ] || continue
    ver=${ver%)}; op=${op#(}
    if printf '%s\n' "${PACKAGES[@]}" | has -x "$name"; then have=$VERSION
    else have=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || fail "$p depends on $name, which is not installed"
    fi
    [ -z "$op" ] || dpkg --compare-versions "$have" "$op" "$ver" || fail "$p depends on $name $op $ver; have $have"
  done
done
echo "dependencies: every needed library resolves and its package is in Depends"

# ---- 4. consumers of the -dev package
cp -r "$TEST_DIR/consumer_cmake" "$WORK/consumer_cmake"
cmake -S "$WORK/consumer_cmake" -B "$WORK/consumer_cmake/build" -DCMAKE_PREFIX_PATH="$ROOT/usr" \
  > "$WORK/consumer_cmake.log" 2>&1 || { cat "$WORK/consumer_cmake.log"; fail "find_package consumer: configure"; }
grep -qx "KORUControl_DIR:PATH=$ROOT/usr/lib/$MA/cmake/KORUControl" "$WORK/consumer_cmake/build/CMakeCache.txt" ||
  fail "find_package found $(grep KORUControl_DIR "$WORK/consumer_cmake/build/CMakeCache.txt")"
cmake --build "$WORK/consumer_cmake/build" >> "$WORK/consumer_cmake.log" 2>&1 ||
  { cat "$WORK/consumer_cmake.log"; fail "find_package consumer: build"; }
echo "find_package consumer built"

export PKG_CONFIG_PATH=$ROOT/usr/lib/$MA/pkgconfig
read -r -a PC_FLAGS <<< "$(pkg-config --cflags --libs koruhvwrapper KORUVME)"
[ "$(realpath -m "$(pkg-config --variable=includedir koruhvwrapper)")" = "$ROOT/usr/include" ] ||
  fail "pkg-config flags ${PC_FLAGS[*]}"
cc -o "$WORK/releases" "$TEST_DIR/consumer_pkgconfig/releases.c" "${PC_FLAGS[@]}" || fail "pkg-config consumer: build"
releases=$(timeout 30 "$WORK/releases") || fail "pkg-config consumer: run"
[ "$releases" = "7.0.0 4.0.0" ] || fail "pkg-config consumer printed '$releases'"
echo "pkg-config consumer built and printed '$releases'"

# ---- 5. the simulator and the program from the root
rc=0
"$ROOT/usr/bin/koru-sim" > /dev/null 2> "$WORK/modes.txt" || rc=$?
[ "$rc" = 2 ] && grep -q '^  crate ' "$WORK/modes.txt" || fail "koru-sim without a mode: $rc, $(cat "$WORK/modes.txt")"
sim_address=""
for n in $(seq 2 21); do   # the crate's port is fixed: the next address when one is taken
  "$ROOT/usr/bin/koru-sim" crate --address "127.0.0.$n" > "$WORK/sim.out" 2> "$WORK/sim.err" &
  sim=$!
  PIDS+=("$sim")
  for _ in $(seq 100); do   # at most 10 s for the listening line or an exit
    grep -q listening "$WORK/sim.out" && break
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.1
  done
  if grep -q listening "$WORK/sim.out"; then sim_address=127.0.0.$n; break; fi
  kill -KILL "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
done
[ -n "$sim_address" ] || { cat "$WORK/sim.err" >&2; fail "koru-sim crate did not start"; }
out=$(timeout 60 "$WORK/consumer_cmake/build/read_channel" "$sim_address" 2>&1) ||
  { echo "$out" >&2; fail "the consumer against koru-sim"; }
grep -q '^slot 0 channel 0 V0Set = ' <<< "$out" || fail "the consumer read no channel: $out"
kill -TERM "$sim"
rc=0
timeout 10 tail --pid="$sim" -f /dev/null || fail "koru-sim did not stop on SIGTERM"
wait "$sim" || rc=$?
[ "$rc" = 0 ] || fail "koru-sim ended with $rc"
echo "koru-sim served a crate on $sim_address; the consumer read a channel"

# LUMO2020 has no option that ends it at once: it starts, shows its window
# and then its event server listens (TCP 4400 and up). That listening socket,
# with the root's library mapped, shows the start; then it is ended.
mkdir -p "$WORK/home"
HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config QT_QPA_PLATFORM=offscreen \
  QTWEBENGINE_CHROMIUM_FLAGS=--no-sandbox "$ROOT/usr/bin/LUMO2020" > "$WORK/lumo.log" 2>&1 &
lumo=$!
PIDS+=("$lumo")
listening() {   # a listening TCP socket of the process
  local inodes
  inodes=$(find "/proc/$1/fd" -lname 'socket:*' -printf '%l\n' 2>/dev/null | tr -dc '0-9\n')
  [ -n "$inodes" ] || return 1
  awk 'NR > 1 && $4 == "0A" {print $10}' /proc/net/tcp /proc/net/tcp6 | has -xF "$inodes"
}
started=0
for _ in $(seq 600); do   # at most 60 s
  kill -0 "$lumo" 2>/dev/null || break
  if listening "$lumo"; then started=1; break; fi
  sleep 0.1
done
[ "$started" = 1 ] || { cat "$WORK/lumo.log" >&2; fail "LUMO2020 did not start (no event server)"; }
grep -q "$ROOT/usr/lib/$MA/libkoruhvwrapper.so.7" "/proc/$lumo/maps" || fail "LUMO2020 did not load the root's library"
kill -TERM "$lumo"
timeout 10 tail --pid="$lumo" -f /dev/null || kill -KILL "$lumo"
wait "$lumo" 2>/dev/null || true
echo "LUMO2020 started (window and event server) under the offscreen platform"
echo "package test passed in $((SECONDS - START)) s"
