#!/usr/bin/env bash
# The throwaway Wine prefix of one test run (and of a benchmark run): "setup STATE" makes it,
# with its wineserver and its virtual display, and records it in the directory STATE;
# "cleanup STATE" stops them, by their prefix and process id, and deletes everything. The
# ctest fixture of the Wine tests calls this; lib.sh does the work.
source "$(dirname "$0")/lib.sh"
case "${1:-}" in
  setup)
    prefix_setup "$2"
    use_prefix "$2"
    echo "prefix $WINEPREFIX, display $DISPLAY, builds Wine runs here: $(wine_bits | tr ' ' /)-bit"
    ;;
  cleanup) prefix_cleanup "$2" ;;
  *)
    echo "usage: prefix.sh setup|cleanup STATE" >&2
    exit 2
    ;;
esac
