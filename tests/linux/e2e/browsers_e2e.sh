#!/usr/bin/env bash
# Real browsers against a fake ad server: does hiding the ads hold in Firefox ESR and Chromium?
#
# Everything runs in private mount, network and PID namespaces: a scratch copy of /etc over /etc
# (so the program edits that copy's hosts file, as root, without its helper), loopback only,
# dnsmasq standing in for the internet's DNS, a fake ad server on 198.51.100.2 and ::2 (HTTP, and
# HTTPS with HTTP/2 under a throwaway CA that only the test's browser profiles trust), a
# publisher page on 127.0.0.1 that asks for two ad scripts and an ad image every 2 s, and the
# browsers on Xvfb with openbox. Vantrel is driven with xdotool; it reports what its status line
# shows through VANTREL_STATUS_TRACE.
#
# Cases: Hide and Show with the browsers left running (the program moves them onto the new
# answers, no question), then, with that turned off in the preferences, Hide and Show with Yes
# (the browsers are closed), and Hide with No where a Firefox profile with DNS over HTTPS makes
# the program ask (and say why).
#
# Usage: browsers_e2e.sh [BUILD_DIR [OUTPUT_DIR]]
# Prints the ad requests per browser and case, one PASS/FAIL line per check, and exits 1 when a
# check failed. Where namespaces cannot be made (a chroot, no root) it prints "skipped:" and
# exits 0. Logs and screenshots are kept in OUTPUT_DIR (default BUILD_DIR/e2e-browsers).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../../.." && pwd)

if [ "${1:-}" != "--inside" ]; then
  build=$(realpath "${1:-$src/build}")
  out=${2:-$build/e2e-browsers}
  exe=""
  for candidate in "$build/src/linux/vantrel" "$build/src/vantrel"; do
    [ -x "$candidate" ] && { exe=$candidate; break; }
  done
  [ -n "$exe" ] || { echo "FAIL: no vantrel program in $build (build it first: make build)"; exit 1; }
  if ! unshare -m -n -p --fork --mount-proc --propagation private \
    sh -c 'mount -t tmpfs tmpfs /tmp && ip link set lo up' 2>/dev/null; then
    echo "skipped: cannot make private mount, network and PID namespaces here" \
      "(needs root outside a chroot)"
    exit 0
  fi
  missing=()
  for tool in firefox-esr chromium dnsmasq ip Xvfb openbox xdotool import convert /usr/bin/python3 \
    openssl certutil; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  /usr/bin/python3 -c 'import h2' 2>/dev/null || missing+=(python3-h2)
  if [ ${#missing[@]} -gt 0 ]; then
    echo "FAIL: missing ${missing[*]} (install with: scripts/install-deps.sh browsers)"
    exit 1
  fi
  rm -rf "$out"
  mkdir -p "$out"
  out=$(realpath "$out")
  work=$(mktemp -d /tmp/vantrel-browsers.XXXXXX)
  limit=${E2E_TIME_LIMIT:-450}
  start=$SECONDS
  before=$(sha256sum /etc/hosts 2>/dev/null)
  # The namespace's first process is the inside run: when it ends, or the time limit ends it,
  # the kernel ends every process it started, and its mounts go with it.
  timeout --kill-after=20 "$limit" unshare -m -n -p --fork --mount-proc --propagation private \
    --kill-child=SIGTERM bash "$here/browsers_e2e.sh" --inside "$exe" "$work" "$out"
  rc=$?
  rm -rf "$work"
  if [ "$before" != "$(sha256sum /etc/hosts 2>/dev/null)" ]; then
    echo "FAIL: the machine's own /etc/hosts changed during the run"
    rc=1
  fi
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "FAIL: the run was stopped after its limit of $limit s"
    rc=1
  fi
  echo "real browsers: $((SECONDS - start)) s, logs and screenshots in $out"
  exit $rc
fi

# ---------------------------------------------------------------------------------------------
# Inside the namespaces.
exe=$2 work=$3 out=$4
pids=()
failures=0
table=()

log() { printf '%s  %s\n' "$(date +%T)" "$*"; }
pass() { echo "PASS: $*"; }
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
now() { date +%s.%N; }
plus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a + b }'; }
later() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (a > b ? a : b) }'; }
# True once the clock has passed a time.
passed() { awk -v t="$1" -v n="$(now)" 'BEGIN { exit !(n >= t) }'; }
# Polls a shell condition every 0.2 s for at most $2 seconds.
wait_for() {
  local deadline=$((SECONDS + $2))
  while :; do
    if eval "$1"; then return 0; fi
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}
# A process that has ended, also one not yet reaped, counts as gone.
alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $state != Z* ]]
}
stop_pid() {
  local pid=$1
  alive "$pid" || return 0
  kill "$pid" 2>/dev/null
  wait_for "! alive $pid" 5 || kill -9 "$pid" 2>/dev/null
  wait_for "! alive $pid" 5
}
teardown() {
  trap - EXIT TERM INT
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[$i]}"; done
  for f in ads.log ticks.log dns.log status.trace vantrel.log firefox.log chromium.log \
    dnsmasq.log servers.log tls.log addresses.log; do
    [ -e "$work/$f" ] && cp "$work/$f" "$out/"
  done
}
trap teardown EXIT
trap 'fail "stopped by a signal"; exit 1' TERM INT
abort() {
  fail "$*"
  echo "FAIL: setup failed, no case could run"
  exit 1
}

