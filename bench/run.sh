#!/usr/bin/env bash
# End-to-end timings of tarvix on a generated corpus, against cp, a plain copy and flac.
#
# Builds the release program, makes (or reuses) a deterministic corpus with sox in a scratch
# folder outside the repository, then times every conversion interleaved with its
# comparisons, several runs each, on page-cached input, and prints one line of medians, ratios
# and peak memory per case. Before every timed run the outputs are deleted and `sync` runs,
# untimed, so that no run writes over a file or pays for the writeback of the one before. A
# benchmark, not a test: it asserts no time and exits 0 unless it cannot run at all.
#
# On virtual machines one wall time can swing by 2x with the memory the host hands back, so each
# case is quoted three ways: the median of the per-round ratios (each tarvix run against the cp
# run of the same round), the ratio of the fastest runs, and the CPU seconds per GB of WAV.
#
# Needs cmake, a C++ compiler, sox; flac is optional (apt-get install sox flac).
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/run.sh [options]
  -w, --work DIR     scratch folder for corpus and outputs (default /tmp/tarvix-bench;
                     must lie outside the repository)
  -n, --runs N       timed runs of every command (default 5); the median is quoted
      --no-build     use build/release/tarvix as it is
      --tarvix PATH  time this binary (implies --no-build)
      --small        a corpus a tenth of the size, for trying the script out
      --only LIST    comma-separated cases to run: big16,big24,noise,silence,tree,tiny
  -h, --help         this text
EOF
}

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=/tmp/tarvix-bench
RUNS=5
BUILD=1
TARVIX=""
SMALL=0
ONLY="big16,big24,noise,silence,tree,tiny"

while (($#)); do
  case $1 in
    -w | --work) WORK=$2; shift 2 ;;
    -n | --runs) RUNS=$2; shift 2 ;;
    --no-build) BUILD=0; shift ;;
    --tarvix) TARVIX=$2; BUILD=0; shift 2 ;;
    --small) SMALL=1; shift ;;
    --only) ONLY=$2; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "run.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
  esac
done

[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: --runs needs a positive number" >&2; exit 2; }
WORK=$(realpath -m "$WORK")
case "$WORK/" in
  "$(cd "$REPO" && pwd -P)/"*)
    echo "run.sh: the scratch folder $WORK lies inside the repository; choose another" >&2
    exit 2
    ;;
esac
mkdir -p "$WORK"

wants() { [[ ",$ONLY," == *",$1,"* ]]; }

for tool in sox c++ awk; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (apt-get install sox g++)" >&2; exit 2; }
done
HAVE_FLAC=0
command -v flac >/dev/null && HAVE_FLAC=1

# ---- Program and measuring helper ----

if ((BUILD)); then
  echo "building: cmake --workflow --preset release"
  if ! (cd "$REPO" && cmake --workflow --preset release) >"$WORK/build.log" 2>&1; then
    tail -n 30 "$WORK/build.log" >&2
    echo "run.sh: the build failed (full log: $WORK/build.log)" >&2
    exit 2
  fi
fi
[[ -n $TARVIX ]] || TARVIX=$REPO/build/release/tarvix
[[ -x $TARVIX ]] || { echo "run.sh: no program at $TARVIX" >&2; exit 2; }
TARVIX=$(cd "$(dirname "$TARVIX")" && pwd -P)/$(basename "$TARVIX")

mkdir -p "$WORK/bin"
MEASURE=$WORK/bin/run-measured
if [[ ! -x $MEASURE || $REPO/bench/RunMeasured.cpp -nt $MEASURE ]]; then
  c++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -o "$MEASURE" "$REPO/bench/RunMeasured.cpp"
fi
COPY=$WORK/bin/aligned-copy
if [[ ! -x $COPY || $REPO/bench/AlignedCopy.cpp -nt $COPY ]]; then
  c++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -o "$COPY" "$REPO/bench/AlignedCopy.cpp"
fi

# ---- Corpus ----

