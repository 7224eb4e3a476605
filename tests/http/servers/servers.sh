#!/usr/bin/env bash
# The real web servers of the HTTP tests, run as this script's own processes
# on 127.0.0.1, each with its files (configuration, pid, logs) in DIR/NAME:
#   apache    18455  Digest MD5, qop=auth (a nonce under /dial/stale lives 3 s)
#   lighttpd  18456  Digest SHA-256, qop=auth
#   nginx     18457  TLS (a self-signed certificate for 127.0.0.1), Basic
# User alice, password "pa ss:w0rd", realm phone@example.org. Every path
# answers 200 "dialling"; DIR/NAME/access.log holds one line per request,
# "STATUS METHOD TARGET PROTOCOL".
#
#   servers.sh start DIR [NAME...]   makes DIR's files once, starts the servers
#   servers.sh stop DIR [NAME...]    (all three when no NAME is given)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command=$1
dir=$2
shift 2
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(apache lighttpd nginx)
declare -A port=([apache]=18455 [lighttpd]=18456 [nginx]=18457)
user=alice
password="pa ss:w0rd"
realm=phone@example.org

# Run as root, each server drops to www-data, which must read the password
# files and the page, and each refuses its user option when not root.
user_line() {
  [ "$(id -u)" = 0 ] || return 0
  case $1 in
    apache) echo "User www-data"$'\n'"Group www-data" ;;
    lighttpd) echo 'server.username = "www-data"'$'\n''server.groupname = "www-data"' ;;
    nginx) echo "user www-data www-data;" ;;
  esac
}

make_files() {
  local name=$1 d="$dir/$1"
  [ -f "$d/server.conf" ] && return 0
  mkdir -p "$d/www" "$d/temp"
  chmod 755 "$dir"
  printf 'dialling\n' >"$d/www/ok.txt"
  case $name in
    apache) printf '%s:%s:%s\n' "$user" "$realm" \
              "$(printf '%s:%s:%s' "$user" "$realm" "$password" | md5sum | cut -d' ' -f1)" >"$d/htdigest" ;;
    lighttpd) printf '%s:%s:%s\n' "$user" "$realm" \
                "$(printf '%s:%s:%s' "$user" "$realm" "$password" | sha256sum | cut -d' ' -f1)" >"$d/htdigest" ;;
    nginx)
      printf '%s:%s\n' "$user" "$(openssl passwd -5 "$password")" >"$d/htpasswd"
      openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/key.pem" -out "$d/cert.pem" -days 2 \
        -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" >/dev/null 2>&1 ;;
  esac
  # lighttpd opens its logs only after it dropped to www-data.
  [ "$(id -u)" != 0 ] || chown -R www-data:www-data "$d"
  local users
  users=$(user_line "$name")
  sed -e "s|@DIR@|$d|g" -e "s|@PORT@|${port[$name]}|g" "$here/$name.conf.in" |
    awk -v users="$users" '/^@USER_LINE@$/ { if (users != "") print users; next } { print }' >"$d/server.conf"
}

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start() {
  local name=$1 d="$dir/$1"
  make_files "$name"
  case $name in
    apache) /usr/sbin/apache2 -f "$d/server.conf" -k start ;;
    lighttpd) /usr/sbin/lighttpd -f "$d/server.conf" ;;
    nginx) /usr/sbin/nginx -c "$d/server.conf" -e "$d/error.log" -p "$d" ;;
  esac
  for _ in $(seq 1 50); do listening "${port[$name]}" && return 0; sleep 0.1; done
  echo "servers: $name does not listen on ${port[$name]}:" >&2
  cat "$d/error.log" >&2 2>/dev/null
  return 1
}

stop() {
  local pidfile="$dir/$1/pid" pid
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$pidfile"
}

for name in "${names[@]}"; do
  [ -n "${port[$name]:-}" ] || { echo "servers: no server $name" >&2; exit 2; }
  case $command in
    start) start "$name" ;;
    stop) stop "$name" ;;
    *) echo "servers: start or stop, not $command" >&2; exit 2 ;;
  esac
done
