#!/usr/bin/env bash
# Installs the Debian packages a job needs, skipping those already present.
#   scripts/setup.sh run    what the main job needs: the compiler, CMake, expat and a JDK
#   scripts/setup.sh test   that, plus the test and benchmark frameworks
set -euo pipefail

packages=(cmake g++ make libexpat1-dev openjdk-17-jdk-headless)
case "${1:-test}" in
    run) ;;
    test) packages+=(googletest libgtest-dev libgmock-dev libbenchmark-dev junit5) ;;
    *) echo "usage: scripts/setup.sh [run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >&2
fi
