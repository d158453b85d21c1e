#!/usr/bin/env bash
# Installs from Debian's packages whatever Kestrin's build and tests need and is missing.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config python3 qt6-base-dev qt6-base-dev-tools libgl-dev libyaml-cpp-dev fonts-dejavu-core
          wine wine64 nsis xvfb xauth clang clang-format clang-tidy libclang-rt-14-dev gcc-mingw-w64-x86-64 gcc-mingw-w64-i686)

# Most uninstallers are 32-bit programs (NSIS and Inno Setup make 32-bit ones by default), and a
# 64-bit Wine runs them only with its 32-bit half, which Debian ships for the i386 architecture.
add_i386=false
if [ "$(dpkg --print-architecture)" = amd64 ]; then
    packages+=(wine32:i386)
    dpkg --print-foreign-architectures | grep -qx i386 || add_i386=true
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null; then
    sudo=(sudo)
else
    echo "These Debian packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
fi
if $add_i386; then
    echo "Adding the i386 architecture to dpkg, for 32-bit Wine"
    "${sudo[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
