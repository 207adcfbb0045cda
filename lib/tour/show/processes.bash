# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# The processes folder: forkpids, orphanmaker, zombiemaker, forkappend.

# What the tour knows of each program here (see lib/tour/show/scheduling.bash).
fact[forkpids.asks]="ids"
fact[orphanmaker.asks]="asleep adopted"
fact[orphanmaker.long]=orphanmaker
fact[zombiemaker.asks]="zombie collected"
fact[zombiemaker.long]=zombiemaker
fact[forkappend.asks]="size"
fact[forkappend.makes]="forkappend.txt"

show_forkpids() {
    heading forkpids "its own process id and the child's, as fork returned it"
    ask forkpids ids
    typed forkpids
    answer forkpids ids
    note "the child printed nothing; the parent did not wait for it"
}

both_asleep() {
    [[ $(state_of "$1") == S && $(state_of "$2") == S ]]
}

start_orphanmaker() {
    local pid child out
    out=$(scratch orphan.out)
    demo[orphan_started]=$(now_us)
    spawn pid orphanmaker >"$out" 2>&1
    demo[orphan_pid]=$pid
    wait_until "$ready_seconds" "orphanmaker forking" has_child "$pid"
    child=$(first_child_of "$pid")
    started+=("$child")
    demo[orphan_child]=$child
    wait_until "$ready_seconds" "orphanmaker going to sleep" both_asleep "$pid" "$child"
    (ps -o pid,ppid,stat,cmd -p "$pid,$child" >"$(scratch orphan.before)") || true
    demo[orphan_before_at]=$(now_us)
    demo[orphan_before_size]=$(size_of "$out")
    watch_end "$pid" "$(scratch orphan.parent-end)"
    watch_end "$child" "$(scratch orphan.child-end)"
    spawn - look_at_orphan "$child" "$pid" "$(scratch orphan.after)" "$out"
}

# look_at_orphan CHILD PARENT FILE OUTPUT: as soon as CHILD has another parent, writes what
# ps shows of it to FILE, the moment to FILE.at and the size OUTPUT had by then to FILE.size.
look_at_orphan() {
    while [[ $(parent_of "$1") == "$2" ]]; do
        sleep 0.02
    done
    now_us >"$3.at"
    size_of "$4" >"$3.size"
    ps -o pid,ppid,stat,cmd -p "$1" >"$3" || true
}

show_orphanmaker() {
    heading orphanmaker "the parent ends after 10 s, its child after 12 s: an orphan for 2 s"
    [[ -n ${demo[orphan_pid]:-} ]] || start_orphanmaker
    local out status=0 since=${demo[orphan_started]} parent_end child_end after shown
    out=$(scratch orphan.out)
    after=$(scratch orphan.after)
    command_line "" "orphanmaker"
    note "its output goes to a file here: each process's lines come out when it ends"
    shown=${demo[orphan_before_size]}
    show_output "$out" 0 "$shown"
    ask orphanmaker asleep
    command_line "second terminal, $(seconds_between "$since" "${demo[orphan_before_at]}") s in" \
        "ps -o pid,ppid,stat,cmd -p ${demo[orphan_pid]},${demo[orphan_child]}"
    show_output "$(scratch orphan.before)"
    answer orphanmaker asleep
    note "both asleep (S); the child's parent (PPID) is orphanmaker"

    wait "${demo[orphan_pid]}" || status=$?
    wait_until 15 "the orphan ending" test -s "$(scratch orphan.child-end)"
    wait_until 2 "the end of orphanmaker being noted" test -s "$(scratch orphan.parent-end)"
    parent_end=$(<"$(scratch orphan.parent-end)")
    child_end=$(<"$(scratch orphan.child-end)")
    if [[ -s $after ]]; then
        show_output "$out" "$shown" "$(<"$after.size")"
        shown=$(<"$after.size")
    fi
    ((status == 0)) || note "exit status $status"
    note "the parent ended after $(seconds_between "$since" "$parent_end") s"
    if [[ -s $after ]]; then
        ask orphanmaker adopted
        command_line "second terminal, $(seconds_between "$since" "$(<"$after.at")") s in" \
            "ps -o pid,ppid,stat,cmd -p ${demo[orphan_child]}"
        show_output "$after"
        answer orphanmaker adopted
        note "the parent is gone: the orphan was adopted by process" \
            "$(awk 'NR == 2 { print $2 }' "$after") (init, or the nearest subreaper)"
    fi
    show_output "$out" "$shown"
    note "the child ended after $(seconds_between "$since" "$child_end") s"
}

start_zombiemaker() {
    local pid child out
    out=$(scratch zombie.out)
    demo[zombie_started]=$(now_us)
    spawn pid zombiemaker >"$out" 2>&1
    demo[zombie_pid]=$pid
    wait_until "$ready_seconds" "zombiemaker forking" has_child "$pid"
    child=$(first_child_of "$pid")
    demo[zombie_child]=$child
    wait_until "$ready_seconds" "zombiemaker's child ending" in_state "$child" Z
    (ps -o pid,ppid,stat,cmd -p "$pid,$child" >"$(scratch zombie.during)") || true
    demo[zombie_during_at]=$(now_us)
    demo[zombie_during_size]=$(size_of "$out")
    watch_end "$pid" "$(scratch zombie.end)"
}

zombie_collected() {
    [[ ! -e /proc/${demo[zombie_child]} ]]
}

show_zombiemaker() {
    heading zombiemaker "the child ends at once, the parent sleeps 10 s without collecting it: a zombie"
    [[ -n ${demo[zombie_pid]:-} ]] || start_zombiemaker
    local out status=0 ended since=${demo[zombie_started]}
    out=$(scratch zombie.out)
    command_line "" "zombiemaker"
    note "its output goes to a file here: each process's lines come out when it ends"
    show_output "$out" 0 "${demo[zombie_during_size]}"
    ask zombiemaker zombie
    command_line "second terminal, $(seconds_between "$since" "${demo[zombie_during_at]}") s in" \
        "ps -o pid,ppid,stat,cmd -p ${demo[zombie_pid]},${demo[zombie_child]}"
    show_output "$(scratch zombie.during)"
    answer zombiemaker zombie
    note "the child is a zombie (Z, <defunct>): ended, its exit status not yet collected"

    wait "${demo[zombie_pid]}" || status=$?
    wait_until 2 "the end of zombiemaker being noted" test -s "$(scratch zombie.end)"
    show_output "$out" "${demo[zombie_during_size]}"
    ((status == 0)) || note "exit status $status"
    ended=$(<"$(scratch zombie.end)")
    note "the parent ended after $(seconds_between "$since" "$ended") s"
    ask zombiemaker collected
    wait_until "$ready_seconds" "the zombie being collected" zombie_collected
    observe "ps -o pid,ppid,stat,cmd -p ${demo[zombie_child]}"
    answer zombiemaker collected
    note "after the parent ended the zombie was handed on and collected: it is gone"
}

# holds_bytes FILE SIZE: whether FILE has SIZE bytes yet.
holds_bytes() {
    [[ $(size_of "$1") -ge $2 ]]
}

show_forkappend() {
    heading forkappend "parent and child append a 15-byte record each through the one descriptor they share"
    ask forkappend size
    typed "forkappend; forkappend; forkappend"
    # The parents do not wait for their children: the last record may still be on its way.
    wait_until "$ready_seconds" "six records in forkappend.txt" holds_bytes forkappend.txt 90
    observe "ls -l forkappend.txt"
    observe "od -c forkappend.txt"
    answer forkappend size
    note "90 bytes: three records of each, never overwritten, in the scheduler's order"
}
