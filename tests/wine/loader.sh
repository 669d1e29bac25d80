# Sourced by every script that starts Wine. Wine's 32-bit loader is an i386 Linux program: a
# kernel built without 32-bit support cannot start it, and Debian's "wine" picks it whenever it
# is installed. There the 64-bit loader runs everything (the wrappers in bin64/), a win64 prefix
# gets no 32-bit side, and the tests of the 32-bit build end as skipped, saying why.
# The probe asks the 32-bit loader itself, not "wine", which may already be our wrapper.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  brevun_wine_bits="64 32"
elif [ -x /usr/lib/wine/wine64 ]; then
  export PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/bin64:$PATH"
  export WINELOADER=/usr/lib/wine/wine64
  brevun_wine_bits="64"
else
  echo "no Wine loader starts on this machine" >&2
  exit 1
fi

# The bitnesses Wine runs here: "64 32", or "64" where the kernel starts no 32-bit programs.
wine_bits() { echo "$brevun_wine_bits"; }
has_bits() { case " $brevun_wine_bits " in *" $1 "*) return 0 ;; esac; return 1; }
# A test of one build that Wine cannot run here ends as skipped (ctest's SKIP_RETURN_CODE 77)
# instead of failing or passing.
need_bits() {
  has_bits "$1" && return 0
  echo "SKIP: this machine's kernel starts no 32-bit programs, so Wine cannot run the $1-bit build" >&2
  exit 77
}