# --- /etc: a scratch copy, with the namespace's resolver ---------------------------------------
mkdir -p "$work/etc" "$work/home" "$work/run" "$work/vantrel"
chmod 700 "$work/run"
cp -a /etc/. "$work/etc/" 2>/dev/null
# Replace rather than edit: any of these may be a link into the machine's own files.
rm -f "$work/etc/hosts" "$work/etc/resolv.conf" "$work/etc/nsswitch.conf"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$work/etc/hosts"
printf 'nameserver 127.0.0.1\n' >"$work/etc/resolv.conf"
printf 'passwd: files\ngroup: files\nshadow: files\nhosts: files dns\n' >"$work/etc/nsswitch.conf"
mount --bind "$work/etc" /etc || abort "cannot bind the scratch /etc"
[ "$(stat -c %d:%i /etc/hosts)" = "$(stat -c %d:%i "$work/etc/hosts")" ] ||
  abort "/etc/hosts is not the scratch copy"
# The program's lock on the system hosts file goes into /run: this namespace's own.
mount -t tmpfs -o mode=0755 tmpfs /run || abort "cannot mount a private /run"

# --- the network: loopback only, with the addresses a dual-stack PC and the fake servers have -
# The ad server stands for one on the internet: an address outside 127/8, whose connections
# Vantrel ends (it leaves those to this PC's own servers alone).
ip link set lo up &&
  ip addr add 192.0.2.10/24 dev lo &&
  ip addr add 2001:db8::10/64 dev lo nodad &&
  ip addr add 198.51.100.2/32 dev lo &&
  ip addr add ::2/128 dev lo nodad || abort "cannot configure loopback"
[ "$(ip -o link show | grep -cv ': lo:')" = 0 ] || abort "the namespace has a link besides loopback"
# Every address added to or removed from an interface, with its time: the program's
# network-change announcement shows here.
ip -ts monitor address >"$work/addresses.log" 2>&1 &
pids+=($!)

mapfile -t names < <(awk 'NF >= 2 && $1 !~ /^#/ { print $2 }' "$src/res/vantrel_settings.txt" |
  awk '!seen[$0]++')
