#!/usr/bin/env bash
# A private Firebird 3 server on loopback for the tests that go through TCP/IP.
#
#   eval "$(bash scripts/fbserver.sh start)"   starts a server on a free port in a fresh root folder and
#                                              prints the variables to export: DBLIB_FBSERVER_PORT,
#                                              DBLIB_FBSERVER_ROOT, DBLIB_FBSERVER_PID, DBLIB_FBSERVER_USER,
#                                              DBLIB_FBSERVER_PASSWORD. Exits non-zero (printing the reason
#                                              to stderr) when the server cannot start.
#   bash scripts/fbserver.sh stop ROOT         stops the server started with root folder ROOT (by the
#                                              process id it recorded) and removes the folder.
#
# The system's own Firebird service is neither used nor touched.
set -euo pipefail

lib=/usr/lib/x86_64-linux-gnu/firebird/3.0
security=/var/lib/firebird/3.0/system/security3.fdb
server=/usr/sbin/firebird
user=DBLIB_TEST
password=TestPw42

free_port() {
  python3 - <<'PY'
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
PY
}

start() {
  [[ -x $server ]] || { echo "fbserver: $server is not installed" >&2; return 1; }
  [[ -r $security ]] || { echo "fbserver: $security is not readable" >&2; return 1; }
  local root port
  root=$(mktemp -d "${TMPDIR:-/tmp}/dblib-fbserver-XXXXXX")
  chmod 755 "$root"
  for item in plugins UDF lib include firebird.msg plugins.conf; do
    [[ -e $lib/$item ]] && ln -s "$lib/$item" "$root/$item"
  done
  # The character sets beyond NONE, OCTETS, ASCII, UNICODE_FSS and UTF8 (ISO8859_1, WIN1252 ...) come
  # from the international module, which the engine loads only from a real file under its root: through
  # a symbolic link the module loads, but every other character set then reads "is not installed".
  mkdir "$root/intl"
  cp "$lib/intl/libfbintl.so" "$lib/intl/fbintl.conf" "$root/intl/"
  cp "$security" "$root/security3.fdb"
  mkdir -p "$root/lock"
  port=$(free_port)
  echo "security.db = $root/security3.fdb" >"$root/databases.conf"
  # SecurityDatabase must name the copy: by default the engine uses the system's security database
  # whatever FIREBIRD points at, and the test user would land there.
  cat >"$root/firebird.conf" <<CONF
SecurityDatabase = $root/security3.fdb
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
AuthServer = Srp
AuthClient = Srp, Legacy_Auth
UserManager = Srp
WireCrypt = Enabled
CONF
  export FIREBIRD="$root" FIREBIRD_LOCK="$root/lock"
  if ! isql-fb -q -user SYSDBA "$root/security3.fdb" >"$root/isql.log" 2>&1 <<SQL; then
CREATE USER $user PASSWORD '$password' USING PLUGIN Srp;
GRANT CREATE DATABASE TO USER $user;
COMMIT;
SQL
    echo "fbserver: cannot add the test user: $(cat "$root/isql.log")" >&2
    rm -rf "$root"
    return 1
  fi
  "$server" >"$root/server.log" 2>&1 &
  local pid=$!
  echo "$pid" >"$root/server.pid"
  # Wait until the port answers (at most about ten seconds).
  local i
  for i in $(seq 1 100); do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "fbserver: the server exited: $(cat "$root/server.log")" >&2
      rm -rf "$root"
      return 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "export DBLIB_FBSERVER_PORT=$port DBLIB_FBSERVER_ROOT=$root DBLIB_FBSERVER_PID=$pid" \
           "DBLIB_FBSERVER_USER=$user DBLIB_FBSERVER_PASSWORD=$password"
      return 0
    fi
    sleep 0.1
  done
  echo "fbserver: the server does not answer on port $port" >&2
  kill "$pid" 2>/dev/null || true
  rm -rf "$root"
  return 1
}

stop() {
  local root=${1:-}
  [[ -n $root && -d $root ]] || return 0
  if [[ -f $root/server.pid ]]; then
    local pid
    pid=$(cat "$root/server.pid")
    if kill "$pid" 2>/dev/null; then
      for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
    fi
  fi
  rm -rf "$root"
}

case "${1:-}" in
  start) start ;;
  stop) stop "${2:-}" ;;
  *) echo "usage: $0 start | stop ROOT" >&2; exit 2 ;;
esac
