#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages only.
set -euo pipefail

packages=(g++ cmake ninja-build libgtest-dev libgmock-dev nlohmann-json3-dev libssl-dev clang libclang-rt-14-dev unicode-data libobjc-12-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
