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

setup_file() {
    # The orphan and zombie views take 12 s: that tour runs while the other tests do.
    local slow=$BATS_FILE_TMPDIR/slow
    mkdir -p "$slow/tmp"
    (
        cd "$slow" || exit
        TMPDIR=$slow/tmp timeout 60 "$tour" zombiemaker orphanmaker >out 2>err &
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
    mkdir labs
    TMPDIR=$PWD/labs run --separate-stderr timeout 60 "$tour" --quick
    [ "$status" -eq 0 ]
    [ "$stderr" = "" ]

    # 20 programs: orphanmaker and zombiemaker are left out, and the line says so
    [ "$(grep -c '^== ' <<<"$output")" -eq 20 ]
    grep -qx "# --quick: left out, as they wait longer than a second: orphanmaker, zombiemaker, stdinwait's 10-second time-out" <<<"$output"
    [ "$(grep -c '^== orphanmaker\|^== zombiemaker\|No data was given' <<<"$output")" -eq 0 ]
    # no program failed (a sanitizer report would end one with a status)
    [ "$(grep -c '^# exit status' <<<"$output")" -eq 0 ]

    # exclusivehold's write lock on db.txt, as lslocks shows it
    grep -Eq '^exclusivehold +[0-9]+ +POSIX +WRITE +0 +0 +0 +/.*/db\.txt$' <<<"$output"
    # sharedhold refused meanwhile: its error line, and no lock of its own
    grep -qx 'Shared lock not granted: Resource temporarily unavailable' <<<"$output"
    grep -A1 '^\[terminal 2\] \$ sharedhold$' <<<"$output" | grep -qx 'Before entering into critical section'
    grep -A1 '^\[terminal 3\] \$ lslocks -p [0-9]*$' <<<"$output" | grep -qx '# none: .*'
    # then two sharedholds holding read locks together
    [ "$(grep -Ec '^sharedhold +[0-9]+ +POSIX +READ +0 +0 +0 +/.*/db\.txt$' <<<"$output")" -eq 2 ]

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

    # forkappend's 90 bytes; envdump under env -i sees its two variables only
    grep -Eq '^-rwx------ 1 .* 90 .* forkappend\.txt$' <<<"$output" || [ "$(umask)" != 0022 ]
    grep -A2 '^\[second terminal\] \$ tr .* </proc/[0-9]*/environ$' <<<"$output" |
        tail -n 2 | tr '\n' ' ' | grep -qx 'FRUIT=apple COLOUR=green '

    # nothing left behind: no process, no directory
    [ "$(leftovers "$PWD/labs")" = "" ]
    [ "$(ls -A labs)" = "" ]
}

@test "tour zombiemaker orphanmaker: the zombie as <defunct>, the orphan adopted" {
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
    grep -qx "# the parent is gone: the orphan was adopted by process $adopter (init, or the nearest subreaper)" <<<"$output"
    grep -qx 'Child is now awake!' <<<"$output"
    # the two waits overlapped: the parent ended at 10 s and the child at 12 s
    grep -Eqx '# the parent ended after 1[01]\.[0-9] s \(the prompt returns\), the child after 1[23]\.[0-9] s' <<<"$output"

    [ "$(leftovers "$slow/tmp")" = "" ]
    [ "$(ls -A "$slow/tmp")" = "" ]
}

@test "tour PROGRAM...: only those; --keep keeps the directory; a wrong name runs nothing" {
    mkdir labs
    TMPDIR=$PWD/labs run --separate-stderr timeout 30 "$tour" --keep makelinks seekgap
    [ "$status" -eq 0 ]
    [ "$(grep '^== ' <<<"$output" | cut -d : -f 1)" = $'== seekgap\n== makelinks' ]
    local kept
    kept=$(sed -n 's/^The lab directory is kept: //p' <<<"$output")
    [[ $kept == "$PWD"/labs/* ]]
    [ "$(readlink "$kept/four.txt")" = three.txt ]
    [ "$(wc -c <"$kept/seekgap.txt")" -eq 30 ]
    rm -rf "$kept"

    TMPDIR=$PWD/labs run --separate-stderr "$tour" makelinks nosuchprogram
    [ "$status" -eq 2 ]
    [ "$output" = "" ]
    [ "${stderr%%$'\n'*}" = "tour: no program nosuchprogram" ]
    [ "$(ls -A labs)" = "" ]
}
