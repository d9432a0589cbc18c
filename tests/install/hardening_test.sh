#!/usr/bin/env bash
# Checks the hardening of built binaries with readelf, as the Debian
# packages get it from hardening=+all:
#   full RELRO (a GNU_RELRO segment and BIND_NOW), the stack protector
#   (__stack_chk_fail imported), the program position independent (PIE),
#   and with --fortify the fortified calls (__*_chk imported);
#   no empty or relative entry in a RUNPATH or RPATH (the loader would look
#   in the working folder), and a program started from a folder holding
#   copies of the libraries it needs maps none of them from there;
#   with --tree DIR, the search paths of every ELF binary below DIR.
#   hardening_test.sh [--fortify] [--tree DIR] --program FILE... --library FILE...
# Every finding is named; the exit status is 1 when there is one.
set -uo pipefail
. "$(dirname "$0")/search_paths.sh"

fortify=0
kind=""
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

check() {
  local file=$1 kind=$2
  [ -f "$file" ] || { fail "$file: not built"; return; }
  local dynamic segments header symbols
  dynamic=$(readelf -dW "$file") || { fail "$file: not an ELF file"; return; }
  segments=$(readelf -lW "$file")
  header=$(readelf -hW "$file")
  symbols=$(readelf --dyn-syms -W "$file")
  local found=()
  grep -q 'GNU_RELRO' <<<"$segments" && found+=(RELRO) || fail "$file: no GNU_RELRO segment"
  if grep -qE '\(BIND_NOW\)|\(FLAGS\).*\bBIND_NOW\b|\(FLAGS_1\).*\bNOW\b' <<<"$dynamic"; then
    found+=(BIND_NOW)
  else
    fail "$file: no BIND_NOW (RELRO only partial)"
  fi
  if [ "$kind" = program ]; then
    if grep -qE 'Type:[[:space:]]+DYN' <<<"$header" && grep -qE '\(FLAGS_1\).*\bPIE\b' <<<"$dynamic"; then
      found+=(PIE)
    else
      fail "$file: not a position-independent executable"
    fi
  fi
  grep -qE '\b__stack_chk_fail\b' <<<"$symbols" && found+=(stack-protector) ||
    fail "$file: no stack protector (__stack_chk_fail not used)"
  if [ "$fortify" = 1 ]; then
    local chk
    chk=$(grep -oE '\b__[a-z0-9_]+_chk\b' <<<"$symbols" | grep -v '^__stack_chk' | sort -u | tr '\n' ' ')
    [ -n "$chk" ] && found+=("fortify(${chk% })") || fail "$file: no fortified calls (__*_chk)"
  fi
  local findings
  findings=$(search_path_findings "$file")
  [ -z "$findings" ] && found+=(search-paths) || fail_each "$file" "$findings"
  if [ "$kind" = program ]; then
    findings=$(planted_library_findings "$file")
    [ -z "$findings" ] && found+=(no-planted-libraries) || fail_each "$file" "$findings"
  fi
  echo "$file: ${found[*]}"
}

fail_each() {   # file, findings (one a line)
  local line
  while IFS= read -r line; do fail "$1: $line"; done <<< "$2"
}

# Every linked ELF file below the folder (executables and shared objects;
# object files and archives carry no search path). A file that goes while
# the folder is read (a test's scratch file) is skipped.
check_tree() {
  local f n=0 findings
  while IFS= read -r -d '' f; do
    [ "$(head -c 4 "$f" 2>/dev/null)" = $'\x7fELF' ] || continue
    n=$((n + 1))
    findings=$(search_path_findings "$f")
    [ -z "$findings" ] || fail_each "$f" "$findings"
  done < <(find "$1" -type f \( -perm -u+x -o -name '*.so' -o -name '*.so.*' \) -print0 2>/dev/null)
  [ "$n" -gt 0 ] || fail "$1: no ELF binary found"
  echo "$1: search paths of $n ELF binaries checked"
}

while [ $# -gt 0 ]; do
  case $1 in
    --fortify) fortify=1 ;;
    --program) kind=program ;;
    --library) kind=library ;;
    --tree) shift; check_tree "$1" ;;
    "") ;; # an option the build left empty
    *)
      [ -n "$kind" ] || { echo "usage: $0 [--fortify] --program FILE... --library FILE..." >&2; exit 2; }
      check "$1" "$kind"
      ;;
  esac
  shift
done
exit "$failed"
