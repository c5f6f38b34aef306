#!/usr/bin/env bash
# Installs what the browser tests (tests/browser/) need on Debian 12 (as root), besides the build packages:
# Debian's Chromium, which they run headless. Nothing is downloaded from anywhere else.
set -euo pipefail
"$(dirname "$0")/../../scripts/install-deps.sh" chromium "$@"
