#!/usr/bin/env bash
# Installs the build tree into a fresh prefix and checks what a user gets: the programs, the systemd
# user units naming installed files only, the docs they name, timers on China time; then lets
# systemd-analyze verify the units when it can run here.
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/quoteloom-install-XXXXXX)
runtime=$(mktemp -d /tmp/quoteloom-install-runtime-XXXXXX)
trap 'rm -rf "$prefix" "$runtime"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log" >&2; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"

for program in quoteloomd quoteloom-replay quoteloom-data quoteloom-publish quoteloom-archive quoteloom-frontsim; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
done
"$prefix/bin/quoteloomd" --version >/dev/null || fail "the installed quoteloomd does not run"
for doc in quoteloomd.md quoteloom-data.md cluster.md; do
  [ -f "$prefix/share/doc/quoteloom/$doc" ] || fail "share/doc/quoteloom/$doc is not installed"
done

units=$prefix/share/systemd/user
expected=(quoteloomd.service quoteloom-publish.service quoteloom-archive.service
          quoteloom-data-audit.service quoteloom-data-audit.timer
          quoteloom-data-replayable.service quoteloom-data-replayable.timer
          quoteloom-data-close-days.service quoteloom-data-close-days.timer)
for unit in "${expected[@]}"; do
  [ -f "$units/$unit" ] || fail "$unit is not installed in share/systemd/user"
done

for unit in "$units"/*; do
  name=$(basename "$unit")
  grep -q '%h/\.local' "$unit" && fail "$name still names ~/.local"
  grep -v '^#' "$unit" | grep -q 'network-online\.target' && fail "$name waits for network-online.target, which user managers lack"
  # Every program and document a unit names is one of this installation.
  while read -r path; do
    case $path in
      "$prefix"/*) [ -e "$path" ] || fail "$name names $path, which is not installed" ;;
      *) fail "$name names $path outside the prefix" ;;
    esac
  done < <(sed -n -e 's/^ExecStart=\([^ ]*\).*/\1/p' -e 's|^Documentation=file://||p' \
                 -e 's|^ExecStartPre=/bin/cp -n \([^ ]*\) .*|\1|p' "$unit")
done
for timer in "$units"/*.timer; do
  grep -Eq '^OnCalendar=.* Asia/Shanghai$' "$timer" || fail "$(basename "$timer") does not run on China time"
  [ -f "${timer%.timer}.service" ] || fail "$(basename "$timer") has no service"
done
grep -q '^LimitNOFILE=' "$units/quoteloomd.service" || fail "quoteloomd.service sets no LimitNOFILE"
# The options files the publisher and the archive read are put in place from installed examples.
for program in publish archive; do
  grep -q "^ExecStartPre=/bin/cp -n $prefix/share/quoteloom/$program.conf " "$units/quoteloom-$program.service" \
    || fail "quoteloom-$program.service does not put the example $program.conf in place"
done

# The packing unit runs the installed command at the lowest priority and may write only its folder.
closeDays=$units/quoteloom-data-close-days.service
grep -q "^ExecStart=$prefix/bin/quoteloom-data --workdir %h/quoteloom-archive close-days" "$closeDays" \
  || fail "quoteloom-data-close-days.service does not run close-days on the archive's folder"
grep -q '^IOSchedulingClass=idle$' "$closeDays" && grep -q '^Nice=19$' "$closeDays" \
  || fail "quoteloom-data-close-days.service does not run at the lowest priority"
grep -q '^ReadWritePaths=%h/quoteloom-archive$' "$closeDays" \
  || fail "quoteloom-data-close-days.service cannot write the folder it closes"
"$prefix/bin/quoteloom-data" close-days --help | grep -q -- '--journal-days' \
  || fail "the installed quoteloom-data has no close-days --journal-days"

# systemd-analyze needs a runtime folder for a user manager; it also checks that ExecStart exists.
if command -v systemd-analyze >/dev/null; then
  chmod 700 "$runtime"
  if XDG_RUNTIME_DIR=$runtime systemd-analyze verify --user "$units"/*.service "$units"/*.timer >"$runtime/verify.log" 2>&1; then
    echo "systemd-analyze verify: the units are valid"
  elif grep -q 'Failed to initialize manager\|Failed to lookup' "$runtime/verify.log"; then
    echo "systemd-analyze verify cannot run here; skipped:" && cat "$runtime/verify.log"
  else
    cat "$runtime/verify.log" >&2
    fail "systemd-analyze verify found problems"
  fi
fi

[ "$failures" -eq 0 ] || { echo "$failures problems in the installed tree" >&2; exit 1; }
echo "installed tree in order"
