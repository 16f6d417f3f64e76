# Delta updates over slow links, sourced by scripts/bench after bench/delta.sh, whose helpers it
# uses (scripts/bench also provides the ports: one_range_port, link_port, link_one_port,
# one_range_tls_port, link_tls_port). This kernel has
# no netem, so bench/link_proxy.py is the link: a TCP proxy on 127.0.0.1 that delays each
# direction by half the round trip and caps it at the link's rate. Through it, the launcher's
# update (against nginx as it is, and against a server answering one range a request), zsync and
# a whole download by curl bring a smaller build up to date; nginx's log counts what each was sent
# and the proxy's the connections each opened and the bytes that crossed the link.
#
#   bench_link          measures, leaves the section's Markdown in $work/link.md
#   link_update_file F  replaces (or adds) the "Delta updates over slow links" section of F

# The build's size (BENCH_LINK_MIB): a whole download of 1 GiB takes 7 minutes at 20 Mbit/s.
link_size=$((${BENCH_LINK_MIB:-256} << 20))
# The links as "RTT_MS:MBIT" (BENCH_LINKS).
read -r -a link_list <<<"${BENCH_LINKS:-50:100 150:20}"
# Rounds of the whole download per link (BENCH_LINK_CURL_ROUNDS): the same bytes for every
# scenario, and its time is mostly the rate cap's, so once is enough by default.
link_curl_rounds=${BENCH_LINK_CURL_ROUNDS:-1}
link_scenarios=(a a1 b)
link_tools=(ours one tls zsync)
declare -A lfig
declare -A link_title=(
  [a]="(a) 200 scattered 64-byte rewrites"
  [a1]="(a1) the same 12,800 bytes rewritten in one place"
  [b]="(b) 1 MiB inserted, 1 MiB deleted elsewhere")
declare -A link_version=([a]=1.1.0 [a1]=1.4.0 [b]=1.2.0)
link_log=$work/link-proxy.log
link_proxy_pid=

# The new build of scenario s from old.bin, published for the direct port, with zsync's control
# file (relative address, so it serves through any port) and manifests for the proxy's ports.
link_prepare() {
  local s=$1 d=$work/link new=$work/link/new-$1.bin
  case $s in
    a)
      cp "$d/old.bin" "$new"
      delta_noise $((200 * 64)) 17 >"$d/noise-a.bin"
      awk -v n="$link_size" 'BEGIN { srand(42); for (i = 0; i < 200; i++) print int(rand() * (n - 64)) }' |
        { local i=0 at; while read -r at; do
            dd if="$d/noise-a.bin" of="$new" bs=64 skip=$i count=1 seek="$at" oflag=seek_bytes \
              conv=notrunc status=none
            i=$((i + 1))
          done; } ;;
    a1)
      cp "$d/old.bin" "$new"
      delta_noise $((200 * 64)) 23 |
        dd of="$new" bs=1M seek=$((link_size / 1024 * 450 + 777)) oflag=seek_bytes conv=notrunc status=none ;;
    b)
      local ins=$((link_size / 1024 * 300 + 12345)) del=$((link_size / 1024 * 700 + 54321)) mib=$((1 << 20))
      { dd if="$d/old.bin" bs=1M count="$ins" iflag=count_bytes status=none
        cat "$d/other.bin"
        dd if="$d/old.bin" bs=1M skip="$ins" count=$((del - ins)) iflag=skip_bytes,count_bytes status=none
        dd if="$d/old.bin" bs=1M skip=$((del + mib)) iflag=skip_bytes status=none; } >"$new" ;;
  esac
  [ "$(stat -c %s "$new")" -eq "$link_size" ] || { say "link scenario $s: build of the wrong size"; return 1; }
  local pub=$work/www/link-$s port
  "$publisher" --game "$new" --version "${link_version[$s]}" \
    --base-url "http://127.0.0.1:$http_port/link-$s" --out "$pub" >"$d/publish-$s.log" 2>&1 ||
    { say "orvanta-publish failed:"; cat "$d/publish-$s.log" >&2; return 1; }
  rm -f "$new"
  local exe
  exe=$(echo "$pub"/orvanta-downloads/*.exe)
  (cd "${exe%/*}" && zsyncmake -u "${exe##*/}" -o "$exe.zsync" "$exe" >/dev/null 2>&1)
  for port in "$link_port" "$link_one_port"; do
    sed "s#//127.0.0.1:$http_port/#//127.0.0.1:$port/#g" "$pub/orvanta-downloads/manifest.json" \
      >"$pub/orvanta-downloads/manifest-$port.json"
  done
  sed "s#http://127.0.0.1:$http_port/#https://127.0.0.1:$link_tls_port/#g" \
    "$pub/orvanta-downloads/manifest.json" >"$pub/orvanta-downloads/manifest-$link_tls_port.json"
  chmod -R a+rX "$pub"
}

