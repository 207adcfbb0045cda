#!/usr/bin/env bats
# Scheduling tools: policyflip, rrrange, niceset.

load helper

@test "policyflip: an ordinary user is refused the switch and stays OTHER" {
    run --separate-stderr unprivileged policyflip
    [ "$status" -eq 0 ]
    [ "$output" = $'Current policy is OTHER\nCurrent policy is 0' ]
    [ "$stderr" = "" ]
}

@test "policyflip: with privilege OTHER becomes RR, FIFO becomes RR, RR becomes FIFO" {
    require_realtime
    local rows=(
        # started under        stdout
        ''                     $'Current policy is OTHER\nCurrent policy is 2'
        'chrt -f 10'           $'Current policy is FIFO\nCurrent policy is 2'
        'chrt -r 10'           $'Current policy is RR\nCurrent policy is 1'
    )
    local row launcher # not i, which run sets
    for ((row = 0; row < ${#rows[@]}; row += 2)); do
        read -ra launcher <<<"${rows[row]}"
        run --separate-stderr "${launcher[@]}" policyflip
        [ "$status" -eq 0 ]
        [ "$output" = "${rows[row + 1]}" ]
        [ "$stderr" = "" ]
    done
}

# rtprio_up_to LIMIT CMD...: runs CMD allowed real-time priorities up to LIMIT.
rtprio_up_to() {
    ulimit -r "$1" && "${@:2}"
}

@test "policyflip: an ordinary user allowed priority 10 switches to RR, allowed 9 does not" {
    require_realtime
    (ulimit -r 10) 2>/dev/null || skip "the real-time priority allowance cannot be raised here"
    run --separate-stderr rtprio_up_to 10 unprivileged policyflip
    [ "$output" = $'Current policy is OTHER\nCurrent policy is 2' ]
    run --separate-stderr rtprio_up_to 9 unprivileged policyflip
    [ "$output" = $'Current policy is OTHER\nCurrent policy is 0' ]
}

@test "policyflip: under batch or idle only the two-line error report, status 0" {
    local policy
    for policy in -b -i; do
        run --separate-stderr chrt "$policy" 0 policyflip
        [ "$status" -eq 0 ]
        [ "$output" = "" ]
        [ "$stderr" = $'Error while getting current policy\n: Success' ]
    done
}

@test "rrrange: Linux accepts round-robin priorities 1 to 99" {
    run --separate-stderr rrrange
    [ "$status" -eq 0 ]
    [ "$output" = "The max priority with RR Scheduling Policy is : 99
The min priority with RR Scheduling Policy is : 1" ]
    [ "$stderr" = "" ]
}

@test "niceset: anything but exactly one argument prints only the usage line" {
    run --separate-stderr niceset
    [ "$status" -eq 1 ]
    [ "$output" = "Please pass the integer value to set the priority in command line" ]
    [ "$stderr" = "" ]

    run --separate-stderr niceset 1 2
    [ "$status" -eq 1 ]
    [ "$output" = "Please pass the integer value to set the priority in command line" ]
}

# Odd spellings of the increment and refused decreases beyond these are in hostile.bats.
@test "niceset: adds the increment, which the kernel clamps at 19; a refused decrease is an error" {
    local start increment expected
    start=$(nice)
    for increment in 5 0 100; do
        expected=$((start + increment > 19 ? 19 : start + increment))
        run --separate-stderr niceset "$increment"
        [ "$status" -eq 0 ]
        [ "$output" = "Current priority of the running process is: $start

New priority of the running process is: $expected" ]
        [ "$stderr" = "" ]
    done

    # not a new value of -1
    run --separate-stderr unprivileged niceset -5
    [ "$status" -eq 1 ]
    [ "$output" = "Current priority of the running process is: $start" ]
    [ "$stderr" = "Not able to change the priority: Operation not permitted" ]
}

@test "niceset: with privilege a real new value of -1 is printed as such" {
    require_root "lowering the nice value"
    local to_zero=$((-$(nice)))
    run --separate-stderr nice -n "$to_zero" niceset -1
    [ "$status" -eq 0 ]
    local new=$'\n\nNew priority of the running process is:'
    [ "$output" = "Current priority of the running process is: 0$new -1" ]
    [ "$stderr" = "" ]

    run --separate-stderr nice -n "$to_zero" niceset -99999999999999999999
    [ "$status" -eq 0 ]
    [ "$output" = "Current priority of the running process is: 0$new -20" ]

    # From one end of the range the widest increment still reaches the other.
    run --separate-stderr nice -n "$((to_zero - 20))" niceset 100
    [ "$status" -eq 0 ]
    [ "$output" = "Current priority of the running process is: -20$new 19" ]

    # A failed write of the first line leaves errno set: -1 is still a new value.
    run --separate-stderr nice -n "$to_zero" bash -c 'exec niceset -1 >&-'
    [ "$status" -eq 0 ]
    [ "$stderr" = "" ]
}
