#!/usr/bin/env bats
# Scheduling tools: policyflip, rrrange, niceset.

load helper

# asleep_switched PID: PID sleeps under a policy other than OTHER; sets $fields to its stat.
asleep_switched() {
    local stat
    stat=$(cat "/proc/$1/stat") || return 1
    read -ra fields <<<"${stat##*) }"
    [[ ${fields[0]} == S && ${fields[38]} != 0 ]]
}

@test "policyflip: OTHER or FIFO becomes RR at priority 10, RR becomes FIFO; others are refused" {
    local error=$'Error while getting current policy\n: Success'
    # Batch and idle are none of the three; an ordinary user is refused the switch silently.
    outcome 0 '' "$error" chrt -b 0 policyflip
    outcome 0 '' "$error" chrt -i 0 policyflip
    outcome 0 $'Current policy is OTHER\nCurrent policy is 0' '' unprivileged policyflip

    require_realtime
    outcome 0 $'Current policy is OTHER\nCurrent policy is 2' '' policyflip
    outcome 0 $'Current policy is FIFO\nCurrent policy is 2' '' chrt -f 10 policyflip
    outcome 0 $'Current policy is RR\nCurrent policy is 1' '' chrt -r 10 policyflip

    # Its report meets a full pipe, so it sleeps in the write at exit under the policy and
    # priority it took, for its stat file to show (fields 41 and 40).
    mkfifo report
    local pipe pid fields
    exec {pipe}<>report
    dd if=/dev/zero of="/dev/fd/$pipe" oflag=nonblock bs=4096 2>/dev/null || true
    timeout 10 policyflip >report &
    pid=$(wait_for 5 child_of $!)
    wait_for 5 asleep_switched "$pid" || true
    kill "$pid"
    exec {pipe}>&-
    [ "${fields[37]} ${fields[38]}" = "10 2" ]
}

@test "rrrange: Linux accepts round-robin priorities 1 to 99" {
    outcome 0 "The max priority with RR Scheduling Policy is : 99
The min priority with RR Scheduling Policy is : 1" '' rrrange
}

# Odd spellings of the increment and refused decreases beyond these are in hostile.bats.
@test "niceset: adds its one argument, clamped at 19 by the kernel; a new -1 is no refusal" {
    local usage="Please pass the integer value to set the priority in command line"
    outcome 1 "$usage" '' niceset
    outcome 1 "$usage" '' niceset 1 2

    local start increment now='Current priority of the running process is:'
    local new=$'\n\nNew priority of the running process is:'
    start=$(nice)
    for increment in 5 0 100; do
        outcome 0 "$now $start$new $((start + increment > 19 ? 19 : start + increment))" '' \
            niceset "$increment"
    done
    outcome 1 "$now $start" 'Not able to change the priority: Operation not permitted' \
        unprivileged niceset -5
    # both streams on one file: the current value comes before the error line
    local status=0
    unprivileged niceset -5 >both 2>&1 || status=$?
    [ "$status $(cat both)" = "1 $now $start"$'\n''Not able to change the priority: Operation not permitted' ]

    require_root "lowering the nice value"
    capable 23 || skip "lowering the nice value needs CAP_SYS_NICE, which this root lacks"
    local to_zero=$((-start))
    outcome 0 "$now 0$new -1" '' nice -n "$to_zero" niceset -1
    outcome 0 "$now 0$new -20" '' nice -n "$to_zero" niceset -99999999999999999999
    # From one end of the range the widest increment still reaches the other.
    outcome 0 "$now -20$new 19" '' nice -n "$((to_zero - 20))" niceset 100
    # A failed write of the first line leaves errno set: -1 is still a new value.
    outcome 0 '' '' nice -n "$to_zero" bash -c 'exec niceset -1 >&-'
}
