# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# Processes: their state as /proc shows it, waiting for a state, starting the tour's own in the
# background, and the clean-up that stops every one of them and removes the scratch directory.

readonly ready_seconds=10 # the longest the tour waits for a program to reach a state

work=""             # the scratch directory, removed at the end
interrupted=false
started=()          # every background process the tour started, for the clean-up
open_fds=()         # descriptors the tour holds open; no program inherits them
# The demonstrations that run in the background while others are shown (orphanmaker,
# zombiemaker, stdinwait's time-out): their process ids, and the moments (in µs) and output
# sizes of what was seen of them.
declare -gA demo=()

# state_of PID: the process's state letter (R, S, Z...), nothing once it is gone.
state_of() {
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 0
    stat=${stat##*) }
    printf '%s' "${stat%% *}"
}

alive() {
    local state
    state=$(state_of "$1")
    [[ -n $state && $state != Z && $state != X ]]
}

gone() {
    ! alive "$1"
}

parent_of() {
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 0
    stat=${stat##*) }
    stat=${stat#* }
    printf '%s' "${stat%% *}"
}

first_child_of() {
    pgrep -P "$1" 2>/dev/null | head -n 1
}

has_child() {
    [[ -n $(first_child_of "$1") ]]
}

in_state() { # PID STATE
    [[ $(state_of "$1") == "$2" ]]
}

# wait_until SECONDS WHAT CMD...: polls CMD every 20 ms; the tour fails if WHAT does not
# happen within SECONDS.
wait_until() {
    local limit=$1 deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        ((SECONDS < deadline)) || fail "$what did not happen within $limit s"
        sleep 0.02
    done
}

now_us() {
    local now=$EPOCHREALTIME
    printf '%s' "${now/./}"
}

# seconds_between FROM_US TO_US: the time between two readings of now_us, as 10.0.
seconds_between() {
    local tenths=$((($2 - $1 + 50000) / 100000))
    printf '%d.%d' $((tenths / 10)) $((tenths % 10))
}

close_tour_fds() {
    local fd
    for fd in "${!open_fds[@]}"; do
        exec {fd}>&-
    done
}

# Descriptors inherited from whoever started the tour would show in the programs' tables
# (exclcreate's number, fdflood's count); bash's own 255 is closed at every exec anyway.
close_inherited_fds() {
    local entry fd
    for entry in "/proc/$$/fd/"*; do
        fd=${entry##*/}
        ((fd > 2 && fd < 255)) || continue
        exec {fd}>&-
    done
}

# spawn VAR CMD...: starts CMD (a program or one of the tour's functions) in the background,
# without the tour's own descriptors, and puts its process id in VAR (unless VAR is -).
spawn() {
    local var=$1
    shift
    (
        close_tour_fds
        # Ctrl-C is the tour's to handle: it stops what it started, and says so.
        trap '' INT
        if declare -F "$1" >/dev/null; then
            "$@"
            exit
        fi
        exec "$@"
    ) <&0 & # explicitly, or bash would give a background command /dev/null as its input
    started+=("$!")
    [[ $var == - ]] || printf -v "$var" '%s' "$!"
}

# stop SIGNAL PID...: sends SIGNAL to those of the tour's processes that still run, recognised
# by their working directory in the scratch directory, so that a reused process id is never hit.
stop() {
    local signal=$1 pid cwd
    shift
    for pid in "$@"; do
        cwd=$(readlink "/proc/$pid/cwd" 2>/dev/null) || continue
        if [[ -n $work && $cwd == "$work"* ]]; then
            kill "-$signal" "$pid" 2>/dev/null || true
        fi
    done
}

# program_names PID...: the names of those of PID... that are syslab programs still running.
program_names() {
    local pid name names=""
    for pid in "$@"; do
        alive "$pid" || continue
        name=$(cat "/proc/$pid/comm" 2>/dev/null) || continue
        [[ " ${programs[*]##*/} " == *" $name "* && " $names " != *" $name "* ]] || continue
        names+=${names:+ }$name
    done
    printf '%s' "$names"
}

cleanup() {
    local status=$? pid deadline=$((SECONDS + 2)) running=""
    trap - EXIT INT TERM
    if ((${#started[@]} > 0)); then
        running=$(program_names "${started[@]}")
        stop TERM "${started[@]}"
        for pid in "${started[@]}"; do
            while alive "$pid" && ((SECONDS < deadline)); do
                sleep 0.02
            done
        done
        stop KILL "${started[@]}"
    fi
    wait 2>/dev/null || true
    [[ -z $build_log ]] || rm -f "$build_log"
    close_tour_fds
    cd /
    if [[ -n $work ]] && ! $keep; then
        rm -rf "$work"
    fi
    if $interrupted; then
        # The terminal has echoed ^C: the line ends here.
        [[ -n $running ]] && running="stopped $running" || running="nothing was running"
        printf '\ntour: interrupted: %s; %s %s\n' "$running" \
            "$($keep && echo kept || echo removed)" "${work:-no scratch directory}"
    elif [[ -n $work ]] && $keep; then
        printf '\nThe scratch directory is kept: %s\n' "$work"
    fi
    exit "$status"
}

# note_end PID FILE: waits for PID to end, then writes the moment to FILE.
note_end() {
    while alive "$1"; do
        sleep 0.02
    done
    now_us >"$2"
}

# watch_end PID FILE: note_end in the background.
watch_end() {
    spawn - note_end "$1" "$2"
}
