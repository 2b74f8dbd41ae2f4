#!/usr/bin/env bash
# Checks of the Debian package, run by CTest after cpack made it:
#   check_package.sh contents  DEB      file list, links, control fields, maintainer scripts
#   check_package.sh lint      DEB      lintian (no errors); the desktop entry and the AppStream
#                                       metainfo without a single remark (appstreamcli --pedantic,
#                                       desktop-file-validate)
#   check_package.sh cli       DEB EMU  unpacked into a temporary root: tkb-cli --help, probe
#   check_package.sh gui       DEB EMU  the unpacked GUI against the emulator with a temporary
#                                       HOME writes nothing outside HOME/.local/share/tkb-tunedeck
set -euo pipefail

step=$1
deb=$2
emulator=${3:-}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tkb-package-$step.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

unpack() {
  root=$scratch/root
  dpkg-deb -x "$deb" "$root"
}

start_emulator() {
  mkdir -p "$scratch/ports"
  "$emulator" --dir "$scratch/ports" --port 0 --state "$scratch/pedals.state" >"$scratch/emulator.log" 2>&1 &
  pids+=($!)
  wait_for '[ -e "$scratch/ports/ttyACM0" ]' 20 || fail "the emulator did not start: $(cat "$scratch/emulator.log")"
}

case "$step" in
contents)
  dpkg-deb -c "$deb" | awk '{ name = $6; if ($7 == "->") name = name " -> " $8; print name }' |
    sed 's|^\./|/|; s|/$||' | grep -v '^$' | grep -v '^/$' | sort >"$scratch/files"
  expected=(
    "/usr/bin/tkb-cli -> ../lib/tkb-tunedeck/tkb-cli"
    "/usr/bin/tkb-tunedeck -> ../lib/tkb-tunedeck/TKB-Tunedeck"
    /usr/lib/tkb-tunedeck/TKB-Tunedeck
    /usr/lib/tkb-tunedeck/TKB_Monitor
    /usr/lib/tkb-tunedeck/tkb-cli
    /usr/lib/tkb-tunedeck/tkb-pedal-emulator
    /usr/lib/udev/rules.d/70-tkb-pedals.rules
    /usr/share/applications/org.example.tkb_tunedeck.tunedeck.desktop
    /usr/share/doc/tkb-tunedeck/changelog.gz
    /usr/share/doc/tkb-tunedeck/copyright
    /usr/share/icons/hicolor/scalable/apps/org.example.tkb_tunedeck.tunedeck.svg
    /usr/share/man/man1/tkb-cli.1.gz
    /usr/share/man/man1/tkb-tunedeck.1.gz
    /usr/share/metainfo/org.example.tkb_tunedeck.tunedeck.metainfo.xml
    /usr/share/tkb-tunedeck/modo.sh
  )
  for lang in de en es fr it po; do expected+=("/usr/share/tkb-tunedeck/doc/$lang.pdf"); done
  # Every expected file is there, and no file is there that is not expected (folders aside).
  for f in "${expected[@]}"; do grep -qxF "$f" "$scratch/files" || fail "missing from the package: $f"; done
  printf '%s\n' "${expected[@]}" | sort >"$scratch/expected"
  unexpected=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort |
    comm -23 - <(sed 's| -> .*||' "$scratch/expected"))
  [ -z "$unexpected" ] || fail "unexpected files in the package: $unexpected"
  # The programs are stripped binaries; nothing is writable by others.
  dpkg-deb -x "$deb" "$scratch/root"
  file "$scratch/root/usr/lib/tkb-tunedeck/TKB-Tunedeck" | grep -q 'ELF 64-bit.*stripped' ||
    fail "TKB-Tunedeck is not a stripped ELF program"
  [ -z "$(find "$scratch/root" -perm -o+w ! -type l)" ] || fail "files writable by others"
  # Dependencies: the shared libraries found by dpkg-shlibdeps, and avrdude.
  depends=$(dpkg-deb -f "$deb" Depends)
  for dep in avrdude libqt6widgets6 libqt6svg6 libglfw3 libglew libxtst6 libc6; do
    grep -q "$dep" <<<"$depends" || fail "Depends lacks $dep: $depends"
  done
  [ "$(dpkg-deb -f "$deb" Package)" = tkb-tunedeck ] || fail "package name"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
  # The rule takes effect on install: postinst reloads udev and triggers the pedal devices.
  dpkg-deb -e "$deb" "$scratch/control"
  grep -q 'udevadm control --reload' "$scratch/control/postinst" || fail "postinst does not reload udev"
  grep -q 'udevadm trigger' "$scratch/control/postinst" || fail "postinst does not trigger udev"
  sh -n "$scratch/control/postinst" && sh -n "$scratch/control/postrm"
  # Without a running udev (a container, a chroot: here, unless the host runs one) the
  # maintainer scripts say nothing and leave udevadm alone; with one, they reload it.
  mkdir -p "$scratch/fakebin"
  printf '#!/bin/sh\necho "udevadm $*" >>"%s/udevadm.calls"\necho "Failed to send reload request" >&2\nexit 1\n' \
    "$scratch" >"$scratch/fakebin/udevadm"
  chmod +x "$scratch/fakebin/udevadm"
  for script in "postinst configure" "postrm remove"; do
    rm -f "$scratch/udevadm.calls"
    # shellcheck disable=SC2086
    out=$(PATH="$scratch/fakebin:$PATH" sh "$scratch/control/"$script 2>&1) || fail "$script failed: $out"
    if [ -S /run/udev/control ]; then
      [ -s "$scratch/udevadm.calls" ] || fail "$script does not reload the running udev"
    else
      [ -z "$out" ] || fail "$script is not quiet without udev: $out"
      [ ! -e "$scratch/udevadm.calls" ] || fail "$script runs udevadm without udev: $(cat "$scratch/udevadm.calls")"
    fi
  done
  # One menu entry: the program. The monitor is started by it, never alone from the menu.
  entries=$(find "$scratch/root/usr/share/applications" -name '*.desktop' | wc -l)
  [ "$entries" -eq 1 ] || fail "$entries desktop entries"
  grep -qx 'Exec=tkb-tunedeck' "$scratch/root/usr/share/applications/org.example.tkb_tunedeck.tunedeck.desktop" ||
    fail "desktop entry Exec"
  # The installed rule says where it is, not where it lies in the source tree.
  rule=$scratch/root/usr/lib/udev/rules.d/70-tkb-pedals.rules
  grep -q '^# Installed by the tkb-tunedeck package as /usr/lib/udev/rules.d/70-tkb-pedals.rules' "$rule" ||
    fail "the installed rule does not name its place: $(head -5 "$rule")"
  ! grep -q 'packaging/' "$rule" || fail "the installed rule names packaging/"
  grep -q 'TAG+="uaccess"' "$rule" || fail "the installed rule lost its lines"
  ;;
