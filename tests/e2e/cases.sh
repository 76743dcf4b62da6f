#!/usr/bin/env bash
# One end-to-end case: the real telvio.exe under Wine against the simulated drive, worked
# by the scripted user through its windows.   cases.sh CASE
source "$(dirname "$0")/lib.sh"

case_name=$1
e2e_begin "$case_name"

VENDOR=$E2E_VENDOR
PRODUCT=$E2E_PRODUCT
NAME0="TELVIOSMSIM DVD-RW      (0)"

NOW="Firmware revision now: 2.00"
UNCHANGED="Firmware revision unchanged: 1.00"
DRIVE_EXTRA=""  # more keys for the drive's line
REVISION=1.00   # the drive's, as the scenario gives it; LABEL: as the window shows it
LABEL=1.00
# The revision the flashed image carries (e2e_image's), which the drive takes; empty: the
# image carries none, and the drive takes its new-revision, 2.00.
FILE_REVISION=2.00

one_drive() {  # $1: extra scenario lines
    e2e_scenario <<EOF
adapter 0 targets=2
drive main adapter=0 target=1 vendor=$VENDOR product="$PRODUCT" revision=$REVISION new-revision=2.00 $DRIVE_EXTRA
letter d drive=main path=0 target=1
$1
EOF
}

GUARD="Do not close Telvio or restart for 5 minutes: the drive may still be programming."
# After a verdict that left the drive perhaps still programming, the window stays as during
# the run and counts down; the program is ended at the end of the case, not waited out.
GUARDED=""  # the verdict of such a run
guarded_steps=("wait-text 1014 \"Wait 4:5\" 5000" "expect-enabled 2 0" "force-click 2" "key esc"
    "syscommand close" "close-message" "query-end-session 0" "query-suspend 0" "sleep 500"
    "expect-enabled 2 0" "wait-text 1014 \"Wait 4:5\" 1000")
# What the steps could not end (a step failed): every program the drive saw.
end_recorded_programs() { kill -9 $(sed -n 's/^[a-z]* door=[a-z]* drive=[a-z0-9]* pid=\([0-9]*\) .*/\1/p' "$E2E_WORK/record.txt" | sort -u) 2>/dev/null; }

# A whole upgrade: $1 Windows version, $2 image name, $3 image size (- for an image the
# case wrote itself), $4 extra scenario. Leaves the window closed (or, with GUARDED, the
# program ended) and the user's output in user.out.
upgrade() {
    local version=$1 image=$E2E_WORK/$2
    one_drive "${4:-}"
    [ "$3" = - ] || e2e_image "$image" "$3"
    e2e_start "$version"
    local finish=("wait-run 120000" read-log dump "click 2" "wait-exit 20000")
    if [ -n "$GUARDED" ]; then
        finish=("wait-text 1012 \"$GUARDED\" 120000" "${guarded_steps[@]}" read-log dump end-program)
    fi
    e2e_user "attach 60000" "pick 1000 \"$NAME0\"" "expect-text 1016 \"$LABEL\"" \
        "type 1028 \"$(winpath "$image")\"" "click 1015" "${finish[@]}" ||
        fail "the scripted user stopped"
    [ -z "$GUARDED" ] || end_recorded_programs
    e2e_wait_telvio
}

# The door locks the SG_IO library noted (Wine's form of the ejection control).
door_locks() { grep -c '^lock ' "$E2E_WORK/record.txt" 2>/dev/null || true; }
# The descriptor the hold locked the door on, and the record's lines from $1 on that
# close it (the library notes each close of a drive letter's descriptor).
hold_fd() { sed -n 's/^lock door=sgio drive=main pid=[0-9]* prevent=1 fd=\([0-9]*\)$/\1/p' "$E2E_WORK/record.txt" | head -1; }
hold_closes() { sed -n "$1,\$p" "$E2E_WORK/record.txt" | grep -c "^close door=sgio drive=main pid=[0-9]* fd=$(hold_fd)\$" || true; }
main_closes() { grep -c '^close door=sgio drive=main ' "$E2E_WORK/record.txt" || true; }
last_readback_at() { grep -n 'cdb=120000002400 ' "$E2E_WORK/record.txt" | tail -1 | cut -d: -f1; }

log_has() { grep -qF -- "log| $1" "$E2E_WORK/user.out"; }

