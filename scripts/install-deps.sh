#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, and only those that are missing.
# Safe to run any number of times; uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libbenchmark-dev
  libhamlib-dev libhamlib-utils
  liberfa-dev
  libceres-dev
  fonts-ipaexfont-gothic
  xvfb xdotool xauth
  clang libclang-rt-14-dev lld
  libqt6svg6 desktop-file-utils appstream dpkg-dev file
  qt6-translations-l10n
  qt6-charts-dev libqt6opengl6-dev qt6-svg-dev poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo)
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
