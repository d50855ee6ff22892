#!/usr/bin/env bash
# End-to-end timings of tarvix on a generated corpus, against cp and flac.
#
# Builds the release program, makes (or reuses) a deterministic corpus with sox in a scratch
# folder outside the repository, then times every conversion interleaved with its
# comparisons, several runs each, on page-cached input, and prints one line of medians, ratios
# and peak memory per case. A benchmark, not a test: it asserts no time and exits 0 unless it
# cannot run at all.
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
      --only LIST    comma-separated cases to run: big16,big24,noise,silence,tree
  -h, --help         this text
EOF
}

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=/tmp/tarvix-bench
RUNS=5
BUILD=1
TARVIX=""
SMALL=0
ONLY="big16,big24,noise,silence,tree"

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
FLOOR=$WORK/bin/whole-file-floor
if [[ ! -x $FLOOR || $REPO/bench/WholeFileFloor.cpp -nt $FLOOR ]]; then
  c++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -o "$FLOOR" "$REPO/bench/WholeFileFloor.cpp"
fi

# ---- Corpus ----

# Changing how the corpus is made: raise this, and every existing corpus is made anew.
CORPUS_VERSION=1
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

# Deleting an output drops its pages from the cache unwritten, so nothing of one run is still
# on its way to the disk in the next. No sync: it would only add idle time between runs.
clean_out() {
  rm -rf "$OUT"
  mkdir -p "$OUT"
}

# timed NAME COMMAND...: one run, its wall time and peak memory appended to NAME's results.
# shellcheck disable=SC2317  # called through eval in group
timed() {
  local name=$1
  shift
  if ! "$MEASURE" "$RES/last" "$@" >/dev/null 2>"$RES/stderr"; then
    echo "warning: '$*' failed: $(head -c 300 "$RES/stderr")" >&2
  fi
  local wall rss minflt majflt
  read -r wall rss minflt majflt <"$RES/last"
  echo "$wall" >>"$RES/$name.time"
  echo "$rss" >>"$RES/$name.rss"
  echo "$minflt $majflt" >>"$RES/$name.faults"
}

