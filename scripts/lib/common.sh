# Shared by the scripts: package installation, building, and a private
# MariaDB server. Source it; it defines functions only.

VELQUIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian packages the program needs to build and run.
VELQUIN_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libqt6sql6-mysql libmariadb-dev libssl-dev)
# A private server needs only mariadbd, mariadb-install-db and the client:
# mariadb-server-core has them without the system service, which would
# install itself on 3306 and start at every boot.
VELQUIN_SERVER_PACKAGES=(mariadb-server-core mariadb-client)
# ...and what the tests add.
VELQUIN_TEST_PACKAGES=("${VELQUIN_SERVER_PACKAGES[@]}" clang libclang-rt-14-dev procps openssl)

as_root() {
  if [[ $(id -u) == 0 ]]; then "$@"; else sudo "$@"; fi
}

# Installs the named packages that are missing; nothing when all are there.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures (once) and builds a build directory: build_dir DIR [cmake args].
# VELQUIN_TARGETS, when set, names the only targets to build.
build_dir() {
  local dir=$1; shift
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S "$VELQUIN_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
  # shellcheck disable=SC2086 # a list of target names
  cmake --build "$dir" --parallel "$(nproc)" ${VELQUIN_TARGETS:+--target $VELQUIN_TARGETS}
}

build_project() {
  build_dir "$VELQUIN_ROOT/build" "$@"
}

# Only the program: what scripts/run needs, without the tests and benchmark.
build_program() {
  VELQUIN_TARGETS=velquin build_project
}

mariadb_bin() {
  local name=$1 d
  for d in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
    [[ -x $d/$name ]] && { echo "$d/$name"; return 0; }
  done
  command -v "$name"
}

# The absolute, symlink-free path of a directory (created if need be), so
# that the server's command line and later checks name it the same way.
server_dir() {
  mkdir -p "$1" && (cd "$1" && pwd -P)
}

