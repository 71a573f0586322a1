#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; only what is missing.
set -euo pipefail

packages=(
    g++ cmake ninja-build ccache make python3 gzip lua5.4
    libgtest-dev libgmock-dev libbenchmark-dev
    libssl-dev zlib1g-dev libcurl4-openssl-dev
    tmux openssl
    xclip xvfb wl-clipboard
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
        echo "Missing packages (${missing[*]}) and no root rights to install them." >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq || true
$sudo apt-get install -y -qq "${missing[@]}"
