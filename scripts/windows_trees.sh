# Shared by scripts/release.sh and scripts/msi.sh, sourced from the project's top folder: the
# project version, the two Windows build trees, and the shipped files of one tree. Each caller
# sets "me" (its name in messages), "root", "build" (1: build first) and "win32"/"win64" (empty:
# the release trees in build/release-w32 and build/release-w64).

# project_version: the version of the project() line of CMakeLists.txt.
project_version() {
  local v
  v=$(sed -n 's/^project(brevun VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  [ -n "$v" ] || { echo "$me: no version in CMakeLists.txt" >&2; exit 1; }
  echo "$v"
}

# windows_trees: builds what ships from both trees (configuring the release trees when no tree
# was given) unless build is 0, then insists on both trees.
windows_trees() {
  local arch dir
  if [ "$build" = 1 ]; then
    bash scripts/setup.sh
    for arch in win32 win64; do
      dir=${!arch}
      if [ -z "$dir" ]; then
        [ "$arch" = win32 ] && dir=$root/build/release-w32 || dir=$root/build/release-w64
        cmake --preset "$arch" -B "$dir" >/dev/null
        printf -v "$arch" '%s' "$dir"
      fi
      cmake --build "$dir" -j "$(nproc)" --target brevun brevun-check brevun_help >/dev/null
    done
  fi
  : "${win32:?$me: --no-build needs --win32 DIR}" "${win64:?$me: --no-build needs --win64 DIR}"
}

# ship_tree BUILD-DIR STRIP-TOOL DEST: brevun.dll, brevun.chm and brevun-check.exe of a tree.
ship_tree() {
  local dir=$1 strip=$2 dest=$3 f
  mkdir -p "$dest"
  for f in component/brevun.dll brevun.chm cli/brevun-check.exe; do
    [ -f "$dir/$f" ] || { echo "$me: $dir/$f is missing (build the Windows trees first)" >&2; exit 1; }
    cp "$dir/$f" "$dest/"
  done
  # The DLL is linked without symbols; the tool ships the same way.
  "$strip" "$dest/brevun-check.exe"
}