# Changing how the corpus is made: raise this, and every existing corpus is made anew.
CORPUS_VERSION=2
if ((SMALL)); then
  CORPUS=$WORK/corpus-small
  BIG16_REPEAT=9      # 10 x 60 s: about 100 MB
  BIG24_REPEAT=0      # 1 x 30 s: about 17 MB
  PLAIN_SECONDS=57    # about 10 MB each
  TREE_FILES=200
else
  CORPUS=$WORK/corpus
  BIG16_REPEAT=100    # 101 x 60 s: about 1 GB
  BIG24_REPEAT=5      # 6 x 30 s: about 100 MB
  PLAIN_SECONDS=567   # about 100 MB each
  TREE_FILES=2000
fi
STAMP="version $CORPUS_VERSION: $BIG16_REPEAT $BIG24_REPEAT $PLAIN_SECONDS $TREE_FILES"

# A music-like piece: per bar a chord of plucked strings over a sine bass, each bar faded in
# and out, then a noise floor of a few steps of the 16-bit scale. Float until the last step.
# make_piece RATE BARS OUT CHORD...   (a CHORD is "left-note right-note second-note bass-note")
make_piece() {
  local rate=$1 bars=$2 out=$3
  shift 3
  local tmp=$CORPUS/tmp b=0 chord
  local -a parts=()
  mkdir -p "$tmp"
  for ((b = 0; b < bars; b++)); do
    read -ra chord <<<"${@:$((b % $# + 1)):1}"
    local note=${chord[0]} other=${chord[1]} second=${chord[2]} bass=${chord[3]}
    sox -R -n -r "$rate" -c 2 -b 32 -e floating-point "$tmp/bar$b.wav" \
      synth 7.5 pluck "$note" pluck "$other" \
      synth 7.5 pluck mix "$second" pluck mix "$note" \
      synth 7.5 sine mix "$bass" sine mix "$bass" \
      tremolo 0.4 30 fade q 0.05 7.5 0.5 vol 0.35
    parts+=("$tmp/bar$b.wav")
  done
  sox -R "${parts[@]}" "$tmp/piece.wav"
  local seconds
  seconds=$(awk -v b="$bars" 'BEGIN { print 7.5 * b }')
  sox -R -n -r "$rate" -c 2 -b 32 -e floating-point "$tmp/floor.wav" \
    synth "$seconds" whitenoise vol 0.00015
  sox -R -m -v 1 "$tmp/piece.wav" -v 1 "$tmp/floor.wav" "$out"
  rm -f "${parts[@]}" "$tmp/piece.wav" "$tmp/floor.wav"
}

# 2000 short files (0.1 to 1 s) of 8, 16 and 24 bits, mono and stereo, four sample rates and
# four wave forms, in three levels of folders; every parameter follows from the file's number.
make_tree() {
  local root=$1 count=$2
  awk -v n="$count" -v root="$root" 'BEGIN {
    split("8 16 24", bits, " "); split("22050 44100 48000 96000", rates, " ");
    split("pluck sine square triangle", waves, " ");
    for (i = 0; i < n; i++) {
      leaf = int(i / 25);
      dir = sprintf("%s/set%d/group%d/take%d", root, int(leaf / 16), int(leaf / 4) % 4, leaf % 4);
      printf "%s %s/sample%04d.wav %d %d %d %.3f %s %.2f\n", dir, dir, i, bits[i % 3 + 1],
             1 + int(i / 3) % 2, rates[int(i / 7) % 4 + 1], 0.1 + 0.9 * ((i * 7919) % 1000) / 999,
             waves[int(i / 11) % 4 + 1], 110 * 2 ^ ((i % 36) / 12);
    }
  }' | while read -r dir file bits channels rate seconds wave freq; do
    mkdir -p "$dir"
    sox -R -D -n -r "$rate" -c "$channels" -b "$bits" -t wavpcm "$file" \
      synth "$seconds" "$wave" "$freq" fade q 0.01 "$seconds" 0.05 vol 0.5
  done
}

