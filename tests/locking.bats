#!/usr/bin/env bats
# Record-lock holders: exclusivehold, sharedhold.
#
# Each holder runs in the background with its standard input on a FIFO of its own that this
# shell keeps open, so it waits for Enter until the test writes a newline there; readiness is
# read from /proc/locks. A missing or unwritable db.txt is in hostile.bats.

load helper

# The time-out wrappers of the holders still running, by name: a failed test's are stopped.
declare -gA timers
teardown() {
    ((${#timers[@]} == 0)) || kill "${timers[@]}" 2>/dev/null || true
}

# start_holder NAME PROGRAM: starts PROGRAM on db.txt with its input on NAME.in and its output
# in NAME.out and NAME.err; sets NAME to the program's process id.
start_holder() {
    local enter
    mkfifo "$1.in"
    exec {enter}<>"$1.in"
    timeout 20 "$2" <"$1.in" >"$1.out" 2>"$1.err" 3>&- {enter}>&- &
    timers[$1]=$!
    declare -g "$1=$(wait_for 5 child_of "${timers[$1]}")" "${1}_enter=$enter"
}

# release NAME: presses Enter for the holder NAME and waits for it to end; sets NAME_status.
release() {
    local enter=${1}_enter status=0
    echo >&"${!enter}"
    wait "${timers[$1]}" || status=$?
    unset "timers[$1]"
    declare -g "${1}_status=$status"
}

# listed PID KIND [waiting]: true when /proc/locks shows a POSIX KIND (READ or WRITE) lock of
# PID over the whole of db.txt; with "waiting", a request of PID that is blocked.
listed() {
    local inode blocked=
    inode=$(stat -c %i db.txt)
    [[ ${3-} == waiting ]] && blocked='-> '
    grep -Eq "^[0-9]+: ${blocked}POSIX +ADVISORY +$2 +$1 +[0-9a-f]+:[0-9a-f]+:$inode +0 +EOF\$" \
        /proc/locks
}

# waiting_for_input PID: true once PID sleeps (in its read of standard input).
waiting_for_input() {
    [[ $(state_ppid "$1") == S\ * ]]
}

# finished_alone NAME: the holder NAME ended with status 0, its output whole, stderr empty.
finished_alone() {
    local status=${1}_status
    [ "${!status}" -eq 0 ]
    printf %s "$lock_lines" | cmp - "$1.out"
    [ ! -s "$1.err" ]
}

@test "both holders: at end of input they run straight through; \"unlocked\" ends unterminated" {
    touch db.txt
    local program
    for program in exclusivehold sharedhold; do
        timeout 5 "$program" </dev/null >"$program.out" 2>"$program.err"
        printf %s "$lock_lines" | cmp - "$program.out"
        [ ! -s "$program.err" ]
    done
}

@test "exclusivehold first: it holds 0 to EOF until Enter; a reader is refused, a writer blocks" {
    echo data >db.txt # not empty: the lock starts at 0, not at the end
    start_holder first exclusivehold
    wait_for 5 listed "$first" WRITE
    wait_for 5 waiting_for_input "$first"
    [ "$(grep -c ":$(stat -c %i db.txt) " /proc/locks)" -eq 1 ]

    start_holder reader sharedhold
    wait_for 5 test -s reader.err
    wait_for 5 waiting_for_input "$reader"
    # nothing of the refused reader, held or waiting
    run ! grep -Eq " $reader +[0-9a-f]+:[0-9a-f]+:$(stat -c %i db.txt) " /proc/locks
    start_holder second exclusivehold
    wait_for 5 listed "$second" WRITE waiting
    run ! listed "$second" WRITE

    release reader
    [ "$reader_status" -eq 0 ]
    printf %s "$lock_lines" | cmp - reader.out
    [ "$(cat reader.err)" = "Shared lock not granted: Resource temporarily unavailable" ]
    listed "$first" WRITE

    release first
    wait_for 5 listed "$second" WRITE
    wait_for 5 waiting_for_input "$second"
    release second
    finished_alone first
    finished_alone second
    [ "$(cat db.txt)" = data ]
}

@test "sharedhold first: readers hold together; a writer waits until every reader has released" {
    touch db.txt
    start_holder reader1 sharedhold
    start_holder reader2 sharedhold
    wait_for 5 listed "$reader1" READ
    wait_for 5 listed "$reader2" READ
    start_holder writer exclusivehold
    wait_for 5 listed "$writer" WRITE waiting

    release reader1
    # Woken by the release, the request finds the other reader and waits again.
    wait_for 5 listed "$writer" WRITE waiting
    run ! listed "$writer" WRITE
    listed "$reader2" READ

    release reader2
    wait_for 5 listed "$writer" WRITE
    release writer
    finished_alone reader1
    finished_alone reader2
    finished_alone writer
}
