#!/usr/bin/env bash
# Installs the build under a fresh prefix and checks what an operator gets: the
# programs, a unit file that systemd accepts, the sample .ini and the schema.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
unit="$prefix/lib/systemd/system/qoregais.service"
for f in "$prefix/bin/qoregais" "$unit" "$prefix/share/doc/qoregais/QorEgais.ini.sample" \
         "$prefix/share/qoregais/db/010_settings.sql"; do
  [ -e "$f" ] || { echo "missing: $f"; exit 1; }
done
grep -qx "ExecStart=$prefix/bin/qoregais" "$unit" || { echo "ExecStart does not name the installed program"; exit 1; }
out="$(systemd-analyze verify "$unit" 2>&1)" || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "systemd-analyze: $out"; exit 1; }
version="$("$prefix/bin/qoregais" --version)"
[ "$version" = "QorEgais $2" ] || { echo "version line: $version"; exit 1; }
