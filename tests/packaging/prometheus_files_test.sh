#!/usr/bin/env bash
# The shipped Prometheus files: the scrape configuration and the alert rules pass promtool's
# checks, the rules pass their unit tests, and the audit's textfile is valid exposition text.
set -euo pipefail
src=$1
promtool=${PROMTOOL:-promtool}
"$promtool" check config "$src/packaging/prometheus/prometheus.yml"
"$promtool" check rules "$src/packaging/prometheus/quoteloom-alerts.yml"
(cd "$src/tests/packaging" && "$promtool" test rules quoteloom_alerts_test.yml)

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for result in success exit-code; do
  SERVICE_RESULT=$result QUOTELOOM_TEXTFILE_DIR=$dir "$src/packaging/prometheus/quoteloom-audit-textfile"
  "$promtool" check metrics <"$dir/quoteloom_audit.prom"
  expected=0
  [ "$result" = success ] && expected=1
  grep -qx "quoteloom_audit_success $expected" "$dir/quoteloom_audit.prom" || {
    echo "audit textfile after $result:" >&2
    cat "$dir/quoteloom_audit.prom" >&2
    exit 1
  }
done
[ "$(ls -A "$dir")" = quoteloom_audit.prom ] || { echo "left behind: $(ls -A "$dir")" >&2; exit 1; }
echo "prometheus files: ok"
