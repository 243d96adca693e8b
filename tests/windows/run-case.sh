#!/bin/sh
# Runs one case of a Windows test program under Wine for CTest. GoogleTest ends a case with 0
# (passed) or 1 (failed) and says why; any other status comes from Wine or from the program
# dying, often before it printed anything, and then the status and how long the program ran
# are all that tell what happened, so they are printed.
# Usage: run-case.sh WINE PROGRAM [ARGUMENTS...]
wine="$1"
shift
start=$(date +%s%N)
"$wine" "$@"
status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 1 ]; then
  end=$(date +%s%N)
  echo "run-case.sh: ${1##*/} ended with status $status after $(((end - start) / 1000000)) ms" >&2
fi
exit "$status"
