#!/usr/bin/env bash
# Builds the Debian package from a Release build (build-release/), checks it
# with lintian, unpacks it into a scratch folder and runs what it holds there:
# both programs' --version, a scripted check on a virtual clock, both man
# pages through man, and the bash completion.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's own build flags (hardening, fortified functions, format checks) on
# top of the Release build's; warnings are errors here as in every preset.
# They are taken when build-release/ is first configured.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS) ${CXXFLAGS:-}"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS) ${LDFLAGS:-}"
export CXXFLAGS LDFLAGS
cmake --preset release
cmake --build --preset release
rm -f build-release/kalventa-checkout_*.deb
cpack --preset deb
deb=$(ls build-release/kalventa-checkout_*.deb)
echo "== $deb"
dpkg-deb --info "$deb"

echo "== lintian"
# Neither errors nor warnings; the remaining notes (the .comment section that
# a plain strip keeps) are only information.
lintian --display-info --fail-on error,warning "$deb"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
bin="$scratch/usr/bin"
version=$(dpkg-deb -f "$deb" Version)

fail() { echo "check-package: $*" >&2; exit 1; }
for program in kalventa-checkout kalventa-sim; do
  shown=$("$bin/$program" --version)
  [ "$shown" = "$program $version" ] || fail "$program --version says \"$shown\", the package is $version"
  echo "$shown"
done

# The calibrator check of a healthy simulated 2430A: the script runs out at the
# check's last prompt (exit status 3) with the verdict on the screen.
status=0
out=$("$bin/kalventa-checkout" --virtual-time --seed 1 --bus sim:2430A \
  --operator b4,b4,b3,b1,b1 </dev/null) || status=$?
[ "$status" -eq 3 ] || fail "the scripted check ended with exit status $status, not 3"
grep -q "PASS" <<<"$out" || fail "the scripted check shows no PASS:"$'\n'"$out"
echo "scripted calibrator check: PASS"

for program in kalventa-checkout kalventa-sim; do
  page="$scratch/usr/share/man/man1/$program.1.gz"
  warnings=$(MANWIDTH=80 man --warnings -P cat -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
  shown=$(MANWIDTH=80 man -P cat -l "$page" | sed 's/.\x08//g')
  grep -q "^NAME" <<<"$shown" || fail "man $page shows no NAME"
  echo "man page $program(1) renders"
done

# What the completion offers after "--", "--fault " and "--bus pro", one line each.
offered=$(PATH="$bin:$PATH" bash -c '
  source /usr/share/bash-completion/bash_completion
  source "$1"
  offer() {
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE} COMPREPLY=()
    _kalventa "$1" "${@: -1}" "${@: -2:1}" 2>/dev/null
    echo "${COMPREPLY[*]}"
  }
  offer kalventa-checkout --
  offer kalventa-checkout --fault ""
  offer kalventa-checkout --bus pro
  offer kalventa-sim --
' _ "$scratch/usr/share/bash-completion/completions/kalventa-checkout")
expected=("--answers --bus --fault --help --operator --seed --show-screen --sim-device --trace --version --virtual-time"
  "calibrator="
  "prologix://"
  "--listen")
for i in "${!expected[@]}"; do
  line=$(sed -n "$((i + 1))p" <<<"$offered")
  for word in ${expected[$i]}; do
    grep -qw -e "$word" <<<"$line" || fail "bash completion: \"$word\" missing from \"$line\""
  done
done
echo "bash completion offers options, faults and buses"
