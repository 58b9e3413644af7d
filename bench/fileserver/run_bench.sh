#!/usr/bin/env bash
# Download throughput of the WebDAV server against Debian's nginx on
# loopback, the server's peak memory growth and its GUI timer's longest
# stall during a 1 GiB GET; then 64 concurrent PROPFINDs of a 500-file folder.
#   bench/fileserver/run_bench.sh [build dir, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build/release}"
serve="$build/bench/fileserver/bench_fileserver_serve"
[[ -x "$serve" ]] || { echo "build $serve first"; exit 1; }
command -v nginx >/dev/null || { echo "nginx is missing: scripts/install-deps.sh --tests"; exit 1; }

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

mkdir -p "$work/share/many"
dd if=/dev/urandom of="$work/share/big.bin" bs=1M count=1024 status=none
for i in $(seq -w 1 500); do echo "take $i" > "$work/share/many/take_$i.wav"; done
cat "$work/share/big.bin" > /dev/null  # both servers read from the page cache

nginx_port=$(free_port)
cat > "$work/nginx.conf" <<CONF
user root;
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 128; }
http {
  access_log off;
  sendfile on;
  server { listen 127.0.0.1:$nginx_port; root $work/share; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!

serve_port=$(free_port)
"$serve" "$work/share" "$serve_port" benchpw > "$work/serve.out" 2>&1 &
serve_pid=$!
for _ in $(seq 100); do
  grep -q ready "$work/serve.out" 2>/dev/null && curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break
  sleep 0.1
done

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
failures=0
for _ in $(seq 64); do
  curl -s -o /dev/null -w '%{http_code}\n' -X PROPFIND -H 'Depth: 1' -u tonvale:benchpw \
    "http://127.0.0.1:$serve_port/many/" >> "$work/propfind.codes" &
done
wait $(jobs -p | grep -v -e "^$nginx_pid\$" -e "^$serve_pid\$") 2>/dev/null || true
end=$(date +%s.%N)
failures=$(grep -vc '^207$' "$work/propfind.codes" || true)
answered=$(wc -l < "$work/propfind.codes")

kill "$serve_pid"; wait "$serve_pid" || true; serve_pid=""

awk -v n="$nginx_speed" -v o="$ours_speed" 'BEGIN {
  printf "GET 1 GiB   nginx %.0f MiB/s   tonvale %.0f MiB/s   ratio %.2f (aim >= 0.50)\n", n/1048576, o/1048576, o/n }'
echo "server: $(tr '\n' ' ' < "$work/serve.out")(aim: stall <= 20 ms, growth < 64 MiB)"
awk -v s="$start" -v e="$end" -v f="$failures" -v a="$answered" 'BEGIN {
  printf "64 concurrent PROPFIND of 500 files: %.2f s, %d answered, %d failures (aim 0)\n", e-s, a, f }'
