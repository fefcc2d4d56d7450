#!/bin/sh
# Installs the Debian packages of scripts/deps.txt that are missing; quiet when all are there.
set -eu
list=$(dirname "$0")/deps.txt
missing=""
for pkg in $(grep -v '^#' "$list"); do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
