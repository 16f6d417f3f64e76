# Delta updates, sourced by scripts/bench (which provides work, root, runs, http_port, driver,
# publisher, say, calc, median, verdict and a running nginx whose access log records
# "$bytes_sent $status $request" per request). A 1 GiB build of real, compressible data (the
# machine's shared libraries) goes from an old to a new version in several ways; the launcher's
# installGameBuild, zsync and a plain curl download each bring the installed old build up to
# date, and the server's log counts what each was sent.
#
#   bench_delta          measures, leaves the section's Markdown in $work/delta.md
#   delta_update_file F  replaces (or adds) the "Delta updates" section of F with it

# BENCH_DELTA_MIB shrinks the build (and every change with it) to try the section out quickly.
delta_size=$((${BENCH_DELTA_MIB:-1024} << 20))
delta_unit=$((delta_size >> 10)) # 1 MiB of the full-size build
delta_log=$work/access.log
# Rounds per update scenario (BENCH_DELTA_ROUNDS): wall times on a shared machine vary by tens of
# percent from one run to the next.
delta_rounds=${BENCH_DELTA_ROUNDS:-3}
delta_scenarios=(a b c d e f)
declare -A dfig
declare -A delta_title=(
  [a]="(a) 200 scattered 64-byte rewrites"
  [b]="(b) 1 MiB inserted, 1 MiB deleted elsewhere"
  [c]="(c) 100 MiB contiguous rewritten (10%)"
  [d]="(d) same bytes republished"
  [e]="(e) first install"
  [f]="(f) first install killed at ~50%, resumed")
declare -A delta_version=([a]=1.1.0 [b]=1.2.0 [c]=1.3.0 [d]=2.0.0)

