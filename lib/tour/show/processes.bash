# shellcheck shell=bash
# The processes folder: forkpids, orphanmaker, zombiemaker, forkappend.

# What the tour knows of each program here (see fact in the tour).
# shellcheck disable=SC2034 # read by lib/tour/programs.bash and lab.bash
declare -gA fact
fact[orphanmaker.long]=orphanmaker
fact[orphanmaker.looks]=yes
fact[zombiemaker.long]=zombiemaker
fact[zombiemaker.looks]=yes
fact[forkappend.makes]="forkappend.txt"
fact[forkappend.traced]=yes
fact[forkappend.looks]=yes

# orphanmaker and zombiemaker, which run in the background while the others are shown: their
# process ids, and the moments (in µs) and output sizes of what was seen of them.
declare -gA processes_demo=()

# The numbers each show file draws for its own programs (lib/tour/variants.bash), read by
# the views and the questions.
# shellcheck disable=SC2034 # variant: variants.bash's map
declare -gA variant

# The numbers of forkappend (lib/tour/variants.bash draws them, in its order): how many times
# it runs.
numbers_forkappend() {
    local runs i
    draw runs 2 10 3
    variant[forkappend_runs]=$runs
    variant[forkappend_bytes]=$((30 * runs))
    variant[forkappend_records]=$runs
    variant[forkappend]=forkappend
    for ((i = 1; i < runs; i++)); do variant[forkappend]+="; forkappend"; done
}

show_forkpids() {
    heading forkpids "its own process id and the child's, as fork returned it"
    ask forkpids ids
    typed forkpids
    answer forkpids ids
    ask forkpids child
    answer forkpids child
    note "the child printed nothing; the parent did not wait for it"
}

both_asleep() {
    in_state "$1" S && in_state "$2" S
}

# ps_view FILE PIDS: what a second terminal's ps shows of PIDS, into FILE; the moment it was
# seen (once ps has looked) into FILE.at, in µs.
ps_view() {
    local now
    ps -o pid,ppid,stat,cmd -p "$2" >"$1" 2>&1 || true
    now_us now
    printf '%s\n' "$now" >"$1.at"
}

# look_view FILE PID...: syslab-look's tree of PIDs, as a second terminal draws it, into FILE;
# nothing where there is no syslab-look.
look_view() {
    look_usable || return 0
    syslab-look tree "${@:2}" >"$1" 2>&1 || true
}

# show_look_view TERMINAL FILE PID...: the tree look_view drew into FILE, under its command line.
show_look_view() {
    look_usable || return 0
    command_line "$1" "syslab-look tree ${*:3}"
    show_output "$2"
}

# ps_row VAR FILE PID: the row of PID in the ps view FILE into VAR as "PPID STAT", empty when
# the view has none.
ps_row() {
    local -n row_into=$1
    local row_pid row_ppid row_stat row_rest
    row_into=""
    while read -r row_pid row_ppid row_stat row_rest; do
        [[ $row_pid == "$3" ]] && row_into="$row_ppid $row_stat"
    done <"$2"
    return 0
}

# too_late WHAT: a view the machine was too slow to take in time: said plainly, and the tour
# ends with status 1.
too_late() {
    fail "$1: this machine is too busy for the demonstration; try again when it is quieter"
}

# start_forking NAME PROGRAM: starts PROGRAM in the background, its output into
# ${process[dir]}/NAME.out, and waits for its fork: processes_demo[NAME_started] the moment it started,
# processes_demo[NAME_pid] and processes_demo[NAME_child] the two processes.
start_forking() {
    local pid child
    now_us "processes_demo[$1_started]"
    # shellcheck disable=SC2154 # process: process.bash's state
    spawn pid "$2" >"${process[dir]}/$1.out" 2>&1
    # shellcheck disable=SC2154 # ready_seconds: process.bash's
    wait_until "$ready_seconds" "$2 forking" has_child "$pid"
    first_child child "$pid"
    track "$child"
    processes_demo[$1_pid]=$pid processes_demo[$1_child]=$child
}

