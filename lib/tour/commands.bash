# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# Command lines run in the scratch directory as a user types them, in the first terminal or
# in a second one that watches, and under strace where this machine allows it.

# The tools that may be missing: "yes" or "no" once looked at.
declare -gA usable=()

last_out="" # what the last command line printed

# typed_at PROMPT COMMAND: runs a command line in the scratch directory as a user types it at
# the terminal PROMPT names (none: the first), and shows it, its output (standard output and
# error together) and, in the first terminal, its exit status when not 0. The output stays in
# $last_out, the status in $last_status.
typed_at() {
    local prompt=$1 cmdline=$2
    command_line "$prompt" "$cmdline"
    # Through a pipe, not a file: on a full disk the output still arrives, with the programs'
    # own reports of what they could not write.
    local pid words plain='[][A-Za-z0-9_./%:,=+-]+' quiet=""
    last_status=0 last_out=""
    # A plain command (words and no shell syntax, its output perhaps sent to /dev/null) is
    # started as it is; others through sh: they are plain POSIX shell, and sh starts in less
    # time than bash.
    if [[ $cmdline =~ ^($plain( $plain)*)( >/dev/null)?$ ]]; then
        split words "${BASH_REMATCH[1]}"
        quiet=${BASH_REMATCH[3]}
    else
        words=(sh -c "$cmdline")
    fi
    IFS= read -r -d '' last_out < <(
        close_tour_fds
        [[ -z $quiet ]] || exec "${words[@]}" </dev/null 2>&1 >/dev/null
        exec "${words[@]}" </dev/null 2>&1
    ) || true
    pid=$!
    wait "$pid" || last_status=$?
    show_text "$last_out"
    ((last_status == 0)) || [[ -n $prompt ]] || note "exit status $last_status"
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
    if [[ -z ${usable[strace]:-} ]]; then
        usable[strace]=no
        if command -v strace >/dev/null && strace -qq -e trace=none true 2>/dev/null; then
            usable[strace]=yes
        fi
    fi
    [[ ${usable[strace]} == yes ]]
}

# look_usable: whether syslab-look, which draws what the kernel holds, came with the programs
# and is the one a command line finds.
look_usable() {
    if [[ -z ${usable[look]:-} ]]; then
        usable[look]=no
        if [[ -x $bin_dir/syslab-look && $(type -P syslab-look) -ef $bin_dir/syslab-look ]]; then
            usable[look]=yes
        fi
    fi
    [[ ${usable[look]} == yes ]]
}

# traced COMMAND: observes COMMAND under strace. LeakSanitizer cannot work under ptrace,
# so a sanitized program is told not to try.
traced() {
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 observe "$1"
}
