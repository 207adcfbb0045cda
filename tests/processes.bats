#!/usr/bin/env bats
# Process lifecycle: forkpids, orphanmaker, zombiemaker, forkappend.
#
# orphanmaker (12 s) and zombiemaker (10 s) start side by side in setup_file, each under a
# watcher that records what /proc shows at the moments that matter; their tests read the
# records once the watchers are done. Times count from the program's fork, the start of its
# sleeps, so that a slow start (a busy machine, an emulator) does not count. A refused fork is
# in hostile.bats.

load helper

# running PID: true while PID has not ended (neither gone nor a zombie); ended PID: the opposite.
running() {
    local state
    state=$(state_ppid "$1") && [[ $state != [ZX]\ * ]]
}
ended() { ! running "$1"; }

# since_fork: prints the milliseconds since the maker forked its child ($forked).
since_fork() {
    since_boot
    echo $(((since_boot - forked) * 10))
}

# start_maker PROGRAM NAME: starts PROGRAM with its output in NAME.out and NAME.err, and
# records its time-out wrapper and then the child in NAME.timer; sets the caller's $timer, $parent and $child,
# and $forked to the time of the fork.
start_maker() {
    timeout 20 "$1" >"$2.out" 2>"$2.err" &
    timer=$!
    echo "$timer" >"$2.timer"
    parent=$(wait_for 10 child_of "$timer")
    child=$(wait_for 10 child_of "$parent")
    echo "$timer $child" >"$2.timer"
    started "$child"
    forked=$started
}

# Runs orphanmaker and records in orphan.record: the two process ids; the child's parent while
# the parent sleeps; the program's status and when it ended; the child's state and parent just
# after that, and when; when the child ended.
watch_orphanmaker() {
    local timer parent child forked started status=0 before after
    start_maker orphanmaker orphan
    before=$(state_ppid "$child")
    running "$parent" || before=late
    wait "$timer" || status=$?
    after="$status $(since_fork) $(state_ppid "$child") $(since_fork)"
    wait_for 5 ended "$child"
    echo "$parent $child ${before#* } $after $(since_fork)" >orphan.record
    touch orphan.done
}

# Runs zombiemaker and records the child's state and parent at every look while the parent
# sleeps in zombie.seen; in zombie.record the two process ids, when the looks began and ended,
# the program's status and when it ended.
watch_zombiemaker() {
    local timer parent child forked started first last seen status=0
    start_maker zombiemaker zombie
    wait_for 5 ended "$child"
    first=$(since_fork)
    while running "$parent"; do
        seen=$(state_ppid "$child") || seen=gone
        # Only a look taken while the parent still sleeps counts.
        running "$parent" && echo "$seen" >>zombie.seen
        last=$(since_fork)
        sleep 0.2
    done
    wait "$timer" || status=$?
    echo "$parent $child $first $last $status $(since_fork)" >zombie.record
    touch zombie.done
}

setup_file() {
    cd "$BATS_FILE_TMPDIR" || return 1
    watch_orphanmaker >orphan.log 2>&1 3>&- &
    watch_zombiemaker >zombie.log 2>&1 3>&- &
}

# Stops what a failed watcher may have left running: the time-out wrapper, and the child, which
# an orphan outlives it as.
teardown_file() {
    cd "$BATS_FILE_TMPDIR" || return 1
    local name pids
    for name in orphan zombie; do
        [[ -e $name.done || ! -e $name.timer ]] || {
            read -ra pids <"$name.timer"
            kill "${pids[@]}" 2>/dev/null || true
        }
    done
}

@test "forkpids: on a pipe and on a file its own pid comes once, then another, never 0" {
    local pattern='^([0-9]+)
Process id\(PID\) of the parent process is: ([0-9]+)
Process id\(PID\) of the child process is: ([1-9][0-9]*)$'
    # The shell prints its pid, then becomes forkpids under the same one.
    local output
    for output in "$(bash -c 'echo $$; exec forkpids')" \
        "$(bash -c 'echo $$; exec forkpids' >file.txt && cat file.txt)"; do
        [[ $output =~ $pattern ]]
        [ "${BASH_REMATCH[2]}" = "${BASH_REMATCH[1]}" ]
        [ "${BASH_REMATCH[3]}" != "${BASH_REMATCH[2]}" ]
    done
}