# Once every connection through the proxy has ended: "<connections> <bytes delivered to the
# clients>" over its log lines after mark.
link_crossed() {
  local mark=$1
  for _ in $(seq 100); do
    [ "$(grep -c '^open' "$link_log")" -eq "$(grep -c '^close' "$link_log")" ] && break
    sleep 0.1
  done
  tail -n +"$((mark + 1))" "$link_log" |
    awk '$1 == "open" { n++ } $1 == "close" { b += $3 } END { printf "%d %d\n", n, b }'
}

# Starts the proxy for a link of rtt milliseconds and mbit Mbit/s; returns once it listens.
link_start() {
  : >"$link_log"
  python3 "$root/bench/link_proxy.py" --rtt-ms "$1" --mbit "$2" \
    "$link_port:$http_port" "$link_one_port:$one_range_port" \
    "$link_tls_port:$one_range_tls_port" >>"$link_log" 2>&1 &
  link_proxy_pid=$!
  for _ in $(seq 100); do grep -q '^ready' "$link_log" && return 0; sleep 0.05; done
  say "the link proxy did not start: $(cat "$link_log")"
  return 1
}
# Stops it; prints the CPU seconds it used.
link_stop() {
  local ticks
  ticks=$(awk '{ print $14 + $15 }' "/proc/$link_proxy_pid/stat")
  kill "$link_proxy_pid"
  wait "$link_proxy_pid" 2>/dev/null || true
  link_proxy_pid=
  calc "$ticks / $(getconf CLK_TCK)"
}

# One run of tool t on scenario s over link l; the figures go into lfig[<l>_<s>_<t>_<what>].
link_run() {
  local l=$1 s=$2 t=$3 d=$work/link inst=$work/link/inst m c r fetched
  # The whole download is the same file for every scenario: (a)'s stands for all.
  local fs=$s
  [ "$t" = curl ] && fs=all
  local pub=$work/www/link-$s/orvanta-downloads exe port=$link_port
  local scheme=http ca=()
  [ "$t" = one ] && port=$link_one_port
  [ "$t" = tls ] && port=$link_tls_port && scheme=https && ca=("$tls/ca.pem")
  exe=$(echo "$pub"/*.exe)
  local base="$scheme://127.0.0.1:$port/link-$s/orvanta-downloads"
  rm -rf "$inst" "$d/out" "$d/out.part" "$d/out.zs-old"
  if [ "$t" = ours ] || [ "$t" = one ] || [ "$t" = tls ]; then
    mkdir -p "$inst"
    cp "$d/old.bin" "$inst/Orvanta.exe"
    printf '1.0.0' >"$inst/version.txt"
  fi
  sync
  m=$(delta_mark)
  c=$(wc -l <"$link_log")
  case $t in
    ours | one | tls)
      r=$(delta_run "$driver" install "$base/manifest-$port.json" "$inst" "${ca[@]}") || return 1
      cmp -s "$inst/Orvanta.exe" "$exe" || { say "link $s $t: the launcher installed other bytes"; return 1; } ;;
    zsync)
      r=$(cd "$d" && delta_run zsync -q -i "$d/old.bin" -o "$d/out" "$base/${exe##*/}.zsync") || return 1
      cmp -s "$d/out" "$exe" || { say "link $s: zsync made other bytes"; return 1; } ;;
    curl)
      r=$(delta_run curl -s -o "$d/out" "$base/${exe##*/}") || return 1
      cmp -s "$d/out" "$exe" || { say "link: curl brought other bytes"; return 1; } ;;
  esac
  fetched=$(delta_served "$m")
  local w cpu rss b n conns crossed
  read -r w cpu rss <<<"$r"
  read -r b n <<<"$fetched"
  read -r conns crossed < <(link_crossed "$c")
  local k=${l}_${fs}_${t}
  lfig[${k}_walls]+=" $w"
  lfig[${k}_cpus]+=" $cpu"
  lfig[${k}_bytes]=$b
  lfig[${k}_requests]=$n
  lfig[${k}_conns]=$conns
  lfig[${k}_crossed]=$crossed
  say "   $s $t: $(calc "$b / 1048576") MiB ($(calc "$crossed / 1048576") MiB crossed the link) in $n requests over $conns connections, $w s (CPU $cpu s)"
  rm -rf "$inst" "$d/out" "$d/out.part" "$d/out.zs-old"
}