make_corpus() {
  rm -rf "$CORPUS"
  mkdir -p "$CORPUS"
  echo "making the corpus in $CORPUS (sox; once)"
  # Wave files with the 44-byte header (wavpcm) even at 24 bits, as tarvix -whs writes them, so
  # that a round trip can be compared byte for byte.
  make_piece 44100 8 "$CORPUS/tmp/music44.wav" \
    "C3 G3 E4 C2" "A2 E3 C4 A1" "F2 C3 A3 F1" "G2 D3 B3 G1" \
    "E3 B3 G4 E2" "D3 A3 F4 D2" "F3 C4 A4 F2" "G3 D4 B4 G2"
  sox -R -D "$CORPUS/tmp/music44.wav" -b 16 -t wavpcm "$CORPUS/big16.wav" repeat "$BIG16_REPEAT"
  make_piece 96000 4 "$CORPUS/tmp/music96.wav" \
    "D3 A3 F#4 D2" "B2 F#3 D4 B1" "G2 D3 B3 G1" "A2 E3 C#4 A1"
  sox -R -D "$CORPUS/tmp/music96.wav" -b 24 -t wavpcm "$CORPUS/big24.wav" repeat "$BIG24_REPEAT"
  sox -R -D -n -r 44100 -c 2 -b 16 -t wavpcm "$CORPUS/noise.wav" \
    synth "$PLAIN_SECONDS" whitenoise vol 0.9
  sox -R -D -n -r 44100 -c 2 -b 16 -t wavpcm "$CORPUS/silence.wav" trim 0 "$PLAIN_SECONDS"
  sox -R -D -n -r 44100 -c 2 -b 16 -t wavpcm "$CORPUS/tiny.wav" synth 1000s sine 440
  make_tree "$CORPUS/tree" "$TREE_FILES"
  rm -rf "$CORPUS/tmp"
  (cd "$CORPUS" && md5sum big16.wav big24.wav noise.wav silence.wav >MD5SUMS &&
    find tree -type f -name '*.wav' | LC_ALL=C sort | xargs cat | md5sum | sed 's/-$/tree/' >>MD5SUMS)
  echo "$STAMP" >"$CORPUS/COMPLETE"
}

if [[ -f $CORPUS/COMPLETE && $(cat "$CORPUS/COMPLETE") == "$STAMP" ]]; then
  CORPUS_STATE="reused"
else
  make_corpus
  CORPUS_STATE="made now"
fi

# ---- Measuring ----

OUT=$WORK/out      # every timed command writes here; emptied before each run
PREP=$WORK/prep    # NCW and FLAC inputs for the decoders, made untimed
RES=$WORK/results  # one file of times and one of peaks per command
rm -rf "$OUT" "$PREP" "$RES"
mkdir -p "$OUT" "$PREP" "$RES"

# Every run writes new files: writing over an existing file, or the writeback a previous run left
# behind, would be timed with it.
clean_out() {
  rm -rf "$OUT"
  mkdir -p "$OUT"
  sync
}

# timed NAME COMMAND...: one run, its wall time and peak memory appended to NAME's results.
# shellcheck disable=SC2317  # called through eval in group
timed() {
  local name=$1
  shift
  if ! "$MEASURE" "$RES/last" "$@" >/dev/null 2>"$RES/stderr"; then
    echo "warning: '$*' failed: $(head -c 300 "$RES/stderr")" >&2
  fi
  local wall rss minflt majflt cpu
  read -r wall rss minflt majflt cpu <"$RES/last"
  echo "$wall" >>"$RES/$name.time"
  echo "$cpu" >>"$RES/$name.cpu"
  echo "$rss" >>"$RES/$name.rss"
  echo "$minflt $majflt" >>"$RES/$name.faults"
}

