#!/bin/sh
# lumora record on a simulated camera, output not a terminal: plain progress lines and the
# summary; ffprobe reads the file whole with the printed frame count; SIGINT ends a long
# recording early with a finished file and the signal's exit status.
# Usage: record-test.sh LUMORA
set -u
lumora=$1
command -v ffprobe >/dev/null 2>&1 || { echo "ffprobe missing: skipped"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The frames ffprobe counts in $1.
probe_frames() {
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 "$1"
}
# The value of a summary line ("frames           N") in $2.
summary() { sed -n "s/^$1  *\([0-9][0-9]*\).*/\1/p" "$2"; }

check_file() {  # output, file
    frames=$(summary frames "$1")
    size=$(summary 'file size' "$1")
    [ -n "$frames" ] && [ "$frames" -gt 0 ] || fail "no frame count in the summary"
    [ "$size" = "$(stat -c %s "$2")" ] || fail "printed size $size, file $(stat -c %s "$2")"
    probed=$(probe_frames "$2")
    [ "$probed" = "$frames" ] || fail "ffprobe reads $probed frames, lumora printed $frames"
    grep -Eq '^frame rate +[0-9]+\.[0-9]{2} frames/s$' "$1" || fail "no frame rate line"
}

# A short recording to its end.
"$lumora" --sim 1 record "$dir/a.avi" -s 1 -w 0,0,320,240 >"$dir/a.out" 2>&1
rc=$?
cat "$dir/a.out"
[ $rc -eq 0 ] || fail "exit status $rc"
grep -q "$(printf '\r')" "$dir/a.out" && fail "a progress bar was drawn without a terminal"
grep -Eq '^progress [0-9.]+/1\.0 s, [0-9]+ frames, [0-9.]+ MB, [0-9.]+ fps, [0-9]+ skipped$' \
    "$dir/a.out" || fail "no plain progress line"
check_file "$dir/a.out" "$dir/a.avi"

# A long recording cut short by SIGINT once frames are in the file.
"$lumora" --sim 1 record "$dir/b.avi" -s 600 -b 16 -w 0,0,320,240 >"$dir/b.out" 2>&1 &
pid=$!
i=0
until grep -Eq '^progress .*, [1-9][0-9]* frames' "$dir/b.out" 2>/dev/null; do
    i=$((i + 1))
    [ $i -lt 300 ] || { kill -KILL $pid; fail "no progress within 30 s"; }
    sleep 0.1
done
kill -INT $pid
wait $pid
rc=$?
cat "$dir/b.out"
[ $rc -eq 130 ] || fail "exit status $rc after SIGINT"
grep -q '^stopped  *by signal 2$' "$dir/b.out" || fail "the stop is not reported"
check_file "$dir/b.out" "$dir/b.avi"
echo "lumora record: ok"