start_orphanmaker() {
    start_forking orphan orphanmaker
    local pid=${processes_demo[orphan_pid]} child=${processes_demo[orphan_child]} out=${process[dir]}/orphan.out
    wait_until "$ready_seconds" "orphanmaker going to sleep" both_asleep "$pid" "$child"
    ps_view "${process[dir]}/orphan.before" "$pid,$child"
    look_view "${process[dir]}/orphan.look-before" "$pid" "$child"
    size_at "processes_demo[orphan_before_size]" "$out"
    spawn - watch_orphan "$child" "$pid" "${process[dir]}/orphan" "$out"
}

# watch_orphan CHILD PARENT PREFIX OUTPUT: as soon as CHILD has another parent, the parent has
# ended: writes the moment to PREFIX.parent-end, what ps shows of CHILD to PREFIX.after (its
# moment to PREFIX.after.at) and the size OUTPUT had before it to PREFIX.after.size (taken
# first: on a loaded machine the child may wake while ps and the drawing run, and its last
# line must not be shown before its adoption); once CHILD has ended too, the moment to
# PREFIX.child-end.
watch_orphan() {
    local ppid now size
    stat_field ppid "$1" 4
    while [[ $ppid == "$2" ]]; do
        nap 0.02
        stat_field ppid "$1" 4
    done
    now_us now
    printf '%s\n' "$now" >"$3.parent-end"
    size_at size "$4"
    ps_view "$3.after" "$1"
    look_view "$3.look-after" "$1"
    printf '%s\n' "$size" >"$3.after.size"
    note_end "$1" "$3.child-end"
}

