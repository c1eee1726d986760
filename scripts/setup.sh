#!/bin/bash
# Installs the Debian packages that the builds and tests need; does nothing when all are there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config python3
  googletest libgtest-dev libgmock-dev
  libssl-dev openssl libcpp-httplib-dev libcurl4-openssl-dev
  clang libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix
  wine wine64 xvfb x11-utils fonts-wine imagemagick
  tinyproxy
  msitools wixl nsis osslsigncode
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
