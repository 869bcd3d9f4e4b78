#!/usr/bin/env bash
# Installs the Debian packages drec needs, skipping apt-get when all are present.
# The test set includes what the tests of the installed tree run: man and
# mandoc for the man pages, bash-completion, desktop-file-validate,
# update-mime-database and xdg-mime (which, without a desktop session, asks
# the mimetype program of libfile-mimeinfo-perl: a recommended package, so
# named here), and dpkg-shlibdeps (dpkg-dev) for cpack's Debian package.
# Usage: tools/install-packages.sh build|test
set -euo pipefail

build_packages=(cmake ninja-build g++ pkg-config zlib1g-dev libsdl2-dev libgl1-mesa-dev
                libglu1-mesa-dev libgl1-mesa-dri libpng-dev libimgui-dev libstb-dev)
# drec video streams frames into the ffmpeg program.
run_packages=(ffmpeg)
test_packages=(googletest libgtest-dev libbenchmark-dev xvfb xauth xdotool openbox
               x11-xserver-utils x11-apps libx11-dev clang-14 libclang-rt-14-dev valgrind time
               man-db mandoc bash-completion desktop-file-utils shared-mime-info xdg-utils
               libfile-mimeinfo-perl dpkg-dev)

wanted=("${build_packages[@]}" "${run_packages[@]}")
if [ "${1:-build}" = test ]; then wanted+=("${test_packages[@]}"); fi

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
