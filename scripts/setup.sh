#!/usr/bin/env bash
# Installs what the build needs on a Debian machine, only where it is missing.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libsqlite3-dev libgtest-dev nlohmann-json3-dev qt6-base-dev xvfb python3 "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