# Appends the given files to out, over and over, until it holds size bytes.
delta_concat() {
  local size=$1 out=$2; shift 2
  : >"$out"
  while [ "$(stat -c %s "$out")" -lt "$size" ]; do
    printf '%s\0' "$@" | xargs -0 cat >>"$out"
  done
  truncate -s "$size" "$out"
}
# Deterministic pseudo-random bytes (AES-CTR of zeros under a key made of the seed).
delta_noise() { head -c "$1" /dev/zero | openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' "$2")" -iv "$(printf '%032x' 0)"; }
# Bytes of a file actually written: the smaller of its length and its allocated blocks, so a
# file written out of order (sparse) counts what it holds.
delta_on_disk() {
  local s b u
  read -r s b u < <(stat -c '%s %b %B' "$1" 2>/dev/null || echo "0 0 0")
  echo $((s < b * u ? s : b * u))
}
delta_mark() { wc -l <"$delta_log"; }
# "<bytes sent> <requests>" over the log lines after mark.
delta_served() { sleep 0.3; tail -n +"$(($1 + 1))" "$delta_log" | awk '{ b += $1; n++ } END { printf "%d %d\n", b, n }'; }
# Runs a command; prints "<wall s> <CPU s> <peak RSS KiB>".
delta_run() {
  local start end
  start=$EPOCHREALTIME
  /usr/bin/time -f '%U %S %M' -o "$work/delta-time.txt" "$@" >"$work/delta-out.txt" 2>&1 ||
    { say "failed: $* ($(cat "$work/delta-out.txt" "$work/delta-time.txt"))"; return 1; }
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" '{ printf "%.3f %.2f %d\n", b - a, $1 + $2, $3 }' "$work/delta-time.txt"
}
# Starts a command, SIGKILLs it once file holds half the build; prints "<wall s> <fraction>".
delta_kill_halfway() {
  local file=$1 start pid; shift
  start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null && [ "$(delta_on_disk "$file")" -lt $((delta_size / 2)) ]; do
    sleep 0.02
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  awk -v a="$start" -v b="$EPOCHREALTIME" -v n="$(delta_on_disk "$file")" -v s="$delta_size" \
    'BEGIN { printf "%.3f %.3f\n", b - a, n / s }'
}

# The new build of scenario s, published with orvanta-publish, zsyncmake run on it and a zstd
# patch from the old build made.
delta_prepare() {
  local s=$1 d=$work/delta new=$work/delta/new-$1.bin i
  case $s in
    a)
      cp "$d/old.bin" "$new"
      delta_noise $((200 * 64)) 17 >"$d/noise-a.bin"
      awk -v n="$delta_size" 'BEGIN { srand(42); for (i = 0; i < 200; i++) print int(rand() * (n - 64)) }' |
        { i=0; while read -r at; do
            dd if="$d/noise-a.bin" of="$new" bs=64 skip=$i count=1 seek="$at" oflag=seek_bytes \
              conv=notrunc status=none
            i=$((i + 1))
          done; } ;;
    b)
      local ins=$((300 * delta_unit + 12345)) del=$((700 * delta_unit + 54321))
      { dd if="$d/old.bin" bs=1M count="$ins" iflag=count_bytes status=none
        dd if="$d/other.bin" bs=1M count="$delta_unit" iflag=count_bytes status=none
        dd if="$d/old.bin" bs=1M skip="$ins" count=$((del - ins)) iflag=skip_bytes,count_bytes status=none
        dd if="$d/old.bin" bs=1M skip=$((del + delta_unit)) iflag=skip_bytes status=none; } >"$new" ;;
    c)
      cp "$d/old.bin" "$new"
      dd if="$d/other.bin" of="$new" bs=1M skip="$delta_unit" count=$((100 * delta_unit)) \
        seek=$((450 * delta_unit + 777)) iflag=skip_bytes,count_bytes oflag=seek_bytes conv=notrunc \
        status=none ;;
    d) cp "$d/old.bin" "$new" ;;
  esac
  [ "$(stat -c %s "$new")" -eq "$delta_size" ] || { say "scenario $s: build of the wrong size"; return 1; }
  local pub=$work/www/delta-$s
  /usr/bin/time -f '%e %U %S' -o "$d/publish-$s.txt" "$publisher" --game "$new" \
    --version "${delta_version[$s]}" --base-url "http://127.0.0.1:$http_port/delta-$s" \
    --out "$pub" >"$d/publish-$s.log" 2>&1 || { say "orvanta-publish failed:"; cat "$d/publish-$s.log" >&2; return 1; }
  rm -f "$new"
  local exe
  exe=$(echo "$pub"/orvanta-downloads/*.exe)
  zsyncmake -u "http://127.0.0.1:$http_port/delta-$s/orvanta-downloads/${exe##*/}" \
    -o "$exe.zsync" "$exe" >/dev/null 2>&1
  zstd -q -f -3 --long=31 --patch-from="$d/old.bin" "$exe" -o "$d/patch-$s.zst"
  stat -c %s "$d/patch-$s.zst" >"$d/patch-$s.size"
  rm -f "$d/patch-$s.zst"
}

# One scenario: every tool in turn, delta_rounds times (once for the kill of (f)); wall and CPU
# times are the medians of the rounds, which take turns so that the machine's moods fall on all.
delta_measure() {
  local s=$1 t what round rounds=$delta_rounds
  [ "$s" = f ] && rounds=1
  for round in $(seq "$rounds"); do
    delta_round "$s" "$round" || return 1
  done
  for t in ours whole zsync curl; do
    for what in wall cpu; do
      [ -n "${dfig[${s}_${t}_${what}s]:-}" ] || continue
      dfig[${s}_${t}_${what}]=$(printf '%s\n' ${dfig[${s}_${t}_${what}s]} | median)
    done
  done
}

