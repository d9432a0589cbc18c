# Library search paths of ELF binaries, sourced by hardening_test.sh and
# install_test.sh. The loader takes an empty entry of a RUNPATH or RPATH
# (a leading, trailing or doubled ':') as the working folder, and a relative
# entry as a folder below it: either lets a library planted in the folder a
# program is started from be mapped in place of the system's.

# The entries of the file's RPATH and RUNPATH, one a line (an empty entry
# as an empty line).
search_path_entries() {
  local value rest
  while IFS= read -r value; do
    rest=$value
    while :; do
      printf '%s\n' "${rest%%:*}"
      [ "$rest" = "${rest#*:}" ] && break
      rest=${rest#*:}
    done
  done < <(readelf -dW "$1" 2>/dev/null | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]$/\2/p')
}

# Prints one line per entry that is empty or relative (neither absolute nor
# $ORIGIN-based); prints nothing for a sound file.
search_path_findings() {
  local entry
  while IFS= read -r entry; do
    case $entry in
      '') echo "an empty search path entry (the working folder)" ;;
      /* | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
      *) echo "the relative search path entry '$entry'" ;;
    esac
  done < <(search_path_entries "$1")
}

# Checks that the program, started from a folder that holds a copy of each
# library it needs (links to the real files), maps none of them from there:
# the loader resolves them as ldd lists them. Prints one line per library
# taken from the folder.
planted_library_findings() {
  local program=$1 plant needed path line
  plant=$(mktemp -d "${TMPDIR:-/tmp}/koru-plant.XXXXXX")
  while IFS= read -r needed; do
    path=$(ldd "$program" 2>/dev/null | awk -v n="$needed" '$1 == n && $2 == "=>" && $3 ~ /^\// {print $3; exit}')
    [ -n "$path" ] && ln -s "$path" "$plant/$needed"
  done < <(readelf -dW "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
  # Taken from the folder, a library is listed by its bare (relative) name
  # or by a path inside the folder.
  (cd "$plant" && ldd "$program" 2>&1) | while IFS= read -r line; do
    read -r needed path _ <<< "$line"
    [ -e "$plant/$needed" ] || continue
    if [ "$path" = "=>" ]; then path=$(awk '{print $3}' <<< "$line"); else path=$needed; fi
    case $path in
      "$plant"/*) echo "$needed is taken from the working folder ($path)" ;;
      /*) ;;
      *) echo "$needed is taken from the working folder ($path)" ;;
    esac
  done
  rm -rf "$plant"
}
