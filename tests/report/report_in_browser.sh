#!/usr/bin/env bash
# Opens the report of a sample probe result in Debian's chromium, headless
# and offline, and checks that the page ran without a console message or
# error, that every chart drew its series, the chart by offered rate among
# them, and that the context block says where and how sure. Keeps the
# report, the DOM after the scripts ran and a screenshot in OUT_DIR.
#   report_in_browser.sh RENDER_TOOL OUT_DIR
set -euo pipefail
render=$1 out=$2
browser=$(command -v chromium || true)
if [ -z "$browser" ]; then
    echo "SKIP: chromium is missing (scripts/deps.sh installs it)"
    exit 77
fi
mkdir -p "$out"
rm -f "$out"/report.html "$out"/dom.html "$out"/screenshot.png "$out"/*.log
"$render" "$out/report.html"
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
open_page --screenshot="$out/screenshot.png" --window-size=1280,3300 > /dev/null 2> "$out/screenshot.log"

status=0
check() { # DESCRIPTION COMMAND...
    if "${@:2}"; then echo "PASS: $1"; else echo "FAIL: $1"; status=1; fi
}
expected=$(grep -o 'data-charts-expected="[0-9]*"' "$out/dom.html" | grep -o '[0-9]\+' || echo none)
drawn=$(grep -o 'data-charts-drawn="[0-9]*"' "$out/dom.html" | grep -o '[0-9]\+' || echo none)
echo "charts: $expected expected, $drawn drawn with their series"
charts=$(grep -o 'data-charts="[a-z ]*"' "$out/dom.html" || true)
check "the page has its charts: by offered rate, loss, latency, soak, CPU, memory" \
    test "$charts" = 'data-charts="rate loss latency soak cpu memory"'
check "every chart drew its series" test "$drawn" = "$expected"
# uPlot's legend without values reads "--" nowhere.
check "legends hold names alone" bash -c "! grep -o 'class=\"u-value\"[^<]*<' '$out/dom.html' | grep -q ."
context=$(sed -n 's/.*<section id="context">\(.*\)<\/section>.*/\1/p' "$out/dom.html")
for fact in "Confidence</dt><dd><span class=\"confidence low\">low</span> step 7" "Date</dt><dd>2024-05-14 09:30:12" \
    "Host</dt><dd>build-01" "2 × Intel(R) Xeon(R)" "Load at the start</dt><dd>1.52, 1.31, 1.02" \
    "quillon-probe</dt><dd>2.2.0" "<code><span>quillon-probe</span> <span>--target</span>"; do
    check "the context block has: $fact" grep -qF -- "$fact" <<< "$context"
done
check "no script error in the page" bash -c "! grep -q 'data-page-errors' '$out/dom.html'"
# Chromium's own pages (chrome://) may log; only the report's lines count.
check "the page logged nothing to the console" \
    bash -c "! grep -h 'CONSOLE.*source: file://' '$out/dom.log' '$out/screenshot.log'"
# The watch command in the settings holds markup; it must stay text.
check "settings text stayed text" bash -c "! grep -q '<b>x' '$out/dom.html' && grep -q '&lt;b&gt;x' '$out/dom.html'"
check "a screenshot was taken" test -s "$out/screenshot.png"
echo "report, DOM and screenshot in $out"
exit "$status"
