#!/usr/bin/env bash
# The typical event, end to end, with nothing to set up by hand: a home folder with its
# QorEgais.ini, an embedded Firebird database created from db/ with a little back office
# (scripts/demo/backoffice.sql), the UTM emulator answering every sent waybill with
# EGAIS's ticket and holding a supplier's waybill, and the service on a short cycle. The
# back office's waybill ТН-1 and its request of type 6 go out, the ticket comes back,
# the supplier's waybill is stored, its registration information follows, and the back
# office answers it with a reception act accepting it (request of type 8); every
# incoming document leaves the UTM; then everything started here is stopped and the
# outcome is read from the database.
# Usage: scripts/demo.sh [HOME_FOLDER]   (default: .demo/ in the repository)
# The home folder is emptied at start when an earlier demonstration made it; any other
# non-empty folder is refused. QOREGAIS_BUILD_DIR=<folder> takes the programs built
# there instead of installing and building.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
home="${1:-$root/.demo}"
fsrar_id=030000123456
cycle_ms=500
step_timeout=60
jobs_on=(RefreshJobEnabled OutGoingWayBillJobEnabled IncomingWayBillJobEnabled
         TicketJobEnabled GarbageRemoverJobEnabled IncomingRegInfoJobEnabled
         OutGoingActsJobEnabled)

fail() {
  echo "Demo failed: $*" >&2
  exit 1
}

# The home folder: ours from an earlier run (its marker) is emptied, a foreign one kept.
marker=".qoregais-demo"
mkdir -p "$home"
home="$(cd "$home" && pwd)"
# The folder's path is written into SQL text and the .ini as it stands.
case "$home" in
  *"'"* | *$'\n'*) fail "the home folder's path may not hold a quote or a line break" ;;
esac
if [ -n "$(ls -A "$home")" ]; then
  [ -f "$home/$marker" ] || fail "$home is not empty and was not made by the demonstration"
  find "$home" -mindepth 1 -delete
fi
touch "$home/$marker"

if [ -n "${QOREGAIS_BUILD_DIR:-}" ]; then
  dir="$QOREGAIS_BUILD_DIR"
else
  "$root/scripts/deps.sh"
  if ! "$root/scripts/build.sh" > "$home/build.log" 2>&1; then
    tail -n 40 "$home/build.log" >&2
    fail "the build failed (see $home/build.log)"
  fi
  dir="$(tail -n 1 "$home/build.log")"
fi
for program in qoregais utm-emulator; do
  [ -x "$dir/$program" ] || fail "$dir/$program is not built"
done

