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
    run --separate-stderr policyflip
    [ "$status" -eq 0 ]
    [ "$output" = $'Current policy is OTHER\nCurrent policy is 2' ]
    [ "$stderr" = "" ]

    run --separate-stderr chrt -f 10 policyflip
    [ "$status" -eq 0 ]
    [ "$output" = $'Current policy is FIFO\nCurrent policy is 2' ]

    run --separate-stderr chrt -r 10 policyflip
    [ "$status" -eq 0 ]
    [ "$output" = $'Current policy is RR\nCurrent policy is 1' ]
}

@test "policyflip: under batch only the two-line error report, status 0" {
    run --separate-stderr chrt -b 0 policyflip
    [ "$status" -eq 0 ]
    [ "$output" = "" ]
    [ "$stderr" = $'Error while getting current policy\n: Success' ]

    run --separate-stderr chrt -i 0 policyflip
    [ "$status" -eq 0 ]
    [ "$output" = "" ]
    [ "$stderr" = $'Error while getting current policy\n: Success' ]
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

@test "niceset: adds the increment as atoi reads it; the kernel clamps at 19" {
    local start
    start=$(nice)
    # increment as typed, then the increment it stands for
    local cases=("5 5" "0 0" "-0 0" "+5 5" " 7 7" "3x 3" "abc 0" "100 100"
        "2147483648 100" "99999999999999999999 100")
    local case increment expected
    for case in "${cases[@]}"; do
        increment=${case% *}
        expected=$((start + ${case##* }))
        ((expected <= 19)) || expected=19
        run --separate-stderr niceset "$increment"
        [ "$status" -eq 0 ]
        [ "$output" = "Current priority of the running process is: $start

New priority of the running process is: $expected" ]
        [ "$stderr" = "" ]
    done
}

@test "niceset: a refused decrease is an error, not a new value of -1" {
    run --separate-stderr unprivileged niceset -5
    [ "$status" -eq 1 ]
    [ "$output" = "Current priority of the running process is: $(nice)" ]
    [ "$stderr" = "Not able to change the priority: Operation not permitted" ]

    run --separate-stderr unprivileged niceset -99999999999999999999
    [ "$status" -eq 1 ]
    [ "$stderr" = "Not able to change the priority: Operation not permitted" ]
}

@test "niceset: with privilege a real new value of -1 is printed as such" {
    require_root "lowering the nice value"
    local to_zero=$((-$(nice)))
    run --separate-stderr nice -n "$to_zero" niceset -1
    [ "$status" -eq 0 ]
    [ "$output" = $'Current priority of the running process is: 0\n\nNew priority of the running process is: -1' ]
    [ "$stderr" = "" ]

    run --separate-stderr nice -n "$to_zero" niceset -99999999999999999999
    [ "$status" -eq 0 ]
    [ "$output" = $'Current priority of the running process is: 0\n\nNew priority of the running process is: -20' ]
}
