# shellcheck shell=bash
# Processes: their state as /proc shows it, read with builtins; waiting for a state with naps
# that fork nothing; starting the tour's own in the background; and the clean-up that stops
# every one of them and removes the scratch directory, whatever signal comes next.

# shellcheck disable=SC2034 # read by pty.bash and the show files
readonly ready_seconds=10 # the longest the tour waits for a program to reach a state

# This part's state, set up by process_init: process[work] the scratch directory, removed at
# the end; process[dir], $work/.tour, the tour's own files (outputs, screens, keyboards);
# process[nap], a FIFO nobody writes: reading it with a time-out is a sleep without a fork;
# process[file_system], the scratch directory's file system, its type and block size;
# process[interrupted], the signal that ended the tour, if one did.
declare -gA process=([work]="" [dir]="" [nap]="" [file_system]="" [interrupted]="")
process_started=() # every background process the tour started, for the clean-up
process_fds=()     # descriptors the tour holds open; no program inherits them
# The signals that end the tour, and the status a shell gives for each (128 and its number):
# each is trapped, so that the clean-up runs whichever comes.
readonly ending_signals=(INT TERM HUP USR1 USR2 ALRM XCPU XFSZ VTALRM PROF PIPE)
readonly ending_statuses=(130 143 129 138 140 142 152 153 154 155 141)

# process_init: the scratch directory, with room enough, and the tour's own directory in it;
# where no one else can rename the scratch directory, or a directory above it, away.
process_init() {
    local parent
    parent=$(cd -P -- "${TMPDIR:-/tmp}" 2>/dev/null && pwd -P) ||
        fail "TMPDIR=${TMPDIR:-} is not a directory"
    trusted --scratch "${TMPDIR:+TMPDIR=$TMPDIR}" "$parent"
    process[work]=$(mktemp -d -p "$parent" syslab-tour.XXXXXX)
    process[dir]=${process[work]}/.tour
    room_enough "${process[work]}"
    mkdir "${process[dir]}"
    process[nap]=${process[dir]}/nap
    mkfifo "${process[nap]}"
}

# hold_fd FD: the tour holds FD open, and no program it starts inherits it; release_fd FD
# closes it.
hold_fd() {
    process_fds[$1]=1
}

release_fd() {
    local release_fd=$1
    exec {release_fd}>&-
    unset "process_fds[release_fd]"
}

# track PID: a process the tour did not start itself (a child of one it started), stopped
# by the clean-up too.
track() {
    process_started+=("$1")
}

# room_enough DIR: the tour fails, saying so, when the disk that holds DIR has less than the
# megabyte its files take: the programs' files and views would come out empty. Keeps the file
# system's type (from the mount table) and block size in process[file_system].
room_enough() {
    local free size type
    read -r free size < <(stat -f -c '%a %S' "$1")
    file_system_of type "$1"
    process[file_system]="$type, whose blocks are $size bytes"
    ((free * size >= 1024 * 1024)) ||
        fail "the disk that holds $1 is full: $((free * size / 1024)) KiB free, and the tour needs a megabyte"
}

# nap SECONDS: sleeps, without starting a process once the FIFO is made.
nap() {
    if [[ -p ${process[nap]} ]]; then
        read -r -t "$1" _ <>"${process[nap]}" || true
    else
        sleep "$1"
    fi
}

# stat_field VAR PID N: field N (3 the state, 4 the parent) of /proc/PID/stat into VAR,
# empty once the process is gone.
stat_field() {
    local -n field_into=$1
    local field_stat field_fields
    field_into=""
    { read -r field_stat <"/proc/$2/stat"; } 2>/dev/null || return 0
    split field_fields "${field_stat##*) }"
    # shellcheck disable=SC2034 # field_into: the caller's variable, assigned through this nameref
    field_into=${field_fields[$3 - 3]}
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
    local child_list=""
    { read -r child_list <"/proc/$2/task/$2/children"; } 2>/dev/null || true
    # shellcheck disable=SC2034 # child_into: the caller's variable, assigned through this nameref
    child_into=${child_list%% *}
}

has_child() {
    local child
    first_child child "$1"
    [[ -n $child ]]
}

# nap_growing LOOKS: the nap after LOOKS looks (0 after the first): 1, 2, 4, 8 ms, then 16 ms
# each: what comes at once is seen at once (fdflood spins meanwhile), what takes longer costs
# few looks.
nap_growing() {
    local naps=(0.001 0.002 0.004 0.008 0.016)
    nap "${naps[$1 < 4 ? $1 : 4]}"
}