# The log's lines as the user saw them.
log_lines() { grep '^log| ' "$E2E_WORK/user.out" | tr -d '\r' | sed 's/^log| //'; }
readback_lines() { log_lines | grep -c '^Firmware revision'; }

# The commands the drive got after the mode 7, as their CDBs.
after_save() { sed -n '/cdb=3b07/,$p' "$E2E_WORK/record.txt" | tail -n +2 | grep -o 'cdb=[0-9a-f]*'; }

# $1: the read-back line just before the verdict (empty: none; default: the new revision).
expect_success() {
    local readback=${1-$NOW}
    check "verdict" log_has "Please Restart Your Computer."
    check "no error line" bash -c "! grep -q 'log| ERR' '$E2E_WORK/user.out'"
    check "one mode 7" test "$(record_count 3b07)" = 1
    if [ -n "$GUARDED" ]; then
        expect_guarded
    else
        check "Close gives back" grep -qF "[2] enabled=1 text=Close" "$E2E_WORK/user.out"
    fi
    check "Upgrade stays off" grep -qF "[1015] enabled=0" "$E2E_WORK/user.out"
    check "revision persisted" grep -qx "${FILE_REVISION:-2.00}" "$E2E_WORK/state/main.revision"
    if [ -n "$FILE_REVISION" ]; then
        check "the file's revision after its checksum" test "$(log_lines | grep -A1 '^Check Sum : ' | sed -n 2p)" = "File revision : $FILE_REVISION"
    else
        check "no file revision line" test "$(log_lines | grep -c '^File revision')" = 0
    fi
    check "only read-backs after mode 7" test -z "$(after_save | grep -v '^cdb=120000002400$')"
    check "one to three read-backs" test "$(after_save | wc -l)" -ge 1 -a "$(after_save | wc -l)" -le 3
    if [ -n "$readback" ]; then
        local before=2
        [ -n "$GUARDED" ] && before=3
        check "read-back line before the verdict" test "$(log_lines | tail -$before | head -1)" = "$readback"
        check "one read-back line" test "$(readback_lines)" = 1
    else
        check "no read-back line" test "$(readback_lines)" = 0
    fi
    check_download
}

# The window after a verdict that left the drive perhaps still programming (the scripted
# user has checked the refusals): the line just before the verdict, Close grey through
# the count-down, and the hold's descriptor never closed, so the drive stays held until
# the program's end.
expect_guarded() {
    check "the line just before the verdict" test "$(log_lines | tail -2 | head -1)" = "$GUARD"
    check "the line once" test "$(log_lines | grep -cxF "$GUARD")" = 1
    check "Close stays grey" grep -qE '^\[2\] enabled=0 ' "$E2E_WORK/user.out"
    check "the count-down" grep -qE '^\[1014\] enabled=. text=Wait 4:5[0-9]' "$E2E_WORK/user.out"
    check "held" test -n "$(hold_fd)"
    check "the hold never let go" test "$(hold_closes 1)" = 0
}

expect_failure_without_mode7() {
    check "verdict" log_has "Flashing is incorrect!!"
    check "no mode 7" test "$(record_count 3b07)" = 0
    check "Close gives back" grep -qF "[2] enabled=1 text=Close" "$E2E_WORK/user.out"
    check "no read-back line" test "$(readback_lines)" = 0
}

case "$case_name" in
upgrade-aspi-hex | upgrade-nt4-hex)
    # A drive that shows its new firmware only after the next power-on.
    version=win98
    [ "$case_name" = upgrade-nt4-hex ] && version=nt40
    DRIVE_EXTRA="new-revision-at=restart"
    upgrade $version fw.hex 32768
    expect_success "$UNCHANGED"
    check "one read-back" test "$(after_save | wc -l)" = 1
    check "door left alone" test "$(door_locks)" = 0
    ;;
upgrade-aspi-bin)
    # The drive reset itself after the flash: its first answer is a unit attention.
    upgrade win98 fw.bin 65536 "fault main opcode=0x12 after-save count=1 sense=06/29/00"
    expect_success "$NOW"
    check "asked again after the unit attention" test "$(after_save | wc -l)" = 2
    ;;