show_orphanmaker() {
    heading orphanmaker "the parent ends after 10 s, its child after 12 s: an orphan for 2 s"
    [[ -n ${processes_demo[orphan_pid]:-} ]] || start_orphanmaker
    local out=${process[dir]}/orphan.out prefix=${process[dir]}/orphan row at status=0 shown
    local since=${processes_demo[orphan_started]} parent=${processes_demo[orphan_pid]} child=${processes_demo[orphan_child]}
    local parent_end child_end after_at after_size adopter seconds
    command_line "" "orphanmaker"
    note "its output goes to a file here: each process's lines come out when it ends"
    shown=${processes_demo[orphan_before_size]}
    show_output "$out" 0 "$shown"
    ps_row row "$prefix.before" "$child"
    [[ $row == "$parent S"* ]] || too_late "the view of orphanmaker asleep came too late"
    local state=${row#* }
    ps_row row "$prefix.before" "$parent"
    # the state both show, as ps showed it; none to check against if they differ
    if [[ ${row#* } == "${state:0:1}"* ]]; then observed orphanmaker asleep "${state:0:1}"; fi
    ask orphanmaker asleep
    ask orphanmaker parent
    read -r at <"$prefix.before.at"
    seconds_between seconds "$since" "$at"
    command_line "second terminal, $seconds s in" "ps -o pid,ppid,stat,cmd -p $parent,$child"
    show_output "$prefix.before"
    show_look_view "second terminal, $seconds s in" "$prefix.look-before" "$parent" "$child"
    answer orphanmaker asleep
    answer orphanmaker parent
    note "both asleep (S); the child's parent (PPID) is orphanmaker"

    wait_shown "$parent" $((since + 10000000)) "orphanmaker's parent ends" || status=$?
    wait_until 15 "the orphan ending" test -s "$prefix.child-end"
    read -r parent_end <"$prefix.parent-end"
    read -r child_end <"$prefix.child-end"
    read -r after_at <"$prefix.after.at"
    read -r after_size <"$prefix.after.size"
    ps_row row "$prefix.after" "$child"
    adopter=${row%% *}
    [[ -n $row && $adopter != "$parent" && ${row#* } == S* ]] ||
        too_late "the view of the orphan adopted came after it had ended"
    show_output "$out" "$shown" "$after_size"
    ((status == 0)) || note "exit status $status"
    seconds_between seconds "$since" "$parent_end"
    note "the parent ended after $seconds s"
    ask orphanmaker adopted
    seconds_between seconds "$since" "$after_at"
    command_line "second terminal, $seconds s in" "ps -o pid,ppid,stat,cmd -p $child"
    show_output "$prefix.after"
    show_look_view "second terminal, $seconds s in" "$prefix.look-after" "$child"
    local adopter_name="?"
    { read -r adopter_name <"/proc/$adopter/comm"; } 2>/dev/null || true
    answer orphanmaker adopted "process $adopter, $adopter_name$( ((adopter == 1)) &&
        echo ", the first process of this system (or of this container)" ||
        echo ", a subreaper")"
    note "the parent is gone: the orphan was adopted by process $adopter (init, or the nearest" \
        "subreaper)"
    show_output "$out" "$after_size"
    seconds_between seconds "$since" "$child_end"
    note "the child ended after $seconds s"
    left_under adopter "$child"
    [[ -z $adopter ]] || {
        uncollected_said adopter "$adopter"
        note "it is a zombie now, under $adopter"
    }
}

# left_under VAR PID: waits a while for PID, ended, to be collected; VAR is left empty if it
# was, else given the process it is still a zombie under. An init collects at once.
left_under() {
    local -n left_into=$1
    local left_deadline=$((SECONDS + 3)) left_looks=0
    left_into=""
    while [[ -e /proc/$2 ]]; do
        if ((SECONDS >= left_deadline)); then
            stat_field left_into "$2" 4
            return 0
        fi
        nap_growing $((left_looks++))
    done
}

# uncollected_said VAR PID: names PID, which has left a zombie uncollected, and says why.
uncollected_said() {
    local uncollected_name="?"
    { read -r uncollected_name <"/proc/$2/comm"; } 2>/dev/null || true
    printf -v "$1" '%s' "process $2 ($uncollected_name), which has not collected it in 3 s: it stays a \
zombie until that process waits for it or ends$( (($2 != 1)) || echo "; process 1 here is no \
init, as in a container started without --init, whose process 1 is its command")"
}

start_zombiemaker() {
    start_forking zombie zombiemaker
    local pid=${processes_demo[zombie_pid]} child=${processes_demo[zombie_child]} out=${process[dir]}/zombie.out
    wait_until "$ready_seconds" "zombiemaker's child ending" in_state "$child" Z
    ps_view "${process[dir]}/zombie.during" "$pid,$child"
    look_view "${process[dir]}/zombie.look" "$pid"
    size_at "processes_demo[zombie_during_size]" "$out"
    watch_end "$pid" "${process[dir]}/zombie.end"
}

show_zombiemaker() {
    heading zombiemaker "the child ends at once, the parent sleeps 10 s without collecting it"
    [[ -n ${processes_demo[zombie_pid]:-} ]] || start_zombiemaker
    local out=${process[dir]}/zombie.out status=0 ended at row seconds since=${processes_demo[zombie_started]}
    local parent=${processes_demo[zombie_pid]} child=${processes_demo[zombie_child]}
    command_line "" "zombiemaker"
    note "its output goes to a file here: each process's lines come out when it ends"
    show_output "$out" 0 "${processes_demo[zombie_during_size]}"
    ps_row row "${process[dir]}/zombie.during" "$child"
    [[ $row == "$parent Z"* ]] || too_late "the view of the zombie came after it was collected"
    local state=${row#* }
    observed zombiemaker zombie "${state:0:1}"
    ask zombiemaker zombie
    read -r at <"${process[dir]}/zombie.during.at"
    seconds_between seconds "$since" "$at"
    command_line "second terminal, $seconds s in" "ps -o pid,ppid,stat,cmd -p $parent,$child"
    show_output "${process[dir]}/zombie.during"
    show_look_view "second terminal, $seconds s in" "${process[dir]}/zombie.look" "$parent"
    answer zombiemaker zombie
    note "the child is a zombie (Z, <defunct>): ended, its exit status not yet collected"

    wait_shown "$parent" $((since + 10000000)) "zombiemaker's parent wakes and ends" || status=$?
    wait_until 2 "the end of zombiemaker being noted" test -s "${process[dir]}/zombie.end"
    show_output "$out" "${processes_demo[zombie_during_size]}"
    ((status == 0)) || note "exit status $status"
    read -r ended <"${process[dir]}/zombie.end"
    seconds_between seconds "$since" "$ended"
    note "the parent ended after $seconds s"
    ask zombiemaker collected
    local adopter said=""
    left_under adopter "$child"
    [[ -z $adopter ]] || uncollected_said said "$adopter"
    observe "ps -o pid,ppid,stat,cmd -p $child"
    answer zombiemaker collected "${said:+the zombie was handed to $said}"
    if [[ -z $adopter ]]; then
        note "after the parent ended the zombie was handed on and collected: it is gone"
    else
        note "after the parent ended the zombie was handed to $said"
    fi
}

# holds_bytes FILE SIZE: whether FILE has SIZE bytes yet.
holds_bytes() {
    local size
    size_at size "$1"
    ((size >= $2))
}

show_forkappend() {
    heading forkappend "parent and child append a 15-byte record each through the one descriptor they share"
    ask forkappend size
    typed "${variant[forkappend]}"
    # The parents do not wait for their children: the last record may still be on its way.
    local records=${variant[forkappend_runs]}
    wait_until "$ready_seconds" "$((2 * records)) records in forkappend.txt" \
        holds_bytes forkappend.txt "${variant[forkappend_bytes]}"
    observe "ls -l forkappend.txt"
    observe "od -A d -c forkappend.txt"
    local size
    size_at size forkappend.txt
    observed forkappend size "$size"
    answer forkappend size
    note "${variant[forkappend_bytes]} bytes, od's last offset in decimal: ${variant[forkappend_runs]} records" \
        "of each, never overwritten, in the scheduler's order"
    if strace_usable && look_usable; then
        show_shared_description
    fi
}

# forked_under TRACER: whether strace's child is forkappend, and has forked (strace's first child
# may be one of its own, which tries what the kernel allows before it starts the program).
forked_under() {
    local parent name=""
    first_child parent "$1"
    [[ -n $parent ]] && { read -r name <"/proc/$parent/comm"; } 2>/dev/null &&
        [[ $name == forkappend ]] && has_child "$parent"
}

# both_written PARENT CHILD SIZE: whether both processes are still there, held by strace after
# their writes, and forkappend.txt has grown to SIZE.
both_written() {
    in_state "$1" t && in_state "$2" t && holds_bytes forkappend.txt "$3"
}

# show_shared_description: forkappend once more, each write held for a while by strace, so that
# a second terminal sees the one open file description both processes write through.
show_shared_description() {
    local tracer parent child size
    # Without -o strace lets a signal end it at once, even while it holds a process.
    local words=(strace -f -qq -e trace=write -e inject=write:delay_exit=60s forkappend)
    note "once more, strace holding each process after its write, so that a second terminal" \
        "sees them both"
    size_at size forkappend.txt
    command_line "" "${words[*]} 2>/dev/null &"
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 spawn tracer "${words[@]}" \
        </dev/null >/dev/null 2>&1
    emit "" "[1] $tracer"
    wait_until "$ready_seconds" "forkappend forking under strace" forked_under "$tracer"
    first_child parent "$tracer"
    first_child child "$parent"
    wait_until "$ready_seconds" "both records written" both_written "$parent" "$child" \
        "$((size + 30))"
    observe "ls -l /proc/$parent/fd/3 /proc/$child/fd/3"
    note "two links to one path, as two separate opens would show; the kernel knows more:"
    observe "syslab-look files $parent $child"
    note "descriptor 3 of both is one row, one open file description: its offset, at the end" \
        "of the file after both writes, is theirs together, and O_APPEND moves it for both"
    command_line "second terminal" "kill $tracer"
    # strace, stopped, lets them go on: each closes its descriptor and ends.
    kill -TERM "$tracer"
    wait "$tracer" || true
    wait_until "$ready_seconds" "forkappend ending" has_ended "$parent"
}

has_ended() { # PID: gone, or a zombie waiting for the process that adopted it
    [[ ! -e /proc/$1 ]] || in_state "$1" Z
}
