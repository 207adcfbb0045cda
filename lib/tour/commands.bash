# shellcheck shell=bash
# Command lines run in the scratch directory as a user types them, in the first terminal or
# in a second one that watches, and under strace where this machine allows it.

# This part's state: commands[out] and commands[status], what the last command line printed
# and its exit status; commands[strace] and commands[look], "yes" or "no" once strace and
# syslab-look have been tried.
declare -gA commands=([out]="" [status]=0 [strace]="" [look]="")

# typed_at PROMPT COMMAND: runs a command line in the scratch directory as a user types it at
# the terminal PROMPT names (none: the first), and shows it, its output (standard output and
# error together) and, in the first terminal, its exit status when not 0. The output stays in
# commands[out], the status in commands[status].
typed_at() {
    local prompt=$1 cmdline=$2
    command_line "$prompt" "$cmdline"
    # Through a pipe, not a file: on a full disk the output still arrives, with the programs'
    # own reports of what they could not write.
    local pid words plain='[][A-Za-z0-9_./%:,=+-]+' quiet="" out="" status=0
    # A plain command (words and no shell syntax, its output perhaps sent to /dev/null) is
    # started as it is; others through sh: they are plain POSIX shell, and sh starts in less
    # time than bash.
    if [[ $cmdline =~ ^($plain( $plain)*)( >/dev/null)?$ ]]; then
        split words "${BASH_REMATCH[1]}"
        quiet=${BASH_REMATCH[3]}
    else
        words=(sh -c "$cmdline")
    fi
    IFS= read -r -d '' out < <(
        close_tour_fds
        [[ -z $quiet ]] || exec "${words[@]}" </dev/null 2>&1 >/dev/null
        exec "${words[@]}" </dev/null 2>&1
    ) || true
    pid=$!
    wait "$pid" || status=$?
    commands[out]=$out commands[status]=$status
    show_text "$out"
    ((status == 0)) || [[ -n $prompt ]] || note "exit status $status"
}

# typed COMMAND...: each command line in turn, in the first terminal.
typed() {
    local cmdline
    for cmdline in "$@"; do
        typed_at "" "$cmdline"
    done
}

# observe COMMAND: the command line typed in a second terminal.
observe() {
    typed_at "second terminal" "$1"
}

# strace_usable: whether this machine lets the tour trace its own programs.
strace_usable() {
    if [[ -z ${commands[strace]} ]]; then
        commands[strace]=no
        if command -v strace >/dev/null && strace -qq -e trace=none true 2>/dev/null; then
            commands[strace]=yes
        fi
    fi
    [[ ${commands[strace]} == yes ]]
}

# look_usable: whether syslab-look, which draws what the kernel holds, came with the programs
# and is the one a command line finds.
look_usable() {
    if [[ -z ${commands[look]} ]]; then
        commands[look]=no
        # shellcheck disable=SC2154 # programs_bin: programs.bash's
        if [[ -x $programs_bin/syslab-look && $(type -P syslab-look) -ef $programs_bin/syslab-look ]]; then
            commands[look]=yes
        fi
    fi
    [[ ${commands[look]} == yes ]]
}

# traced COMMAND: observes COMMAND under strace. LeakSanitizer cannot work under ptrace,
# so a sanitized program is told not to try.
traced() {
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 observe "$1"
}
