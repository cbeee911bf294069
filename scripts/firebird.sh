#!/usr/bin/env bash
# Starts the local Firebird server (127.0.0.1:3050) unless one is listening already.
# Prints nothing when it runs; fails when it cannot be started.
set -euo pipefail

listening() { (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; }

if listening; then exit 0; fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO mkdir -p /run/firebird3.0
$SUDO chown firebird:firebird /run/firebird3.0
$SUDO su firebird -s /bin/sh -c '/usr/sbin/fbguard -daemon -forever'
for _ in $(seq 1 100); do
  listening && exit 0
  sleep 0.1
done
echo "The Firebird server did not start on 127.0.0.1:3050" >&2
exit 1