upgrade-xp-bin)
    upgrade winxp fw.bin 65536
    expect_success "$NOW"
    check "the read-back waits past a busy drive" grep -q "timeout=35 cdb=120000002400 " "$E2E_WORK/record.txt"
    # Wine's answer to the ejection control: the door lock, before the first WRITE BUFFER.
    check "door locked before the first WRITE BUFFER" bash -c "grep -E '^lock |cdb=3b' '$E2E_WORK/record.txt' | head -1 | grep -qx 'lock door=sgio drive=main pid=[0-9]* prevent=1 fd=[0-9]*'"
    check "locked once" test "$(door_locks)" = 1
    check "the hold let go after the read-back" test "$(hold_closes "$(last_readback_at)")" = 1
    ;;
upgrade-xp-hex)
    # No answer after the flash: the drive may still be programming, so it is not asked
    # again, and the log says so in place of the revision. The hold lasts as long as the
    # program: its handle is never closed, only the program's end lets go of it.
    # The window stays as during the run for five minutes after the verdict.
    GUARDED="Please Restart Your Computer."
    upgrade winxp fw.hex 40000 "fault main opcode=0x12 after-save count=3 transport"
    expect_success "Firmware revision not read: the drive did not answer."
    check "one read-back" test "$(after_save | wc -l)" = 1
    ;;
save-no-answer)
    # Mode 7's call fails with no answer at all: the drive may have taken it and be
    # programming. A second Telvio started meanwhile finds the machine's upgrade held: it
    # says so and ends before its discovery, having sent no drive anything.
    GUARDED="Flashing is incorrect!!"
    one_drive "fault main opcode=0x3B mode=7 count=1 transport"
    e2e_image "$E2E_WORK/fw.bin" 8192
    e2e_start winxp
    second=$E2E_LAUNCH
    busy="Another Telvio window is upgrading a drive, or waiting for one that may still be programming. Let it finish, then start Telvio again."
    e2e_user "attach 60000" "pick 1000 \"$NAME0\"" "type 1028 \"$(winpath "$E2E_WORK/fw.bin")\"" \
        "click 1015" "wait-text 1012 \"$GUARDED\" 120000" "${guarded_steps[@]}" read-log dump \
        "$second" "msgbox Error!! \"$busy\" ok 60000" "wait-exit 20000" end-program ||
        fail "the scripted user stopped"
    end_recorded_programs
    check "the drive's silence, then the line, then the verdict" test "$(log_lines | tail -3 | tr '\n' '|')" = "Execute command error!!  0/ 0/ 0|$GUARD|Flashing is incorrect!!|"
    expect_guarded
    check "the second copy's box, owned by its window" grep -qF "msgbox caption=Error!! text=$busy buttons=OK topmost=0 owner-main=1" "$E2E_WORK/user.out"
    first=$(sed -n 's/^cmd door=sgio drive=main pid=\([0-9]*\) .*cdb=3b.*/\1/p' "$E2E_WORK/record.txt" | head -1)
    check "not one command nor hold from the second copy" test "$(grep -E '^(cmd|lock) ' "$E2E_WORK/record.txt" | grep -cv " pid=$first ")" = 0
    ;;

name-beyond-ascii-xp)
    # Bytes beyond ASCII in the drive's names: the window lists and labels them as '?',
    # the image names the drive with its own bytes, and the drive is flashed all the same.
    VENDOR='ABCD\xC9FGH' E2E_VENDOR=$'ABCD\xC9FGH' NAME0="ABCD?FGHSIM DVD-RW      (0)"
    REVISION='1.0\xC9' LABEL=1.0?
    upgrade winxp fw.bin 65536
    expect_success "$NOW"
    ;;
retries)
    upgrade winxp fw.bin 65536 "fault main opcode=0x3B mode=6 offset=0x1020 count=3 sense=02/04/01"
    expect_success
    check "three retry lines" test "$(grep -c 'log| dAddr is 4096' "$E2E_WORK/user.out")" = 3
    ;;
block-fails)
    upgrade winxp fw.bin 65536 "fault main opcode=0x3B mode=6 offset=0x2020 count=6 sense=03/0C/00"
    expect_failure_without_mode7
    check "six retry lines" test "$(grep -c 'log| dAddr is 8192' "$E2E_WORK/user.out")" = 6
    check "the drive's sense" log_has "Execute command error!!  3/ C/ 0"
    ;;