[ ${#names[@]} -gt 0 ] || abort "no names in res/vantrel_settings.txt"

dns_args=()
for name in "${names[@]}"; do
  dns_args+=("--address=/$name/198.51.100.2" "--address=/$name/::2")
done
dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts --no-poll \
  --listen-address=127.0.0.1 --bind-interfaces --port=53 --user=root --pid-file= \
  --log-queries --log-facility="$work/dns.log" "${dns_args[@]}" >"$work/dnsmasq.log" 2>&1 &
pids+=($!)
# The HTTPS ad server's certificate, from a CA made for this run only.
mkdir -p "$work/tls"
(
  cd "$work/tls" &&
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
      -out ca.pem -days 7 -subj "/CN=Vantrel browser test CA" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign &&
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key \
      -out server.csr -subj "/CN=securepubads.g.doubleclick.net" &&
    printf '%s\n' subjectAltName=DNS:securepubads.g.doubleclick.net basicConstraints=CA:FALSE \
      keyUsage=critical,digitalSignature extendedKeyUsage=serverAuth >server.ext &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 7 \
      -extfile server.ext -out server.pem
) >"$work/tls.log" 2>&1 || abort "cannot make the test's certificates (see tls.log)"
/usr/bin/python3 "$here/fake_servers.py" "$work/ads.log" "$work/ticks.log" "$work/servers.ready" \
  "$work/tls/server.pem" "$work/tls/server.key" >"$work/servers.log" 2>&1 &
pids+=($!)
: >"$work/ads.log"
wait_for '[ -s "$work/servers.ready" ]' 20 || abort "the fake servers did not start"
wait_for 'grep -q "started" "$work/dns.log" 2>/dev/null' 20 || abort "dnsmasq did not start"
answer=$(getent ahostsv4 "${names[0]}" | awk 'NR == 1 { print $1 }')
[ "$answer" = 198.51.100.2 ] || abort "the local DNS answers ${names[0]} with '$answer'"

# --- the display ------------------------------------------------------------------------------
mkdir -p /tmp/.X11-unix
mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix || abort "cannot mount a tmpfs on /tmp/.X11-unix"
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for '[ -s "$work/display" ]' 20 || abort "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XAUTHORITY SESSION_MANAGER VANTREL_HOSTS_FILE
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
export XDG_CACHE_HOME="$work/home/.cache" XDG_DATA_HOME="$work/home/.local/share"
export MOZ_ENABLE_WAYLAND=0 NO_AT_BRIDGE=1
openbox >/dev/null 2>&1 &
pids+=($!)

# --- browsers ---------------------------------------------------------------------------------
browsers=(firefox chromium)
declare -A bpid display_name=([firefox]="Mozilla Firefox" [chromium]="Chromium")
mkdir -p "$work/firefox-profile" "$work/chromium-profile" "$HOME/.pki/nssdb"
cp "$here/firefox-user.js" "$work/firefox-profile/user.js"
# The test's CA, trusted by these two profiles only: Firefox's own certificate store and the
# NSS store Chromium reads below HOME.
for db in "$work/firefox-profile" "$HOME/.pki/nssdb"; do
  certutil -N -d "sql:$db" --empty-password &&
    certutil -A -d "sql:$db" -n "Vantrel browser test CA" -t "C,," -i "$work/tls/ca.pem" ||
    abort "cannot add the test's CA to $db"
done
start_browser() {
  local b=$1 url="http://127.0.0.1:8000/pub/$1"
  case $b in
    firefox)
      firefox-esr --profile "$work/firefox-profile" --no-remote -width 760 -height 560 "$url" \
        >>"$work/firefox.log" 2>&1 &
      ;;
    chromium)
      chromium --no-sandbox --user-data-dir="$work/chromium-profile" --no-first-run \
        --no-default-browser-check --disable-background-networking --disable-component-update \
        --disable-sync --disable-quic --password-store=basic --ozone-platform=x11 --disable-gpu \
        --hide-crash-restore-bubble --disable-background-timer-throttling \
        --disable-renderer-backgrounding --disable-backgrounding-occluded-windows \
        --window-position=820,40 --window-size=760,560 "$url" >>"$work/chromium.log" 2>&1 &
      ;;
  esac
  bpid[$b]=$!
  pids+=($!)
}
# Counts lines of a request log for one browser in a time window [from, to); $4 filters paths.
count() {
  awk -F'\t' -v b="$2" -v from="$3" -v to="$4" -v path="${5:-}" \
    '$5 == b && $1 >= from && $1 < to && (path == "" || index($4, path)) { n++ } END { print n + 0 }' "$1"
}
ads() { count "$work/ads.log" "$1" "$2" "$3" "${4:-}"; }
ticks() { count "$work/ticks.log" "$1" "$2" "$3"; }
# The three ad resources: the script over HTTP keep-alive, the script over HTTPS/HTTP/2, the
# image over HTTP with "Connection: close".
readonly JS=adsbygoogle.js H2=gpt.js GIF=.gif
# One row of the table: case, browser, window length, the three ads, page cycles.
add_row() {
  local label=$1 b=$2 from=$3 to=$4
  table+=("$(printf '%-34s %-9s %6.1f s %7d %7d %7d %7d' "$label" "$b" \
    "$(plus "$to" "-$from")" "$(ads "$b" "$from" "$to" $JS)" "$(ads "$b" "$from" "$to" $H2)" \
    "$(ads "$b" "$from" "$to" $GIF)" "$(ticks "$b" "$from" "$to")")")
  echo "  ${table[-1]}"
}
# All three ads requested by a browser since $2.
all_ads_since() {
  [ "$(ads "$1" "$2" 9999999999 $JS)" -gt 0 ] && [ "$(ads "$1" "$2" 9999999999 $H2)" -gt 0 ] &&
    [ "$(ads "$1" "$2" 9999999999 $GIF)" -gt 0 ]
}
# Seconds from $2 to the browser's first request of an ad resource ($3) after it; "-" for none.
first_ad_after() {
  awk -F'\t' -v b="$1" -v from="$2" -v path="$3" \
    '$5 == b && $1 >= from && index($4, path) { if (t == "" || $1 < t) t = $1 }
     END { if (t == "") print "-"; else printf "%.1f", t - from }' "$work/ads.log"
}
# Waits until every browser's page has run N cycles since $1 (bounded by $3 seconds).
wait_cycles() {
  local from=$1 n=$2 limit=$3 b
  for b in "${browsers[@]}"; do
    wait_for "[ \$(ticks $b $from 9999999999) -ge $n ]" "$limit" || return 1
  done
}
# How a browser that is gone ended: 0 when it closed its windows and quit, 128+N for signal N.
exit_status() {
  wait "${bpid[$1]}" 2>/dev/null
  echo $?
}
# Before a toggle both browsers must be running their pages. One that ended by itself (or was
# ended by something outside the test) is started again, and said so.
ensure_running() {
  local b from restarted=()
  from=$(now)
  for b in "${browsers[@]}"; do
    alive "${bpid[$b]}" && continue
    log "note: $b had ended by itself (exit status $(exit_status "$b")); starting it again"
    start_browser "$b"
    restarted+=("$b")
  done
  for b in "${restarted[@]}"; do
    wait_for "[ \$(ticks $b $from 9999999999) -ge 3 ]" 90 || log "note: $b did not start again"
  done
}
# Ends the browsers still running, as a user would not have to; used between cases only.
end_browsers() {
  local b
  for b in "${browsers[@]}"; do stop_pid "${bpid[$b]}"; done
}

