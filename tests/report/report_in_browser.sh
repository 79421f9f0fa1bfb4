#!/usr/bin/env bash
# Opens a probe report in Debian's chromium, headless and offline, and checks
# that the page ran without a console message or error and that every chart
# drew its series. Keeps the report, the DOM after the scripts ran and a
# screenshot in OUT_DIR.
#   report_in_browser.sh RENDER_TOOL RESULT.json OUT_DIR
set -euo pipefail
render=$1 result=$2 out=$3
browser=$(command -v chromium || true)
if [ -z "$browser" ]; then
    echo "SKIP: chromium is missing (scripts/deps.sh installs it)"
    exit 77
fi
mkdir -p "$out"
rm -f "$out"/report.html "$out"/dom.html "$out"/screenshot.png "$out"/*.log
"$render" "$result" "$out/report.html"
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT

# Chromium runs in a network namespace of its own when one can be made: with
# no network there, it tries nothing (no probe, no connect). Elsewhere the
# flags turn its background requests off as far as they reach: every name
# resolves "not found" without asking DNS, and the on-device model manifest
# is read from a file that does not exist instead of being fetched. The
# account reconciler's ListAccounts still starts there and fails at once, but
# only after an IPv6 reachability check that connects a UDP socket to a
# public address without sending anything.
isolate=()
if unshare --net --map-root-user true 2> /dev/null; then
    isolate=(unshare --net --map-root-user)
fi
open_page() {
    "${isolate[@]}" "$browser" --headless=new --no-sandbox --disable-gpu --user-data-dir="$profile" \
        --no-first-run --no-default-browser-check --disable-background-networking --disable-component-update \
        --disable-sync --disable-default-apps --disable-extensions --disable-domain-reliability \
        --disable-client-side-phishing-detection --metrics-recording-only --no-pings --no-proxy-server \
        --disable-features=MediaRouter,OptimizationHints,Translate,NetworkTimeServiceQuerying,DnsOverHttps \
        --optimization-guide-manifest-override="$profile/no-manifest" --host-resolver-rules="MAP * ~NOTFOUND" \
        --enable-logging=stderr --v=0 --virtual-time-budget=5000 "$@" "file://$out/report.html"
}
open_page --dump-dom > "$out/dom.html" 2> "$out/dom.log"
open_page --screenshot="$out/screenshot.png" --window-size=1280,2800 > /dev/null 2> "$out/screenshot.log"

status=0
check() { # DESCRIPTION COMMAND...
    if "${@:2}"; then echo "PASS: $1"; else echo "FAIL: $1"; status=1; fi
}
expected=$(grep -o 'data-charts-expected="[0-9]*"' "$out/dom.html" | grep -o '[0-9]\+' || echo none)
drawn=$(grep -o 'data-charts-drawn="[0-9]*"' "$out/dom.html" | grep -o '[0-9]\+' || echo none)
echo "charts: $expected expected, $drawn drawn with their series"
check "the page has its five charts" test "$expected" = 5
check "every chart drew its series" test "$drawn" = "$expected"
check "no script error in the page" bash -c "! grep -q 'data-page-errors' '$out/dom.html'"
# Chromium's own pages (chrome://) may log; only the report's lines count.
check "the page logged nothing to the console" \
    bash -c "! grep -h 'CONSOLE.*source: file://' '$out/dom.log' '$out/screenshot.log'"
# The watch command in the settings holds markup; it must stay text.
check "settings text stayed text" bash -c "! grep -q '<b>x' '$out/dom.html' && grep -q '&lt;b&gt;x' '$out/dom.html'"
check "a screenshot was taken" test -s "$out/screenshot.png"
echo "report, DOM and screenshot in $out"
exit "$status"
