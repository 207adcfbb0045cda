# shellcheck shell=bash
# The procinfo folder: envdump, pidtimer.

# The numbers each show file draws for its own programs (lib/tour/variants.bash), read by
# the views and the questions.
# shellcheck disable=SC2034 # variant: variants.bash's map
declare -gA variant

# What envdump may be given, and its numbers (lib/tour/variants.bash draws them, in its order):
# how many of these variables.
envdump_variables=(FRUIT=apple COLOUR=green SHAPE=round TASTE=sweet SEASON=autumn SIZE=small)

numbers_envdump() {
    local count
    draw count 1 ${#envdump_variables[@]} 2
    variant[envdump_count]=$count
    variant[envdump_variables]=${envdump_variables[*]:0:count}
    variant[envdump_first]=${envdump_variables[0]}
    variant[envdump_last]=${envdump_variables[count - 1]}
    listed "variant[envdump_listed]" "${envdump_variables[@]:0:count}"
}

show_envdump() {
    heading envdump "prints its environment, one entry per line, and waits for Enter"
    # the command as the user types it: env -i clears PATH too
    local cmdline="env -i ${variant[envdump_variables]} \"\$(command -v envdump)\"" path
    printf -v path '%q' "$(command -v envdump)"
    command_line "" "$cmdline"
    pty_start environ "env -i ${variant[envdump_variables]} $path"
    [[ ${variant[envdump_count]} == 1 ]] || pty_wait_for environ "${variant[envdump_first]}"
    pty_wait_for environ "${variant[envdump_last]}" "" # the last entry has no newline
    pty_show environ
    # shellcheck disable=SC2016 # the command as the user types it
    note 'the second terminal finds its process id with: pgrep -n -u "$USER" envdump'
    ask envdump environ
    # shellcheck disable=SC2154 # pty: pty.bash's state
    observe "tr '\\0' '\\n' </proc/${pty[environ.program]}/environ"
    local entries
    mapfile -d '' entries <"/proc/${pty[environ.program]}/environ"
    observed envdump environ "${#entries[@]}"
    answer envdump environ
    note "Enter:"
    pty_type environ $'\n'
    pty_finish environ
}

show_pidtimer() {
    heading pidtimer "how many ticks of the processor's counter one getpid call takes"
    ask pidtimer ticks
    ask pidtimer again
    typed pidtimer pidtimer
    # shellcheck disable=SC2154 # commands: commands.bash's state
    local ticks=${commands[out]##*Time taken : } machine
    ticks=${ticks%%[!0-9]*}
    processor_said machine
    if [[ $HOSTTYPE == aarch64 ]]; then
        answer pidtimer ticks "$ticks ticks of the generic timer, which counts at tens of MHz"
    else
        answer pidtimer ticks "$ticks ticks: $machine. A physical machine without page-table \
isolation counts some hundreds to a few thousand; a virtual machine with it, tens of thousands."
    fi
    answer pidtimer again
    note "a new process id each run; the ticks vary with caches and the processor's state"
}
