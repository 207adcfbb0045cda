# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# Processes: their state as /proc shows it, read with builtins; waiting for a state with naps
# that fork nothing; starting the tour's own in the background; and the clean-up that stops
# every one of them and removes the scratch directory, whatever signal comes next.

readonly ready_seconds=10 # the longest the tour waits for a program to reach a state

work=""             # the scratch directory, removed at the end
tour_dir=""         # $work/.tour: the tour's own files (outputs, screens, keyboards)
nap_fifo=""         # a FIFO nobody writes: reading it with a time-out is a sleep without a fork
work_file_system="" # the scratch directory's file system: its type and block size
interrupted=""      # the signal that ended the tour, if one did
started=()          # every background process the tour started, for the clean-up
open_fds=()         # descriptors the tour holds open; no program inherits them
# The demonstrations that run in the background while others are shown (orphanmaker,
# zombiemaker, stdinwait's time-out): their process ids, and the moments (in µs) and output
# sizes of what was seen of them.
declare -gA demo=()

# room_enough DIR: the tour fails, saying so, when the disk that holds DIR has less than the
# megabyte its files take: the programs' files and views would come out empty. Keeps the file
# system's type and block size in work_file_system.
room_enough() {
    local free size type
    read -r free size type < <(stat -f -c '%a %S %T' "$1")
    work_file_system="$type, whose blocks are $size bytes"
    ((free * size >= 1024 * 1024)) ||
        fail "the disk that holds $1 is full: $((free * size / 1024)) KiB free, and the tour needs a megabyte"
}

# nap SECONDS: sleeps, without starting a process.
nap() {
    read -r -t "$1" _ <>"$nap_fifo" || true
}

# stat_field VAR PID N: field N (3 the state, 4 the parent) of /proc/PID/stat into VAR,
# empty once the process is gone.
stat_field() {
    local -n field_into=$1
    local stat fields
    field_into=""
    { read -r stat <"/proc/$2/stat"; } 2>/dev/null || return 0
    split fields "${stat##*) }"
    field_into=${fields[$3 - 3]}
}

# alive PID: whether PID runs (not gone, not a zombie).
alive() {
    local state
    stat_field state "$1" 3
    [[ -n $state && $state != Z && $state != X ]]
}

gone() {
    ! alive "$1"
}

in_state() { # PID STATE
    local state
    stat_field state "$1" 3
    [[ $state == "$2" ]]
}

# first_child VAR PID: PID's oldest living child into VAR, empty while it has none.
first_child() {
    local -n child_into=$1
    local children=""
    { read -r children <"/proc/$2/task/$2/children"; } 2>/dev/null || true
    child_into=${children%% *}
}

has_child() {
    local child
    first_child child "$1"
    [[ -n $child ]]
}

