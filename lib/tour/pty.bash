# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# A program on a terminal of its own (a pseudo-terminal, through script), so that its lines
# show as it prints them, while the tour types at its keyboard, a FIFO. Each such terminal has
# a NAME; pty[NAME.program] is the program's process id, and pty[NAME.script] the script's,
# pty[NAME.command] its command line, pty[NAME.keys] the descriptor of its keyboard and
# pty[NAME.shown] how much of its screen has been shown.
declare -gA pty=()

# pty_start NAME COMMAND: starts it.
pty_start() {
    local name=$1 cmdline=$2 keys fd script_pid
    keys=$(scratch "$name.keys")
    mkfifo "$keys"
    exec {fd}<>"$keys"
    open_fds[fd]=1
    pty[$name.keys]=$fd
    pty[$name.shown]=0
    pty[$name.command]=$cmdline
    spawn script_pid env SHELL=/bin/sh script -qefc "exec $cmdline" /dev/null \
        <"$keys" >"$(scratch "$name.screen")" 2>&1
    pty[$name.script]=$script_pid
    wait_until "$ready_seconds" "${cmdline%% *} starting" has_child "$script_pid"
    pty[$name.program]=$(first_child_of "$script_pid")
    started+=("${pty[$name.program]}")
}

# pty_shows NAME TEXT: whether the terminal shows TEXT at the end of a line.
pty_shows() {
    grep -q -F -- "$2"$'\r' "$(scratch "$1.screen")"
}

# pty_wait_for NAME TEXT: waits until the terminal shows TEXT; the tour fails if the program
# ends first or takes too long.
pty_wait_for() {
    local deadline=$((SECONDS + ready_seconds))
    until pty_shows "$1" "$2"; do
        if gone "${pty[$1.script]}" || ((SECONDS >= deadline)); then
            pty_show "$1"
            fail "${pty[$1.command]%% *} did not print \"$2\" (within $ready_seconds s)"
        fi
        sleep 0.02
    done
}

# pty_show NAME: what the terminal showed since the last look.
pty_show() {
    local screen
    screen=$(scratch "$1.screen")
    show_output "$screen" "${pty[$1.shown]}"
    pty[$1.shown]=$(stat -c %s "$screen")
}

pty_type() {
    printf '%s' "$2" >&"${pty[$1.keys]}"
}

# pty_finish NAME: waits for the program to end and shows the rest of its terminal.
pty_finish() {
    local name=$1 status=0 fd=${pty[$1.keys]}
    wait_until "$ready_seconds" "${pty[$name.command]%% *} ending" gone "${pty[$name.script]}"
    wait "${pty[$name.script]}" || status=$?
    exec {fd}>&-
    unset "open_fds[fd]"
    pty_show "$name"
    ((status == 0)) || note "exit status $status"
}