# One round of one scenario; the figures go into dfig[<scenario>_<tool>_<what>].
delta_round() {
  local s=$1 round=$2 src=$1 d=$work/delta inst=$work/delta/inst m r fetched k1
  [ "$s" = e ] || [ "$s" = f ] && src=d
  local base_url="http://127.0.0.1:$http_port/delta-$src/orvanta-downloads"
  local exe
  exe=$(echo "$work/www/delta-$src"/orvanta-downloads/*.exe)
  local exe_url=$base_url/${exe##*/}
  local seed=(-i "$d/old.bin")
  rm -rf "$inst" "$d/out" "$d/out.part" "$d/out.zs-old"
  mkdir -p "$inst"
  if [ "$s" = e ] || [ "$s" = f ]; then
    seed=()
  else
    cp "$d/old.bin" "$inst/Orvanta.exe"
    printf '1.0.0' >"$inst/version.txt"
  fi
  sync
  # The launcher's install.
  m=$(delta_mark)
  k1=0
  [ "$s" = f ] && k1=$(delta_kill_halfway "$inst/Orvanta.exe.download" "$driver" install "$base_url/manifest.json" "$inst")
  r=$(delta_run "$driver" install "$base_url/manifest.json" "$inst")
  cmp -s "$inst/Orvanta.exe" "$exe" || { say "scenario $s: the launcher installed other bytes"; return 1; }
  fetched=$(delta_served "$m")
  delta_store "$s" ours "$r" "$fetched" "$k1"
  if [ "$s" != f ]; then
    # The launcher's own whole download, as for a channel without chunk data: the same SHA-256
    # check, flush and rename, so the difference is what the chunks save.
    grep -v '"game_chunks_' "$work/www/delta-$src/orvanta-downloads/manifest.json" >"$work/www/delta-$src/orvanta-downloads/whole.json"
    rm -rf "$inst"
    mkdir -p "$inst"
    [ "$s" = e ] || { cp "$d/old.bin" "$inst/Orvanta.exe"; printf '1.0.0' >"$inst/version.txt"; }
    sync
    m=$(delta_mark)
    r=$(delta_run "$driver" install "$base_url/whole.json" "$inst")
    cmp -s "$inst/Orvanta.exe" "$exe" || { say "scenario $s: the launcher's whole download installed other bytes"; return 1; }
    fetched=$(delta_served "$m")
    delta_store "$s" whole "$r" "$fetched" "0"
  fi
  if [ "$s" = a ] && [ "$round" = 1 ]; then
    local rss=() i
    for i in $(seq "$(( runs < 3 ? runs : 3 ))"); do
      rss+=("$(delta_run "$driver" current "$base_url/manifest.json" "$inst" | awk '{ print $3 }')")
    done
    dfig[current_rss]=$(printf '%s\n' "${rss[@]}" | median)
    dfig[current_raw]="${rss[*]}"
  fi
  rm -rf "$inst"
  # zsync, seeded with the old build (or its own .part after the kill).
  m=$(delta_mark)
  [ "$s" = f ] && k1=$(cd "$d" && delta_kill_halfway "$d/out.part" zsync -q -o "$d/out" "$exe_url.zsync")
  r=$(cd "$d" && delta_run zsync -q "${seed[@]}" -o "$d/out" "$exe_url.zsync")
  cmp -s "$d/out" "$exe" || { say "scenario $s: zsync made other bytes"; return 1; }
  fetched=$(delta_served "$m")
  delta_store "$s" zsync "$r" "$fetched" "$k1"
  rm -f "$d/out" "$d/out.part" "$d/out.zs-old"
  # The whole file.
  m=$(delta_mark)
  local resume=()
  [ "$s" = f ] && k1=$(delta_kill_halfway "$d/out" curl -s -o "$d/out" "$exe_url") && resume=(-C -)
  r=$(delta_run curl -s "${resume[@]}" -o "$d/out" "$exe_url")
  cmp -s "$d/out" "$exe" || { say "scenario $s: curl brought other bytes"; return 1; }
  fetched=$(delta_served "$m")
  delta_store "$s" curl "$r" "$fetched" "$k1"
  rm -f "$d/out"
}
# delta_store SCENARIO TOOL "<wall> <cpu> <rss>" "<bytes> <requests>" "<killed wall> <fraction>"
delta_store() {
  local s=$1 t=$2 w c rss b n kw kf
  read -r w c rss <<<"$3"
  read -r b n <<<"$4"
  read -r kw kf <<<"$5"
  dfig[${s}_${t}_wall]=$(calc "$w + $kw")
  dfig[${s}_${t}_walls]+=" ${dfig[${s}_${t}_wall]}"
  dfig[${s}_${t}_cpu]=$c
  dfig[${s}_${t}_cpus]+=" $c"
  [ "${dfig[${s}_${t}_rss]:-0}" -gt "$rss" ] || dfig[${s}_${t}_rss]=$rss
  dfig[${s}_${t}_bytes]=$b
  dfig[${s}_${t}_requests]=$n
  dfig[${s}_${t}_killed]=$kf
  say "   $s $t: $(calc "$b / 1048576") MiB in $n requests, ${dfig[${s}_${t}_wall]} s (CPU $c s), peak RSS $rss KiB${kf:+, killed at $kf}"
}