db="$home/DATABASE.FDB"
log="$home/LOG/QorEgais.log"
{
  echo "SET BAIL ON;"
  echo "CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD 'masterkey' DEFAULT CHARACTER SET WIN1251;"
  for f in "$root"/db/*.sql; do echo "INPUT '$f';"; done
  echo "INPUT '$root/scripts/demo/backoffice.sql';"
} > "$home/create.sql"
isql-fb -q -ch UTF8 -i "$home/create.sql" > "$home/create.log" 2>&1 ||
  { cat "$home/create.log" >&2; fail "the database could not be created"; }

# Everything started below is stopped on every way out, by its own process id.
utm_pid=""
svc_pid=""
stop_process() {  # pid, seconds to wait after SIGTERM
  local pid="$1"
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 $(($2 * 10))); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  echo "Process $pid did not stop within $2 s; killed." >&2
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  stop_process "$svc_pid" 30
  stop_process "$utm_pid" 10
}
trap cleanup EXIT

# Bounded wait for a condition given as a command; a program of ours that ended ends it.
await() {  # seconds, description, command...
  local seconds="$1" what="$2" gone=""
  shift 2
  for _ in $(seq 1 $((seconds * 10))); do
    "$@" && return 0
    [ -z "$utm_pid" ] || kill -0 "$utm_pid" 2>/dev/null || gone="the UTM emulator ($home/utm-emulator.err)"
    [ -z "$svc_pid" ] || kill -0 "$svc_pid" 2>/dev/null || gone="qoregais ($home/qoregais.out)"
    [ -z "$gone" ] || break
    sleep 0.1
  done
  if [ -n "$gone" ]; then
    echo "Demo failed: $gone ended before $what." >&2
  else
    echo "Demo failed: $what did not happen within $seconds s." >&2
  fi
  if [ -f "$log" ]; then
    echo "Last lines of $log:" >&2
    tail -n 30 "$log" >&2
  fi
  exit 1
}

"$dir/utm-emulator" --auto-ticket > "$home/utm-emulator.out" 2> "$home/utm-emulator.err" &
utm_pid=$!
port_known() { grep -q '^PORT [0-9][0-9]*$' "$home/utm-emulator.out"; }
await 10 "the start of the UTM emulator" port_known
port="$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$home/utm-emulator.out" | head -n 1)"

# POST of a file to the emulator's control interface through bash's own TCP client, so
# that no HTTP tool is needed; prints the answer's body, fails on any status but 200.
control_post() {  # target, file
  local answer status
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'POST %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Type: application/xml\r\nContent-Length: %s\r\nConnection: close\r\n\r\n' \
    "$1" "$port" "$(wc -c < "$2")" >&3
  cat "$2" >&3
  answer="$(cat <&3)"
  exec 3<&-
  status="$(printf '%s\n' "$answer" | head -n 1 | cut -d' ' -f2)"
  [ "$status" = "200" ] || fail "the emulator answered $1 with: $(printf '%s\n' "$answer" | head -n 1)"
  printf '%s' "${answer#*$'\r\n\r\n'}"
}

# The supplier's waybill, addressed to us.
sed "s/010000000001/$fsrar_id/g" "$root/tests/incoming/fixtures/WayBill_v4.xml" > "$home/supplier-waybill.xml"
incoming_url="$(control_post "/control/incoming?kind=WayBill_v4" "$home/supplier-waybill.xml")"
[[ "$incoming_url" =~ ^http://127\.0\.0\.1:[0-9]+/opt/out/WayBill_v4/[0-9]+$ ]] ||
  fail "the emulator gave the address '$incoming_url'"

{
  printf '[DATABASE]\nDbName=%s\nUser=SYSDBA\nPassword=masterkey\nCharset=UTF8\n\n' "$db"
  printf '[QOR_SETTINGS]\nFSRAR_ID=%s\nUTM_ADDRESS=127.0.0.1\nUTM_PORT=%s\n' "$fsrar_id" "$port"
  printf 'CYCLE_TIME=%s\nLOG_LEVEL=DEBUG\n\n[TASK_FLAGS]\n' "$cycle_ms"
  # Every job kind the service knows is named, so that only ours start.
  sed -n 's/^ *{"\([A-Za-z0-9]*Enabled\)", "[01]"},*$/\1/p' "$root/common/uCommon.h" |
    while read -r key; do
      value=0
      for on in "${jobs_on[@]}"; do [ "$key" = "$on" ] && value=1; done
      echo "$key=$value"
    done
} > "$home/QorEgais.ini"
for on in "${jobs_on[@]}"; do
  grep -q "^$on=1$" "$home/QorEgais.ini" || fail "the service knows no job flag $on"
done

QOREGAIS_HOME="$home" QOREGAIS_RUNTIME_DIR="$home" "$dir/qoregais" \
  < /dev/null > "$home/qoregais.out" 2>&1 &
svc_pid=$!

ticket_known() { grep -q '^TICKET ' "$home/utm-emulator.out"; }
await "$step_timeout" "the sending of waybill ТН-1" ticket_known
read -r _ ticket_url transport_id < <(grep '^TICKET ' "$home/utm-emulator.out" | head -n 1)
log_has() { [ -f "$log" ] && grep -F -- "$1" "$log" | grep -qF -- "$2"; }
await "$step_timeout" "the processing of the ticket" log_has "MarkForDelete($ticket_url)" ""
await "$step_timeout" "the deletion of the ticket from the UTM" \
  log_has "Удалим ссылку ${ticket_url,,} " ""
await "$step_timeout" "the storing of the supplier's waybill" \
  log_has "Удалим ссылку ${incoming_url,,} " ""
# EGAIS registers the supplier's waybill: its registration information follows.
sed "s/010000000001/$fsrar_id/g" "$root/tests/incoming/fixtures/Form2RegInfo_v4.xml" > "$home/supplier-reginfo.xml"
reginfo_url="$(control_post "/control/incoming?kind=FORM2REGINFO" "$home/supplier-reginfo.xml")"
[[ "$reginfo_url" =~ ^http://127\.0\.0\.1:[0-9]+/opt/out/FORM2REGINFO/[0-9]+$ ]] ||
  fail "the emulator gave the address '$reginfo_url'"
await "$step_timeout" "the deletion of the registration information from the UTM" \
  log_has "Удалим ссылку ${reginfo_url,,} " ""
await "$step_timeout" "the sending of the reception act" \
  log_has "TEgaisOutgoingActJob: Обработка запроса №" "успешно завершена."

cleanup
svc_pid=""
utm_pid=""

# The outcome, read from the database once the service has let it go: one tagged line
# per question, fields separated by "|".
cat > "$home/results.sql" <<SQL
SET BAIL ON;
SET HEADING OFF;
SELECT 'REQ|' || r.ID || '|' || COALESCE(h.DOC_NUMBER, '') || '|' || COALESCE(r.COMPLETE_FLAG, '') || '|'
  || COALESCE(p.RESULT_CODE, '') || '|' || COALESCE(CAST(p.ERROR_DESCRIPTION AS VARCHAR(2000)), '')
  FROM S_EGAIS_REQUEST r LEFT JOIN RG_EGAIS_DOC_HEAD h ON h.ID = r.EGAIS_DOC_ID
  LEFT JOIN S_EGAIS_REPLY p ON p.REQUEST_ID = r.ID AND p.REPLY_TYPE = 6 WHERE r.ID = 1;
SELECT 'HEAD|' || COALESCE(h.WB_REG_ID, '') || '|' || COALESCE(h.STATUS, '') || '|'
  || COALESCE(p.RESULT_CODE, '') || '|' || COALESCE(CAST(p.ERROR_DESCRIPTION AS VARCHAR(2000)), '')
  FROM RG_EGAIS_DOC_HEAD h LEFT JOIN S_EGAIS_REPLY p ON p.REQUEST_ID = 1 AND p.REPLY_TYPE = 16
  WHERE h.ID = 1;
SELECT 'INC|' || h.ID || '|' || COALESCE(h.DOC_NUMBER, '') || '|'
  || COALESCE(c.SHORT_NAME, c.FULL_NAME, '') || '|'
  || (SELECT COUNT(*) FROM RG_EGAIS_DOC_TABLE t WHERE t.EGAIS_DOC_HEAD_ID = h.ID)
  FROM RG_EGAIS_DOC_HEAD h LEFT JOIN S_EGAIS_COUNTERPART c ON c.ID = COALESCE(h.SUPPLIER, h.SHIPPER)
  WHERE h.UTM_LINK = '$incoming_url';
SELECT 'ACT|' || r.ID || '|' || COALESCE(h.WB_REG_ID, '') || '|' || COALESCE(r.COMPLETE_FLAG, '') || '|'
  || COALESCE(p.RESULT_CODE, '') || '|' || COALESCE(h.ACT_NUMBER, '')
  FROM S_EGAIS_REQUEST r JOIN RG_EGAIS_DOC_HEAD h ON h.ID = r.EGAIS_DOC_ID
  LEFT JOIN S_EGAIS_REPLY p ON p.REQUEST_ID = r.ID AND p.REPLY_TYPE = 8
  WHERE r.REQUEST_TYPE = 8 AND h.UTM_LINK = '$incoming_url';
SQL
isql-fb -q -ch UTF8 -user SYSDBA -password masterkey "$db" -i "$home/results.sql" \
  > "$home/results.out" 2>&1 || { cat "$home/results.out" >&2; fail "the results could not be read"; }
field_line() { sed -n "s/^$1|\(.*[^ ]\) *\$/\1/p" "$home/results.out" | head -n 1; }
IFS='|' read -r req_id req_doc req_complete req_result req_text <<< "$(field_line REQ)"
IFS='|' read -r head_reg_id head_status ticket_result ticket_text <<< "$(field_line HEAD)"
IFS='|' read -r inc_id inc_number inc_supplier inc_lines <<< "$(field_line INC)"
IFS='|' read -r act_req act_reg_id act_complete act_result act_number <<< "$(field_line ACT)"

day_folder="$(find "$home" -mindepth 3 -maxdepth 3 -type d -path "$home/[0-9][0-9][0-9][0-9]/*/*" | sort | head -n 1)"
archived=0
[ -z "$day_folder" ] || archived="$(find "$day_folder" -type f -name '*.xml' | wc -l)"

req_state="open"
[ "${req_complete:-}" = "1" ] && req_state="closed"
echo "Request ${req_id:-1} (waybill ${req_doc:-?}): $req_state, reply 6 = ${req_result:-none} \"${req_text:-}\""
echo "Transport id: $transport_id; header status after the ticket: ${head_status:-none} (EGAIS id ${head_reg_id:-none}); reply 16 = ${ticket_result:-none} \"${ticket_text:-}\""
if [ -n "${inc_id:-}" ]; then
  echo "Incoming waybill $inc_number from $inc_supplier stored as header $inc_id with $inc_lines lines"
else
  echo "Incoming waybill: not stored"
fi
act_state="open"
[ "${act_complete:-}" = "1" ] && act_state="closed"
echo "Reception act ${act_number:-none} for EGAIS id ${act_reg_id:-none}: request ${act_req:-none} $act_state, reply 8 = ${act_result:-none}"
echo "Archived: $archived documents under ${day_folder:-$home (no day folder)}"
echo "Log: $log"

[ "${req_state}" = "closed" ] && [ "${req_result:-}" = "1" ] || fail "the request was not closed as sent"
[[ "${req_text:-}" == *"UID=$transport_id" ]] || fail "the reply does not name the transport id $transport_id"
[ "${ticket_result:-}" = "1" ] || fail "the ticket was not applied"
[ -n "${inc_id:-}" ] || fail "the supplier's waybill was not stored"
[ "$act_state" = "closed" ] && [ "${act_result:-}" = "1" ] || fail "the reception act was not sent"
