#!/usr/bin/env bash
# Runs the libFuzzer targets built by the fuzz preset (cmake --preset fuzz && cmake --build
# --preset fuzz).
#
#   fuzz/run.sh replay            every committed corpus and regression file, once each
#   fuzz/run.sh ci                replay, then 20 seconds of fuzzing per target
#   fuzz/run.sh campaign MINUTES [TARGET...]
#                                 each target (or those named) in turn for MINUTES on one core,
#                                 then its corpus is merged and minimised in place and the
#                                 executions printed
#
# Any finding makes the script fail; the input that caused it is kept under
# build/fuzz/artifacts/<target>/ (TARVIX_FUZZ_BUILD chooses another build directory).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${TARVIX_FUZZ_BUILD:-$root/build/fuzz}"
targets=(fuzz_wav_reader fuzz_ncw_decoder fuzz_bits_roundtrip fuzz_list_file fuzz_command_line)

# Inputs larger than this are not made by mutation: the seeds are a few KB at most. The bit
# packer's target reads missing values as zeros, so its inputs need not hold every value.
declare -A max_len=(
  [fuzz_wav_reader]=16384
  [fuzz_ncw_decoder]=16384
  [fuzz_bits_roundtrip]=2048
  [fuzz_list_file]=4096
  [fuzz_command_line]=16384
)

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
common=(-rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=60)
# The command-line target writes and removes a directory of files per run: in memory that is
# some twenty times faster than on disk. Its runs get a directory of their own, removed at the
# end, so that nothing a crashed run leaves behind outlives the script.
scratch_base="${TMPDIR:-}"
if [ -z "$scratch_base" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_base=/dev/shm; fi
TMPDIR="$(mktemp -d "${scratch_base:-/tmp}/tarvix-fuzz-run.XXXXXX")"
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT

binary() {
  local bin="$build/fuzz/$1"
  if [ ! -x "$bin" ]; then
    echo "run.sh: $bin is missing; build it with: cmake --preset fuzz && cmake --build --preset fuzz" >&2
    exit 2
  fi
  echo "$bin"
}

artifacts() {
  local dir="$build/artifacts/$1"
  mkdir -p "$dir"
  echo "$dir/"
}

# The committed inputs of a target: its corpus and its regressions.
inputs() {
  local dir
  for dir in "$here/corpus/$1" "$here/regressions/$1"; do
    [ -d "$dir" ] && find "$dir" -type f -print0
  done
  return 0
}

replay() {
  local target bin files failed=0
  for target in "${targets[@]}"; do
    bin="$(binary "$target")"
    mapfile -d '' files < <(inputs "$target" | sort -z)
    if [ ${#files[@]} -eq 0 ]; then
      echo "replay $target: no inputs"
      continue
    fi
    if "$bin" "${common[@]}" -artifact_prefix="$(artifacts "$target")" "${files[@]}" \
        >"$build/replay-$target.log" 2>&1; then
      echo "replay $target: ${#files[@]} inputs passed"
    else
      echo "replay $target: FAILED (log: $build/replay-$target.log)"
      tail -n 40 "$build/replay-$target.log"
      failed=1
    fi
  done
  return $failed
}

# fuzz TARGET SECONDS WORKDIR [nice]: fuzzes from the committed inputs, new ones go to WORKDIR.
fuzz() {
  local target="$1" seconds="$2" work="$3" prefix=()
  [ "${4:-}" = nice ] && prefix=(nice -n 10)
  local bin dirs=("$work")
  bin="$(binary "$target")"
  [ -d "$here/corpus/$target" ] && dirs+=("$here/corpus/$target")
  [ -d "$here/regressions/$target" ] && dirs+=("$here/regressions/$target")
  "${prefix[@]}" "$bin" "${common[@]}" -max_total_time="$seconds" \
    -max_len="${max_len[$target]}" -print_final_stats=1 \
    -artifact_prefix="$(artifacts "$target")" "${dirs[@]}"
}

ci() {
  local target work failed=0
  replay || failed=1
  for target in "${targets[@]}"; do
    work="$(mktemp -d)"
    if fuzz "$target" 20 "$work" >"$build/ci-$target.log" 2>&1; then
      echo "fuzz $target: $(executions "$build/ci-$target.log") executions in 20 s, no findings"
    else
      echo "fuzz $target: FINDING (log: $build/ci-$target.log)"
      tail -n 60 "$build/ci-$target.log"
      failed=1
    fi
    rm -rf "$work"
  done
  return $failed
}

executions() {
  sed -n 's/^stat::number_of_executed_units: *//p' "$1" | tail -n 1
}

# campaign MINUTES [TARGET...]: every target (or the ones named) in turn.
campaign() {
  local minutes="$1" target work merged start end failed=0 summary=()
  shift
  local chosen=("$@")
  [ ${#chosen[@]} -eq 0 ] && chosen=("${targets[@]}")
  for target in "${chosen[@]}"; do
    work="$build/campaign/$target"
    mkdir -p "$work"
    local log="$build/campaign-$target.log"
    echo "campaign $target: $minutes min"
    start=$(date +%s)
    local result="no findings"
    if ! fuzz "$target" $((minutes * 60)) "$work" nice >"$log" 2>&1; then
      result="FINDING: $(sed -n 's/^artifact_prefix=.*; Test unit written to //p' "$log" | tail -n 1)"
      failed=1
    fi
    end=$(date +%s)
    # Merge: the smallest set of inputs that reaches every edge goes back into the committed
    # corpus. Edges only (no hit counts), which keeps it a few hundred KB; the full corpus stays
    # in the work directory for the next campaign.
    merged="$(mktemp -d)"
    local sources=("$here/corpus/$target" "$work")
    mkdir -p "$here/corpus/$target"
    nice -n 10 "$(binary "$target")" "${common[@]}" -merge=1 -use_counters=0 \
      -max_len="${max_len[$target]}" "$merged" "${sources[@]}" >"$build/merge-$target.log" 2>&1
    rm -rf "${here:?}/corpus/$target"
    mv "$merged" "$here/corpus/$target"
    chmod 755 "$here/corpus/$target"
    summary+=("$(printf '%-20s %10s executions  %5.1f min  corpus %3d files %6s  %s' "$target" \
      "$(executions "$log")" "$(awk -v s="$((end - start))" 'BEGIN { print s / 60 }')" \
      "$(find "$here/corpus/$target" -type f | wc -l)" \
      "$(du -sh --apparent-size "$here/corpus/$target" | cut -f1)" "$result")")
  done
  printf '%s\n' "${summary[@]}"
  return $failed
}

case "${1:-}" in
  replay) replay ;;
  ci) ci ;;
  campaign)
    [[ "${2:-}" =~ ^[0-9]+$ ]] || { echo "usage: $0 campaign MINUTES [TARGET...]" >&2; exit 2; }
    campaign "$2" "${@:3}"
    ;;
  *)
    echo "usage: $0 replay | ci | campaign MINUTES [TARGET...]" >&2
    exit 2
    ;;
esac
