#!/bin/sh
# The shipped alerting rules: valid for Prometheus (promtool check rules) and
# firing as taxoscope-alerts.test.yml says (promtool test rules). Skipped
# (status 77) where promtool is missing: scripts/install-deps.sh all installs it.
set -eu
cd "$(dirname "$0")"
if ! command -v promtool >/dev/null 2>&1; then
  echo "promtool is missing (Debian package prometheus): the alert rules are not checked"
  exit 77
fi
promtool check rules taxoscope-alerts.yml
promtool test rules taxoscope-alerts.test.yml
