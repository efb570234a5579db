#!/usr/bin/env bash
# Installs the Debian packages this project builds and tests with, and only
# those that are missing. Safe to run again; needs root (or sudo) on Debian 12.
#   scripts/install-deps.sh        what the build and the tests need
#   scripts/install-deps.sh fuzz   also clang and its libFuzzer runtime
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  zlib1g-dev libicu-dev
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3
  libcli11-dev nlohmann-json3-dev
  # The export tests load their SQL into the sqlite3 shell and into a
  # PostgreSQL server they start themselves (initdb, pg_ctl and psql).
  postgresql
)
if [ "${1:-}" = fuzz ]; then
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
