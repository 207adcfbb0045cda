#!/usr/bin/env bats
# The guided tour: a quick run through every program, the orphan and zombie views of a full
# one, and the choice of programs. Each tour makes its scratch directory under a TMPDIR of
# the test's own, so what it leaves behind (a directory, a process working there) shows.

load helper

tour=$BATS_TEST_DIRNAME/../tour
export SYSLAB_BIN # the tour runs the programs under test and builds nothing

# leftovers DIR: the processes whose working directory lies under DIR, one per line.
leftovers() {
    local entry cwd
    for entry in /proc/[0-9]*; do
        cwd=$(readlink "$entry/cwd" 2>/dev/null) || continue
        [[ $cwd == "$1"/* ]] && printf '%s %s\n' "${entry#/proc/}" "$(cat "$entry/comm")"
    done
    return 0
}

# questions_in: the questions of a tour's --ask output or of a worksheet, one per line.
questions_in() {
    awk '/^Question: / { if (q) print q; q = substr($0, 11); next }
        /^[ 0-9][ 0-9][0-9]\. / { if (q) print q; q = substr($0, 6); next }
        q && /^     / { sub(/^ +/, ""); q = q " " $0; next }
        { if (q) print q; q = "" } END { if (q) print q }'
}

setup_file() {
    # The orphan and zombie views take 12 s: that tour runs while the other tests do.
    local slow=$BATS_FILE_TMPDIR/slow
    mkdir -p "$slow/tmp"
    (
        cd "$slow" || exit
        TMPDIR=$slow/tmp timeout 60 "$tour" --ask zombiemaker orphanmaker >out 2>err &
        echo "$!" >pid
        wait "$!"
        echo "$?" >status
    ) 3>&- &
}

teardown_file() {
    local slow=$BATS_FILE_TMPDIR/slow
    if [[ ! -e $slow/status && -s $slow/pid ]]; then
        kill -TERM "$(cat "$slow/pid")" 2>/dev/null || true
    fi
}

@test "tour --quick: every program but the slow ones, with the second terminal's views" {
    require_native "ps and strace show the emulator, and env -i drops QEMU_LD_PREFIX"
    mkdir labs
    TMPDIR=$PWD/labs run --separate-stderr timeout 60 "$tour" --quick
    [ "$status" -eq 0 ]
    [ "$stderr" = "" ]

    # 20 programs: orphanmaker and zombiemaker are left out, and the line says so
    [ "$(grep -c '^== ' <<<"$output")" -eq 20 ]
    grep -A1 '^# --quick: left out' <<<"$output" | tr '\n' ' ' | grep -qx "# --quick: left out, as \
they wait longer than a second: orphanmaker, # zombiemaker, stdinwait's 10-second time-out "
    [ "$(grep -c '^== orphanmaker\|^== zombiemaker\|No data was given' <<<"$output")" -eq 0 ]
    # no program failed (a sanitizer report would end one with a status)
    # (but niceset -5, refused to an ordinary user with status 1)
    [ "$(grep -c '^# exit status' <<<"$output")" -eq $((EUID == 0 ? 0 : 1)) ]

    # exclusivehold's write lock on db.txt, as lslocks shows it
    grep -Eq '^exclusivehold .* WRITE .*/db\.txt$' <<<"$output"
    # sharedhold refused meanwhile: its error line, and no lock of its own
    grep -qx 'Shared lock not granted: Resource temporarily unavailable' <<<"$output"
    grep -A1 '^\[terminal 2\] \$ sharedhold$' <<<"$output" | grep -qx 'Before entering into critical section'
    grep -A1 '^\[terminal 3\] \$ lslocks -p [0-9]*$' <<<"$output" | grep -qx '# none: .*'
    # then two sharedholds holding read locks together
    [ "$(grep -Ec '^sharedhold .* READ .*/db\.txt$' <<<"$output")" -eq 2 ]
    # and a third, exclusivehold, waiting for them (WRITE*), then granted
    grep -Eq '^exclusivehold .* WRITE\* .*/db\.txt$' <<<"$output"
    grep -A3 '^# the last reader let go' <<<"$output" | grep -qx 'Enter to unlock..'

    # seekgap's zero-filled gap in od -c
    grep -qx '0000000   0   1   0   1   0   1   1   0   1   0  \\0  \\0  \\0  \\0  \\0  \\0' <<<"$output"
    grep -qx '0000020  \\0  \\0  \\0  \\0   0   1   0   1   0   1   1   0   1   0' <<<"$output"
    grep -qx 'offset : 20' <<<"$output"

    # sizedecho's one read of 5 bytes; fdflood's table full at the limit of 64
    grep -A4 -Fx "\$ printf '5\\nhello world\\n' | sizedecho" <<<"$output" | tail -n 1 | grep -qx hello
    grep -A1 '^\[second terminal\] \$ ls /proc/[0-9]*/fd | wc -l$' <<<"$output" | grep -qx 64

    # exclcreate: descriptor 3, then -1
    grep -qx 'The file descriptor value is: 3' <<<"$output"
    grep -qx 'The file descriptor value is: -1' <<<"$output"

    # makelinks: the symbolic link, and the hard link sharing three.txt's inode
    grep -Eq '^[0-9]+ lrwxrwxrwx 1 .* four\.txt -> three\.txt$' <<<"$output"
    local five three
    five=$(grep -E '^[0-9]+ -[rwx-]{9} 2 .* five\.txt$' <<<"$output")
    three=$(grep -E '^[0-9]+ -[rwx-]{9} 2 .* three\.txt$' <<<"$output")
    [ "${five%% *}" = "${three%% *}" ]
    [ "$(grep -cx 'Failed : : File exists' <<<"$output")" -eq 2 ]

    # forkappend: the tour waits for all six records before it looks (90 bytes, octal 132)
    grep -A8 '^\[second terminal\] \$ od -c forkappend.txt$' <<<"$output" | grep -qx 0000132
    # envdump under env -i sees its two variables only
    grep -A2 '^\[second terminal\] \$ tr .* </proc/[0-9]*/environ$' <<<"$output" |
        tail -n 2 | tr '\n' ' ' | grep -qx 'FRUIT=apple COLOUR=green '

    # nothing left behind: no process, no directory
    [ "$(leftovers "$PWD/labs")" = "" ]
    [ "$(ls -A labs)" = "" ]
}

@test "tour zombiemaker orphanmaker: the zombie as <defunct>, the orphan adopted" {
    require_native "ps shows the emulator's thread and command line"
    local slow=$BATS_FILE_TMPDIR/slow
    wait_for 50 test -s "$slow/status"
    [ "$(cat "$slow/status")" -eq 0 ]
    [ "$(cat "$slow/err")" = "" ]
    output=$(cat "$slow/out")

    # zombiemaker: during the sleep, the child as Z <defunct> with the parent as its parent
    local parent child
    parent=$(sed -n 's/^Parent PID is: \([0-9]*\)$/\1/p' <<<"$output" | tail -n 1)
    child=$(sed -n 's/^Child PID is: \([0-9]*\)$/\1/p' <<<"$output" | tail -n 1)
    grep -Eq "^ *$child +$parent +Z +\\[zombiemaker\\] <defunct>\$" <<<"$output"
    grep -qx 'Parent is now awake!' <<<"$output"

    # orphanmaker: the child's parent first the orphanmaker, then another process
    parent=$(sed -n 's/^Parent PID is: \([0-9]*\)$/\1/p' <<<"$output" | head -n 1)
    child=$(sed -n 's/^Child PID is: \([0-9]*\)$/\1/p' <<<"$output" | head -n 1)
    grep -Eq "^ *$child +$parent +S +.*orphanmaker\$" <<<"$output"
    local adopter
    adopter=$(grep -E "^ *$child +[0-9]+ +S +.*orphanmaker\$" <<<"$output" | awk '{ print $2 }' |
        grep -vx "$parent")
    [ -n "$adopter" ]
    grep -qx "# the parent is gone: the orphan was adopted by process $adopter (init, or the" <<<"$output"
    # the two waits overlapped: the parent ended at 10 s and the child at 12 s, and the views
    # come in the order they were seen: the child's last line after its adoption
    grep -Eqx '# the parent ended after 1[01]\.[0-9] s' <<<"$output"
    grep -Eqx '# the child ended after 1[23]\.[0-9] s' <<<"$output"
    awk -v child="$child" -v adopter="$adopter" '$1 == child && $2 == adopter { seen = 1 }
        seen && $0 == "Child is now awake!" { found = 1 } END { exit !found }' <<<"$output"
    # --ask: every question answered, the orphan's new parent among them
    [ "$(grep -Ec '^(Question|Answer):' <<<"$output")" -eq 8 ]
    grep -q '^Question: orphanmaker.s parent has just ended' <<<"$output"

    [ "$(leftovers "$slow/tmp")" = "" ]
    [ "$(ls -A "$slow/tmp")" = "" ]
}

@test "tour PROGRAM...: only those; --keep keeps the directory; a wrong name runs nothing" {
    mkdir labs
    TMPDIR=$PWD/labs run --separate-stderr timeout 30 "$tour" --keep makelinks seekgap
    [ "$status" -eq 0 ]
    [ "$(grep '^== ' <<<"$output" | cut -d : -f 1)" = $'== seekgap\n== makelinks' ]
    local kept
    kept=$(sed -n 's/^The scratch directory is kept: //p' <<<"$output")
    [[ $kept == "$PWD"/labs/* ]]
    [ "$(readlink "$kept/four.txt")" = three.txt ]
    [ "$(wc -c <"$kept/seekgap.txt")" -eq 30 ]
    rm -rf "$kept"

    # --step: a pause at least every 22 lines, a long step paused within
    TMPDIR=$PWD/labs run bash -c "yes '' | timeout 30 '$tour' --step exclusivehold sharedhold"
    [ "$status" -eq 0 ]
    [ "$(awk '/^\[Enter/ { if (n > max) max = n; n = 0; next } { n++ }
        END { print (n > max ? n : max) }' <<<"$output")" -le 22 ]
    grep -q '^\[Enter for more\]' <<<"$output"

    TMPDIR=$PWD/labs run --separate-stderr "$tour" makelinks nosuchprogram
    [ "$status" -eq 2 ]
    [ "$output" = "" ]
    [ "${stderr%%$'\n'*}" = "tour: no program nosuchprogram" ]
    [ "$(ls -A labs)" = "" ]
}

@test "tour --ask, --worksheet, --lab: questions paired with answers, 80 columns, a lab refused" {
    require_native "env -i drops QEMU_LD_PREFIX, which the tour's envdump view needs"
    mkdir labs
    TMPDIR=$PWD/labs run --separate-stderr timeout 60 "$tour" --ask --quick
    [ "$status" -eq 0 ]
    [ "$stderr" = "" ]
    # Off a terminal nothing waits: each question, then its view, then its answer; a question
    # for every program shown, and the tour's own lines within 80 columns.
    [ "$(grep -Eo '^(Question|Answer):' <<<"$output" | uniq -c | awk '$1 != 1')" = "" ]
    [ "$(grep -Eo '^(Question|Answer):' <<<"$output" | head -n 1)" = Question: ]
    [ "$(grep -c '^Question:' <<<"$output")" -eq "$(grep -c '^Answer:' <<<"$output")" ]
    [ "$(awk '/^== / { name = $2 } /^Question:/ { asked[name] = 1 }
        END { n = 0; for (name in asked) n++; print n }' <<<"$output")" -eq 20 ]
    [ "$(grep -E '^(==|#|\[|\$|Question:|Answer:|   )' <<<"$output" | awk 'length > 80')" = "" ]

    # The worksheet asks the same questions, numbered and grouped by program; the key adds
    # an answer to each.
    local sheet key
    sheet=$("$tour" --worksheet)
    key=$("$tour" --worksheet --answers)
    [ "$(grep -c '^[a-z]*/[a-z]*$' <<<"$sheet")" -eq 22 ]
    [ "$(grep -Ec '^ *[0-9]+\. ' <<<"$key")" -eq "$(grep -c '^ *Answer: ' <<<"$key")" ]
    [ "$(grep -Ec '^ *[0-9]+\. ' <<<"$sheet")" -ge 30 ]
    [ "$(grep -c 'Answer' <<<"$sheet")" -eq 0 ]
    [ "$(comm -23 <(questions_in <<<"$output" | sort) <(questions_in <<<"$sheet" | sort))" = "" ]
    [ "$(awk 'length > 80' <<<"$key")" = "" ]
    [ "$(grep -Ec '^ *[0-9]+\. ' <<<"$("$tour" --worksheet seekgap)")" -eq 2 ]

    # A lab: the seeded files and the lines to enter it; renewed when only the programs'
    # own files were added; refused, and left as it is, when it holds anything else.
    run "$tour" --lab "$PWD/lab"
    [ "$status" -eq 0 ]
    grep -qx "    cd $PWD/lab" <<<"$output"
    grep -qx "    export PATH=$SYSLAB_BIN:\"\$PATH\"" <<<"$output"
    [ "$(cd lab && find . -path ./.syslab-lab -prune -o -type f -print | sort | paste -sd ' ')" = \
        "./bytecat.txt ./childprog/childprog_out ./db.txt ./lsdemo.txt ./seekgap.txt ./three.txt" ]
    [ -x lab/childprog/childprog_out ]
    (cd lab && exclcreate >/dev/null && seekgap >/dev/null)
    run "$tour" --lab "$PWD/lab"
    [ "$status" -eq 0 ]
    [ ! -e lab/exclcreate.txt ] && [ ! -s lab/seekgap.txt ]
    touch lab/notes.txt
    local before
    before=$(cd lab && ls -lAR --time-style=+%s.%N)
    run --separate-stderr "$tour" --lab "$PWD/lab"
    [ "$status" -eq 1 ]
    [[ $stderr == *notes.txt* ]]
    [ "$(cd lab && ls -lAR --time-style=+%s.%N)" = "$before" ]
    mkdir other && touch other/x
    run "$tour" --lab "$PWD/other"
    [ "$status" -eq 1 ]
    [ "$(ls -A other)" = x ]

    run --separate-stderr "$tour" --no-such-option
    [ "$status" -eq 2 ]
    [ "${stderr%%$'\n'*}" = "tour: unknown option --no-such-option" ]
}