# wait_until SECONDS WHAT CMD...: checks CMD until it holds, with growing naps between; the
# tour fails if WHAT does not happen within SECONDS.
wait_until() {
    local limit=$1 deadline=$((SECONDS + $1)) what=$2 looks=0
    shift 2
    until "$@"; do
        ((SECONDS < deadline)) || fail "$what did not happen within $limit s"
        nap_growing $((looks++))
    done
}

# wait_shown PID UNTIL_US WHAT: waits for PID, a child of the tour's, to end, and returns its
# status as wait does. Meanwhile, on a terminal, one line counts down the seconds to UNTIL_US,
# when PID is due to end ("# WHAT in 6 s"), rewritten in place and erased once PID has
# ended: the wait shows, and leaves nothing behind.
wait_shown() {
    local pid=$1 until=$2 what=$3 now left shown="" status=0
    if [[ -t 1 && ${TERM:-dumb} != dumb ]]; then
        while alive "$pid"; do
            now_us now
            left=$(((until - now + 999999) / 1000000))
            ((left > 0)) || left=0
            if [[ $left != "$shown" ]]; then
                shown=$left
                # shellcheck disable=SC2154 # style_*: output.bash's
                printf '\r%s# %s in %d s%s\e[K' "$style_note" "$what" "$left" "$style_reset"
            fi
            nap 0.1
        done
        printf '\r\e[K'
    fi
    wait "$pid" || status=$?
    return "$status"
}

# now_us VAR: the time in µs into VAR.
now_us() {
    printf -v "$1" '%s' "${EPOCHREALTIME/./}"
}

# seconds_between VAR FROM_US TO_US: the time between two readings of now_us, as 10.0.
seconds_between() {
    local between_tenths=$((($3 - $2 + 50000) / 100000))
    printf -v "$1" '%d.%d' $((between_tenths / 10)) $((between_tenths % 10))
}

close_tour_fds() {
    local fd
    for fd in "${!process_fds[@]}"; do
        exec {fd}>&-
    done
}

# Descriptors inherited from whoever started the tour would show in the programs' tables
# (exclcreate's number, fdflood's count); bash's own 255 is closed at every exec anyway.
drop_inherited_fds() {
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
    local spawn_into=$1
    shift
    set -m # for the process group, only while it starts: no job reports
    (
        trap - "${ending_signals[@]}" EXIT
        close_tour_fds
        if declare -F "$1" >/dev/null; then
            "$@"
            exit
        fi
        exec "$@"
    ) <&0 & # explicitly, or bash would give a background command /dev/null as its input
    set +m
    process_started+=("$!")
    [[ $spawn_into == - ]] || printf -v "$spawn_into" '%s' "$!"
}

# stop SIGNAL PID...: sends SIGNAL to those of the tour's processes that still run, recognised
# by their working directory in the scratch directory, so that a reused process id is never hit.
stop() {
    local signal=$1 pid
    shift
    [[ -n ${process[work]} ]] || return 0
    for pid in "$@"; do
        [[ -e /proc/$pid ]] || continue
        # the scratch directory, or flood/ in it
        if [[ /proc/$pid/cwd -ef ${process[work]} || /proc/$pid/cwd/.. -ef ${process[work]} ]]; then
            kill "-$signal" "$pid" 2>/dev/null || true
        fi
    done
}

# program_names VAR PID...: the names of those of PID... that are syslab programs still
# running, into VAR.
program_names() {
    local -n names_into=$1
    local names_pid names_name
    shift
    names_into=""
    for names_pid in "$@"; do
        alive "$names_pid" || continue
        { read -r names_name <"/proc/$names_pid/comm"; } 2>/dev/null || continue
        # shellcheck disable=SC2154 # tour_programs: the tour's list of the programs
        [[ " ${tour_programs[*]##*/} " == *" $names_name "* && " $names_into " != *" $names_name "* ]] || continue
        names_into+=${names_into:+ }$names_name
    done
}

# trap_ending_signals [ACTION]: each of the ending signals ends the tour through on_signal, or
# with ACTION runs that instead. Before 5.2 bash times `read -t` (every nap) with SIGALRM of its
# own, which a trap would take over, and no nap would end: there SIGALRM is left to bash.
trap_ending_signals() {
    local i
    for i in "${!ending_signals[@]}"; do
        if [[ ${ending_signals[i]} == ALRM ]] &&
            ((BASH_VERSINFO[0] * 100 + BASH_VERSINFO[1] < 502)); then
            continue
        fi
        # shellcheck disable=SC2064 # the name and status, now
        trap "${1:-on_signal ${ending_signals[i]} ${ending_statuses[i]}}" "${ending_signals[i]}"
    done
}

