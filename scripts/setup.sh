#!/usr/bin/env bash
# Installs what the build, tests and benchmarks need on a fresh Debian 12 machine.
# Does nothing when everything is already present.
set -euo pipefail
packages=(g++ cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libicu-dev
          zlib1g-dev libsqlite3-dev curl clang libclang-rt-14-dev)
# The host benchmark (scripts/bench_host.sh) also needs a load generator and nginx.
if [ "${1:-}" = "--host-bench" ]; then
  packages+=(wrk nginx-light)
fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma, for the tests that check text forms do not follow
# the process locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  if [ ! -d /usr/share/i18n/locales ] || [ ! -f /usr/share/i18n/locales/de_DE ]; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends locales
  fi
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "setup: could not generate de_DE.UTF-8" >&2
fi
