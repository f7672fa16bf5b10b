#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, when any is missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev qt6-base-dev qt6-base-dev-tools libgl-dev
      libgtest-dev libgmock-dev libbenchmark-dev mingw-w64-tools binutils-mingw-w64-x86-64
      binutils-mingw-w64-i686 xvfb xauth imagemagick fonts-wine fonts-dejavu-core
      librsvg2-bin pandoc dpkg-dev file lintian desktop-file-utils appstream shared-mime-info
      xdg-utils libfile-mimeinfo-perl bash-completion
      python3-jsonschema python3-fastjsonschema rapidjson-dev jq
      gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64 gcc-mingw-w64-i686 g++-mingw-w64-i686
      openbox xdotool)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_=""
[ "$(id -u)" -eq 0 ] || sudo_="sudo"
$sudo_ apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -q --no-install-recommends "${missing[@]}"
