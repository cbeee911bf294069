#!/usr/bin/env bash
# Installs, with apt-get, every Debian package the build, the tests and the
# demonstration need; packages already installed are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  firebird3.0-server firebird3.0-utils firebird-dev libfbclient2
  libxml2-dev libcurl4-openssl-dev libspdlog-dev libfmt-dev libcpp-httplib-dev
  libssl-dev uuid-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 clang-format clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
