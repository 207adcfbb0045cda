# shellcheck shell=bash
# A program on a terminal of its own (a pseudo-terminal, through script), so that its lines
# show as it prints them, while the tour types at its keyboard, a FIFO. Each such terminal has
# a NAME; pty[NAME.program] is the program's process id, pty[NAME.script] the script's,
# pty[NAME.command] its command line, pty[NAME.keys] the descriptor of its keyboard,
# pty[NAME.keyboard] the keyboard's FIFO, pty[NAME.screen] a descriptor reading its screen (a
# file script writes) where the last look ended, and pty[NAME.unseen] what was read from it but
# not yet shown.
declare -gA pty=()

# The keyboards: FIFOs that pty_init makes in the tour's directory; a terminal takes the first
# free one and gives it back when its program has ended. At most three terminals run at once
# (sharedhold's two readers and the writer waiting for them).
pty_keyboards=(keys.1 keys.2 keys.3)

# pty_init: the keyboards.
pty_init() {
    mkfifo "${pty_keyboards[@]/#/"${process[dir]}"/}"
}

# pty_script COMMAND: script running COMMAND through sh on a terminal of its own.
pty_script() {
    SHELL=/bin/sh exec script -qefc "exec $1" /dev/null
}

# pty_start NAME COMMAND: starts it.
pty_start() {
    local name=$1 cmdline=$2 keys fd script_pid program
    ((${#pty_keyboards[@]} > 0)) || fail "no keyboard left for ${cmdline%% *}"
    pty[$name.keyboard]=${pty_keyboards[0]}
    pty_keyboards=("${pty_keyboards[@]:1}")
    keys=${process[dir]}/${pty[$name.keyboard]}
    exec {fd}<>"$keys"
    hold_fd "$fd"
    pty[$name.keys]=$fd
    pty[$name.unseen]=""
    pty[$name.command]=$cmdline
    : >"${process[dir]}/$name.screen"
    exec {fd}<"${process[dir]}/$name.screen"
    hold_fd "$fd"
    pty[$name.screen]=$fd
    spawn script_pid pty_script "$cmdline" <"$keys" >"${process[dir]}/$name.screen" 2>&1
    pty[$name.script]=$script_pid
    # shellcheck disable=SC2154 # ready_seconds: process.bash's
    wait_until "$ready_seconds" "${cmdline%% *} starting" has_child "$script_pid"
    first_child program "$script_pid"
    pty[$name.program]=$program
    track "$program"
}

# pty_read NAME: adds what the terminal showed since the last read to pty[NAME.unseen].
pty_read() {
    local more=""
    IFS= read -r -d '' -u "${pty[$1.screen]}" more || true
    pty[$1.unseen]+=$more
}

# pty_shows NAME TEXT: whether the terminal has shown TEXT (unseen yet), followed by END.
pty_shows() {
    pty_read "$1"
    [[ ${pty[$1.unseen]} == *"$2$3"* ]]
}

# pty_wait_for NAME TEXT [END]: waits until the terminal shows TEXT at the end of a line (or
# followed by END); the tour fails if the program ends first or takes too long.
pty_wait_for() {
    local deadline=$((SECONDS + ready_seconds)) looks=0
    until pty_shows "$1" "$2" "${3-$'\r'}"; do
        if gone "${pty[$1.script]}" || ((SECONDS >= deadline)); then
            pty_show "$1"
            fail "${pty[$1.command]%% *} did not print \"$2\" (within $ready_seconds s)"
        fi
        nap_growing $((looks++))
    done
}

# pty_show NAME: what the terminal showed since the last look.
pty_show() {
    pty_read "$1"
    show_text "${pty[$1.unseen]}"
    pty[$1.unseen]=""
}

pty_type() {
    printf '%s' "$2" >&"${pty[$1.keys]}"
}

# pty_finish NAME: waits for the program to end and shows the rest of its terminal.
pty_finish() {
    local name=$1 status=0 fd
    wait_until "$ready_seconds" "${pty[$name.command]%% *} ending" gone "${pty[$name.script]}"
    wait "${pty[$name.script]}" || status=$?
    pty_show "$name"
    for fd in "${pty[$name.keys]}" "${pty[$name.screen]}"; do
        release_fd "$fd"
    done
    pty_keyboards+=("${pty[$name.keyboard]}")
    ((status == 0)) || note "exit status $status"
}