# --- Vantrel ----------------------------------------------------------------------------------
cp "$src/res/vantrel_settings.txt" "$src/res/help.txt" "$work/vantrel/" 2>/dev/null
export VANTREL_STATUS_TRACE="$work/status.trace"
(cd "$work/vantrel" && QT_QPA_PLATFORM=xcb exec "$exe" >"$work/vantrel.log" 2>&1) &
vantrel_pid=$!
pids+=($!)
wait_for 'xdotool search --onlyvisible --name "^Vantrel$" >/dev/null 2>&1' 30 ||
  abort "the main window of Vantrel did not appear"
wait_for '! xdotool search --onlyvisible --name "^Vantrel splash screen$" >/dev/null 2>&1' 20 ||
  abort "the splash screen did not hide"
main=$(xdotool search --onlyvisible --name '^Vantrel$' | head -n1)
eval "$(xdotool getwindowgeometry --shell "$main")"
win_w=$WIDTH win_h=$HEIGHT

# The toggle, clicked where a user would (its place in the dialog's 355 x 252 layout).
click_toggle() {
  xdotool windowactivate --sync "$main" >/dev/null 2>&1
  # From elsewhere: a synchronous move to where the pointer already is waits 15 s for a motion.
  xdotool mousemove 0 0
  # Relative to the window: the position xdotool reports for a framed window is the frame's.
  xdotool mousemove --window "$main" --sync $((win_w * 36 / 355)) $((win_h * 469 / 504)) click 1
}
# The question box: a visible window with the program's caption besides the main window.
question_box() {
  xdotool search --onlyvisible --name '^Vantrel$' 2>/dev/null | grep -vx "$main" | head -n1
}
# Answers the question with a key (y or n), the box focused first. Prints the answer's time.
answer_question() {
  local key=$1 box
  if ! wait_for '[ -n "$(question_box)" ]' 20; then
    return 1
  fi
  box=$(question_box)
  import -window root "$out/question-$2.png" 2>/dev/null
  xdotool windowactivate --sync "$box" >/dev/null 2>&1
  answered=$(now)
  xdotool key "$key"
  wait_for '[ -z "$(question_box)" ]' 10
}
trace_lines() { [ -e "$VANTREL_STATUS_TRACE" ] && wc -l <"$VANTREL_STATUS_TRACE" || echo 0; }
# The status shown last, once the program has stopped adding lines for 2 s (at most 20 s).
settled_status() {
  local last=-1 same_since=$SECONDS deadline=$((SECONDS + 20)) n
  while [ $SECONDS -lt $deadline ]; do
    n=$(trace_lines)
    if [ "$n" != "$last" ]; then
      last=$n same_since=$SECONDS
    elif [ $((SECONDS - same_since)) -ge 2 ]; then
      break
    fi
    sleep 0.2
  done
  status_text="" notes_text="" status_seen=no
  if [ "$last" -gt 0 ]; then
    IFS=$'\t' read -r tag1 status_text tag2 notes_text < <(tail -n1 "$VANTREL_STATUS_TRACE")
    [ "$tag1" = status ] && [ "$tag2" = notes ] && status_seen=yes
  fi
}
# The colour of the status line's text in a screenshot: green, red, both or none.
status_colour() {
  xdotool windowactivate --sync "$main" >/dev/null 2>&1
  sleep 0.3
  import -window "$main" "$out/main-$1.png" 2>/dev/null || { echo none; return; }
  local crop green red
  crop="$((win_w * 281 / 355))x$((win_h * 9 / 252))+$((win_w * 48 / 355))+$((win_h * 179 / 252))"
  convert "$out/main-$1.png" -crop "$crop" +repage txt:- >"$work/crop.txt" 2>/dev/null
  green=$(grep -ci '#007D00' "$work/crop.txt")
  red=$(grep -ci '#FF0000' "$work/crop.txt")
  if [ "$green" -gt 0 ] && [ "$red" -eq 0 ]; then
    echo green
  elif [ "$red" -gt 0 ] && [ "$green" -eq 0 ]; then
    echo red
  elif [ "$red" -gt 0 ]; then
    echo both
  else
    echo none
  fi
}
readonly HIDDEN="Google Adsense advertisements are hidden on this PC."
readonly SHOWN="Google Adsense advertisements are not hidden on this PC."
# Checks the status line against the state: $1 label, $2 hidden|shown, $3 the browsers the
# notes must name (space-separated; "-" for notes that must be empty, "" for no demand).
check_status() {
  local label=$1 state=$2 must=$3 want_text want_colour colour b
  settled_status
  colour=$(status_colour "$label")
  if [ "$state" = hidden ]; then want_text=$HIDDEN want_colour=green; else want_text=$SHOWN want_colour=red; fi
  log "status after $label: \"$status_text\" ($colour), notes: \"$notes_text\""
  if [ $status_seen = no ]; then
    fail "$label: no status line in the trace (VANTREL_STATUS_TRACE)"
  elif [ "$status_text" != "$want_text" ]; then
    fail "$label: the status line reads \"$status_text\", not \"$want_text\""
  else
    pass "$label: the status line reads \"$want_text\""
  fi
  if [ "$colour" = "$want_colour" ]; then
    pass "$label: the status line is $want_colour"
  else
    fail "$label: the status line's colour is $colour, not $want_colour"
  fi
  [ $status_seen = yes ] || return 0
  if [ "$must" = - ]; then
    if [ -z "$notes_text" ]; then pass "$label: no notes"; else fail "$label: unexpected notes \"$notes_text\""; fi
  elif [ -n "$must" ]; then
    for b in $must; do
      if [[ $notes_text == *"${display_name[$b]}"* ]]; then
        pass "$label: the notes name ${display_name[$b]}"
      else
        fail "$label: the notes do not name ${display_name[$b]} (notes: \"$notes_text\")"
      fi
    done
  fi
}

