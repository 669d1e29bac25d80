# Shared by scripts/release.sh and scripts/msi.sh, sourced first thing: the options both take,
# the project version, the two Windows build trees, and the shipped files of one tree. Each
# caller sets "me" (its name in messages) before sourcing this; from here on the caller works
# from the project's top folder ("root"), "caller" is the folder it was started from, and "out"
# its default output folder, build/<me>.
caller=$PWD
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
out=$root/build/$me

# from_caller PATH: PATH as the caller meant it. The scripts work from the project's top
# folder, so a relative path given to them is made absolute against the folder they were
# started from before anything reads or writes it.
from_caller() {
  case $1 in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$caller/$1" ;;
  esac
}

# Empty trees mean the release trees in build/release-w32 and build/release-w64; build=1 builds
# what ships first.
win32=${BREVUN_WIN32_DIR:+$(from_caller "$BREVUN_WIN32_DIR")}
win64=${BREVUN_WIN64_DIR:+$(from_caller "$BREVUN_WIN64_DIR")}
build=1

# tree_option ARGS...: takes one of the shared options (--win32 DIR, --win64 DIR, --out DIR,
# --no-build) from the front of ARGS and sets "taken" to the number of words it used, 0 when
# the first word is none of them.
tree_option() {
  taken=2
  case "$1" in
    --win32) win32=$(from_caller "${2:?$me: --win32 needs a folder}") ;;
    --win64) win64=$(from_caller "${2:?$me: --win64 needs a folder}") ;;
    --out) out=$(from_caller "${2:?$me: --out needs a folder}") ;;
    --no-build) build=0; taken=1 ;;
    *) taken=0 ;;
  esac
}

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