# group KEY NAME COMMAND NAME COMMAND...: RUNS rounds, each running every command once in the
# given order (A B C A B C ...); COMMAND is a string of arguments quoted with printf %q.
group() {
  local key=$1
  shift
  local -a names=() commands=()
  while (($#)); do
    names+=("$1")
    commands+=("$2")
    shift 2
  done
  local r i
  for ((r = 1; r <= RUNS; r++)); do
    for i in "${!names[@]}"; do
      clean_out
      eval "timed $key.${names[i]} ${commands[i]}"
    done
  done
}

quote() { printf '%q ' "$@"; }
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { sort -g "$1" | tail -n 1; }
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

# One big file: WAV->NCW against cp and flac -0, NCW->WAV against cp and flac -d.
bench_file() {
  local key=$1 label=$2
  local wav=$CORPUS/$key.wav ncw=$PREP/$key.ncw flac=$PREP/$key.flac
  "$TARVIX" "$wav" "$ncw" >/dev/null
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
  warm "$wav" "$ncw"

  local wavBytes ncwBytes
  wavBytes=$(size_of "$wav")
  ncwBytes=$(size_of "$ncw")
  echo "-- $label ($(mib "$wavBytes") MB WAV, $(mib "$ncwBytes") MB NCW); load $(load)"

  # tarvix, cp and the whole-file floor (bench/WholeFileFloor.cpp: the memory work of holding
  # both files, without coding) alternate A/B/C/A/B/C; flac, many times slower, runs in a
  # series of its own so that its long runs do not sit between the ones being compared.
  local toNcw toWav
  toNcw=$(awk -v a="$ncwBytes" -v b="$wavBytes" 'BEGIN { print a / b }')
  toWav=$(awk -v a="$wavBytes" -v b="$ncwBytes" 'BEGIN { print a / b }')
  group "$key.w2n" tarvix "$(quote "$TARVIX" "$wav" "$OUT/x.ncw")" \
    cp "$(quote cp "$wav" "$OUT/x.wav")" floor "$(quote "$FLOOR" "$wav" "$OUT/x.ncw" "$toNcw")"
  ((HAVE_FLAC)) && group "$key.w2n" flac "$(quote flac -0 -s -o "$OUT/x.flac" "$wav")"
  group "$key.n2w" tarvix "$(quote "$TARVIX" -whs "$ncw" "$OUT/y.wav")" \
    cp "$(quote cp "$wav" "$OUT/y.wav")" floor "$(quote "$FLOOR" "$ncw" "$OUT/y.wav" "$toWav")"
  ((HAVE_FLAC)) && group "$key.n2w" flac "$(quote flac -d -s -o "$OUT/y.wav" "$flac")"

  local direction t c f floor peak limit line
  for direction in w2n n2w; do
    t=$(median "$RES/$key.$direction.tarvix.time")
    c=$(median "$RES/$key.$direction.cp.time")
    floor=$(median "$RES/$key.$direction.floor.time")
    peak=$(maximum "$RES/$key.$direction.tarvix.rss")
    limit=$((wavBytes + ncwBytes + 32 * 1048576))
    if [[ $direction == w2n ]]; then
      line="wav->ncw $label: tarvix/cp $(ratio "$t" "$c") (target <= 2.5)"
    else
      line="ncw->wav $label: tarvix/cp $(ratio "$t" "$c") (target <= 2)"
    fi
    if ((HAVE_FLAC)); then
      f=$(median "$RES/$key.$direction.flac.time")
      line+="  tarvix/flac $(ratio "$t" "$f")"
    fi
    line+="  floor/cp $(ratio "$floor" "$c")"
    line+="  [median s: tarvix $t  cp $c  floor $floor${f:+  flac $f}]"
    line+="  peak $((peak / 1024)) MB (source+output+32MB = $(mib "$limit") MB)"
    report "$line"
    f=""
  done
}

# The tree in directory mode, both directions, against cp -r.
bench_tree() {
  local label="tree of $TREE_FILES files"
  local tree=$CORPUS/tree ncwTree=$PREP/tree-ncw
  "$TARVIX" -w2n -rec "$tree" "$ncwTree" >/dev/null
  warm "$tree" "$ncwTree"
  local wavBytes ncwBytes largest largestWav
  wavBytes=$(tree_size "$tree")
  ncwBytes=$(tree_size "$ncwTree")
  # The largest single file's source and output: what one conversion holds at once.
  largestWav=$(find "$tree" -type f -name '*.wav' -printf '%s %P\n' | sort -g | tail -n 1 | cut -d' ' -f2)
  largest=$(($(size_of "$tree/$largestWav") + $(size_of "$ncwTree/${largestWav%.wav}.ncw")))
  echo "-- $label ($(mib "$wavBytes") MB WAV, $(mib "$ncwBytes") MB NCW); load $(load)"

  group tree.w2n tarvix "$(quote "$TARVIX" -w2n -rec "$tree" "$OUT/tree")" \
    cp "$(quote cp -r "$tree" "$OUT/tree")"
  group tree.n2w tarvix "$(quote "$TARVIX" -n2w -rec -whs "$ncwTree" "$OUT/tree")" \
    cp "$(quote cp -r "$tree" "$OUT/tree")"

  local direction t c peak
  for direction in w2n n2w; do
    t=$(median "$RES/tree.$direction.tarvix.time")
    c=$(median "$RES/tree.$direction.cp.time")
    peak=$(maximum "$RES/tree.$direction.tarvix.rss")
    local name="wav->ncw"
    [[ $direction == n2w ]] && name="ncw->wav"
    report "$name directory mode, $label: tarvix/cp-r $(ratio "$t" "$c") (target <= 3)  [median s: tarvix $t  cp -r $c]  peak $((peak / 1024)) MB (largest file's source+output+32MB = $(mib "$((largest + 32 * 1048576))") MB)"
  done
}

echo "== tarvix end-to-end benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo); load at start $(load)"
echo "program: $TARVIX ($(cd "$REPO" && git describe --always --dirty 2>/dev/null || echo 'no git'))"
echo "corpus:  $CORPUS ($CORPUS_STATE); $RUNS runs per command, interleaved; medians quoted"
echo "tools:   $(sox --version 2>&1 | head -n 1 | sed 's/^sox: *//'), $( ((HAVE_FLAC)) && flac --version || echo 'flac absent')"
((HAVE_FLAC)) || echo "note: flac is not installed: the flac comparisons are skipped (apt-get install flac)"

wants big16 && bench_file big16 "$(mib "$(size_of "$CORPUS/big16.wav")")MB 16-bit stereo 44.1k music"
wants big24 && bench_file big24 "$(mib "$(size_of "$CORPUS/big24.wav")")MB 24-bit stereo 96k music"
wants noise && bench_file noise "$(mib "$(size_of "$CORPUS/noise.wav")")MB 16-bit stereo white noise"
wants silence && bench_file silence "$(mib "$(size_of "$CORPUS/silence.wav")")MB 16-bit stereo silence"
wants tree && bench_tree

rm -rf "$OUT"
echo
echo "== summary (load at end $(load); per-run figures in $RES)"
printf '%s\n' "${SUMMARY[@]}"
exit 0