# nap_growing INDEX: naps 1, 2, 4, 8 ms, then 16 ms, one more step at each call with the same
# INDEX variable (0 to begin): what comes at once is seen at once (fdflood spins meanwhile),
# what takes longer costs few looks.
nap_growing() {
    local -n nap_index=$1
    local naps=(0.001 0.002 0.004 0.008 0.016)
    nap "${naps[nap_index]}"
    ((nap_index == ${#naps[@]} - 1)) || nap_index=$((nap_index + 1))
}

# wait_until SECONDS WHAT CMD...: checks CMD until it holds, with growing naps between; the
# tour fails if WHAT does not happen within SECONDS.
wait_until() {
    local limit=$1 deadline=$((SECONDS + $1)) what=$2 step=0
    shift 2
    until "$@"; do
        ((SECONDS < deadline)) || fail "$what did not happen within $limit s"
        nap_growing step
    done
}

# now_us VAR: the time in µs into VAR.
now_us() {
    printf -v "$1" '%s' "${EPOCHREALTIME/./}"
}

# seconds_between VAR FROM_US TO_US: the time between two readings of now_us, as 10.0.
seconds_between() {
    local tenths=$((($3 - $2 + 50000) / 100000))
    printf -v "$1" '%d.%d' $((tenths / 10)) $((tenths % 10))
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
# without the tour's own descriptors, and puts its process id in VAR (unless VAR is -). Each
# runs in a process group of its own (the tour runs with job control), so Ctrl-C reaches the
# tour alone, which stops what it started and says so; no program inherits an ignored signal.
spawn() {
    local var=$1
    shift
    set -m # for the process group, only while it starts: no job reports
    (
        trap - INT TERM HUP EXIT
        close_tour_fds
        if declare -F "$1" >/dev/null; then
            "$@"
            exit
        fi
        exec "$@"
    ) <&0 & # explicitly, or bash would give a background command /dev/null as its input
    set +m
    started+=("$!")
    [[ $var == - ]] || printf -v "$var" '%s' "$!"
}

# stop SIGNAL PID...: sends SIGNAL to those of the tour's processes that still run, recognised
# by their working directory in the scratch directory, so that a reused process id is never hit.
stop() {
    local signal=$1 pid
    shift
    [[ -n $work ]] || return 0
    for pid in "$@"; do
        [[ -e /proc/$pid ]] || continue
        # the scratch directory, or flood/ in it
        if [[ /proc/$pid/cwd -ef $work || /proc/$pid/cwd/.. -ef $work ]]; then
            kill "-$signal" "$pid" 2>/dev/null || true
        fi
    done
}

# program_names VAR PID...: the names of those of PID... that are syslab programs still
# running, into VAR.
program_names() {
    local -n names_into=$1
    local pid name
    shift
    names_into=""
    for pid in "$@"; do
        alive "$pid" || continue
        { read -r name <"/proc/$pid/comm"; } 2>/dev/null || continue
        [[ " ${programs[*]##*/} " == *" $name "* && " $names_into " != *" $name "* ]] || continue
        names_into+=${names_into:+ }$name
    done
}

# on_signal NAME STATUS: the tour ends on a signal; the clean-up runs to its end whatever
# signal comes next.
on_signal() {
    trap '' INT TERM HUP
    interrupted=$1
    exit "$2"
}

cleanup() {
    local status=$? pid deadline=$((SECONDS + 2)) running=""
    trap '' INT TERM HUP
    trap - EXIT
    set +e
    # A signal that came during `IFS= read` leaves that IFS in force here.
    IFS=$' \t\n'
    if ((${#started[@]} > 0)); then
        program_names running "${started[@]}"
        stop TERM "${started[@]}"
        for pid in "${started[@]}"; do
            while alive "$pid" && ((SECONDS < deadline)); do
                nap 0.02
            done
        done
        stop KILL "${started[@]}"
    fi
    wait 2>/dev/null
    close_tour_fds
    cd /
    if [[ -n $work ]] && ! ${opt[keep]}; then
        rm -rf "$work"
    fi
    # The terminal may be gone (SIGHUP): what cannot be said is not said.
    if [[ -n $interrupted ]]; then
        # After Ctrl-C the terminal has echoed ^C, perhaps within a coloured line: the line
        # ends here, in the terminal's own colours.
        printf '%s' "$style_reset" 2>/dev/null
        [[ -n $running ]] && running="stopped $running" || running="nothing was running"
        printf '\ntour: %s: %s; %s %s\n' \
            "$([[ $interrupted == INT ]] && echo interrupted || echo "ended by SIG$interrupted")" \
            "$running" "$(${opt[keep]} && echo kept || echo removed)" "${work:-no scratch directory}" \
            2>/dev/null
    elif [[ -n $work ]] && ${opt[keep]}; then
        printf '\nThe scratch directory is kept: %s\n' "$work" 2>/dev/null
    fi
    exit "$status"
}

# note_end PID FILE: waits for PID to end, then writes the moment to FILE.
note_end() {
    local now
    while alive "$1"; do
        nap 0.02
    done
    now_us now
    printf '%s\n' "$now" >"$2"
}

# watch_end PID FILE: note_end in the background.
watch_end() {
    spawn - note_end "$1" "$2"
}