# The pid of the mariadbd that serves DIR, or failure. A pid file alone
# proves nothing: after a crash or a reboot its number may belong to any
# process, so the process must be a mariadbd with our data directory.
# The server writes its pid file only once it is up; the pid the script
# launched covers an interrupt before that.
our_server_pid() {
  local dir pid file
  local -a args
  [[ -d $1 ]] || return 1
  dir=$(server_dir "$1")
  for file in "$dir/pid" "$dir/launched.pid"; do
    [[ -f $file ]] && pid=$(<"$file") && [[ $pid =~ ^[0-9]+$ ]] || continue
    mapfile -d '' -t args 2>/dev/null <"/proc/$pid/cmdline" || continue
    ((${#args[@]} > 1)) && [[ $(basename -- "${args[0]}") == mariadbd ]] || continue
    printf '%s\n' "${args[@]:1}" | grep -qxF -- "--datadir=$dir/data" || continue
    echo "$pid"
    return 0
  done
  return 1
}

# Runs a command so that Ctrl+C reaches the calling script's traps. The
# mariadb client catches SIGINT itself, kills its query and goes on, and bash
# then leaves its own trap unrun; a wait on a background job is cut short by
# the signal instead. Standard input is passed on explicitly, as a background
# job would otherwise read /dev/null.
interruptible() {
  "$@" <&0 &
  wait "$!"
}

# A fresh data directory in DIR/data for a server that has not run yet.
install_server_data() {
  local dir=$1
  interruptible "$(mariadb_bin mariadb-install-db)" --no-defaults --datadir="$dir/data" --user="$(id -un)" \
    --auth-root-authentication-method=normal --skip-test-db --skip-name-resolve \
    >"$dir/install.log" 2>&1 || { cat "$dir/install.log"; return 1; }
}

# Throwaway certificates for TLS tests, made fresh in DIR: a CA (ca.pem), a
# server certificate for localhost and 127.0.0.1 (server.pem, server-key.pem),
# a client certificate from the same CA (client.pem, client-key.pem) and an
# unrelated CA (other-ca.pem) whose trust the server's certificate fails.
make_test_certificates() {
  local dir=$1 name
  mkdir -p "$dir" || return 1
  (
    cd "$dir" || exit 1
    umask 077
    for name in ca other-ca; do
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Velquin test $name" \
        -keyout "$name-key.pem" -out "$name.pem" 2>/dev/null || exit 1
    done
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >server.ext
    printf 'extendedKeyUsage=clientAuth\n' >client.ext
    for name in server client; do
      openssl req -newkey rsa:2048 -nodes -subj "/CN=${name/server/localhost}" \
        -keyout "$name-key.pem" -out "$name.csr" 2>/dev/null &&
        openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca-key.pem -CAcreateserial \
          -days 2 -extfile "$name.ext" -out "$name.pem" 2>/dev/null || exit 1
    done
    rm -f ./*.csr ./*.ext ./*.srl
  )
}

# Starts a private server: start_private_server DIR PORT [mariadbd options].
# Never touches the system's own server (different data directory and socket).
start_private_server() {
  local dir port=$2
  dir=$(server_dir "$1") || return 1
  [[ -d $dir/data/mysql ]] || install_server_data "$dir" || return 1
  "$(mariadb_bin mariadbd)" --no-defaults --datadir="$dir/data" --user="$(id -un)" \
    --socket="$dir/sock" --port="$port" --bind-address=127.0.0.1 --skip-name-resolve \
    --pid-file="$dir/pid" --log-error="$dir/err.log" --innodb-buffer-pool-size=256M \
    "${@:3}" >>"$dir/stdout.log" 2>&1 &
  local server=$! i
  echo "$server" >"$dir/launched.pid"
  for i in $(seq 1 300); do
    interruptible mariadb --no-defaults -S "$dir/sock" -uroot -e 'select 1' >/dev/null 2>&1 && return 0
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  echo "the private MariaDB server did not start; its log:"; tail -n 30 "$dir/err.log"
  return 1
}

# Stops the server of DIR, if it is running: by its pid when that really is
# our mariadbd, else through its socket. Anything else is left alone.
stop_private_server() {
  local dir pid i
  [[ -d $1 ]] || return 0
  dir=$(server_dir "$1")
  if pid=$(our_server_pid "$dir"); then
    kill "$pid" 2>/dev/null || return 0
    for i in $(seq 1 300); do
      kill -0 "$pid" 2>/dev/null || return 0
      sleep 0.1
    done
    our_server_pid "$dir" >/dev/null && kill -9 "$pid" 2>/dev/null
    return 0
  fi
  if [[ -S $dir/sock ]]; then
    "$(mariadb_bin mariadb-admin)" --no-defaults -S "$dir/sock" -uroot --connect-timeout=2 \
      shutdown >/dev/null 2>&1 || true
  fi
  return 0
}

# A free TCP port on the loopback, never 3306: nothing answers there now.
free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 30000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return 0; }
  done
  echo "no free port found" >&2
  return 1
}

# The sandbox that scripts/run starts: a private server with the sample
# shop, its data kept in the user's data directory so it is created once and
# reused. It takes 127.0.0.1:3306 when that is free, else another port.
VELQUIN_DATA_HOME=${XDG_DATA_HOME:-$HOME/.local/share}/velquin
VELQUIN_SANDBOX=$VELQUIN_DATA_HOME/sandbox
VELQUIN_SANDBOX_PASSWORD=velquin
# Written last by the sample load: a sandbox without it was interrupted.
VELQUIN_SAMPLE_MARKER=sample-loaded
# The database.ini the sandbox wrote, kept so a later run can tell its own
# file from the user's.
VELQUIN_SETTINGS_MARKER=database.ini.written

server_answers() {
  (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null
}

# What answers on HOST PORT, in words: a MySQL/MariaDB server greets first
# with its version, anything else does not.
describe_listener() {
  local greeting
  greeting=$(timeout 2 bash -c 'exec 3<>"/dev/tcp/$0/$1"; head -c 80 <&3' "$1" "$2" 2>/dev/null \
    | tail -c +6 | tr '\0' '\n' | head -n 1 | tr -dc '[:alnum:]._+-' || true)
  if [[ $greeting =~ ^[0-9]+\.[0-9] ]]; then
    echo "a MySQL/MariaDB server ($greeting)"
  else
    echo "a program that is not a MySQL/MariaDB server"
  fi
}

# A free port for the sandbox: 3306 when nothing listens there, else the
# first free one from 3307 on, so it stays the same from run to run.
sandbox_port() {
  local p
  for p in 3306 $(seq 3307 3326); do
    server_answers 127.0.0.1 "$p" || { echo "$p"; return 0; }
  done
  free_port
}

# start_sandbox [DIR [PORT]]
start_sandbox() {
  local dir
  dir=$(server_dir "${1:-$VELQUIN_SANDBOX}") || return 1
  local port=${2:-3306}
  # A server left over from a run that was killed holds the port and data.
  stop_private_server "$dir"
  if [[ ! -f $dir/$VELQUIN_SAMPLE_MARKER && -e $dir/data ]]; then
    echo "the sandbox's sample load never finished; making it anew"
    rm -rf "$dir/data"
  fi
  start_private_server "$dir" "$port" || return 1
  if [[ ! -f $dir/$VELQUIN_SAMPLE_MARKER ]]; then
    echo "loading the sample shop (商品, 顧客, 注文)..."
    interruptible mariadb --no-defaults -S "$dir/sock" -uroot <"$VELQUIN_ROOT/scripts/sample/shop.sql" || return 1
    interruptible mariadb --no-defaults -S "$dir/sock" -uroot <<SQL || return 1
CREATE USER IF NOT EXISTS 'velquin'@'127.0.0.1' IDENTIFIED BY '$VELQUIN_SANDBOX_PASSWORD';
CREATE USER IF NOT EXISTS 'velquin'@'localhost' IDENTIFIED BY '$VELQUIN_SANDBOX_PASSWORD';
GRANT ALL ON shop.* TO 'velquin'@'127.0.0.1';
GRANT ALL ON shop.* TO 'velquin'@'localhost';
SQL
    touch "$dir/$VELQUIN_SAMPLE_MARKER"
  fi
}

# The per-user working directory: ./image resolves there and database.ini
# lives there, readable by its owner only.
prepare_work_dir() {
  local dir=${1:-$VELQUIN_DATA_HOME}
  mkdir -p "$dir"
  chmod 700 "$dir"
  rm -rf "$dir/image"
  cp -r "$VELQUIN_ROOT/image" "$dir/image"
}

# write_sandbox_settings WORKDIR PORT SANDBOXDIR: points database.ini at the
# sandbox when there is none or the one there is what the sandbox wrote last
# time; a file of the user's own is left alone (and the call fails).
write_sandbox_settings() {
  local ini=$1/database.ini marker=$3/$VELQUIN_SETTINGS_MARKER
  local record="shop,$VELQUIN_SANDBOX_PASSWORD,velquin,127.0.0.1:$2"
  if [[ -e $ini || -L $ini ]]; then
    [[ -f $marker ]] && cmp -s "$ini" "$marker" || return 1
  fi
  mkdir -p "$3"
  (umask 077; printf '%s' "$record" >"$ini.tmp" && mv -f "$ini.tmp" "$ini" && cp "$ini" "$marker")
}