# group KEY NAME COMMAND NAME COMMAND...: RUNS rounds, each running every command once, the
# order turned by one each round (A B C, B C A, C A B, ...) so that no command always follows
# the same one; COMMAND is a string of arguments quoted with printf %q.
group() {
  local key=$1
  shift
  local -a names=() commands=()
  while (($#)); do
    names+=("$1")
    commands+=("$2")
    shift 2
  done
  local r i k count=${#names[@]}
  for ((r = 1; r <= RUNS; r++)); do
    for ((k = 0; k < count; k++)); do
      i=$(((k + r) % count))
      clean_out
      eval "timed $key.${names[i]} ${commands[i]}"
    done
  done
}

quote() { printf '%q ' "$@"; }
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { sort -g "$1" | tail -n 1; }
minimum() { sort -g "$1" | head -n 1; }
# The median of the ratios of two result files, line by line (the runs of one round).
pairwise() { paste "$1" "$2" | awk '{ print $1 / $2 }' >"$RES/pairs" && ratio "$(median "$RES/pairs")" 1; }
per_gb() { awk -v s="$1" -v b="$2" 'BEGIN { printf "%.3f", s / (b / 1e9) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1048576 }'; }
size_of() { stat -c %s "$1"; }
tree_size() { du -sb "$1" | cut -f1; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
warm() { find "$@" -type f -exec cat {} + >/dev/null; }  # page-caches the inputs

SUMMARY=()
report() {
  echo "$1"
  SUMMARY+=("$1")
}

# The memory of the program itself: its peak when it only prints its usage.
baseline_memory() {
  "$MEASURE" "$RES/baseline" "$TARVIX" >/dev/null 2>&1 || true
  cut -d' ' -f2 "$RES/baseline"
}

# The line of one case: medians of the per-round ratios to cp and to the plain copy, the ratios
# of the fastest runs, CPU seconds per GB of WAV (`bytes`), and peak memory above the program's
# own (the targets in brackets).
report_case() {
  local label=$1 key=$2 target=$3 memoryTarget=$4 copyName=$5 bytes=$6 target1=${7:--}
  local t t1 c p peak peak1 line
  local r=$RES/$key
  t=$(median "$r.tarvix.time")
  t1=$(median "$r.tarvix-j1.time")
  c=$(median "$r.cp.time")
  peak=$(maximum "$r.tarvix.rss")
  peak1=$(maximum "$r.tarvix-j1.rss")
  line="$label: tarvix/$copyName $(pairwise "$r.tarvix.time" "$r.cp.time") (target <= $target)"
  line+="  -j1/$copyName $(pairwise "$r.tarvix-j1.time" "$r.cp.time") (target <= $target1)"
  line+="  fastest runs: $(ratio "$(minimum "$r.tarvix.time")" "$(minimum "$r.cp.time")"),"
  line+=" -j1 $(ratio "$(minimum "$r.tarvix-j1.time")" "$(minimum "$r.cp.time")")"
  line+="  CPU s/GB: tarvix $(per_gb "$(median "$r.tarvix.cpu")" "$bytes")"
  line+=" -j1 $(per_gb "$(median "$r.tarvix-j1.cpu")" "$bytes") $copyName $(per_gb "$(median "$r.cp.cpu")" "$bytes")"
  if [[ -f $r.copy.time ]]; then
    p=$(median "$r.copy.time")
    line+="  plain-copy/$copyName $(pairwise "$r.copy.time" "$r.cp.time")"
  fi
  if [[ -f $r.flac.time ]]; then
    line+="  tarvix/flac $(ratio "$t" "$(median "$r.flac.time")")"
  fi
  if [[ -f $RES/$key.verify.time ]]; then
    line+="  -verify/tarvix $(ratio "$(median "$RES/$key.verify.time")" "$t") (target <= 1.5)"
  fi
  # -crc: writing NCW files with checksums, or reading them; -test: reading through alone.
  if [[ -f $r.crc.time ]]; then
    line+="  -crc/tarvix $(pairwise "$r.crc.time" "$r.tarvix.time") (target <= 1.15)"
    line+="  -crc -j1/-j1 $(pairwise "$r.crc-j1.time" "$r.tarvix-j1.time") (target <= 1.3)"
  fi
  if [[ -f $r.test.time ]]; then
    line+="  -test/tarvix $(pairwise "$r.test.time" "$r.tarvix.time") (target <= 1.0)"
  fi
  if [[ -f $r.test-crc.time ]]; then
    line+="  -test of -crc/tarvix $(pairwise "$r.test-crc.time" "$r.tarvix.time") (target <= 1.0)"
  fi
  line+="  [median s: tarvix $t  -j1 $t1  $copyName $c${p:+  plain copy $p}]"
  line+="  peak above the program: $(((peak - BASELINE) / 1024)) MB, -j1 $(((peak1 - BASELINE) / 1024)) MB (target <= $memoryTarget MB)"
  report "$line"
}

# One big file: WAV->NCW and NCW->WAV against cp and the plain copy of the same file, with the
# default threads and with -j1; flac -0 and flac -d for scale.
bench_file() {
  local key=$1 label=$2
  local wav=$CORPUS/$key.wav ncw=$PREP/$key.ncw flac=$PREP/$key.flac crc=$PREP/$key.crc.ncw
  "$TARVIX" "$wav" "$ncw" >/dev/null
  "$TARVIX" -crc "$wav" "$crc" >/dev/null
  # Untimed: the round trip must give back the very same file.
  "$TARVIX" -whs "$ncw" "$PREP/$key.check.wav" >/dev/null
  if ! cmp -s "$wav" "$PREP/$key.check.wav"; then
    report "WARNING: $label: NCW->WAV output differs from the original WAV: $(cmp "$wav" "$PREP/$key.check.wav" 2>&1 | head -n 1)"
  fi
  rm -f "$PREP/$key.check.wav"
  if ((HAVE_FLAC)); then
    flac -0 -s -f -o "$flac" "$wav" 2>"$PREP/$key.flac.log"  # it remarks on 24-bit wavpcm
    warm "$flac"
  fi
  warm "$wav" "$ncw" "$crc"
  echo "-- $label ($(mib "$(size_of "$wav")") MB WAV, $(mib "$(size_of "$ncw")") MB NCW); load $(load)"

  group "$key.w2n" tarvix "$(quote "$TARVIX" "$wav" "$OUT/x.ncw")" \
    tarvix-j1 "$(quote "$TARVIX" -j1 "$wav" "$OUT/x.ncw")" \
    verify "$(quote "$TARVIX" -verify "$wav" "$OUT/x.ncw")" \
    crc "$(quote "$TARVIX" -crc "$wav" "$OUT/x.ncw")" \
    crc-j1 "$(quote "$TARVIX" -j1 -crc "$wav" "$OUT/x.ncw")" \
    test "$(quote "$TARVIX" -test "$wav")" \
    cp "$(quote cp "$wav" "$OUT/x.wav")" copy "$(quote "$COPY" "$wav" "$OUT/x.wav")"
  ((HAVE_FLAC)) && group "$key.w2n" flac "$(quote flac -0 -s -o "$OUT/x.flac" "$wav")"
  group "$key.n2w" tarvix "$(quote "$TARVIX" -whs "$ncw" "$OUT/y.wav")" \
    tarvix-j1 "$(quote "$TARVIX" -j1 -whs "$ncw" "$OUT/y.wav")" \
    verify "$(quote "$TARVIX" -verify -whs "$ncw" "$OUT/y.wav")" \
    crc "$(quote "$TARVIX" -whs "$crc" "$OUT/y.wav")" \
    crc-j1 "$(quote "$TARVIX" -j1 -whs "$crc" "$OUT/y.wav")" \
    test "$(quote "$TARVIX" -test "$ncw")" test-crc "$(quote "$TARVIX" -test "$crc")" \
    cp "$(quote cp "$wav" "$OUT/y.wav")" copy "$(quote "$COPY" "$wav" "$OUT/y.wav")"
  ((HAVE_FLAC)) && group "$key.n2w" flac "$(quote flac -d -s -o "$OUT/y.wav" "$flac")"

  local bytes
  bytes=$(size_of "$wav")
  report_case "wav->ncw $label" "$key.w2n" "$W2N_TARGET" 32 cp "$bytes" "$W2N_J1_TARGET"
  report_case "ncw->wav $label" "$key.n2w" "$N2W_TARGET" 32 cp "$bytes" "$N2W_J1_TARGET"
}

# The tree in directory mode, both directions, against cp -r.
bench_tree() {
  local label="directory mode, tree of $TREE_FILES files"
  local tree=$CORPUS/tree ncwTree=$PREP/tree-ncw
  "$TARVIX" -w2n -rec "$tree" "$ncwTree" >/dev/null
  warm "$tree" "$ncwTree"
  echo "-- $label ($(mib "$(tree_size "$tree")") MB WAV, $(mib "$(tree_size "$ncwTree")") MB NCW); load $(load)"

  group tree.w2n tarvix "$(quote "$TARVIX" -w2n -rec "$tree" "$OUT/tree")" \
    tarvix-j1 "$(quote "$TARVIX" -j1 -w2n -rec "$tree" "$OUT/tree")" \
    cp "$(quote cp -r "$tree" "$OUT/tree")"
  group tree.n2w tarvix "$(quote "$TARVIX" -n2w -rec -whs "$ncwTree" "$OUT/tree")" \
    tarvix-j1 "$(quote "$TARVIX" -j1 -n2w -rec -whs "$ncwTree" "$OUT/tree")" \
    cp "$(quote cp -r "$tree" "$OUT/tree")"

  local perThread=$((32 * $(nproc)))
  local bytes
  bytes=$(tree_size "$tree")
  report_case "wav->ncw $label" tree.w2n "$TREE_TARGET" "$perThread" cp-r "$bytes"
  report_case "ncw->wav $label" tree.n2w "$TREE_TARGET" "$perThread" cp-r "$bytes"
}

# Memory only: the smallest file costs what the largest costs.
bench_tiny() {
  local label="4 KB 16-bit stereo file"
  local wav=$CORPUS/tiny.wav
  "$TARVIX" "$wav" "$PREP/tiny.ncw" >/dev/null
  group tiny.w2n tarvix "$(quote "$TARVIX" "$wav" "$OUT/x.ncw")" \
    tarvix-j1 "$(quote "$TARVIX" -j1 "$wav" "$OUT/x.ncw")" cp "$(quote cp "$wav" "$OUT/x.wav")"
  group tiny.n2w tarvix "$(quote "$TARVIX" -whs "$PREP/tiny.ncw" "$OUT/y.wav")" \
    tarvix-j1 "$(quote "$TARVIX" -j1 -whs "$PREP/tiny.ncw" "$OUT/y.wav")" \
    cp "$(quote cp "$wav" "$OUT/y.wav")"
  report_case "wav->ncw $label" tiny.w2n "-" 32 cp "$(size_of "$wav")"
  report_case "ncw->wav $label" tiny.n2w "-" 32 cp "$(size_of "$wav")"
}

W2N_TARGET=1.25
N2W_TARGET=1.0
W2N_J1_TARGET=1.8
N2W_J1_TARGET=1.3
TREE_TARGET=1.0
BASELINE=$(baseline_memory)

echo "== tarvix end-to-end benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo); load at start $(load)"
echo "program: $TARVIX ($(cd "$REPO" && git describe --always --dirty 2>/dev/null || echo 'no git'))"
echo "corpus:  $CORPUS ($CORPUS_STATE); $RUNS runs per command, interleaved; medians of per-round ratios quoted"
echo "memory:  the program alone (usage text) peaks at $((BASELINE / 1024)) MB; peaks are quoted above that"
echo "tools:   $(sox --version 2>&1 | head -n 1 | sed 's/^sox: *//'), $( ((HAVE_FLAC)) && flac --version || echo 'flac absent')"
((HAVE_FLAC)) || echo "note: flac is not installed: the flac comparisons are skipped (apt-get install flac)"

wants big16 && bench_file big16 "$(mib "$(size_of "$CORPUS/big16.wav")")MB 16-bit stereo 44.1k music"
wants big24 && bench_file big24 "$(mib "$(size_of "$CORPUS/big24.wav")")MB 24-bit stereo 96k music"
wants noise && bench_file noise "$(mib "$(size_of "$CORPUS/noise.wav")")MB 16-bit stereo white noise"
wants silence && bench_file silence "$(mib "$(size_of "$CORPUS/silence.wav")")MB 16-bit stereo silence"
wants tree && bench_tree
wants tiny && bench_tiny

rm -rf "$OUT"
echo
echo "== summary (load at end $(load); per-run figures in $RES)"
printf '%s\n' "${SUMMARY[@]}"
exit 0