block-no-answer)
    # The drive never answers a data block (it reports the request's 60 s as run out at
    # once): the run stops, sends nothing more and gives the drive back.
    upgrade winxp fw.bin 65536 "fault main opcode=0x3B mode=6 offset=0x2020 count=6 no-answer"
    expect_failure_without_mode7
    lost="ERR: the drive was reset or did not answer during the download; nothing was saved, it keeps its old firmware."
    check "one attempt, the line, the verdict" test "$(log_lines | tail -4 | tr '\n' '|')" = "dAddr is 8192|Execute command error!!  0/ 0/ 0|$lost|Flashing is incorrect!!|"
    check "the block's 60 s" test "$(grep -c 'timeout=60 cdb=3b0600002020.* transport=timeout$' "$E2E_WORK/record.txt")" = 1
    check "the hold let go" test "$(hold_closes 1)" = 1
    ;;
checksum-fails | checksum-fails-aspi)
    version=nt40
    [ "$case_name" = checksum-fails-aspi ] && version=win98
    upgrade $version fw.bin 8192 "fault main opcode=0x3B mode=6 offset=0 count=1 sense=05/24/00"
    expect_failure_without_mode7
    check "the drive's sense" log_has "Execute command error!!  5/24/ 0"
    ;;
save-not-ready-aspi | save-not-ready-xp)
    # The drive has started programming and says so: both doors wait it out.
    version=winxp
    [ "$case_name" = save-not-ready-aspi ] && version=win98
    upgrade $version fw.bin 65536 "fault main opcode=0x3B mode=7 count=1 sense=02/04/01"
    check "verdict" log_has "Please Restart Your Computer."
    check "no error line" bash -c "! grep -q 'log| Execute command error' '$E2E_WORK/user.out'"
    check "the waits ran to their end" grep -qF "[1011] position=100" "$E2E_WORK/user.out"
    check "one mode 7" test "$(record_count 3b07)" = 1
    ;;
eof-only-hex-xp | erased-bin-aspi | erased-bin-xp | erased-hex-aspi | erased-hex-xp | \
    past-buffer-bin-xp | hex-text-bin-aspi | hex-text-marked-bin-aspi | hex-text-marked-bin-xp)
    # No firmware at all, or erased flash only: flashed, the drive would be blank. Nor
    # half of a 2 MiB firmware, or a HEX file's text, even with the byte-order mark an
    # editor writes before it and the Ctrl-Z a DOS tool appends.
    version=winxp image=blank.hex error="ERR: input file format mismatched!"
    case "$case_name" in *-aspi) version=win98 ;; esac
    case "$case_name" in
    eof-only-*) printf ':00000001FF\r\n' >"$E2E_WORK/$image" ;;
    erased-bin-*) image=blank.bin; head -c 20000 /dev/zero | tr '\0' '\377' >"$E2E_WORK/$image" ;;
    past-buffer-*)
        image=big.bin error="ERR: flash size is smaller then the selected address!"
        e2e_image "$E2E_WORK/$image" $((2 * 1024 * 1024)) ;;
    hex-text-*)
        image=text.bin
        e2e_image "$E2E_WORK/text.hex" 4096
        case "$case_name" in
        *-marked-*) { printf '\357\273\277'; cat "$E2E_WORK/text.hex"; printf '\032'; } >"$E2E_WORK/$image" ;;
        *) mv "$E2E_WORK/text.hex" "$E2E_WORK/$image" ;;
        esac ;;
    erased-hex-*)
        for ((a = 0; a < 0x3000; a += 16)); do
            printf ':10%04X00%s%02X\r\n' $a FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF \
                $(((0x100 - ((0x10 + (a >> 8) + (a & 0xFF) + 16 * 0xFF) & 0xFF)) & 0xFF))
        done >"$E2E_WORK/$image"
        printf ':00000001FF\r\n' >>"$E2E_WORK/$image" ;;
    esac
    upgrade $version $image -
    check "the error, then the verdict" bash -c "grep 'log| ' '$E2E_WORK/user.out' | tr -d '\r' | diff - <(printf '%s\n' 'log| $error' 'log| Flashing is incorrect!!') >/dev/null"
    check "nothing sent" test "$(record_count 3b)" = 0
    check "door left alone" test "$(door_locks)" = 0
    check "progress stays 0" grep -qF "[1011] position=0" "$E2E_WORK/user.out"
    check "drive box kept" grep -qE "^\[1000\] enabled=. text=${NAME0//[()]/.}" "$E2E_WORK/user.out"
    check "revision kept" grep -qE '^\[1016\] enabled=. text=1\.00' "$E2E_WORK/user.out"
    ;;
