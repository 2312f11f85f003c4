#!/bin/sh
# Installs the Debian packages Tavrel needs to build, test and run.
# Idempotent: asks apt only when something is missing, and says nothing
# when everything is already there.
set -e

PACKAGES="build-essential cmake ninja-build pkg-config zlib1g-dev libdeflate-dev libgtest-dev libgmock-dev \
libbenchmark-dev libcrypto++-dev python3 python3-dbfread clang libclang-rt-14-dev \
iproute2 procps"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

[ -z "$missing" ] && exit 0

echo "setup: installing$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