bench_delta() {
  local d=$work/delta s
  say "== delta updates: a $((delta_size >> 20)) MiB build of shared libraries, scenarios ${delta_scenarios[*]}, $delta_rounds rounds each ((f): one)"
  local started=$EPOCHREALTIME
  dfig[load]=$(cut -d" " -f1-3 /proc/loadavg)
  mkdir -p "$d"
  local libs=() other=()
  mapfile -d '' libs < <(find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -print0 | LC_ALL=C sort -z)
  mapfile -d '' other < <(find /usr/bin -maxdepth 1 -type f -print0 | LC_ALL=C sort -z)
  dfig[libs]=${#libs[@]}
  dfig[libs_bytes]=$(printf '%s\0' "${libs[@]}" | du -cb --files0-from=- | tail -1 | cut -f1)
  [ "${dfig[libs_bytes]}" -gt $((16 << 20)) ] || { say "too few shared libraries to build from"; return 1; }
  delta_concat "$delta_size" "$d/old.bin" "${libs[@]}"
  delta_concat $((101 * delta_unit)) "$d/other.bin" "${other[@]}"
  dfig[zstd3]=$(zstd -q -3 -c "$d/old.bin" | wc -c)
  say "   zstd -3 compresses the build $(calc "$delta_size / ${dfig[zstd3]}") x"
  # Building and publishing the four new builds takes most of the time: two at once.
  say "   publishing the new builds (orvanta-publish, zsyncmake, zstd --patch-from), two at a time"
  { delta_prepare a && delta_prepare c; } &
  local first=$!
  { delta_prepare b && delta_prepare d; } &
  local second=$!
  wait "$first" && wait "$second" || { say "preparing the builds failed"; return 1; }
  for s in a b c d; do
    read -r "dfig[${s}_pub_wall]" "dfig[${s}_pub_user]" "dfig[${s}_pub_sys]" <"$d/publish-$s.txt"
    dfig[${s}_pub_cpu]=$(calc "${dfig[${s}_pub_user]} + ${dfig[${s}_pub_sys]}")
    dfig[${s}_patch]=$(cat "$d/patch-$s.size")
  done
  dfig[pack]=$(stat -c %s "$work/www/delta-d/orvanta-downloads/"*.pack)
  say "   the pack holds the build in $(calc "${dfig[pack]} / 1048576") MiB ($(calc "$delta_size / ${dfig[pack]}") x)"
  for s in "${delta_scenarios[@]}"; do
    say "   ${delta_title[$s]}"
    delta_measure "$s"
  done
  rm -rf "$d" "$work"/www/delta-?
  dfig[minutes]=$(calc "($EPOCHREALTIME - $started) / 60")
  say "   the delta section took ${dfig[minutes]} min"
  delta_markdown >"$work/delta.md"
}

# Replaces the section titled title ("## ...") of file with fragment, or puts it before the
# machine's section (or at the end) when file has none.
bench_replace_section() {
  local file=$1 title=$2 fragment=$3
  [ -f "$file" ] || printf '# Benchmarks\n\n' >"$file"
  awk -v frag="$fragment" -v title="$title" '
    function put(  line) { while ((getline line < frag) > 0) print line; print ""; done = 1 }
    $0 == title { put(); skip = 1; next }
    skip && /^## / { skip = 0 }
    skip { next }
    !done && $0 == "## Machine" { put() }
    { print }
    END { if (!done) put() }' "$file" >"$file.new"
  mv "$file.new" "$file"
}

delta_update_file() { bench_replace_section "$1" "## Delta updates" "$work/delta.md"; }

delta_mib() { calc "$1 / 1048576"; }
delta_markdown() {
  local s t row targets
  local cur=${dfig[current_rss]}
  echo "## Delta updates"
  echo
  echo "Written by \`scripts/bench\` (alone: \`scripts/bench delta\`) on $(date -u '+%Y-%m-%d %H:%M UTC'), in ${dfig[minutes]} min;"
  echo "load average when it began: ${dfig[load]} on $(nproc) processors shared with other work, so"
  echo "wall-clock times are noisy (the CPU times are listed below the tables). Each update scenario ran"
  echo "$delta_rounds rounds, every tool once a round in turn; times are the medians of the rounds, bytes the"
  echo "same in every round, peak RSS the largest. (f) ran once. Launcher measured: ${BENCH_SOURCE:-$(git -C "$root" log -1 --format='%h, "%s"' 2>/dev/null || echo unknown)}."
  echo
  echo "The build: the ${dfig[libs]} regular files \`/usr/lib/x86_64-linux-gnu/*.so*\` ($(delta_mib "${dfig[libs_bytes]}") MiB) in"
  echo "name order, repeated and cut to exactly $((delta_size >> 20)) MiB (so its tail repeats its start). \`zstd -3\` compresses"
  echo "it $(calc "$delta_size / ${dfig[zstd3]}") x; \`orvanta-publish\` stores it in a pack of $(delta_mib "${dfig[pack]}") MiB ($(calc "$delta_size / ${dfig[pack]}") x). The"
  echo "installed build (1.0.0) is that file; the new builds: (a) 200 overwrites of 64 pseudo-random"
  echo "bytes at positions from a fixed seed; (b) 1 MiB of other real data (\`/usr/bin\`) inserted at"
  echo "300 MiB, 1 MiB deleted at 700 MiB; (c) 100 MiB from 450 MiB on replaced by other real data"
  echo "(\`/usr/bin\`); (d) the same bytes as version 2.0.0. (e) and (f) install (d)'s publication into"
  echo "an empty folder; (f) SIGKILLs each tool once half the build's bytes are on disk (the smaller"
  echo "of the file's length and its allocated blocks) and runs it again to the end."
  echo
  echo "Orvanta: \`orvanta-bench install MANIFEST_URL DIR\`: \`fetchText\` of the manifest, \`parseManifest\`,"
  echo "\`installGameBuild\` into DIR holding the old build (manifest and index fetches count; the"
  echo "time includes the SHA-256 check, fsync and rename). zsync: \`zsyncmake\` on the published build,"
  echo "\`zsync -i OLD -o OUT URL.zsync\` (the control file counts; its SHA-1 check included). Orvanta"
  echo "whole download: the same \`install\` with the manifest's two chunk keys removed, so the launcher"
  echo "downloads \`game_url\` whole as it does for a channel without chunk data (SHA-256 check, fsync"
  echo "and rename included); the update it would be without this work. Full"
  echo "download: \`curl -o\` of the published \`.exe\`, unchecked and not flushed (resumed with \`-C -\`). Fetched: nginx's \`\$bytes_sent\`"
  echo "summed over every request of the run (headers included), and the number of requests. zstd"
  echo "patch: the size of \`zstd -3 --long=31 --patch-from=OLD NEW\` (level 19 takes tens of minutes on"
  echo "1 GiB here), for reference. Peak RSS: \`/usr/bin/time -f %M\`; the run that finds the build"
  echo "current (manifest, version record, SHA-256 of the game) peaks at $(delta_mib "$((cur * 1024))") MiB. Publish: \`orvanta-publish\`"
  echo "of the new build, wall (CPU) seconds, two publications running at once."
  echo
  echo "| Scenario | Orvanta fetched | Orvanta time | zsync fetched | zsync time | Orvanta whole download | Full download (curl) | zstd patch | Orvanta peak RSS | Publish |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  for s in "${delta_scenarios[@]}"; do
    row="| ${delta_title[$s]}"
    for t in ours zsync; do
      row+=" | $(delta_mib "${dfig[${s}_${t}_bytes]}") MiB (${dfig[${s}_${t}_requests]} req.) | ${dfig[${s}_${t}_wall]} s"
    done
    if [ -n "${dfig[${s}_whole_wall]:-}" ]; then row+=" | $(delta_mib "${dfig[${s}_whole_bytes]}") MiB, ${dfig[${s}_whole_wall]} s"; else row+=" | –"; fi
    row+=" | $(delta_mib "${dfig[${s}_curl_bytes]}") MiB (${dfig[${s}_curl_requests]} req.), ${dfig[${s}_curl_wall]} s"
    if [ -n "${dfig[${s}_patch]:-}" ]; then row+=" | $(delta_mib "${dfig[${s}_patch]}") MiB"; else row+=" | –"; fi
    row+=" | $(delta_mib "$((${dfig[${s}_ours_rss]} * 1024))") MiB (+$(calc "(${dfig[${s}_ours_rss]} - $cur) / 1024"))"
    if [ -n "${dfig[${s}_pub_wall]:-}" ]; then row+=" | ${dfig[${s}_pub_wall]} s (${dfig[${s}_pub_cpu]} s)"; else row+=" | (d)'s"; fi
    echo "$row |"
  done
  echo
  echo "| Target (printed, not asserted) | Figures | |"
  echo "|---|---|---|"
  for s in a b c d; do
    echo "| (${s}) fetched at most zsync's | $(delta_mib "${dfig[${s}_ours_bytes]}") vs $(delta_mib "${dfig[${s}_zsync_bytes]}") MiB | $(verdict "${dfig[${s}_ours_bytes]}" "<=" "${dfig[${s}_zsync_bytes]}") |"
  done
  echo "| (e) first install fetches at most half the build | $(delta_mib "${dfig[e_ours_bytes]}") of $((delta_size >> 20)) MiB | $(verdict "${dfig[e_ours_bytes]}" "<=" $((delta_size / 2))) |"
  local resumed
  resumed=$(calc "${dfig[f_ours_bytes]} / ${dfig[e_ours_bytes]}")
  echo "| (f) killed and resumed at most 1.1 x (e)'s bytes | $resumed x (killed at ${dfig[f_ours_killed]} of the build) | $(verdict "$resumed" "<=" 1.1) |"
  local worst=0
  for s in "${delta_scenarios[@]}"; do
    [ "${dfig[${s}_ours_rss]}" -gt "$worst" ] && worst=${dfig[${s}_ours_rss]}
  done
  echo "| Peak RSS at most 64 MiB above the no-update run | worst +$(calc "($worst - $cur) / 1024") MiB | $(verdict "$(calc "($worst - $cur) / 1024")" "<=" 64) |"
  for s in a b c d; do
    local fastest
    fastest=$(calc "(${dfig[${s}_whole_wall]} < ${dfig[${s}_zsync_wall]}) ? ${dfig[${s}_whole_wall]} : ${dfig[${s}_zsync_wall]}")
    echo "| (${s}) wall time below the whole download's and zsync's | ${dfig[${s}_ours_wall]} vs ${dfig[${s}_whole_wall]} and ${dfig[${s}_zsync_wall]} s | $(verdict "${dfig[${s}_ours_wall]}" "<=" "$fastest") |"
  done
  for s in a b c d; do
    echo "| (${s}) wall time below curl's (unchecked, not flushed) | ${dfig[${s}_ours_wall]} vs ${dfig[${s}_curl_wall]} s | $(verdict "${dfig[${s}_ours_wall]}" "<=" "${dfig[${s}_curl_wall]}") |"
  done
  echo
  echo "Every round (wall s / CPU s; then the median and the largest peak RSS in KiB):"
  echo
  for s in "${delta_scenarios[@]}"; do
    row="- ${delta_title[$s]}:"
    for t in ours whole zsync curl; do
      [ -n "${dfig[${s}_${t}_wall]:-}" ] || continue
      row+=" $t$(paste -d/ <(printf '%s\n' ${dfig[${s}_${t}_walls]}) <(printf '%s\n' ${dfig[${s}_${t}_cpus]}) | awk '{ printf " %s", $1 }'), median ${dfig[${s}_${t}_wall]} / ${dfig[${s}_${t}_cpu]}, ${dfig[${s}_${t}_rss]}"
      [ "$s" = f ] && row+=" (killed at ${dfig[${s}_${t}_killed]}; CPU and RSS of the resumed run)"
      [ "$t" = curl ] || row+=";"
    done
    echo "$row"
  done
  echo "- no update (peak RSS KiB): ${dfig[current_raw]}"
}
