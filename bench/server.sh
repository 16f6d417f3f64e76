# The private nginx of scripts/bench: a test CA and a certificate for 127.0.0.1 made here, http
# on $http_port and https on $https_port serving $work/www, http on $one_range_port and https
# with HTTP/2 on $one_range_tls_port serving the same files one range a request, and an access log that records the bytes sent for every request
# ($work/access.log). Sourced; start_server returns once it answers.
start_server() {
  tls=$work/tls
  mkdir -p "$tls"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orvanta bench CA" \
    -keyout "$tls/ca.key" -out "$tls/ca.pem" >/dev/null 2>&1
  openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$tls/server.key" \
    -out "$tls/server.csr" >/dev/null 2>&1
  printf 'subjectAltName=IP:127.0.0.1\n' >"$tls/ext.cnf"
  openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial \
    -days 2 -extfile "$tls/ext.cnf" -out "$tls/server.pem" >/dev/null 2>&1

  mkdir -p "$work/nginx-temp"
  local user_line=
  [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  cat >"$work/nginx.conf" <<EOF
$user_line
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
events { worker_connections 512; }
http {
  log_format sent '\$bytes_sent \$status "\$request"';
  access_log $work/access.log sent;
  client_body_temp_path $work/nginx-temp/body;
  proxy_temp_path $work/nginx-temp/proxy;
  fastcgi_temp_path $work/nginx-temp/fastcgi;
  uwsgi_temp_path $work/nginx-temp/uwsgi;
  scgi_temp_path $work/nginx-temp/scgi;
  types { application/json json; }
  default_type application/octet-stream;
  sendfile on;
  tcp_nopush on;
  server { listen 127.0.0.1:$http_port; root $work/www; }
  # A request for several ranges is answered whole, as if it named none.
  server { listen 127.0.0.1:$one_range_port; root $work/www; max_ranges 1; }
  server {
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $tls/server.pem;
    ssl_certificate_key $tls/server.key;
    root $work/www;
  }
  # The same one range a request over HTTPS with HTTP/2, as a CDN edge answers.
  server {
    listen 127.0.0.1:$one_range_tls_port ssl http2;
    ssl_certificate $tls/server.pem;
    ssl_certificate_key $tls/server.key;
    root $work/www;
    max_ranges 1;
  }
}
EOF
  nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log"
  for _ in $(seq 100); do
    curl -sf -o /dev/null "$manifest_url" && break
    sleep 0.1
  done
  curl -sf -o /dev/null "$manifest_url" || { echo "nginx did not come up" >&2; cat "$work/nginx-error.log" >&2; exit 1; }
}
