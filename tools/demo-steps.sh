#!/bin/bash
# Runs inside the bench (see tests/bench/sandbox.sh): installs the fixture
# suite where the launcher looks for it, starts the launcher and prints what
# the suite received.
set -euo pipefail
build=$PIVRA_BUILD_DIR
wine_path() { wine "$build/tests/benchctl.exe" path "$1" | tr -d '\r'; }

install_dir=$(winepath -u "$(wine_path install-dir)")
mkdir -p "$install_dir"
cp "$build/tests/PivraSuite.exe" "$install_dir/"
echo "suite installed at: $(wine_path suite-exe)"

record="$install_dir/received.txt"
rm -f "$record"
set +e
wine "$build/PivraSuiteMessaging.exe"
code=$?
set -e
echo "launcher exit code: $code"
for _ in $(seq 100); do [ -f "$record" ] && break; sleep 0.1; done
echo "the suite received:"
sed 's/^/  /' "$record"
