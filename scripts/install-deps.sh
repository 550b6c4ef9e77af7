#!/usr/bin/env bash
# Installs the Debian packages a set of work needs, when missing:
#   scripts/install-deps.sh run    building and running the programs (./run.sh)
#   scripts/install-deps.sh test   also the tests, the sanitizers, the fuzz and
#                                  tidy runs, the man pages and the package (./test.sh, CI)
set -euo pipefail

run_packages=(
  cmake ninja-build g++ pkg-config
  libcli11-dev libasio-dev libncurses-dev
  nlohmann-json3-dev libcairo2-dev
)
test_packages=(
  "${run_packages[@]}"
  libgtest-dev libgmock-dev libbenchmark-dev
  poppler-utils
  tmux
  clang libclang-rt-14-dev clang-tidy clang-format
  scdoc man-db bash-completion
  dpkg-dev file lintian
)

case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  *)
    echo "usage: $0 [run|test]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then sudo="sudo"; else
    echo "Please install as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