# Starts the browsers and waits until each page runs: cycles, and, when $2 is "ads", ads loaded.
start_all() {
  local label=$1 b from
  from=$(now)
  for b in "${browsers[@]}"; do start_browser "$b"; done
  wait_cycles "$from" 5 90 || return 1
  started=$from
}

# ==============================================================================================
log "namespace ready: display $DISPLAY, names ${#names[@]}, Vantrel window $main"
check_status "start" shown ""

# --- before: ads load in both browsers --------------------------------------------------------
start_all "start" || abort "the publisher page did not run in both browsers (see firefox.log, chromium.log)"
for b in "${browsers[@]}"; do
  wait_for "all_ads_since $b $started" 20 ||
    abort "$b did not load the three ads before Hide: the fake internet does not work"
done
t=$(now)
for b in "${browsers[@]}"; do add_row "Show (before Hide)" "$b" "$started" "$t"; done

# The seconds from $1 until the hosts file holds the block ($2 = yes) or not ($2 = no).
hosts_changed_after() {
  local want=$2
  wait_for "[ \$(grep -c '^# Begin Vantrel' /etc/hosts) -$([ "$want" = yes ] && echo gt || echo eq) 0 ]" 30
  plus "$(now)" "-$1"
}

# --- Hide, browsers left running: no question, no ad from 5 s on, the pages keep running -------
ensure_running
t_click=$(now)
click_toggle
log "Hide, left running: the hosts file changed $(hosts_changed_after "$t_click" yes) s after the click"
if wait_for '[ -n "$(question_box)" ]' 6; then
  fail "Hide, left running: the program asked to close the browsers"
  answer_question n hide-left
