#!/usr/bin/env bash
# Measures the HTTP server benchmark against the minimal thread-per-connection
# server and nginx (one worker) serving the same 2 KB page, each with
#   wrk -t4 -c50 -d<D>s -H 'Connection: close'
# on loopback, and prints requests/s, p99 latency and the ratios.
# Usage: bench/http_compare.sh [build-dir] [seconds]   (needs wrk and nginx)
set -euo pipefail
BUILD=${1:-build}
DURATION=${2:-10}
BENCH="$BUILD/bench"
for tool in wrk nginx; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || { echo "$tool is not installed" >&2; exit 1; }
done
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
TMP=$(mktemp -d)
chmod 755 "$TMP" # nginx workers run as an unprivileged user
PIDS=()
cleanup() {
  for p in "${PIDS[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null || true; done
  rm -rf "$TMP"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
wait_port() { for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }

# run_wrk PORT -> "requests_per_second p99_ms"
run_wrk() {
  wrk -t4 -c50 -d"${DURATION}s" --latency -H 'Connection: close' "http://127.0.0.1:$1/" > "$TMP/wrk.txt"
  local rps p99
  rps=$(awk '/Requests\/sec/ {print $2}' "$TMP/wrk.txt")
  p99=$(awk '$1=="99%" {v=$2; if (v ~ /us$/) {sub(/us/,"",v); v=v/1000} else if (v ~ /ms$/) {sub(/ms/,"",v)} else if (v ~ /s$/) {sub(/s/,"",v); v=v*1000}; print v}' "$TMP/wrk.txt")
  grep -E 'Socket errors|Non-2xx' "$TMP/wrk.txt" >&2 || true
  echo "$rps $p99"
}

"$BENCH/http_server" --dump-page > "$TMP/index.html"

P1=$(free_port)
"$BENCH/http_server" --port "$P1" --seconds $((DURATION + 5)) > "$TMP/ours.log" & PIDS+=($!)
wait_port "$P1"
read -r OURS OURS_P99 < <(run_wrk "$P1")

P2=$(free_port)
"$BENCH/minimal_http_server" --port "$P2" --seconds $((DURATION + 5)) > "$TMP/minimal.log" & PIDS+=($!)
wait_port "$P2"
read -r MINIMAL MINIMAL_P99 < <(run_wrk "$P2")

P3=$(free_port)
mkdir -p "$TMP/nginx/logs"
cat > "$TMP/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $TMP/nginx/nginx.pid;
error_log $TMP/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $TMP/nginx;
  proxy_temp_path $TMP/nginx;
  fastcgi_temp_path $TMP/nginx;
  uwsgi_temp_path $TMP/nginx;
  scgi_temp_path $TMP/nginx;
  server {
    listen 127.0.0.1:$P3;
    location = / { root $TMP; try_files /index.html =404; default_type text/html; }
  }
}
CONF
"$NGINX" -p "$TMP/nginx" -c "$TMP/nginx/nginx.conf" 2>"$TMP/nginx/stderr" & PIDS+=($!)
wait_port "$P3"
read -r NGINX_RPS NGINX_P99 < <(run_wrk "$P3")

printf 'our server      %10.0f req/s   p99 %7.2f ms\n' "$OURS" "$OURS_P99"
printf 'minimal server  %10.0f req/s   p99 %7.2f ms\n' "$MINIMAL" "$MINIMAL_P99"
printf 'nginx (1 wrk)   %10.0f req/s   p99 %7.2f ms\n' "$NGINX_RPS" "$NGINX_P99"
awk -v o="$OURS" -v m="$MINIMAL" -v n="$NGINX_RPS" -v p="$OURS_P99" 'BEGIN {
  printf "ours/minimal %.2f (goal >= 0.90)   ours/nginx %.2f (goal >= 0.45)   our p99 %.2f ms (goal < 10)\n", o/m, o/n, p }'
