#!/usr/bin/env bats
# Process information tools: envdump, pidtimer.

load helper

teardown() {
    # a timeout wrapper left by a failed envdump case: ending it ends envdump too
    if [[ -n ${waiter-} ]]; then
        kill "$waiter" 2>/dev/null || true
    fi
}

# waiting_on_input PID EXPECTED: succeeds once PID sits in a read of descriptor 0 (system call 0
# on x86-64) with EXPECTED, to the byte, already written to the file out.
waiting_on_input() {
    local call
    call=$(cut -d " " -f 1,2 "/proc/$1/syscall") || return 1
    [ "$call" = "0 0x0" ] && [ "$(cat out; echo x)" = "${2}x" ]
}

# envdump_waits INPUT EXPECTED [VAR=VALUE...]: starts envdump with only those variables, its
# input a fifo that this shell holds open (so no end of input until that is closed), waits
# until it has printed EXPECTED and sits in its read, then writes INPUT and closes the fifo.
# envdump must then end with status 0, having printed nothing more.
envdump_waits() {
    local input=$1 expected=$2 pid envdump writer status=0
    shift 2
    # Looked up here: a command substitution on the background line would be the first child.
    envdump=$(command -v envdump)
    rm -f fifo && mkfifo fifo
    exec {writer}<>fifo
    timeout 10 env -i "$@" "$envdump" <fifo >out 3>&- {writer}>&- &
    waiter=$!
    pid=$(wait_for 5 child_of "$waiter")
    wait_for 5 waiting_on_input "$pid" "$expected"
    printf %s "$input" >&"$writer"
    exec {writer}>&-
    wait "$waiter" || status=$?
    waiter=
    [ "$status" -eq 0 ] && [ "$(cat out; echo x)" = "${expected}x" ]
}

@test "envdump: each entry after a newline, in order and as it is, then a wait for a character" {
    require_native "env -i drops QEMU_LD_PREFIX, which the emulator needs"
    envdump_waits x $'\nONE=1\nTWO=2' ONE=1 TWO=2
    # With no variables at all it still waits; end of input ends the wait too.
    envdump_waits '' ''
    # Printed as they are, never as formats.
    envdump_waits '' $'\nZETA=last letter\nALPHA=\nB=x %s %d %n y' \
        ZETA='last letter' ALPHA= 'B=x %s %d %n y'
}

@test "pidtimer: its own pid and a positive tick count" {
    local format=$'^([0-9]+)\nPID: ([0-9]+)\nTime taken : [1-9][0-9]* \n$'
    # The shell prints its pid, then becomes pidtimer under the same one.
    bash -c 'echo $$; exec pidtimer' >out
    [[ $(cat out; echo x) =~ ${format%$}x ]]
    [ "${BASH_REMATCH[2]}" = "${BASH_REMATCH[1]}" ]
}
