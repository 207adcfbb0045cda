#!/usr/bin/env bats
# Process information tools: envdump, pidtimer.

load helper

teardown() {
    # a timeout wrapper left by a failed envdump case: ending it ends envdump too
    if [[ -n ${waiter-} ]]; then
        kill "$waiter" 2>/dev/null || true
    fi
}

@test "envdump: each entry after a newline, in order, none after the last" {
    local envdump
    envdump=$(command -v envdump)

    env -i "$envdump" </dev/null >out
    [ ! -s out ]

    env -i GREETING=hello "$envdump" </dev/null >out
    printf '\nGREETING=hello' | cmp - out

    env -i ZETA='last letter' ALPHA= "$envdump" </dev/null >out
    printf '\nZETA=last letter\nALPHA=' | cmp - out
}

# waiting_on_input PID EXPECTED: succeeds once PID sits in a read of descriptor 0 (system call 0
# on x86-64) with EXPECTED, to the byte, already written to the file out.
waiting_on_input() {
    local call
    call=$(cut -d " " -f 1,2 "/proc/$1/syscall") || return 1
    [ "$call" = "0 0x0" ] && [ "$(cat out; echo x)" = "${2}x" ]
}

@test "envdump: shows the list, then waits for a character on standard input" {
    local envdump pid writer
    envdump=$(command -v envdump)
    mkfifo input
    exec {writer}<>input # held open here, so envdump sees no end of file until it is closed

    timeout 10 env -i ONE=1 TWO=2 "$envdump" <input >out 3>&- {writer}>&- &
    waiter=$!
    wait_for 5 grep -q . "/proc/$waiter/task/$waiter/children"
    pid=$(<"/proc/$waiter/task/$waiter/children")
    pid=${pid% }
    wait_for 5 waiting_on_input "$pid" $'\nONE=1\nTWO=2'

    printf x >&"$writer"
    local status=0
    wait "$waiter" || status=$?
    waiter=
    exec {writer}>&-
    [ "$status" -eq 0 ]
    printf '\nONE=1\nTWO=2' | cmp - out
}

@test "envdump: with no variables at all it still waits" {
    local envdump pid writer
    envdump=$(command -v envdump)
    mkfifo input
    exec {writer}<>input

    timeout 10 env -i "$envdump" <input >out 3>&- {writer}>&- &
    waiter=$!
    wait_for 5 grep -q . "/proc/$waiter/task/$waiter/children"
    pid=$(<"/proc/$waiter/task/$waiter/children")
    pid=${pid% }
    wait_for 5 waiting_on_input "$pid" ""

    exec {writer}>&- # end of file ends the wait as a character does
    local status=0
    wait "$waiter" || status=$?
    waiter=
    [ "$status" -eq 0 ]
    [ ! -s out ]
}

@test "pidtimer: two runs, two processes, each a positive tick count" {
    local format=$'^PID: ([1-9][0-9]*)\nTime taken : ([1-9][0-9]*) \n$'
    local first second
    pidtimer >first
    pidtimer >second
    first=$(cat first; echo x)
    second=$(cat second; echo x)
    [[ ${first%x} =~ $format ]]
    local first_pid=${BASH_REMATCH[1]}
    [[ ${second%x} =~ $format ]]
    [ "${BASH_REMATCH[1]}" != "$first_pid" ]
}
