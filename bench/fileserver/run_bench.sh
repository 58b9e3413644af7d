#!/usr/bin/env bash
# The WebDAV server against Debian's nginx (with the WebDAV extension module
# for PROPFIND) on loopback, with the server's real limits:
#  1. GET of 1 GiB: throughput, GUI timer's longest stall, memory growth;
#     64 concurrent PROPFINDs of a 500-file folder;
#  2. PROPFIND Depth 1 of 2,000 files, side by side with nginx; PROPFIND and
#     GET of a 20,000-file folder: the GUI timer's longest stall;
#  3. 150 slow-header clients for 90 s while a normal client asks twice a second;
#  4. clients that send pipelined requests and never read, for 60 s, while a
#     normal client asks: the server's memory growth;
#  5. 90 clients that ask for the 20,000-file listing and never read it, for
#     60 s, while a normal client asks: the server's memory growth.
#   bench/fileserver/run_bench.sh [build dir, default build/release] [trickle s, default 90] [flood s, default 60]
#                                 [GET MiB, default 1024] [idle s, default 10]
set -euo pipefail
# awk reads curl's timings and prints the figures: in a comma locale mawk
# would print "1,50" and read "0.123" as 0, so every number here is C's.
export LC_ALL=C
cd "$(dirname "$0")/../.."
build="${1:-build/release}"
trickle_seconds="${2:-90}"
flood_seconds="${3:-60}"
get_mib="${4:-1024}"
idle_seconds="${5:-10}"
serve="$build/bench/fileserver/bench_fileserver_serve"
[[ -x "$serve" ]] || { echo "build $serve first"; exit 1; }
command -v nginx >/dev/null || { echo "nginx is missing: scripts/install-deps.sh --tests"; exit 1; }
dav_ext=/usr/lib/nginx/modules/ngx_http_dav_ext_module.so
[[ -f "$dav_ext" ]] || { echo "nginx's WebDAV module is missing: scripts/install-deps.sh --tests"; exit 1; }
hostile="$(dirname "$0")/hostile_clients.py"

work=$(mktemp -d)
chmod 755 "$work"
nginx_pid="" serve_pid=""
cleanup() {
  [[ -n "$serve_pid" ]] && kill "$serve_pid" 2>/dev/null || true
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mkdir -p "$work/share/many" "$work/share/two" "$work/share/twenty"
dd if=/dev/urandom of="$work/share/big.bin" bs=1M count="$get_mib" status=none
for i in $(seq -w 1 500); do echo "take $i" > "$work/share/many/take_$i.wav"; done
(cd "$work/share/two" && seq -f 'take_%05g.wav' 1 2000 | xargs touch)
(cd "$work/share/twenty" && seq -f 'take_%05g.wav' 1 20000 | xargs touch)
cat "$work/share/big.bin" > /dev/null  # both servers read from the page cache

nginx_port=$(free_port)
cat > "$work/nginx.conf" <<CONF
load_module $dav_ext;
user root;
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 128; }
http {
  access_log off;
  sendfile on;
  server { listen 127.0.0.1:$nginx_port; root $work/share; dav_ext_methods PROPFIND OPTIONS; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!

serve_port=$(free_port)
start_serve() { # starts the server afresh, so each phase reports its own stall and memory
  "$serve" "$work/share" "$serve_port" benchpw > "$work/serve.out" 2>&1 &
  serve_pid=$!
  for _ in $(seq 100); do grep -q ready "$work/serve.out" 2>/dev/null && break; sleep 0.1; done
}
stop_serve() { # prints the server's figures
  kill "$serve_pid"; wait "$serve_pid" || true; serve_pid=""
  tr '\n' ' ' < "$work/serve.out"
}
# 0. The timer's longest stall with no client at all: the machine's own noise.
start_serve
sleep "$idle_seconds"
phase0=$(stop_serve)
echo "idle server for ${idle_seconds} s: $phase0"

start_serve
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break; sleep 0.1; done

best_speed() { # url [curl options...]: best of three, bytes per second
  local url=$1; shift
  local best=0 speed
  for _ in 1 2 3; do
    speed=$(curl -s -o /dev/null -w '%{speed_download}' "$@" "$url")
    speed=${speed%.*}
    (( speed > best )) && best=$speed
  done
  echo "$best"
}
nginx_speed=$(best_speed "http://127.0.0.1:$nginx_port/big.bin")
ours_speed=$(best_speed "http://127.0.0.1:$serve_port/big.bin" -u tonvale:benchpw)

start=$(date +%s.%N)
for _ in $(seq 64); do
  curl -s -o /dev/null -w '%{http_code} %{time_total}\n' -X PROPFIND -H 'Depth: 1' -u tonvale:benchpw \
    "http://127.0.0.1:$serve_port/many/" >> "$work/propfind.codes" &
done
wait $(jobs -p | grep -v -e "^$nginx_pid\$" -e "^$serve_pid\$") 2>/dev/null || true
end=$(date +%s.%N)
failures=$(grep -vc '^207 ' "$work/propfind.codes" || true)
slowest_propfind=$(awk '{ if ($2 > m) m = $2 } END { printf "%.0f", m * 1000 }' "$work/propfind.codes")
answered=$(wc -l < "$work/propfind.codes")
phase1=$(stop_serve)

awk -v m="$get_mib" -v n="$nginx_speed" -v o="$ours_speed" 'BEGIN {
  printf "GET %d MiB   nginx %.0f MiB/s   tonvale %.0f MiB/s   ratio %.2f (aim >= 0.50)\n", m, n/1048576, o/1048576, o/n }'
echo "server: $phase1(aim: stall <= 20 ms, growth < 64 MiB)"
awk -v s="$start" -v e="$end" -v f="$failures" -v a="$answered" -v m="$slowest_propfind" 'BEGIN {
  printf "64 concurrent PROPFIND of 500 files: %.2f s with starting the 64 curls, slowest answer %d ms, %d answered, %d failures (aim 0)\n", e-s, m, a, f }'