# on_signal NAME STATUS: the tour ends on a signal; the clean-up runs to its end whatever
# signal comes next: each is taken and let pass. Taken, not ignored: of signals that came
# together, bash would warn of each still waiting for its trap that had become ignored
# ("run_pending_traps: bad value").
on_signal() {
    trap_ending_signals :
    process[interrupted]=$1
    exit "$2"
}

# children VAR: the tour's own children, running or not, into VAR: a process started just
# before a signal came, not yet in process_started, is among them.
children() {
    local -n children_into=$1
    local children_task children_list children_pids
    children_into=()
    for children_task in "/proc/$$/task/"*/children; do
        children_list=""
        # no newline at its end
        { read -r children_list <"$children_task"; } 2>/dev/null || [[ -n $children_list ]] || continue
        split children_pids "$children_list"
        children_into+=("${children_pids[@]}")
    done
}

# stop_children SIGNAL PID...: sends SIGNAL to those of PID... that are the tour's own children:
# one of them cannot be another's until the tour has waited for it.
stop_children() {
    local signal=$1 pid mine
    shift
    children mine
    for pid in "$@"; do
        [[ " ${mine[*]} " != *" $pid "* ]] || kill "-$signal" "$pid" 2>/dev/null || true
    done
}

cleanup() {
    local status=$? pid deadline=$((SECONDS + 2)) running="" mine=() living
    trap_ending_signals : # as on_signal says
    trap - EXIT
    # a signal that came while spawn started a job leaves job control on
    set +em
    # Out of bash's table of jobs, what the clean-up ends is not reported by bash as it exits
    # ("Killed"); the tour finds its processes through /proc, and says itself what it stopped.
    disown -a
    # A signal that came during `IFS= read` leaves that IFS in force here.
    IFS=$' \t\n'
    children mine
    if ((${#process_started[@]} + ${#mine[@]} > 0)); then
        program_names running "${process_started[@]}" "${mine[@]}"
        stop TERM "${process_started[@]}"
        stop_children TERM "${mine[@]}"
        for pid in "${process_started[@]}" "${mine[@]}"; do
            while alive "$pid" && ((SECONDS < deadline)); do
                nap 0.02
            done
        done
        stop KILL "${process_started[@]}"
        stop_children KILL "${mine[@]}"
    fi
    # The wait is bounded: what a KILL has not ended within two seconds more is left to init.
    deadline=$((SECONDS + 2))
    while children mine; do
        living=false
        for pid in "${mine[@]}"; do
            ! alive "$pid" || living=true
        done
        if ! $living || ((SECONDS >= deadline)); then break; fi
        nap 0.02
    done
    $living || wait 2>/dev/null
    write_record
    close_tour_fds
    cd /
    # shellcheck disable=SC2154 # opt: the options, written by the tour's parse_arguments
    if [[ -n ${process[work]} ]] && ! ${opt[keep]}; then
        # its own process, which a second Ctrl-C to the terminal's group does not stop halfway
        (trap '' "${ending_signals[@]}" && exec rm -rf "${process[work]}")
    fi
    # The terminal may be gone (SIGHUP): what cannot be said is not said.
    if [[ -n ${process[interrupted]} ]]; then
        # After Ctrl-C the terminal has echoed ^C, perhaps within a coloured line: the line
        # ends here, in the terminal's own colours.
        # shellcheck disable=SC2154 # style_*: output.bash's
        printf '%s' "$style_reset" 2>/dev/null
        [[ -n $running ]] && running="stopped $running" || running="nothing was running"
        # shellcheck disable=SC2154 # opt: the options, written by the tour's parse_arguments
        ! ${opt[ask]} || prediction_score so-far 2>/dev/null || true
        printf '\ntour: %s: %s; %s %s\n' \
            "$([[ ${process[interrupted]} == INT ]] && echo interrupted || echo "ended by SIG${process[interrupted]}")" \
            "$running" "$(${opt[keep]} && echo kept || echo removed)" "${process[work]:-no scratch directory}" \
            2>/dev/null
    elif [[ -n ${process[work]} ]] && ${opt[keep]}; then
        printf '\nThe scratch directory is kept: %s\n' "${process[work]}" 2>/dev/null
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