fi
check_status "Hide, left running" hidden -
from=$(plus "$t_click" 5) to=$(plus "$t_click" 35)
wait_for "passed $to" 60
for b in "${browsers[@]}"; do
  add_row "Hide, left running (0-5 s)" "$b" "$t_click" "$from"
  add_row "Hide, left running (5-35 s)" "$b" "$from" "$to"
  n=$(ads "$b" "$from" "$to")
  if [ "$n" -eq 0 ]; then
    pass "Hide, left running: $b made no ad request from 5 s to 35 s after the click"
  else
    fail "Hide, left running: $b made $n ad requests from 5 s to 35 s after the click"
  fi
  # 30 s of a 2 s cycle are 15 cycles; the cycle cut by an ended connection may be lost.
  cycles=$(ticks "$b" "$from" "$to")
  if alive "${bpid[$b]}" && [ "$cycles" -ge 14 ]; then
    pass "Hide, left running: $b still runs and ran its page $cycles times"
  else
    fail "Hide, left running: $b $(alive "${bpid[$b]}" && echo runs || echo ended), page cycles: $cycles of 15"
  fi
done

# --- Show, browsers left running: the ads come back within 5 s ---------------------------------
ensure_running
t_click=$(now)
click_toggle
log "Show, left running: the hosts file changed $(hosts_changed_after "$t_click" no) s after the click"
for b in "${browsers[@]}"; do wait_for "all_ads_since $b $t_click" 15; done
if [ -n "$(question_box)" ]; then
  fail "Show, left running: the program asked to close the browsers"
  answer_question n show-left
fi
for b in "${browsers[@]}"; do
  add_row "Show, left running (0-5 s)" "$b" "$t_click" "$(plus "$t_click" 5)"
  firsts="$(first_ad_after "$b" "$t_click" $JS) $(first_ad_after "$b" "$t_click" $H2) $(first_ad_after "$b" "$t_click" $GIF)"
  if awk -v f="$firsts" 'BEGIN { n = split(f, a, " "); for (i = 1; i <= n; i++) if (a[i] == "-" || a[i] > 5.0) exit 1 }'; then
    pass "Show, left running: the ads came back in $b within 5 s (script, h2, image after: $firsts s)"
  else
    fail "Show, left running: the ads did not all come back in $b within 5 s (script, h2, image after: $firsts s)"
  fi
  alive "${bpid[$b]}" || fail "Show, left running: $b ended"
done
check_status "Show, left running" shown ""

# --- from here on the browsers are offered to be closed, as when the preference turns it off ----
mkdir -p "$XDG_CONFIG_HOME/Vantrel"
printf '[Software]\nVantrel\\UpdateOpenBrowsers=0\n' >"$XDG_CONFIG_HOME/Vantrel/Vantrel.ini"

