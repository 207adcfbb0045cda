#!/usr/bin/env bats
# syslab-look: each picture read back row by row and checked against what the kernel says of
# the same processes and files (/proc, /proc/locks, SEEK_HOLE through perl), never against its
# own wording alone.

# A case and its teardown share one subshell: the processes a case records in started_pids
# are there for its teardown to stop.
# shellcheck disable=SC2030,SC2031

load helper

# The pictures in UTF-8, as a class's terminals are; ${#text} counts characters.
export LC_ALL=C.UTF-8
unset NO_COLOR

# The processes a test started, stopped here whatever became of the test; only by their ids.
teardown() {
    local pid
    for pid in ${started_pids[@]+"${started_pids[@]}"}; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    for pid in ${started_pids[@]+"${started_pids[@]}"}; do
        wait "$pid" 2>/dev/null || true
    done
}

# start VAR CMD...: CMD in the background with descriptors 0 to 2 only, its pid into VAR and
# stopped at teardown.
start() {
    local -n start_into=$1
    (
        close_inherited_fds
        exec "${@:2}"
    ) <&0 &
    start_into=$!
    started_pids+=("$start_into")
}

# tree_rows: the tree drawn on stdin as "DEPTH PID STATE" lines, the depth counted from the
# columns before the process id (three a level).
tree_rows() {
    local line prefix rest
    read -r _ # the title
    while IFS= read -r line; do
        prefix=${line%%[0-9]*}
        rest=${line:${#prefix}}
        [[ $rest =~ ^([0-9]+)\ ([a-z?-]+) ]] || continue
        echo "$((${#prefix} / 3)) ${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
    done
}

# check_tree PID: in the tree of PID, its row shows the state /proc gives, under the row of the
# parent /proc gives; the rows directly below it are its children, as the kernel lists them;
# the top row is the process whose parent is 0.
check_tree() {
    local rows row depth pid state ppid kernel_state children=() below=() at=-1 i
    mapfile -t rows < <(syslab-look tree "$1" | tree_rows)
    read -r kernel_state ppid < <(state_ppid "$1")
    local -A state_words=([R]=running [S]=sleeping [Z]=zombie [D]=disk-wait [T]=stopped [I]=idle)
    for ((i = 0; i < ${#rows[@]}; i++)); do
        read -r depth pid state <<<"${rows[i]}"
        [[ $pid == "$1" ]] && at=$i
    done
    ((at > 0)) || row_fails "$1 drawn below a parent" "${rows[*]}" "a row of $1"
    read -r depth pid state <<<"${rows[at]}"
    [[ $state == "${state_words[$kernel_state]}" ]] || row_fails "$1's state" "$state" "$kernel_state"
    for ((i = at - 1; i >= 0; i--)); do
        read -r row _ <<<"${rows[i]}"
        ((row == depth - 1)) && break
    done
    [[ ${rows[i]} == "$((depth - 1)) $ppid "* ]] ||
        row_fails "$1's parent" "${rows[i]}" "$((depth - 1)) $ppid"
    read -r _ pid _ <<<"${rows[0]}"
    [[ $(state_ppid "$pid") == *" 0" ]] || row_fails "the top row" "${rows[0]}" "a parent of 0"
    for ((i = at + 1; i < ${#rows[@]}; i++)); do
        read -r row pid _ <<<"${rows[i]}"
        ((row == depth + 1)) && below+=("$pid")
    done
    read -ra children < <(cat "/proc/$1"/task/*/children) || true
    [[ "${below[*]}" == "$(printf '%s\n' "${children[@]}" | sort -n | xargs)" ]] ||
        row_fails "$1's children" "${below[*]}" "${children[*]}"
}

@test "tree: a zombie as one under its living parent, an orphan under its new parent, in ASCII under C" {
    local zombiemaker zombie orphan
    start zombiemaker zombiemaker </dev/null >/dev/null
    zombie=$(wait_for 10 child_of "$zombiemaker")
    wait_for 10 prints "Z $zombiemaker" state_ppid "$zombie"
    # The shell ends at once: its sleep is an orphan from the start.
    sh -c 'sleep 60 </dev/null >/dev/null 2>&1 & echo $!' >orphan.pid
    read -r orphan <orphan.pid
    started_pids+=("$orphan")
    wait_for 5 test -d "/proc/$orphan"
    for pid in "$zombie" "$zombiemaker" "$orphan"; do
        check_tree "$pid"
    done
    run syslab-look tree "$zombie"
    [[ ${lines[-1]} == *"$zombie zombie [zombiemaker] <defunct>"* ]]

    LC_ALL=C run syslab-look tree "$zombiemaker" "$orphan"
    [[ $status == 0 && $(printf '%s' "$output" | tr -d '\000-\177' | wc -c) == 0 ]]
    [[ $output == *"\`- $zombie zombie "* ]]

    # a command line that would drive the terminal reaches it as text
    local named
    # shellcheck disable=SC2016 # expanded by the bash it starts
    start named bash -c 'exec -a "$(printf "evil\033[2J\a")" sleep 60'
    # bash's own command line says evil too: the exec done, and sleep asleep
    wait_for 5 prints sleep cat "/proc/$named/comm"
    # shellcheck disable=SC2016 # evaluated afresh at each poll
    wait_for 5 eval '[[ $(state_ppid "$named") == "S "* ]]'
    LC_ALL=C.UTF-8 run syslab-look tree "$named"
    [[ $output == *"$named sleeping evil?[2J? 60 ◀"* && $output != *$'\e'* ]]
}

# files_row PID...: the rows of the descriptor tables of PIDs without their titles, the
# descriptor columns squeezed: "3 5 = 3 5 = -> - r f" for a row shared by both.
files_rows() {
    syslab-look files "$@" | sed -n '3,$p' | sed -E 's/━+|=+/=/g; s/─+|-{2,}/-/g; s/┈+|\.{2,}/./g;
        s/▶|>/->/; s/  +/ /g; s/ $//'
}

@test "files: dup and fork share one description, separate opens do not; fdflood's table in a few rows" {
    printf 'data\n' >f
    local parent child other rows
    start parent sh -c 'exec 3<f 4<f 5<&3; sleep 60 & exec sleep 60'
    child=$(wait_for 5 child_of "$parent")
    started_pids+=("$child")
    start other sh -c 'exec 3<f; exec sleep 60'
    wait_for 5 prints "$PWD/f" readlink "/proc/$child/fd/5"
    wait_for 5 prints "$PWD/f" readlink "/proc/$other/fd/3"
    rows=$(files_rows "$parent" "$child" "$other")
    [[ $rows != *"kcmp refused"* ]] || skip "kcmp is refused here (a container's system-call filter)"
    local expected=(
        # descriptors of the parent, the child and the other, as files_rows squeezes them
        '3 5 =3 5 =.-> 0 r f'
        '4 =4 =.-> 0 r f'
        ' 3 --> 0 r f'
    )
    for row in "${expected[@]}"; do
        grep -qxF -- "$row" <<<"$rows" || row_fails "a row of the tables" "$rows" "$row"
    done

    # forkappend: parent and child blocked in their writes to a full pipe, one description.
    mkfifo forkappend.txt
    exec {pipe}<>forkappend.txt
    dd if=/dev/zero of=/dev/fd/$pipe bs=4096 count=1024 oflag=nonblock 2>/dev/null || true
    start parent forkappend
    child=$(wait_for 5 child_of "$parent")
    started_pids+=("$child")
    wait_for 5 prints "S $parent" state_ppid "$child"
    rows=$(files_rows "$parent" "$child")
    exec {pipe}>&-
    grep -qxF -- '3 =3 =-> - w,append forkappend.txt' <<<"$rows" ||
        row_fails "forkappend's descriptor 3" "$rows" '3 =3 =-> - w,append forkappend.txt'

    # 64 descriptors over five names: one row a name, each its count of opens.
    mkdir flood
    start parent sh -c 'cd flood && ulimit -n 64 && exec fdflood'
    wait_for 5 prints 64 fd_count "$parent"
    rows=$(files_rows "$parent")
    local name count
    for name in one two three four five; do
        count=$(find "/proc/$parent/fd" -lname "*/flood/$name.txt" | wc -l)
        grep -qE -- "[ /]$name.txt \\($count opens\\)$" <<<"$rows" ||
            row_fails "fdflood's $name.txt" "$rows" "$name.txt ($count opens)"
    done
    (($(wc -l <<<"$rows") <= 10))
}

# lock_rows FILE: what /proc/locks holds of FILE, as look draws each lock: "holds READ PID".
lock_rows() {
    local inode line words
    inode=$(stat -c %i "$1")
    while read -ra words; do
        [[ ${words[1]} == "->" ]] && words=("${words[0]}" waits "${words[@]:2}") ||
            words=("${words[0]}" holds "${words[@]:1}")
        [[ ${words[6]} == *":$inode" ]] && echo "${words[1]} ${words[4]} ${words[5]}"
    done </proc/locks
    return 0
}

lock_count() {
    (($(lock_rows db.txt | wc -l) == $1))
}

@test "locks: two readers holding, the writer waiting behind one of them, each over the whole file" {
    : >db.txt
    mkfifo enter
    exec {keys}<>enter
    local reader1 reader2 writer rows drawn
    start reader1 sharedhold <>enter
    wait_for 5 lock_count 1
    start reader2 sharedhold <>enter
    wait_for 5 lock_count 2
    start writer exclusivehold <>enter
    wait_for 5 lock_count 3
    rows=$(lock_rows db.txt | sort -s -k1,1) # the holders, then the waiters
    drawn=$(syslab-look locks db.txt | sed -n '3,$p')
    # each row: who holds or waits, as the kernel says, the holders first; the bar whole; the
    # waiter behind a reader
    [[ $(sed -E 's/^(\w+ \w+ +[0-9]+).*/\1/; s/ +/ /g' <<<"$drawn") == "$rows" ]] ||
        row_fails "the locks" "$drawn" "$rows"
    grep -c '█\{22\}▶ 0 to EOF$' <<<"$drawn" | grep -qx 2
    grep -qE "^waits WRITE +$writer +exclusivehold +░{22}▶ 0 to EOF, behind ($reader1|$reader2)$" <<<"$drawn"
    exec {keys}>&-
}

# extents FILE: the data of FILE as SEEK_DATA and SEEK_HOLE find it, "data START to END" and
# "hole START to END" as look lists them, through perl's lseek (SEEK_DATA 3, SEEK_HOLE 4).
extents() {
    perl -e 'open(my $f, "<", $ARGV[0]) or die; my $size = -s $f; my $at = 0;
        while ($at < $size) { my $d = sysseek($f, $at, 3); $d = $size unless defined $d;
            print "hole $at to ", $d - 1, "\n" if $d > $at; last if $d >= $size;
            my $h = sysseek($f, $d, 4); print "data ", $d + 0, " to ", $h - 1, "\n"; $at = $h; }' "$1"
}

@test "holes: data and holes where SEEK_DATA and SEEK_HOLE say, over the size, in ASCII under C" {
    printf 0101011010 >truncated && truncate -s 1M truncated
    printf 0101011010 >small
    truncate -s 1M middle && printf x | dd of=middle bs=1 seek=524288 conv=notrunc 2>/dev/null
    : >empty
    local file listed
    for file in truncated small middle; do
        listed=$(syslab-look holes "$file" | sed -En 's/^ (data|hole) +([0-9]+) to ([0-9]+) .*/\1 \2 to \3/p')
        [[ $listed == "$(extents "$file")" ]] || row_fails "$file" "$listed" "$(extents "$file")"
    done
    [[ $(syslab-look holes truncated | sed -n 3p) =~ ^\ █+░+$ ]]
    LC_ALL=C run syslab-look holes truncated
    [[ ${lines[2]} =~ ^\ #+\.+$ && ${#lines[2]} == 79 ]]
    run syslab-look holes empty
    [[ $status == 0 && ${lines[1]} == "empty: no data, no holes" ]]
    # colour only at a terminal, and never with NO_COLOR
    [[ $(script -qec "syslab-look holes small" /dev/null) == *$'\e['* ]]
    [[ $(NO_COLOR=1 script -qec "syslab-look holes small" /dev/null) != *$'\e'* ]]
}

@test "watch: the orphan redrawn under its new parent as its parent ends" {
    local parent orphan adopter
    local look
    start parent sh -c 'sleep 60 & exec sleep 60'
    orphan=$(wait_for 5 child_of "$parent")
    started_pids+=("$orphan")
    syslab-look --watch tree "$parent" "$orphan" >watch.out 2>&1 &
    look=$!
    started_pids+=("$look")
    wait_for 5 grep -q "$orphan sleeping" watch.out
    kill "$parent"
    wait "$parent" || true
    wait_for 5 grep -qx "no process $parent" watch.out
    kill -INT "$look"
    adopter=$(state_ppid "$orphan")
    adopter=${adopter#* }
    # the second drawing: the orphan one level below its adopter's row
    sed -n "/^no process $parent\$/,\$p" watch.out | tree_rows >rows
    grep -A1 -E "^[0-9]+ $adopter " rows | tail -n 1 | grep -qE "^[0-9]+ $orphan sleeping$"
}

@test "errors: one line and status 1 for a process or file missing or not to be looked at" {
    local gone
    sh -c 'exit 0' &
    gone=$!
    wait "$gone"
    mkfifo fifo
    printf 'x' >secret && chmod 000 secret
    local rows=(
        # status  stderr                                                 command
        1 "syslab-look: no process $gone"                                "tree $gone"
        1 "syslab-look: no process $gone"                                "files $gone"
        1 "syslab-look: missing.txt: No such file or directory"          "locks missing.txt"
        1 "syslab-look: missing.txt: No such file or directory"          "holes missing.txt"
        1 "syslab-look: fifo: not a regular file"                        "holes fifo"
        2 "syslab-look: 0 is not a process id"                           "tree 0"
        2 "syslab-look: locks takes one file"                            "locks a b"
    )
    local row
    for ((row = 0; row < ${#rows[@]}; row += 3)); do
        # shellcheck disable=SC2086 # the command's words
        outcome "${rows[row]}" "" "${rows[row + 1]}" syslab-look ${rows[row + 2]} ||
            row_fails "${rows[row + 2]}" "$stderr" "${rows[row + 1]}"
    done
    # what this user may not look at: another user's descriptors, an unreadable file
    [[ $(stat -c %u /proc/1) != "$(id -u)" || $EUID == 0 ]] || skip "process 1 is this user's own"
    chmod o+r .
    outcome 1 "" "syslab-look: process 1: Permission denied" unprivileged syslab-look files 1
    outcome 1 "" "syslab-look: secret: Permission denied" unprivileged syslab-look holes secret
}
