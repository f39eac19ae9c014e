# Sourced by the scripts that serve folders with nginx on loopback (the demo, the benchmarks):
# free ports, one config in a throw-away prefix, nginx in the foreground until the script ends.
#   nginx_work=$(mktemp -d); port=$(free_port)
#   nginx_serve "$nginx_work" 'access_log off;' "server { listen 127.0.0.1:$port; root $dir; }"
# The caller's EXIT trap should call nginx_stop.

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# nginx_serve WORK ACCESS_LOG_LINE SERVER_BLOCK...: writes WORK/nginx.conf, starts nginx (its pid
# in nginx_pid) and waits until every server's port answers.
nginx_serve() {
  local work=$1 access=$2
  shift 2
  local user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  {
    echo "$user_line"
    cat <<CONF
worker_processes 1;
error_log $work/error.log warn;
pid $work/nginx.pid;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  $access
  keepalive_requests 1000000;
  client_body_temp_path $work/body; proxy_temp_path $work/proxy; fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
CONF
    printf '  %s\n' "$@"
    echo "}"
  } >"$work/nginx.conf"
  /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
  nginx_pid=$!
  local server port
  for server in "$@"; do
    port=$(sed -nE 's/.*listen 127\.0\.0\.1:([0-9]+).*/\1/p' <<<"$server")
    for _ in $(seq 100); do
      (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
      sleep 0.05
    done
  done
}

nginx_stop() {
  kill -QUIT "$nginx_pid" 2>/dev/null
  wait "$nginx_pid" 2>/dev/null || true
}
