#!/usr/bin/env bash
# Builds and runs the benchmarks, each measured against a baseline taken in the same
# run, and ends with one summary table of every measure: its ratio to its baseline, its
# goal, met or not. Runs without a display (Qt's offscreen platform). A benchmark that
# fails is reported in the table and the others still run; the exit status is 1 then.
# Usage: scripts/bench.sh [NAME...]   (default: every bench_* program of the build)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/build.sh" release || exit 1
export QT_QPA_PLATFORM=offscreen

shopt -s nullglob
programs=()
for b in "$top"/build/release/bench/*/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  name=$(basename "$b")
  if [ $# -gt 0 ]; then
    wanted=no
    for w in "$@"; do [ "$w" = "$name" ] && wanted=yes; done
    [ $wanted = yes ] || continue
  fi
  programs+=("$b")
done
if [ ${#programs[@]} -eq 0 ]; then
  echo "bench: no benchmark matches: $*" >&2
  exit 2
fi

# Peers only the benchmarks use are installed when a chosen benchmark needs them.
have_http_peers() { command -v wrk >/dev/null && { command -v nginx >/dev/null || [ -x /usr/sbin/nginx ]; }; }
for b in "${programs[@]}"; do
  case "$(basename "$b")" in bench_kohttp | bench_kohttp_qt) http=yes ;; *) http=no ;; esac
  if [ $http = yes ] && ! have_http_peers; then
    bash "$top/scripts/setup.sh" --bench || echo "bench: could not install wrk and nginx-light"
  fi
done

results=$(mktemp)
trap 'rm -f "$results"' EXIT
failed=0
for b in "${programs[@]}"; do
  name=$(basename "$b")
  echo "== $name"
  out=$(mktemp)
  # nginx may live in /usr/sbin, outside a normal user's PATH.
  PATH="$PATH:/usr/sbin" "$b" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  lines=$(grep '^BENCH-RESULT ' "$out" | sed "s/^BENCH-RESULT /$name /")
  rm -f "$out"
  if [ -n "$lines" ]; then
    echo "$lines" >>"$results"
  fi
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "$name FAILED(exit=$status)" >>"$results"
  elif [ -z "$lines" ]; then
    echo "$name NONE" >>"$results"
  fi
done

echo
echo "== summary: each ratio is measured against a baseline taken in the same run"
awk '
  function field(key,   i) {
    for (i = 2; i <= NF; i++) if (index($i, key "=") == 1) return substr($i, length(key) + 2)
    return ""
  }
  function add(b, m, r, g, ok) {
    bench[n] = b; measure[n] = m; ratio[n] = r; goal[n] = g; met[n] = ok; n++
    if (length(b) > wb) wb = length(b)
    if (length(m) > wm) wm = length(m)
  }
  BEGIN { n = 0; wb = length("benchmark"); wm = length("measure") }
  $2 ~ /^FAILED/ { s = $2; sub(/^FAILED\(exit=/, "", s); sub(/\)$/, "", s)
                   add($1, "(failed with exit status " s ")", "-", "-", "no"); next }
  $2 == "NONE"   { add($1, "(printed no result)", "-", "-", "-"); next }
  {
    m = $0; sub(/.* measure=/, "", m)
    r = field("ratio"); if (r != "-") r = r "x"
    add($1, m, r, field("goal"), field("met"))
  }
  END {
    fmt = "%-" wb "s  %-" wm "s  %9s  %7s  %s\n"
    printf fmt, "benchmark", "measure", "ratio", "goal", "met"
    for (i = 0; i < n; i++) printf fmt, bench[i], measure[i], ratio[i], goal[i], met[i]
  }' "$results"
exit $failed
