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
    require_native "env -i drops QEMU_LD_PREFIX, which the emulator needs"
    local envdump
    envdump=$(command -v envdump)

    env -i "$envdump" </dev/null >out
    [ ! -s out ]

    env -i GREETING=hello "$envdump" </dev/null >out
    printf '\nGREETING=hello' | cmp - out

    # printed as they are, never as formats
    env -i ZETA='last letter' ALPHA= 'B=x %s %d %n y' "$envdump" </dev/null >out
    printf '\nZETA=last letter\nALPHA=\nB=x %%s %%d %%n y' | cmp - out
}

# waiting_on_input PID EXPECTED: succeeds once PID sits in a read of descriptor 0 (system call 0
# on x86-64) with EXPECTED, to the byte, already written to the file out.
waiting_on_input() {
    local call
    call=$(cut -d " " -f 1,2 "/proc/$1/syscall") || return 1
    [ "$call" = "0 0x0" ] && [ "$(cat out; echo x)" = "${2}x" ]
}

# start_envdump EXPECTED [VAR=VALUE...]: starts envdump with only those variables, its input a
# fifo that this shell holds open on $writer (so no end of input until that is closed), and
# waits until it has printed EXPECTED and sits in its read. $waiter is the time-out around it.
start_envdump() {
    local expected=$1 pid envdump
    shift
    # Looked up here: a command substitution on the background line would be the first child.
    envdump=$(command -v envdump)
    mkfifo input
    exec {writer}<>input
    timeout 10 env -i "$@" "$envdump" <input >out 3>&- {writer}>&- &
    waiter=$!
    pid=$(wait_for 5 child_of "$waiter")
    wait_for 5 waiting_on_input "$pid" "$expected"
}

# wait_envdump: waits for the envdump started above to end; sets $envdump_status.
wait_envdump() {
    envdump_status=0
    wait "$waiter" || envdump_status=$?
    waiter=
}

@test "envdump: shows the list, then waits for a character on standard input" {
    require_native "env -i drops QEMU_LD_PREFIX, which the emulator needs"
    start_envdump $'\nONE=1\nTWO=2' ONE=1 TWO=2
    printf x >&"$writer"
    wait_envdump
    [ "$envdump_status" -eq 0 ]
    printf '\nONE=1\nTWO=2' | cmp - out
}

@test "envdump: with no variables at all it still waits; end of input ends the wait too" {
    require_native "env -i drops QEMU_LD_PREFIX, which the emulator needs"
    start_envdump ''
    exec {writer}>&-
    wait_envdump
    [ "$envdump_status" -eq 0 ]
    [ ! -s out ]
}

@test "pidtimer: two runs, two processes, each its own pid and a positive tick count" {
    local format=$'^([0-9]+)\nPID: ([0-9]+)\nTime taken : [1-9][0-9]* \n$'
    local run first_pid
    for run in first second; do
        # The shell prints its pid, then becomes pidtimer under the same one.
        bash -c 'echo $$; exec pidtimer' >"$run"
        [[ $(cat "$run"; echo x) =~ ${format%$}x ]]
        [ "${BASH_REMATCH[2]}" = "${BASH_REMATCH[1]}" ]
        [ "${BASH_REMATCH[2]}" != "${first_pid-}" ]
        first_pid=${BASH_REMATCH[2]}
    done
}
