#!/usr/bin/env bash
# Installs the Debian packages that building and testing pbbd need, when
# they are missing. Safe to run again; does nothing when all are there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config make
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev sqlite3 libcli11-dev nlohmann-json3-dev
  python3 python3-scapy python3-pytest iproute2
  iputils-ping ethtool        # the lab (scripts/lab.sh) and its test
  clang
  man-db groff-base systemd   # the installation test: man --warnings, systemd-analyze verify
  dpkg-dev file lintian       # the package: CPack's dpkg-shlibdeps (which needs file), its check
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or install them) and try again" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