lint)
  # lintian exits non-zero on errors only; its warnings are printed for the log.
  lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$scratch/lintian"
  ! grep -q '^E:' "$scratch/lintian" || fail "lintian reports errors"
  unpack
  # Not a single error, warning, info or pedantic remark, for the metainfo alone and for the
  # installed tree (the launchable desktop entry and the icon it names).
  for check in "validate --pedantic --no-net $root/usr/share/metainfo/org.example.tkb_tunedeck.tunedeck.metainfo.xml" \
    "validate-tree --pedantic --no-net $root"; do
    # shellcheck disable=SC2086
    report=$(appstreamcli $check 2>&1) || fail "appstreamcli $check: $report"
    ! grep -qE '^[EWIP]: ' <<<"$report" || fail "appstreamcli $check: $report"
  done
  for entry in "$root"/usr/share/applications/*.desktop; do
    report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
    [ -z "$report" ] || fail "desktop-file-validate: $report"
  done
  ;;
cli)
  unpack
  help=$("$root/usr/bin/tkb-cli" --help) || fail "tkb-cli --help failed"
  grep -q 'tkb-cli .*probe' <<<"$help" || fail "tkb-cli --help does not list probe: $help"
  start_emulator
  out=$(TKB_SERIAL_PREFIX="$scratch/ports/ttyACM" HOME="$scratch/home" "$root/usr/bin/tkb-cli" probe 2>"$scratch/trace") ||
    fail "tkb-cli probe failed: $(tail -5 "$scratch/trace")"
  grep -qx 'result 1' <<<"$out" || fail "probe: $out"
  grep -qx 'port COM0' <<<"$out" || fail "probe: $out"
  ;;
gui)
  unpack
  start_emulator
  # The pedals' joystick: a fake sysfs entry and a FIFO held open for the raw reports.
  mkdir -p "$scratch/sys/class/hidraw/hidraw0/device" "$scratch/dev"
  printf 'HID_ID=0003:000016D0:00000F53\n' >"$scratch/sys/class/hidraw/hidraw0/device/uevent"
  mkfifo "$scratch/dev/hidraw0"
  exec 3<>"$scratch/dev/hidraw0"
  home=$scratch/home
  work=$scratch/work
  mkdir -p "$home" "$work" "$scratch/runtime"
  chmod 0700 "$scratch/runtime"
  base=$home/.local/share/tkb-tunedeck
  touch "$scratch/started"
  sleep 1
  (cd "$work" && exec env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$home" \
    XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=offscreen \
    TKB_SERIAL_PREFIX="$scratch/ports/ttyACM" TKB_SYSFS_ROOT="$scratch/sys" TKB_DEV_ROOT="$scratch/dev" \
    "$root/usr/bin/tkb-tunedeck" >"$scratch/gui.log" 2>&1) &
  gui=$!
  pids+=($gui)
  # The usage log's start lines are written once the controller and its joystick are found.
  wait_for '[ -s "$base/opt/uselog.sr0" ]' 120 ||
    fail "no usage log in $base/opt: $(tail -20 "$scratch/gui.log")"
  grep -q 'Path guardado -> '"$base" "$scratch/gui.log" || fail "BasePath is not the data folder"
  sleep 2
  kill -TERM "$gui"
  wait "$gui" || fail "the GUI did not end with status 0 on SIGTERM"
  [ -d "$base/tkb" ] && [ -d "$base/wkf" ] || fail "the base folder lacks tkb/ or wkf/"
  written=$(find "$home" "$work" "$root" -newer "$scratch/started" ! -type d | grep -v "^$base/" || true)
  [ -z "$written" ] || fail "files written outside $base: $written"
  find "$base" -type f
  ;;
*)
  fail "unknown step $step"
  ;;
esac
echo "package $step: ok"