# --- (a) Hide, Yes: no running browser asks for an ad ------------------------------------------
ensure_running
click_toggle
if answer_question y hide-yes; then
  t_answer=$answered
  for b in "${browsers[@]}"; do wait_for "! alive ${bpid[$b]}" 15; done
  running=()
  for b in "${browsers[@]}"; do
    if alive "${bpid[$b]}"; then
      running+=("$b")
    else
      log "$b ended after Yes, exit status $(exit_status "$b")"
    fi
  done
  # A browser asked to close may finish the cycle it is in: 2 s of grace after the answer.
  grace_end=$(plus "$t_answer" 2)
  if [ ${#running[@]} -gt 0 ]; then
    log "still running after Yes: ${running[*]}; counting their requests for 20 s"
    window_end=$(plus "$grace_end" 20)
    wait_for "passed $window_end" 30
  else
    # None runs: still watch 10 s, for any part of a browser that outlived its main process.
    window_end=$(later "$(now)" "$(plus "$grace_end" 10)")
    wait_for "passed $window_end" 20
  fi
  check_status "Hide + Yes" hidden "${running[*]:--}"
  for b in "${browsers[@]}"; do
    add_row "Hide + Yes, closing (2 s)" "$b" "$t_answer" "$grace_end"
    add_row "Hide + Yes, after the answer" "$b" "$grace_end" "$window_end"
    n=$(ads "$b" "$grace_end" "$window_end")
    if [ "$n" -eq 0 ]; then
      pass "Hide + Yes: $b made no ad request after the answer"
    else
      fail "Hide + Yes: $b made $n ad requests after the answer"
    fi
    alive "${bpid[$b]}" && fail "Hide + Yes: $b was not closed"
  done
else
  fail "Hide: no question after the toggle, with Firefox and Chromium running"
  check_status "Hide" hidden ""
fi
end_browsers

# --- (c) after Hide, IPv4 and IPv6-only lookups answer locally ---------------------------------
dns_mark=$(wc -l <"$work/dns.log")
lookups=$(/usr/bin/python3 - "${names[@]}" <<'EOF'
import socket, sys
for name in sys.argv[1:]:
    for fam, tag in ((socket.AF_INET, "4"), (socket.AF_INET6, "6")):
        try:
            addrs = sorted({a[4][0] for a in socket.getaddrinfo(name, 80, fam, socket.SOCK_STREAM)})
        except socket.gaierror as e:
            addrs = ["error:" + str(e.errno)]
        print(name, tag, ",".join(addrs))
EOF
)
sleep 0.5  # dnsmasq writes its log after it answers
bad4=() bad6=()
for name in "${names[@]}"; do
  a4=$(awk -v n="$name" '$1 == n && $2 == "4" { print $3 }' <<<"$lookups")
  a6=$(awk -v n="$name" '$1 == n && $2 == "6" { print $3 }' <<<"$lookups")
  q4=$(tail -n +$((dns_mark + 1)) "$work/dns.log" | grep -c "query\[A\] $name from")
  q6=$(tail -n +$((dns_mark + 1)) "$work/dns.log" | grep -c "query\[AAAA\] $name from")
  [[ $a4 == 0.0.0.0 || $a4 == 127.* ]] && [ "$q4" -eq 0 ] || bad4+=("$name=$a4(dns:$q4)")
  [[ $a6 == :: || $a6 == ::1 ]] && [ "$q6" -eq 0 ] || bad6+=("$name=$a6(dns:$q6)")
done
if [ ${#bad4[@]} -eq 0 ]; then
  pass "after Hide: IPv4 lookups of all ${#names[@]} names answer from the hosts file"
else
  fail "after Hide: ${#bad4[@]} of ${#names[@]} IPv4 lookups do not answer locally: ${bad4[*]}"
fi
if [ ${#bad6[@]} -eq 0 ]; then
  pass "after Hide: IPv6-only lookups of all ${#names[@]} names answer locally, no AAAA query reached DNS"
else
  fail "after Hide: ${#bad6[@]} of ${#names[@]} IPv6-only lookups do not answer locally: ${bad6[*]}"
fi

# --- (a) after a restart, no browser asks for an ad --------------------------------------------
if start_all "hidden"; then
  t=$(now)
  for b in "${browsers[@]}"; do
    add_row "Hide, browsers restarted" "$b" "$started" "$t"
    n=$(ads "$b" "$started" "$t")
    if [ "$n" -eq 0 ]; then pass "Hide, restarted: $b made no ad request"; else fail "Hide, restarted: $b made $n ad requests"; fi
  done
else
  fail "Hide, restarted: the publisher page did not run in both browsers"
fi

# --- (d) Show, Yes, restart: the ads come back --------------------------------------------------
ensure_running
# By the keyboard: after the wait for the closing browsers the focus is back on the toggle, so
# Enter presses it (and not the button the focus moved to while the toggle was disabled).
xdotool windowactivate --sync "$main" >/dev/null 2>&1
sleep 0.3
xdotool key Return
if answer_question y show-yes; then
  for b in "${browsers[@]}"; do wait_for "! alive ${bpid[$b]}" 15; done
  for b in "${browsers[@]}"; do
    if alive "${bpid[$b]}"; then
      log "Show + Yes: $b still runs; ended by the test"
    else
      log "$b ended after Yes, exit status $(exit_status "$b")"
    fi
  done
else
  fail "Show: no question after Enter on the main window (is the focus on the toggle?), with Firefox and Chromium running"
  import -window root "$out/show-enter.png" 2>/dev/null
fi
check_status "Show + Yes" shown ""
end_browsers
if start_all "shown"; then
  for b in "${browsers[@]}"; do
    wait_for "all_ads_since $b $started" 20
  done
  t=$(now)
  for b in "${browsers[@]}"; do
    add_row "Show, browsers restarted" "$b" "$started" "$t"
    if all_ads_since "$b" "$started"; then
      pass "Show, restarted: the ads came back in $b"
    else
      fail "Show, restarted: no ads in $b"
    fi
  done
else
  fail "Show, restarted: the publisher page did not run in both browsers"
fi

# --- (b) Hide, No: the notes name the browsers to restart --------------------------------------
# Moving the browsers is on again, but a Firefox profile of the user resolves over HTTPS while a
# Firefox runs: the program falls back to the question and says why.
rm -f "$XDG_CONFIG_HOME/Vantrel/Vantrel.ini"
mkdir -p "$HOME/.mozilla/firefox/doh.default"
echo 'user_pref("network.trr.mode", 2);' >"$HOME/.mozilla/firefox/doh.default/prefs.js"
ensure_running
click_toggle
if answer_question n hide-no; then
  t_answer=$answered
  check_status "Hide + No" hidden "${browsers[*]}"
  why="Open browsers were not updated: Firefox uses DNS over HTTPS."
  if [[ $notes_text == *"$why"* ]]; then
    pass "Hide + No: the notes say why the browsers were not updated"
  else
    fail "Hide + No: the notes do not say \"$why\" (notes: \"$notes_text\")"
  fi
  wait_for "passed $(plus "$t_answer" 10)" 20
  t=$(now)
  for b in "${browsers[@]}"; do
    add_row "Hide + No (not restarted)" "$b" "$t_answer" "$t"
    alive "${bpid[$b]}" || log "note: $b ended meanwhile (exit status $(exit_status "$b"))"
  done
else
  fail "Hide: no question after the toggle, with Firefox and Chromium running"
  check_status "Hide + No" hidden ""
fi

# --- the end: Exit ends the program -------------------------------------------------------------
xdotool windowactivate --sync "$main" >/dev/null 2>&1
xdotool key Escape
wait_for "! alive $vantrel_pid" 10 || fail "Vantrel did not end on Escape"

echo
echo "Ad requests per browser and case (script: HTTP keep-alive; h2: HTTPS over HTTP/2;"
echo "image: HTTP with Connection: close):"
printf '  %-34s %-9s %8s %7s %7s %7s %7s\n' case browser window script h2 image cycles
for row in "${table[@]}"; do echo "  $row"; done
echo
if [ $failures -eq 0 ]; then
  echo "PASS: real browsers (all checks)"
  exit 0
fi
echo "FAIL: real browsers ($failures checks failed)"
exit 1
