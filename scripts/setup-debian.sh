#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing tervo need,
# skipping those already present. Installing needs root: as root, through
# sudo, or (a fresh Debian has no sudo) once with su -c as the message says.
set -euo pipefail

packages=(
  cmake ninja-build g++ ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nettle-dev pkg-config libcli11-dev nlohmann-json3-dev
  libpcre2-dev libre2-dev flex bison
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: installing needs root, and this machine has no sudo; run once as root:" >&2
    echo "  su -c 'bash $(cd "$(dirname "$0")" && pwd)/setup-debian.sh'" >&2
    exit 1
  fi
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
