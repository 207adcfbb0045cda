# shellcheck shell=bash
# The procinfo folder: envdump, pidtimer.

# What the tour knows of each program here (see lib/tour/show/scheduling.bash).
# shellcheck disable=SC2034 # read by lib/tour/programs.bash, lab.bash and questions.bash
declare -gA fact
fact[envdump.asks]="environ"
fact[pidtimer.asks]="ticks"

show_envdump() {
    heading envdump "prints its environment, one entry per line, and waits for Enter"
    # the command as the user types it: env -i clears PATH too
    # shellcheck disable=SC2154 # variant: variants.bash's
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
    note "a new process id each run; the ticks vary with caches and the processor's state"
}
