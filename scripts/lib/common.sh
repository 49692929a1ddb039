# Shared by the scripts: package installation, building, and a private
# MariaDB server. Source it; it defines functions only.

VELQUIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian packages the program needs to build and run.
VELQUIN_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libqt6sql6-mysql libmariadb-dev)
# ...and what the tests add: a real server and its client.
VELQUIN_TEST_PACKAGES=(mariadb-server mariadb-client clang libclang-rt-14-dev procps)

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
build_dir() {
  local dir=$1; shift
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S "$VELQUIN_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
  cmake --build "$dir" --parallel "$(nproc)"
}

build_project() {
  build_dir "$VELQUIN_ROOT/build" "$@"
}

mariadb_bin() {
  local name=$1 d
  for d in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
    [[ -x $d/$name ]] && { echo "$d/$name"; return 0; }
  done
  command -v "$name"
}

# Starts a private server: start_private_server DIR PORT. Never touches the
# system's own server (different port, data directory and socket).
start_private_server() {
  local dir=$1 port=$2
  mkdir -p "$dir"
  if [[ ! -d $dir/data/mysql ]]; then
    "$(mariadb_bin mariadb-install-db)" --no-defaults --datadir="$dir/data" --user="$(id -un)" \
      --auth-root-authentication-method=normal --skip-test-db --skip-name-resolve \
      >"$dir/install.log" 2>&1 || { cat "$dir/install.log"; return 1; }
  fi
  "$(mariadb_bin mariadbd)" --no-defaults --datadir="$dir/data" --user="$(id -un)" \
    --socket="$dir/sock" --port="$port" --bind-address=127.0.0.1 --skip-name-resolve \
    --pid-file="$dir/pid" --log-error="$dir/err.log" --innodb-buffer-pool-size=256M \
    >>"$dir/stdout.log" 2>&1 &
  local i
  for i in $(seq 1 300); do
    mariadb --no-defaults -S "$dir/sock" -uroot -e 'select 1' >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "the private MariaDB server did not start; its log:"; cat "$dir/err.log"
  return 1
}

stop_private_server() {
  local dir=$1 pid
  [[ -f $dir/pid ]] || return 0
  pid=$(cat "$dir/pid")
  kill "$pid" 2>/dev/null || return 0
  local i
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
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

# The sandbox that scripts/run offers when no server answers on 3306: a
# private server with the sample shop, its data kept in the user's data
# directory so it is created once and reused.
VELQUIN_DATA_HOME=${XDG_DATA_HOME:-$HOME/.local/share}/velquin
VELQUIN_SANDBOX=$VELQUIN_DATA_HOME/sandbox
VELQUIN_SANDBOX_PASSWORD=velquin

server_answers() {
  (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null
}

# start_sandbox [DIR [PORT]]
start_sandbox() {
  local dir=${1:-$VELQUIN_SANDBOX} port=${2:-3306} fresh=0
  [[ -d $dir/data/mysql ]] || fresh=1
  start_private_server "$dir" "$port" || return 1
  if ((fresh)); then
    echo "loading the sample shop (商品, 顧客, 注文)..."
    mariadb --no-defaults -S "$dir/sock" -uroot <"$VELQUIN_ROOT/scripts/sample/shop.sql" || return 1
    mariadb --no-defaults -S "$dir/sock" -uroot <<SQL || return 1
CREATE USER IF NOT EXISTS 'velquin'@'127.0.0.1' IDENTIFIED BY '$VELQUIN_SANDBOX_PASSWORD';
CREATE USER IF NOT EXISTS 'velquin'@'localhost' IDENTIFIED BY '$VELQUIN_SANDBOX_PASSWORD';
GRANT ALL ON shop.* TO 'velquin'@'127.0.0.1';
GRANT ALL ON shop.* TO 'velquin'@'localhost';
SQL
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

# Leaves an existing database.ini alone.
write_sandbox_settings() {
  local ini=${1:-$VELQUIN_DATA_HOME}/database.ini
  [[ -e $ini ]] && return 0
  (umask 077; printf 'shop,%s,velquin,127.0.0.1' "$VELQUIN_SANDBOX_PASSWORD" >"$ini")
}