question-no-aspi | question-yes-xp | same-revision-no-aspi | same-revision-yes-xp)
    # Before anything is sent the user is asked about a file that does not name the drive
    # (another model's firmware, as far as the file tells) or that holds the revision the
    # drive runs already. After Yes the drive takes the file's revision, if it has one.
    version=win98 answer=no
    case $case_name in *-yes-xp) version=winxp answer=yes ;; esac
    one_drive ""
    case $case_name in
    question-*)
        [ $answer = yes ] && FILE_REVISION=""
        e2e_image "$E2E_WORK/asked.bin" 8192 unnamed
        asked="This file does not name the drive \"$PRODUCT\"."
        printf '%s\nFirmware for another model can leave the drive unusable.\n\nUpgrade with this file anyway?' \
            "$asked" >"$E2E_WORK/question.txt"
        ;;
    *)
        [ $answer = yes ] && FILE_REVISION=1.00
        e2e_image "$E2E_WORK/asked.bin" 8192 1.00
        asked="The drive \"$PRODUCT\" already runs revision 1.00, the revision in this file."
        printf '%s\nFlash it again only to repair a drive that misbehaves.\n\nUpgrade with this file anyway?' \
            "$asked" >"$E2E_WORK/question.txt"
        ;;
    esac
    steps=("attach 60000" "pick 1000 \"$NAME0\"" "type 1028 \"$(winpath "$E2E_WORK/asked.bin")\""
        "click 1015" "msgbox Warning!! \"@$(winpath "$E2E_WORK/question.txt")\" $answer")
    if [ $answer = no ]; then
        # Nothing sent, the window idle; the drive's own newer firmware then goes through
        # unasked.
        e2e_image "$E2E_WORK/fw.bin" 8192
        steps+=("wait-enabled 2 1 10000" "wait-enabled 1015 1 10000" "expect-text 1012 \"\""
            "type 1028 \"$(winpath "$E2E_WORK/fw.bin")\"" "click 1015")
    fi
    e2e_start $version
    e2e_user "${steps[@]}" "wait-run 120000" read-log dump "click 2" "wait-exit 20000" ||
        fail "the scripted user stopped"
    e2e_wait_telvio
    check "asked, naming the drive" grep -qF "msgbox caption=Warning!! text=$asked" "$E2E_WORK/user.out"
    check "Yes and No, owned by the window" grep -qF "buttons=Yes,No topmost=0 owner-main=1" "$E2E_WORK/user.out"
    check "asked once" test "$(grep -c '^msgbox' "$E2E_WORK/user.out")" = 1
    check "one image sent" test "$(record_count 3b0600000000000020)" = 1
    if [ "$case_name" = same-revision-yes-xp ]; then
        expect_success "$UNCHANGED"
    else
        expect_success
    fi
    ;;
any-folder-xp | any-folder-aspi)
    # A folder named outside the Western code page: the file dialog hands its path over
    # whole, the file box takes it typed, and the engine opens it, on both doors. Wine
    # names unix files in the locale's character set: UTF-8 here, whatever the caller's.
    export LC_ALL=C.UTF-8
    version=winxp
    [ "$case_name" = any-folder-aspi ] && version=win98
    folder="$E2E_WORK/ファームウェア Υλικολογισμικό"
    mkdir -p "$folder"
    one_drive ""
    e2e_image "$folder/fw.hex" 16384
    image=$(winpath "$folder/fw.hex")
    steps=("attach 60000" "pick 1000 \"$NAME0\"")
    if [ $version = winxp ]; then
        steps+=("browse \"$image\"" "expect-text 1028 \"$image\"" "click 1015"
            "dialog \"Welcome To The Upgrade Program\"" "dialog-answer ok")
    else
        steps+=("type 1028 \"$image\"" "click 1015")
    fi
    e2e_start $version
    e2e_user "${steps[@]}" "wait-run 120000" read-log dump "click 2" "wait-exit 20000" ||
        fail "the scripted user stopped"
    e2e_wait_telvio
    check "the path as chosen" grep -qF "[1028] enabled=1 text=$image" "$E2E_WORK/user.out"
    expect_success
    ;;
