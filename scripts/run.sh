#!/usr/bin/env bash
# Runs the service in the foreground on an embedded default: a home folder with a
# generated QorEgais.ini and an embedded Firebird database created from db/.
# Usage: scripts/run.sh [HOME_FOLDER]   (default: .home/ in the repository)
# Stop it with Enter or Ctrl+C.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
home="${1:-$root/.home}"

"$root/scripts/deps.sh"
dir="$("$root/scripts/build.sh" | tail -n 1)"

mkdir -p "$home"
db="$home/DATABASE.FDB"
if [ ! -f "$db" ]; then
  {
    echo "CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD 'masterkey' DEFAULT CHARACTER SET WIN1251;"
    for f in "$root"/db/*.sql; do echo "INPUT '$f';"; done
  } > "$home/create.sql"
  isql-fb -q -ch UTF8 -i "$home/create.sql"
  rm -f "$home/create.sql"
fi
if [ ! -f "$home/QorEgais.ini" ]; then
  cat > "$home/QorEgais.ini" <<INI
[DATABASE]
DbName=$db
User=SYSDBA
Password=masterkey
Charset=UTF8

[QOR_SETTINGS]
FSRAR_ID=030000000000
UTM_ADDRESS=127.0.0.1
UTM_PORT=8080
CYCLE_TIME=5000
LOG_LEVEL=DEBUG
INI
fi

echo "Home folder: $home (log: $home/LOG/QorEgais.log)"
export QOREGAIS_HOME="$home"
export QOREGAIS_RUNTIME_DIR="$home"
exec "$dir/qoregais"
