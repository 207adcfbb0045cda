# shellcheck shell=bash
# The scheduling folder: policyflip, rrrange, niceset.

# The numbers each show file draws for its own programs (lib/tour/variants.bash), read by
# the views and the questions.
# shellcheck disable=SC2034 # variant: variants.bash's map
declare -gA variant

# The numbers of niceset (lib/tour/variants.bash draws them, in its order): the nice value it
# starts at, the first increment, and the second, which must not repeat the first, which would
# show its answer.
numbers_niceset() {
    local start raise add
    draw start 1 7 0
    draw raise 1 9 5
    # the second run's start and addition pass the clamp at 19, whatever the numbers
    draw add 20 30 100
    add=$((add - start))
    variant[niceset]=niceset
    ((start == 0)) || variant[niceset]="nice -n $start niceset"
    variant[nice_start]=$start
    variant[nice_raise]=$raise
    variant[nice_raised]=$((start + raise))
    variant[nice_add]=$add
    variant[nice_new]=$((start + add > 19 ? 19 : start + add))
}

policy_name() {
    case $1 in
    0) printf 'SCHED_OTHER' ;;
    1) printf 'SCHED_FIFO' ;;
    2) printf 'SCHED_RR' ;;
    *) printf 'policy %s' "$1" ;;
    esac
}

show_policyflip() {
    heading policyflip "its scheduling policy, then a request for another real-time one at priority 10"
    ask policyflip switch
    typed policyflip
    # shellcheck disable=SC2154 # commands: commands.bash's state
    local last=${commands[out]%$'\n'} who here
    last=${last##*$'\n'}
    who_asks who
    case $last in
    "Current policy is 0")
        here="0: the kernel refused, as the programs run as $who"
        [[ $who != *" with "* ]] ||
            here="0: the programs run as $who, yet the kernel refused: this cpu control group has no real-time runtime to give"
        ;;
    "Current policy is 2") here="2: the kernel granted the switch, as the programs run as $who" ;;
    *) here="${last##* }" ;;
    esac
    # An ordinary user may still have a real-time allowance (ulimit -r).
    ((EUID == 0)) || [[ $who == *" with "* ]] || here+=" (ulimit -r is $(ulimit -r))"
    answer policyflip switch "$here"
    case $last in
    "Current policy is 0") note "still $(policy_name 0): the kernel refused the switch, silently" ;;
    "Current policy is "*) note "now $(policy_name "${last##* }"): the kernel granted the switch" ;;
    esac
    # chrt -f 10 needs what policyflip's switch to round-robin at 10 needed
    if [[ $last == "Current policy is 2" ]]; then
        ask policyflip realtime
        typed "chrt -f 10 policyflip" "chrt -r 10 policyflip"
        observed_in policyflip realtime '^Current policy is (-?[0-9]+)$'
        answer policyflip realtime
        note "FIFO moves to round-robin (2), round-robin to FIFO (1)"
    else
        local reason="real-time policies need CAP_SYS_NICE (or an rtprio limit) here"
        [[ $who != *" with "* ]] || reason="this cpu control group has no real-time runtime to give"
        note "chrt -f 10 / chrt -r 10 left out: $reason"
        left_out policyflip realtime "chrt could not start a real-time policy"
    fi
}

show_rrrange() {
    heading rrrange "the range of priorities the round-robin policy accepts"
    ask rrrange range
    typed rrrange
    observed_in rrrange range '^The max priority with RR Scheduling Policy is : (-?[0-9]+)$'
    observe "chrt -m"
    answer rrrange range
}

show_niceset() {
    heading niceset "adds its argument to its own nice value and prints the value before and after"
    ask niceset clamp
    typed "${variant[niceset]} ${variant[nice_raise]}" "${variant[niceset]} ${variant[nice_add]}"
    observed_in niceset clamp '^New priority of the running process is: (-?[0-9]+)$'
    answer niceset clamp
    note "the kernel keeps nice values between -20 and 19"
    ask niceset lower
    typed "niceset -5"
    local who autogroup
    who_asks who
    autogroup_said autogroup
    if [[ ${commands[status]} == 0 ]]; then
        answer niceset lower "granted, as the programs run as $who$( ((EUID == 0)) || has_capability 23 ||
            echo " and ulimit -e is $(ulimit -e)"). Besides, $autogroup."
    else
        answer niceset lower "refused, as the programs run as $who. Besides, $autogroup."
    fi
}