save-fails)
    upgrade winxp fw.bin 8192 "fault main opcode=0x3B mode=7 count=1 sense=05/26/00"
    check "verdict" log_has "Flashing is incorrect!!"
    check "revision kept" bash -c "! grep -q 2.00 '$E2E_WORK/state/main.revision' 2>/dev/null"
    check "no read-back line" test "$(readback_lines)" = 0
    check "nothing after mode 7" test -z "$(after_save)"
    ;;
missing-image)
    one_drive ""
    e2e_start winxp
    e2e_user "attach 60000" "type 1028 \"$(winpath "$E2E_WORK/absent.hex")\"" "click 1015" \
        "wait-run 60000" read-log "click 2" "wait-exit 20000" || fail "the scripted user stopped"
    e2e_wait_telvio
    check "open error" log_has "ERR: fail to open output file!"
    check "read error" log_has "ERR: fail to read input file!"
    check "verdict" log_has "Flashing is incorrect!!"
    check "nothing written" test "$(record_count 3b)" = 0
    ;;
long-log)
    # Every block needs five tries: far more lines than the window used to keep.
    faults=""
    for block in $(seq 0 15); do
        faults+="fault main opcode=0x3B mode=6 offset=$((0x20 + block * 4096)) count=5 sense=02/04/01"$'\n'
    done
    upgrade winxp fw.bin 65536 "$faults"
    expect_success
    check "all 80 retry lines" test "$(grep -c 'log| dAddr is' "$E2E_WORK/user.out")" = 80
    expected=$(for block in $(seq 0 15); do for t in 1 2 3 4 5; do echo "log| dAddr is $((block * 4096))"; done; done)
    check "in order" bash -c "diff <(grep 'log| dAddr is' '$E2E_WORK/user.out' | tr -d '\r') <(echo \"$expected\") >/dev/null"
    check "first line kept" grep -q "log| Check Sum" "$E2E_WORK/user.out"
    check "last line in view" grep -qF "log-last-line-visible 1" "$E2E_WORK/user.out"
    ;;
messages)
    one_drive ""
    e2e_start winxp
    e2e_user "attach 60000" \
        "click 1015" "msgbox \"File Not Found!!\" \"You must input HEX file\" ok" \
        "wait-enabled 2 1 10000" \
        "type 1028 Z:\\fw\\image.txt" "click 1015" \
        "msgbox Error!! \"Input file format mismatched.\" ok" "wait-enabled 2 1 10000" \
        "type 1028 Z:\\rel.2\\image" "click 1015" \
        "msgbox Error!! \"Input file format mismatched.\" ok" "wait-enabled 2 1 10000" \
        "type 1000 \"TELVIOSMSIM DVD-RW      (9)\"" "type 1028 Z:\\fw\\image.hex" "click 1015" \
        "msgbox Error!! \"No Target Drive.\" ok" "wait-enabled 2 1 10000" \
        "type 1000 \"lowercase name of 26 chars\"" "click 1015" \
        "wait-text 1012 \"Drive model doesn't match!\" 10000" "no-window Error!! 1500" \
        "wait-enabled 2 1 10000" "wait-enabled 1015 1 10000" \
        "click 2" "wait-exit 20000" || fail "the scripted user stopped"
    e2e_wait_telvio
    check "stop icon, OK only" grep -qF "msgbox caption=Error!! text=No Target Drive. buttons=OK topmost=0 owner-main=1" "$E2E_WORK/user.out"
    check "nothing sent" test "$(record_count 3b)" = 0
    ;;