# A new connection's request (two round trips: handshake, then the exchange), then one on the
# kept connection (one round trip); prints both times.
link_probe() {
  local url="http://127.0.0.1:$link_port/link-a/orvanta-downloads/manifest-$link_port.json"
  curl -s -o /dev/null -o /dev/null -w '%{time_total} ' "$url" "$url"
}

# One link: the proxy up, every scenario's tools in rotating order, delta_rounds rounds.
link_measure() {
  local l=$1 rtt=${1%:*} mbit=${1#*:} round s t i order
  say "   link: $rtt ms round trip, $mbit Mbit/s"
  link_start "$rtt" "$mbit" || return 1
  lfig[${l}_probe]=$(link_probe)
  say "   a request on a new connection, then on the same one: ${lfig[${l}_probe]}s"
  for round in $(seq "$delta_rounds"); do
    for s in "${link_scenarios[@]}"; do
      order=()
      for i in "${!link_tools[@]}"; do order+=("${link_tools[$(((i + round) % ${#link_tools[@]}))]}"); done
      for t in "${order[@]}"; do link_run "$l" "$s" "$t" || return 1; done
    done
    if [ "$round" -le "$link_curl_rounds" ]; then link_run "$l" a curl || return 1; fi
  done
  lfig[${l}_proxy_cpu]=$(link_stop)
  for s in "${link_scenarios[@]}" all; do
    for t in "${link_tools[@]}" curl; do
      local k=${l}_${s}_${t}
      [ -n "${lfig[${k}_walls]:-}" ] || continue
      lfig[${k}_wall]=$(calc "$(printf '%s\n' ${lfig[${k}_walls]} | median)")
      lfig[${k}_cpu]=$(calc "$(printf '%s\n' ${lfig[${k}_cpus]} | median)")
    done
  done
}

bench_link() {
  local d=$work/link s l
  say "== delta updates over slow links: a $((link_size >> 20)) MiB build, links ${link_list[*]} (RTT ms:Mbit/s), $delta_rounds rounds"
  local started=$EPOCHREALTIME
  lfig[load]=$(cut -d" " -f1-3 /proc/loadavg)
  mkdir -p "$d"
  local libs=() other=()
  mapfile -d '' libs < <(find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -print0 | LC_ALL=C sort -z)
  mapfile -d '' other < <(find /usr/bin -maxdepth 1 -type f -print0 | LC_ALL=C sort -z)
  delta_concat "$link_size" "$d/old.bin" "${libs[@]}"
  delta_concat $((1 << 20)) "$d/other.bin" "${other[@]:0:64}"
  say "   publishing the new builds (orvanta-publish, zsyncmake), two at a time"
  { link_prepare a && link_prepare b; } &
  local first=$!
  link_prepare a1 &
  local second=$!
  wait "$first" && wait "$second" || { say "preparing the builds failed"; return 1; }
  for l in "${link_list[@]}"; do
    link_measure "$l" || { [ -z "$link_proxy_pid" ] || link_stop >/dev/null; return 1; }
  done
  rm -rf "$d" "$work"/www/link-*
  lfig[minutes]=$(calc "($EPOCHREALTIME - $started) / 60")
  say "   the link section took ${lfig[minutes]} min"
  link_markdown >"$work/link.md"
}

link_update_file() { bench_replace_section "$1" "## Delta updates over slow links" "$work/link.md"; }

# "<time> s, <requests> req., <connections> conn., <MiB> MiB" of one tool's runs; the bytes that
# crossed the link too when an aborted answer made them fewer than those sent.
link_cell() {
  local k=$1 crossed=
  if [ "$(calc "${lfig[${k}_crossed]} < 0.99 * ${lfig[${k}_bytes]}")" = 1.000 ]; then
    crossed=" sent, $(delta_mib "${lfig[${k}_crossed]}") MiB crossed"
  fi
  echo "${lfig[${k}_wall]} s, ${lfig[${k}_requests]} req., ${lfig[${k}_conns]} conn., $(delta_mib "${lfig[${k}_bytes]}") MiB$crossed"
}
link_markdown() {
  local l s t k rtt mbit row
  echo "## Delta updates over slow links"
  echo
  echo "Written by \`scripts/bench\` (alone: \`scripts/bench link\`; also run by \`scripts/bench delta\`) on"
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), in ${lfig[minutes]} min; load average when it began: ${lfig[load]} on $(nproc) processors."
  echo "Each update ran $delta_rounds round(s), the three updates of a scenario taking turns; times are the"
  echo "medians, requests, connections and bytes those of the last round. The whole download ran"
  echo "$link_curl_rounds round(s) per link. Launcher measured: ${BENCH_SOURCE:-$(git -C "$root" log -1 --format='%h, "%s"' 2>/dev/null || echo unknown)}."
  echo
  echo "The link: this kernel has no netem, so \`bench/link_proxy.py\` (python3 asyncio) stands between"
  echo "the clients and nginx on 127.0.0.1. Each direction is one queue shared by every connection,"
  echo "drained at the link's rate in pieces of about 2 ms of the wire; every piece then arrives half"
  echo "a round trip later. A new connection's first bytes leave one round trip after it opens, as"
  echo "behind the SYN and SYN-ACK, so a request on a new connection costs two round trips and one on"
  echo "a kept connection one (checked at the start of each link with \`curl\` of the small manifest"
  echo "twice on one connection; figures below). Bytes pass untouched. Not emulated: loss, TCP's slow"
  echo "start and window growth (the proxy sends at the full rate from a connection's first byte)."
  echo
  echo "The build: $((link_size >> 20)) MiB of the same shared libraries as above; (a) 200 overwrites of"
  echo "64 pseudo-random bytes at positions from a fixed seed; (a1) the same number of bytes (12,800)"
  echo "overwritten in one place (at 45%); (b) 1 MiB of other real data (\`/usr/bin\`) inserted at 29%,"
  echo "1 MiB deleted at 68%. Orvanta: \`orvanta-bench install\` into a folder holding the old build, as"
  echo "above (manifest and chunk index fetches count; SHA-256 check, fsync and rename included)."
  echo "One range a request: the same, through a second nginx server on the same files with"
  echo "\`max_ranges 1\` (a request for several ranges is answered with the whole file, as if it named"
  echo "none); over HTTPS: the same through a third nginx server, \`listen ssl http2\` (TLS 1.2 and"
  echo "HTTP/2, as a CDN edge answers), with the bench's test CA. The proxy keeps no congestion"
  echo "window: an answer dropped at its headers (the whole file such a server sends for a request of"
  echo "several ranges) goes on crossing from nginx's socket buffers over an HTTP/2 connection, which"
  echo "stays open, until they drain; over HTTP/1.1 the connection closes and they are lost. A real"
  echo "link's TCP window sends less of it. zsync: \`zsync -i OLD -o OUT URL.zsync\`. Whole download: \`curl -o\` of the new build"
  echo "(the same $((link_size >> 20)) MiB for every scenario). Requests and bytes: nginx's \`\$bytes_sent\`"
  echo "summed over the run (headers included); connections: those the proxy accepted. Where an answer"
  echo "was cut short, fewer bytes crossed the link (reached the client through the proxy) than nginx"
  echo "sent into it; the cell then gives both."
  for l in "${link_list[@]}"; do
    rtt=${l%:*}
    mbit=${l#*:}
    local probe=(${lfig[${l}_probe]})
    echo
    echo "### $rtt ms round trip, $mbit Mbit/s"
    echo
    echo "A request on a new connection took ${probe[0]} s, the next on the same connection ${probe[1]} s."
    echo "The whole download took ${lfig[${l}_all_curl_wall]} s, where the link alone (two round trips, then its"
    echo "bytes at the rate) makes $(calc "2 * $rtt / 1000 + ${lfig[${l}_all_curl_bytes]} * 8 / ($mbit * 1000000)") s. The proxy used ${lfig[${l}_proxy_cpu]} s of CPU over the link's runs."
    echo
    echo "| Scenario | Orvanta | Orvanta, one range a request | Orvanta, one range a request, HTTPS/2 | zsync | Whole download (curl) |"
    echo "|---|---|---|---|---|---|"
    for s in "${link_scenarios[@]}"; do
      row="| ${link_title[$s]}"
      for t in "${link_tools[@]}"; do row+=" | $(link_cell "${l}_${s}_${t}")"; done
      echo "$row | $(link_cell "${l}_all_curl") |"
    done
    echo
    echo "| Target (printed, not asserted) | Figures | |"
    echo "|---|---|---|"
    for s in "${link_scenarios[@]}"; do
      for t in ours one tls; do
        local who="Orvanta"
        [ "$t" = one ] && who="Orvanta, one range a request,"
        [ "$t" = tls ] && who="Orvanta, one range a request over HTTPS/2,"
        k=${l}_${s}
        echo "| (${s}) $who at most zsync's time | ${lfig[${k}_${t}_wall]} vs ${lfig[${k}_zsync_wall]} s | $(verdict "${lfig[${k}_${t}_wall]}" "<=" "${lfig[${k}_zsync_wall]}") |"
      done
    done
    local limit
    limit=$(calc "${lfig[${l}_a1_ours_wall]} + 2 * $rtt / 1000")
    echo "| (a) at most 2 round trips above (a1) | ${lfig[${l}_a_ours_wall]} vs ${lfig[${l}_a1_ours_wall]} + $(calc "2 * $rtt / 1000") s | $(verdict "${lfig[${l}_a_ours_wall]}" "<=" "$limit") |"
    limit=$(calc "1.5 * ${lfig[${l}_a_ours_wall]}")
    echo "| (a) one range a request within 1.5 x the many-range time | ${lfig[${l}_a_one_wall]} vs 1.5 x ${lfig[${l}_a_ours_wall]} s | $(verdict "${lfig[${l}_a_one_wall]}" "<=" "$limit") |"
    echo "| (a) one range a request over HTTPS/2 within 1.5 x the many-range time | ${lfig[${l}_a_tls_wall]} vs 1.5 x ${lfig[${l}_a_ours_wall]} s | $(verdict "${lfig[${l}_a_tls_wall]}" "<=" "$limit") |"
    echo
    echo "Every round (wall s / CPU s):"
    echo
    for s in "${link_scenarios[@]}" all; do
      if [ "$s" = all ]; then row="- whole download:"; else row="- ${link_title[$s]}:"; fi
      for t in "${link_tools[@]}" curl; do
        k=${l}_${s}_${t}
        [ -n "${lfig[${k}_walls]:-}" ] || continue
        row+=" $t$(paste -d/ <(printf '%s\n' ${lfig[${k}_walls]}) <(printf '%s\n' ${lfig[${k}_cpus]}) | awk '{ printf " %s", $1 }');"
      done
      echo "${row%;}"
    done
  done
}
