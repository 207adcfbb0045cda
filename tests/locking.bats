#!/usr/bin/env bats
# Record-lock holders: exclusivehold, sharedhold.
#
# Each holder runs in the background with its standard input on a FIFO of its own that this
# shell keeps open, so it waits for Enter until the test writes a newline there; readiness is
# read from /proc/locks. A missing or unwritable db.txt is in hostile.bats.

load helper

# Stops the holders a failed test left waiting.
teardown() {
    local timer
    for timer in ${timers[@]+"${timers[@]}"}; do
        kill "$timer" 2>/dev/null || true
    done
}

# start_holder NAME PROGRAM: starts PROGRAM on db.txt with its input on NAME.in and its output
# in NAME.out and NAME.err; sets NAME to the program's process id.
start_holder() {
    local name=$1 program=$2 enter timer
    mkfifo "$name.in"
    exec {enter}<>"$name.in"
    timeout 20 "$program" <"$name.in" >"$name.out" 2>"$name.err" 3>&- {enter}>&- &
    timer=$!
    timers+=("$timer")
    declare -g "$name=$(wait_for 5 child_of "$timer")" "${name}_enter=$enter" "${name}_timer=$timer"
}

# release NAME: presses Enter for the holder NAME and waits for it to end; sets NAME_status.
release() {
    local enter=${1}_enter timer=${1}_timer rc=0 left=() running
    echo >&"${!enter}"
    wait "${!timer}" || rc=$?
    declare -g "${1}_status=$rc"
    for running in "${timers[@]}"; do
        [[ $running == "${!timer}" ]] || left+=("$running")
    done
    timers=(${left[@]+"${left[@]}"})
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

# unlisted PID: true when /proc/locks shows nothing of PID on db.txt, held or waiting.
unlisted() {
    ! grep -Eq " $1 +[0-9a-f]+:[0-9a-f]+:$(stat -c %i db.txt) " /proc/locks
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

@test "exclusivehold: a write lock from 0 to EOF owned by the holder, kept until Enter" {
    echo data >db.txt # not empty: the lock starts at 0, not at the end
    start_holder first exclusivehold
    wait_for 5 listed "$first" WRITE
    [ "$(grep -c ":$(stat -c %i db.txt) " /proc/locks)" -eq 1 ]
    wait_for 5 waiting_for_input "$first"
    listed "$first" WRITE

    release first
    finished_alone first
    unlisted "$first"
    [ "$(cat db.txt)" = data ]
}

@test "exclusive then exclusive: the second blocks until the first is released, then goes on" {
    touch db.txt
    start_holder first exclusivehold
    wait_for 5 listed "$first" WRITE
    start_holder second exclusivehold
    wait_for 5 listed "$second" WRITE waiting
    run ! listed "$second" WRITE

    release first
    wait_for 5 listed "$second" WRITE
    wait_for 5 waiting_for_input "$second"
    release second
    finished_alone first
    finished_alone second
}

@test "exclusive then shared: the shared one is refused at once, says so, holds nothing" {
    touch db.txt
    start_holder writer exclusivehold
    wait_for 5 listed "$writer" WRITE
    start_holder reader sharedhold
    wait_for 5 test -s reader.err
    wait_for 5 waiting_for_input "$reader"
    unlisted "$reader"
    listed "$writer" WRITE

    release reader
    [ "$reader_status" -eq 0 ]
    printf %s "$lock_lines" | cmp - reader.out
    [ "$(cat reader.err)" = "Shared lock not granted: Resource temporarily unavailable" ]
    listed "$writer" WRITE

    release writer
    finished_alone writer
}

@test "shared then shared: both hold read locks at once" {
    echo data >db.txt
    start_holder first sharedhold
    wait_for 5 listed "$first" READ
    start_holder second sharedhold
    wait_for 5 listed "$second" READ
    listed "$first" READ

    release first
    release second
    finished_alone first
    finished_alone second
}

@test "shared then exclusive: the exclusive one waits until every reader has released" {
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
