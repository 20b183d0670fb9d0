#!/usr/bin/env bash
# Installs what the build needs on a Debian machine, if anything is missing.
set -euo pipefail

packages=(cmake make g++ binutils pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev nlohmann-json3-dev libpng-dev
          # torvic.sys: the mingw-w64 cross compiler with its DDK headers and
          # import libraries, and Python for the image checks
          g++-mingw-w64-i686 mingw-w64-i686-dev python3
          # the 32-bit host build, with GoogleTest built from its sources
          gcc-multilib g++-multilib googletest)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