warning | warning-aspi)
    # The file dialog, then the warning, whose labels a screen reader hears as they read.
    version=winxp
    [ "$case_name" = warning-aspi ] && version=win98
    one_drive ""
    e2e_image "$E2E_WORK/fw.bin" 8192
    e2e_start $version
    e2e_user "attach 60000" "browse \"$(winpath "$E2E_WORK/fw.bin")\"" \
        "expect-text 1028 \"$(winpath "$E2E_WORK/fw.bin")\"" \
        "click 1015" "dialog \"Welcome To The Upgrade Program\"" "dialog-read 1020" \
        "dialog-read 1022" "dialog-read 1019" "dialog-read 1021" "reader dialog 1020" \
        "reader dialog 1022" "dialog-answer cancel" \
        "wait-enabled 2 1 10000" "wait-enabled 1015 1 10000" \
        "click 1015" "dialog \"Welcome To The Upgrade Program\"" "dialog-answer esc" \
        "wait-enabled 2 1 10000" \
        "click 1015" "dialog \"Welcome To The Upgrade Program\"" "dialog-answer ok" \
        "wait-run 60000" read-log dump "click 2" "wait-exit 20000" || fail "the scripted user stopped"
    e2e_wait_telvio
    check "names the drive" grep -qF "[dialog:1020] $NAME0" "$E2E_WORK/user.out"
    check "names the revision" grep -qF "[dialog:1022] 1.00" "$E2E_WORK/user.out"
    check "sentence words" grep -qF "[dialog:1019] The current version of your" "$E2E_WORK/user.out"
    check "the reader hears the drive" grep -qF "[reader:dialog:1020] role=41 $NAME0" "$E2E_WORK/user.out"
    check "the reader hears the revision" grep -qF "[reader:dialog:1022] role=41 1.00" "$E2E_WORK/user.out"
    expect_success
    ;;
browse-cancel)
    one_drive ""
    e2e_start winxp
    e2e_user "attach 60000" "type 1028 Z:\\old.hex" "browse cancel" "expect-text 1028 \"\"" \
        "click 1015" "msgbox \"File Not Found!!\" \"You must input HEX file\" ok" \
        "no-window \"Welcome To The Upgrade Program\" 1000" \
        "click 2" "wait-exit 20000" || fail "the scripted user stopped"
    e2e_wait_telvio
    ;;
about)
    one_drive ""
    e2e_start winxp
    e2e_user "attach 60000" "syscommand about" "dialog KORVANE" "dialog-answer ok" \
        "wait-enabled 1015 1 10000" "syscommand about" "dialog KORVANE" "dialog-answer esc" \
        "click 2" "wait-exit 20000" || fail "the scripted user stopped"
    e2e_wait_telvio
    ;;
list-xp | list-nt4)
    version=winxp
    [ "$case_name" = list-nt4 ] && version=nt40
    e2e_scenario <<EOF
adapter 0 targets=4
drive zeta adapter=0 target=0 vendor=ZETA product="DRIVE Z" revision=3.30
drive alpha1 adapter=0 target=1 vendor=ALPHA product="TWIN" revision=1.10
drive alpha2 adapter=0 target=2 vendor=ALPHA product="TWIN" revision=1.20
letter d drive=zeta path=0 target=0
letter f drive=alpha1 path=0 target=1
letter g drive=alpha2 path=0 target=2
EOF
    e2e_start "$version"
    e2e_user "attach 60000" "wait-drives 3" "read-list 1000" "read 1000" "read 1016" \
        "pick 1000 \"ALPHA   TWIN            (1)\"" "read 1016" \
        "pick 1000 \"ZETA    DRIVE Z         (0)\"" "read 1016" \
        "click 2" "wait-exit 20000" || fail "the scripted user stopped"
    e2e_wait_telvio
    out=$E2E_WORK/user.out
    check "sorted with suffixes" bash -c "grep '^\[1000:[0-9]\]' '$out' | tr -d '\r' | diff - <(printf '%s\n' '[1000:0] ALPHA   TWIN            (1)' '[1000:1] ALPHA   TWIN            (2)' '[1000:2] ZETA    DRIVE Z         (0)') >/dev/null"
    check "nothing selected" grep -qF "[1000:selected] -1" "$out"
    check "field shows the last found" grep -qF "[1000] ALPHA   TWIN            (2)" "$out"
    check "revisions follow the choice" bash -c "grep '^\[1016\]' '$out' | tr -d '\r' | diff - <(printf '%s\n' '[1016] 1.20' '[1016] 1.10' '[1016] 3.30') >/dev/null"
    ;;
aspi-missing)
    one_drive ""
    e2e_start win98 "wnaspi32="
    e2e_user "msgbox Error!! \"No find the dynamic library!!\" ok 60000" "attach 30000" \
        "wait-enabled 1015 0 10000" "wait-enabled 1016 0 10000" "expect-text 1000 \"\"" \
        "wait-enabled 1029 1 10000" "click 2" "wait-exit 20000" || fail "the scripted user stopped"
    e2e_wait_telvio
    ;;