# 2. Listings. Median of 21 sequential PROPFINDs each, alternating servers.
start_serve
median_time() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for _ in $(seq 21); do
  curl -s -o /dev/null -w '%{time_total}\n' -X PROPFIND -H 'Depth: 1' "http://127.0.0.1:$nginx_port/two/" >> "$work/nginx.times"
  curl -s -o /dev/null -w '%{time_total}\n' -X PROPFIND -H 'Depth: 1' -u tonvale:benchpw \
    "http://127.0.0.1:$serve_port/two/" >> "$work/ours.times"
done
nginx_listing=$(median_time < "$work/nginx.times")
ours_listing=$(median_time < "$work/ours.times")
nginx_count=$(curl -s -X PROPFIND -H 'Depth: 1' "http://127.0.0.1:$nginx_port/two/" | grep -o '<D:response>' | wc -l)
ours_count=$(curl -s -X PROPFIND -H 'Depth: 1' -u tonvale:benchpw "http://127.0.0.1:$serve_port/two/" | grep -o '<D:response>' | wc -l)
phase2a=$(stop_serve)
start_serve
big_codes=""
for method in PROPFIND GET PROPFIND GET PROPFIND GET; do
  big_codes+=$(curl -s -o /dev/null -w '%{http_code}:%{time_total}s ' -X "$method" -H 'Depth: 1' -u tonvale:benchpw \
    "http://127.0.0.1:$serve_port/twenty/")
done
phase2b=$(stop_serve)
awk -v n="$nginx_listing" -v o="$ours_listing" -v nc="$nginx_count" -v oc="$ours_count" 'BEGIN {
  printf "PROPFIND Depth 1 of 2,000 files (median of 21)   nginx+dav-ext %.1f ms (%d responses)   tonvale %.1f ms (%d responses)   speed ratio %.2f (aim >= 0.50)\n", n*1000, nc, o*1000, oc, n/o }'
echo "server during those: $phase2a(aim: stall <= 20 ms)"
echo "PROPFIND and GET of 20,000 files, three each: $big_codes"
echo "server during those: $phase2b(aim: stall <= 20 ms)"

# 3. Slow-header clients; a normal client every 0.5 s must be answered within 1 s.
probe() { # seconds: a normal client twice a second; prints its slowest answer and its failures
  local until=$(( $(date +%s) + $1 )) slowest=0 failures=0 asked=0 result code took
  while (( $(date +%s) < until )); do
    result=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' --max-time 5 -u tonvale:benchpw \
      "http://127.0.0.1:$serve_port/many/take_001.wav" || true)
    code=${result%% *}; took=${result##* }
    asked=$((asked + 1))
    if [[ "$code" != 200 ]] || awk -v t="$took" 'BEGIN { exit !(t > 1.0) }'; then failures=$((failures + 1)); fi
    slowest=$(awk -v a="$slowest" -v b="$took" 'BEGIN { print (b > a ? b : a) }')
    sleep 0.5
  done
  echo "$asked asked, slowest $(awk -v s="$slowest" 'BEGIN { printf "%.0f", s*1000 }') ms, $failures not answered 200 within 1 s"
}
hostile_phase() { # seconds, hostile_clients.py arguments...: those clients against a fresh server while a normal client asks
  local seconds=$1; shift
  start_serve
  python3 "$hostile" "$1" "$serve_port" "${@:2}" > "$work/hostile.out" &
  local hostile_pid=$!
  sleep 2
  local normal
  normal=$(probe $((seconds - 4)))
  wait "$hostile_pid" || true
  local figures
  figures=$(stop_serve)
  echo "  $(cat "$work/hostile.out")"
  echo "  normal client: $normal (aim: 0)"
  echo "  server: $figures"
}
echo "150 slow-header clients, one line each 15 s, for ${trickle_seconds} s:"
hostile_phase "$trickle_seconds" trickle 150 "$trickle_seconds" 15
echo "8 clients sending pipelined requests and never reading, for ${flood_seconds} s (aim: growth < 32 MiB):"
hostile_phase "$flood_seconds" noread 8 "$flood_seconds" tonvale:benchpw
echo "90 clients asking for the 20,000-file listing and never reading it, for ${flood_seconds} s (aim: growth < 64 MiB):"
hostile_phase "$flood_seconds" listings 90 "$flood_seconds" tonvale:benchpw /twenty/
