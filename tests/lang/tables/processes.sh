#!/usr/bin/env bash
# Several qzsh processes on one table: shared appends lose no record, a counter kept under LOCK()
# ends exact, a process killed while appending leaves every record it reported readable, and
# USE ... AGAIN never shares another process's exclusive hold.
# Usage: processes.sh QZSH
set -eu
qzsh=$1
. "$(dirname "$0")/work_dir.sh"
per_process=${QZ_APPENDS:-2500}

cat > make.prg <<'PRG'
CREATE TABLE shared (who N(2), k N(6))
APPEND BLANK
REPLACE who WITH 0
USE
PRG
"$qzsh" make.prg || fail "the table could not be made"

# Four processes append to one SHARED table.
cat > append.prg <<'PRG'
LPARAMETERS argc, argv
LOCAL nStep, n
n = VAL(argv[3])
USE shared SHARED
FOR nStep = 1 TO n
  APPEND BLANK
  REPLACE who WITH VAL(argv[2])
  REPLACE k WITH nStep
ENDFOR
USE
PRG
pids=()
for who in 1 2 3 4; do
  "$qzsh" append.prg "$who" "$per_process" > "append$who.out" 2>&1 &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p" || fail "an appending process failed: $(cat append*.out)"; done

cat > count.prg <<'PRG'
USE shared SHARED
LOCAL n1, n2, n3, n4, nBad
STORE 0 TO n1, n2, n3, n4, nBad
SCAN FOR who > 0
  DO CASE
    CASE who = 1
      n1 = n1 + 1
    CASE who = 2
      n2 = n2 + 1
    CASE who = 3
      n3 = n3 + 1
    CASE who = 4
      n4 = n4 + 1
    OTHERWISE
      nBad = nBad + 1
  ENDCASE
ENDSCAN
? RECCOUNT(), n1, n2, n3, n4, nBad
USE
PRG
expected="$((4 * per_process + 1)) $per_process $per_process $per_process $per_process 0"
got=$("$qzsh" count.prg)
[ "$got" = "$expected" ] || fail "appends: expected '$expected', got '$got'"

# Four processes add to one counter under LOCK() and UNLOCK.
cat > counter.prg <<'PRG'
LPARAMETERS argc, argv
LOCAL nStep, n
n = VAL(argv[2])
USE shared SHARED
GO 1
FOR nStep = 1 TO n
  DO WHILE !LOCK()
  ENDDO
  REPLACE k WITH k + 1
  UNLOCK
ENDFOR
USE
PRG
cat > show_counter.prg <<'PRG'
USE shared SHARED
GO 1
? k
PRG
adds=$((per_process / 5))
pids=()
for who in 1 2 3 4; do
  "$qzsh" counter.prg "$adds" > "counter$who.out" 2>&1 &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p" || fail "a counting process failed: $(cat counter*.out)"; done
got=$("$qzsh" show_counter.prg)
[ "$got" = "$((4 * adds))" ] || fail "counter: expected $((4 * adds)), got '$got'"

# A process killed with SIGKILL while appending: every record it printed as written is there.
cat > endless.prg <<'PRG'
LOCAL nCount
USE shared SHARED
nCount = 0
DO WHILE .T.
  nCount = nCount + 1
  APPEND BLANK
  REPLACE who WITH 9
  REPLACE k WITH nCount
  ? nCount
ENDDO
PRG
# Runs the program until it has printed 50 lines (or 10 s), kills it with SIGKILL and prints the
# number of records it reported as written.
kill_while_appending() {
  "$qzsh" "$1.prg" > "$1.out" 2>&1 &
  local victim=$!
  for _ in $(seq 100); do
    [ "$(wc -l < "$1.out")" -ge 50 ] && break
    sleep 0.1
  done
  kill -KILL "$victim"
  wait "$victim" 2>/dev/null || true
  grep -c '^[0-9]' "$1.out" || true
}
printed=$(kill_while_appending endless)
[ "$printed" -ge 1 ] || fail "the killed process printed nothing"
cat > after_kill.prg <<'PRG'
LPARAMETERS argc, argv
LOCAL n
USE shared SHARED
n = 0
SCAN FOR who = 9
  IF k >= 1 .AND. k <= VAL(argv[2])
    n = n + 1
  ENDIF
ENDSCAN
? n
PRG
got=$("$qzsh" after_kill.prg "$printed")
[ "$got" = "$printed" ] || fail "after SIGKILL: $printed records printed, $got readable"

# The same for a table held EXCLUSIVE, which this process writes through a mapping of the file.
sed 's/USE shared SHARED/CREATE TABLE alone (who N(2), k N(6))/' endless.prg > endless_alone.prg
printed=$(kill_while_appending endless_alone)
[ "$printed" -ge 1 ] || fail "the killed exclusive writer printed nothing"
sed -i 's/USE shared SHARED/USE alone EXCLUSIVE/' after_kill.prg
got=$("$qzsh" after_kill.prg "$printed")
[ "$got" = "$printed" ] || fail "after SIGKILL of an exclusive writer: $printed records printed, $got readable"
# USE ... AGAIN shares what this process holds, never what another process holds: while one
# process keeps the table EXCLUSIVE, another's AGAIN is refused in either mode.
cat > hold.prg <<'PRG'
USE shared EXCLUSIVE
USE shared IN 0 AGAIN EXCLUSIVE ALIAS twice
? "holding", RECCOUNT("twice")
DO WHILE !FILE("release")
ENDDO
USE
PRG
"$qzsh" hold.prg > hold.out 2>&1 &
holder=$!
for _ in $(seq 100); do
  grep -q holding hold.out && break
  sleep 0.1
done
grep -q holding hold.out || { kill "$holder"; fail "the holding process did not open the table: $(cat hold.out)"; }
cat > again_elsewhere.prg <<'PRG'
TRY
  USE shared AGAIN EXCLUSIVE
CATCH TO e
  ? "exclusive", e.ErrorNo
ENDTRY
TRY
  USE shared AGAIN SHARED
CATCH TO e
  ? "shared", e.ErrorNo
ENDTRY
PRG
got=$("$qzsh" again_elsewhere.prg | tr '\n' ' ')
touch release
wait "$holder" || fail "the holding process failed: $(cat hold.out)"
[ "$got" = "exclusive 1705 shared 1705 " ] || fail "AGAIN beside another process: got '$got'"

echo "processes ok"
