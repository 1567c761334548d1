# Pieces the bottle command's timing scripts share; sourced, not run.

now() { date +%s.%N; }

# Prints the fastest wall-clock time, in seconds, of RUNS runs of "$@", its
# output discarded, each after the disk has taken what earlier runs wrote.
fastest() {
  local runs=$1 best="" start end
  shift
  for ((run = 0; run < runs; run++)); do
    sync
    start=$(now)
    "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
    end=$(now)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}

# Prints N lines of a slow wave with noise, with six significant digits, as
# an instrument would give; every 100000th line is empty (an unusable
# sample).
wave() {
  awk -v n="$1" 'BEGIN {
    srand(1)
    for (i = 0; i < n; i++)
      if (i % 100000 == 99999) print ""; else printf "%.6g\n", 20 + 10 * sin(i / 5000) + rand()
  }'
}

# Writes a float bottle of SAMPLES samples (rounded down to whole millions
# above a million) at 0.01 s from 23 June 2015 to OUT: a bottle of the wave
# whose samples are repeated, with the header's sample count (bytes 20 to
# 23, little-endian) set to the total.
big_bottle() {  # big_bottle BOTTLE SAMPLES OUT
  local bottle=$1 samples=$2 out=$3
  local unit=$((samples < 1000000 ? samples : 1000000))
  samples=$((samples / unit * unit))
  wave "$unit" | "$bottle" import -o "$out.unit" --type float --begin 2015-06-23 --interval 0.01
  {
    head -c 40 "$out.unit"
    for ((i = 0; i < samples / unit; i++)); do tail -c +41 "$out.unit"; done
  } >"$out"
  rm "$out.unit"
  local count
  count=$(printf '\\%03o\\%03o\\%03o\\%03o' $((samples & 255)) $((samples >> 8 & 255)) \
    $((samples >> 16 & 255)) $((samples >> 24 & 255)))
  printf "$count" | dd of="$out" bs=1 seek=20 conv=notrunc status=none
}

# One line of a table of ratios: NAME TIME AGAINST TIME TARGET, where a
# TARGET such as "<= 1.5" is followed by whether the ratio, as printed,
# meets it.
row() {
  awk -v name="$1" -v t="$2" -v base="$3" -v tb="$4" -v target="$5" 'BEGIN {
    ratio = sprintf("%.2f", t / tb) + 0  # judged as printed
    verdict = ""
    if (target ~ /^<= /) verdict = (ratio <= substr(target, 4) + 0) ? "  met" : "  MISSED"
    printf "%-26s %7.3f s  %-24s %7.3f s  %5.2f  %s%s\n", name, t, base, tb, ratio, target, verdict
  }'
}