aspi-entry-missing)
    # A WNASPI32 without SendASPI32Command, beside a copy of the program.
    mkdir -p "$E2E_WORK/stub"
    cp "$E2E_BIN/telvio.exe" "$E2E_WORK/stub/telvio.exe"
    cp "$E2E_BIN/stub-aspi/WNASPI32.dll" "$E2E_WORK/stub/WNASPI32.dll"
    one_drive ""
    E2E_BIN_SAVED=$E2E_BIN
    E2E_BIN=$E2E_WORK/stub
    e2e_start win98
    E2E_BIN=$E2E_BIN_SAVED
    e2e_user "msgbox Error! \"Cannot Load Dynamic Library!!!\" cancel 60000" "attach 30000" \
        "wait-enabled 1015 0 10000" "wait-enabled 1016 0 10000" "click 2" "wait-exit 20000" ||
        fail "the scripted user stopped"
    e2e_wait_telvio
    check "OK and Cancel" grep -qF "buttons=OK,Cancel" "$E2E_WORK/user.out"
    ;;
closing)
    # Two banks, so the drive's programming wait keeps the run open for seconds.
    one_drive ""
    e2e_image "$E2E_WORK/fw.bin" 131072
    e2e_start winxp
    # A suspend is let through before and after the run, refused during it.
    e2e_user "attach 60000" "query-suspend 1" "type 1028 \"$(winpath "$E2E_WORK/fw.bin")\"" \
        "pick 1000 \"$NAME0\"" "click 1015" "wait-enabled 2 0" "wait-text 1014 Updating....." \
        "force-click 2" "key esc" "key enter" "key altf4" "syscommand close" "close-message" \
        "query-end-session 0" "query-suspend 0" "sleep 500" "expect-enabled 2 0" \
        "expect-text 1014 Updating....." "wait-run 120000" "query-end-session 1" "query-suspend 1" \
        read-log dump "click 2" "wait-exit 20000" ||
        fail "the scripted user stopped"
    e2e_wait_telvio
    expect_success
    ;;
planted)
    # The program unpacked into a folder where DLLs of the names it loads itself lie
    # already: a reader's question to a label, the taskbar button and the file dialog take
    # the system's own, and the label still answers with its own object (role 41, static
    # text).
    # oleacc is preferred over Wine's own, as Windows does for a name outside KnownDLLs;
    # the others are KnownDLLs, which Windows never takes from the program's folder (told
    # to prefer them, Wine's own DLLs would load them too).
    exe=${TELVIO_EXE:-$E2E_BIN/telvio.exe}
    unpacked=$E2E_WORK/unpacked
    mkdir -p "$unpacked"
    cp "$exe" "$unpacked/telvio.exe"
    names="oleacc oleaut32 ole32 comdlg32 shell32"
    for name in $names; do cp "$(dirname "$exe")/planted/planted.dll" "$unpacked/$name.dll"; done
    export TELVIO_PLANTED_MARKER
    TELVIO_PLANTED_MARKER=$(winpath "$E2E_WORK/loaded.txt")
    one_drive ""
    e2e_image "$E2E_WORK/fw.bin" 8192
    browse=("browse \"$(winpath "$E2E_WORK/fw.bin")\""
        "expect-text 1028 \"$(winpath "$E2E_WORK/fw.bin")\"")
    TELVIO_EXE_SAVED=${TELVIO_EXE:-}
    export TELVIO_EXE=$unpacked/telvio.exe
    e2e_start winxp "oleacc=n,b"
    TELVIO_EXE=$TELVIO_EXE_SAVED
    [ -n "$TELVIO_EXE" ] || unset TELVIO_EXE
    e2e_user "attach 60000" "pick 1000 \"$NAME0\"" "expect-text 1016 1.00" "reader 1016" \
        taskbar-created "${browse[@]}" "reader 1016" \
        "click 2" "wait-exit 20000" || fail "the scripted user stopped"
    e2e_wait_telvio
    check "the label answers with its text, before and after" \
        test "$(grep -c '^\[reader:1016\] role=41 1.00' "$E2E_WORK/user.out")" = 2
    check "no planted DLL loaded: $(tr -d '\r' <"$E2E_WORK/loaded.txt" 2>/dev/null | tr '\n' ' ')" \
        test ! -s "$E2E_WORK/loaded.txt"
    ;;
*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
e2e_end
