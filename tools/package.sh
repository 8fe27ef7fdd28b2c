#!/usr/bin/env bash
# Builds the Debian package in build/, checks it with lintian (errors fail,
# warnings are shown), installs it on this machine with dpkg and runs the
# installed programs once: --help, their windows under Xvfb, and tern on the
# simulated line.
# Needs root (or sudo) for the installation; leaves the package installed
# (remove it with `dpkg -r tern`).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

echo "== package"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
rm -f build/tern_*.deb
(cd build && cpack -G DEB)
debs=(build/tern_*_amd64.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package.sh: expected one package, found: ${debs[*]}" >&2
  exit 1
fi
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "tern_${version}_amd64.deb" ] || { echo "package.sh: $deb is not named for version $version" >&2; exit 1; }
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"

echo "== lintian"
lintian --fail-on error --display-info "$deb"

echo "== install"
if ! $SUDO env DEBIAN_FRONTEND=noninteractive dpkg -i "$deb"; then
  # Libraries the package depends on that this machine lacks.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -f install -y -q --no-install-recommends
fi
[ "$(dpkg-query -W -f='${Status} ${Version}' tern)" = "install ok installed $version" ] || {
  echo "package.sh: tern $version is not installed" >&2
  exit 1
}

echo "== udev rule order"
# A uaccess tag only counts when set before 71-seat.rules and
# 73-seat-late.rules turn it into access for the logged-in user.
rules=$(dpkg -L tern | grep '^/usr/lib/udev/rules.d/.*\.rules$' || true)
[ -n "$rules" ] || { echo "package.sh: the package installs no udev rule" >&2; exit 1; }
for rule in $rules; do
  name=$(basename "$rule")
  echo "$name"
  first=$(printf '%s\n' "$name" 71-seat.rules | LC_ALL=C sort | head -n 1)
  if grep -q 'TAG+="uaccess"' "$rule" && [ "$first" != "$name" ]; then
    echo "package.sh: $name sorts after 71-seat.rules: its uaccess tag would never apply" >&2
    exit 1
  fi
done

echo "== installed programs"
help=$(/usr/bin/tern-curve-sim --help)
echo "$help"
grep -q "^Usage: tern-curve-sim" <<<"$help" || { echo "package.sh: tern-curve-sim --help printed no usage" >&2; exit 1; }
# tern: its help, its manual page, and a discovery on the simulated line
# with nothing but its table on standard output.
help=$(/usr/bin/tern --help)
grep -q "^Usage: tern " <<<"$help" || { echo "package.sh: tern --help printed no usage" >&2; exit 1; }
dpkg -L tern | grep -q '^/usr/share/man/man1/tern\.1\.gz$' || { echo "package.sh: tern has no manual page" >&2; exit 1; }
# Its bash completion offers the commands after "tern ".
completion=/usr/share/bash-completion/completions/tern
dpkg -L tern | grep -qx "$completion" || { echo "package.sh: tern's bash completion is not installed" >&2; exit 1; }
offered=$(bash -c '_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
  source '"$completion"'; COMP_WORDS=(tern ap); COMP_CWORD=1; _tern; echo "${COMPREPLY[*]}"')
[ "$offered" = "apply" ] || { echo "package.sh: tern's completion offered \"$offered\" for ap" >&2; exit 1; }
found=$(/usr/bin/tern --sim --devices 3 discover) || { echo "package.sh: tern --sim discover failed" >&2; exit 1; }
echo "$found"
[ "$(tail -n 1 <<<"$found")" = "3 devices found." ] && [ "$(wc -l <<<"$found")" -eq 5 ] ||
  { echo "package.sh: the installed tern did not list 3 devices alone" >&2; exit 1; }
tests/gui/run_gui_test.sh installed_smoke build/installed-gui \
  /usr/bin/python3 tests/gui/smoke_installed.py "$version" /usr/bin/tern-curve-sim /usr/bin/tern-curve
echo "== package $deb built, checked, installed and run"