@test "forkappend: three runs make 90 bytes, three records of each kind, mode 0700; then appends" {
    umask 000
    local content
    outcome 0 '' '' forkappend
    outcome 0 '' '' forkappend
    outcome 0 '' '' forkappend
    # The parents do not wait: the last child may still be writing.
    wait_for 5 prints 90 stat -c %s forkappend.txt
    [ "$(stat -c %a forkappend.txt)" = 700 ] # rwx------
    IFS= read -r -d '' content <forkappend.txt || true
    content=${content//$'Parent Process\n'/P}
    content=${content//$'Child Process\n!'/C}
    [[ ${content//C/} == PPP && ${content//P/} == CCC ]] # those records and nothing else

    # An existing file is appended to and keeps its mode.
    cp forkappend.txt before.txt
    chmod 0640 forkappend.txt # rw-r-----
    forkappend
    wait_for 5 prints 120 stat -c %s forkappend.txt
    head -c 90 forkappend.txt | cmp - before.txt
    [ "$(stat -c %a forkappend.txt)" = 640 ]
}

@test "forkappend: a file it cannot open or write is an error line and status 1" {
    mkdir forkappend.txt
    outcome 1 '' "forkappend.txt: Is a directory" forkappend

    [ -c /dev/full ] || skip "no /dev/full"
    rmdir forkappend.txt
    ln -s /dev/full forkappend.txt
    local status=0
    forkappend 2>errors.txt || status=$?
    [ "$status" -eq 1 ]
    # Parent and child each report their own record lost.
    wait_for 5 prints 2 grep -c '' errors.txt
    [ "$(sort -u errors.txt)" = "forkappend.txt: No space left on device" ]
}

@test "zombiemaker: while the parent sleeps the child is a zombie under it, not collected" {
    cd "$BATS_FILE_TMPDIR"
    wait_for 30 test -e zombie.done
    local parent child first last status ended
    read -r parent child first last status ended <zombie.record
    [ "$(sort -u zombie.seen)" = "Z $parent" ]
    # The looks covered the sleep, from the fork until about 10 s; the parent ended 10 s after
    # the fork, with up to a second for a busy machine to notice: a sleep of 9 s or 11 s fails.
    ((first < 2000 && last > 9000))
    [ "$status" -eq 0 ]
    ((ended >= 10000 && ended < 11000))
    [ "$(cat zombie.out)" = "Child PID is: $child
Exiting child!
Parent PID is: $parent
Putting parent to sleep for 10s!
Parent is now awake!" ]
    [ ! -s zombie.err ]
}

@test "orphanmaker: ends after 10 s, not 12; its child lives on elsewhere; all lines on a file" {
    cd "$BATS_FILE_TMPDIR"
    wait_for 30 test -e orphan.done
    local parent child before status ended state ppid after child_ended
    read -r parent child before status ended state ppid after child_ended <orphan.record
    [ "$before" = "$parent" ]
    # Counted from the fork, with up to a second for a busy machine to notice each end: the
    # parent ends at 10 s, the child at 12 s.
    [ "$status" -eq 0 ]
    ((ended >= 10000 && ended < 11000))
    [ "$state" = S ]
    [ "$ppid" != "$parent" ]
    ((after < 12000 && child_ended >= 12000 && child_ended < 13000))
    # Redirected to a file, all six lines land there once.
    [ "$(cat orphan.out)" = "Parent PID is: $parent
Putting Parent to sleep for 10s
Exiting parent!
Child PID is: $child
Putting child to sleep for 12s!
Child is now awake!" ]
    [ ! -s orphan.err ]
}
