# shellcheck shell=bash
# The locking folder: exclusivehold and sharedhold, each shown with the other.

# What the tour knows of each program here (see fact in the tour).
# shellcheck disable=SC2034 # read by lib/tour/programs.bash and lab.bash
declare -gA fact
fact[sharedhold.looks]=yes
# The columns of lslocks that the views and the lab show: without SIZE and M, a lock's line
# fits 80 columns, its path whole.
readonly lock_columns=COMMAND,PID,TYPE,MODE,START,END,PATH
# What each view runs in each of its terminals, as a lab tells the students to.
fact[exclusivehold.terminals]="exclusivehold;sharedhold;lslocks -o $lock_columns"
fact[sharedhold.terminals]="sharedhold;sharedhold;exclusivehold;lslocks -o $lock_columns"

# The file each program here needs in its lab (lib/tour/lab.bash writes it).
seeds_exclusivehold() {
    lab_file 644 db.txt
}

seeds_sharedhold() {
    lab_file 644 db.txt
}

# show_locks TERMINAL PID: the second terminal's view of PID's record locks.
show_locks() {
    if command -v lslocks >/dev/null; then
        typed_at "$1" "lslocks -o $lock_columns -p $2"
    else
        typed_at "$1" "grep ' $2 ' /proc/locks"
    fi
}

# lock_line PID TYPE [->]: whether /proc/locks has a POSIX lock of PID of TYPE (READ or
# WRITE), granted, or waiting when the third argument is ->.
lock_line() {
    local line pattern="^[0-9]+: ${3:+-> }POSIX +ADVISORY +$2 +$1 "
    while read -r line; do
        [[ $line =~ $pattern ]] && return 0
    done </proc/locks
    return 1
}

has_lock() { # PID READ|WRITE
    lock_line "$1" "$2"
}

waits_for_lock() { # PID READ|WRITE
    lock_line "$1" "$2" "->"
}

# lock_outcome PROGRAM KEY PID READ|WRITE: observed, what became of PID's request for a lock:
# granted, waits or refused.
lock_outcome() {
    if has_lock "$3" "$4"; then
        observed "$1" "$2" granted
    elif waits_for_lock "$3" "$4"; then
        observed "$1" "$2" waits
    else
        observed "$1" "$2" refused
    fi
}

show_exclusivehold() {
    heading exclusivehold "locks db.txt with F_SETLKW, waiting if need be, and holds it until Enter"
    command_line "terminal 1" "exclusivehold"
    pty_start writer exclusivehold
    pty_wait_for writer "Enter to unlock.."
    pty_show writer
    # shellcheck disable=SC2154 # ready_seconds: process.bash's; pty: pty.bash's state
    wait_until "$ready_seconds" "the write lock showing in /proc/locks" \
        has_lock "${pty[writer.program]}" WRITE
    # shellcheck disable=SC2016 # the command as the user types it
    note 'terminal 3 finds the process id with: pgrep -n -u "$USER" exclusivehold'
    ask exclusivehold lock
    ask exclusivehold range
    show_locks "terminal 3" "${pty[writer.program]}"
    answer exclusivehold lock
    answer exclusivehold range
    note "a POSIX write lock from byte 0 to the end of the file (0 0: to EOF and beyond)"

    ask exclusivehold refused
    ask exclusivehold enter
    command_line "terminal 2" "sharedhold"
    pty_start refused sharedhold
    pty_wait_for refused "Enter to unlock.."
    observed exclusivehold enter yes
    pty_show refused
    lock_outcome exclusivehold refused "${pty[refused.program]}" READ
    show_locks "terminal 3" "${pty[refused.program]}"
    note "none: the kernel refused the read lock at once, yet sharedhold goes on to wait" \
        "for Enter"
    answer exclusivehold refused
    answer exclusivehold enter

    note "Enter in terminal 1:"
    pty_type writer $'\n'
    pty_finish writer
    note "Enter in terminal 2:"
    pty_type refused $'\n'
    pty_finish refused
}

show_sharedhold() {
    heading sharedhold "asks for a shared (read) lock on db.txt without waiting, and stays until Enter"
    command_line "terminal 1" "sharedhold"
    pty_start reader1 sharedhold
    pty_wait_for reader1 "Enter to unlock.."
    pty_show reader1
    ask sharedhold together
    command_line "terminal 2" "sharedhold"
    pty_start reader2 sharedhold
    pty_wait_for reader2 "Enter to unlock.."
    pty_show reader2
    wait_until "$ready_seconds" "two read locks showing in /proc/locks" \
        has_lock "${pty[reader1.program]}" READ
    wait_until "$ready_seconds" "two read locks showing in /proc/locks" \
        has_lock "${pty[reader2.program]}" READ
    lock_outcome sharedhold together "${pty[reader2.program]}" READ
    show_locks "terminal 4" "${pty[reader1.program]}"
    show_locks "terminal 4" "${pty[reader2.program]}"
    answer sharedhold together
    note "two read locks on the same bytes at once: readers share"

    ask sharedhold writer
    command_line "terminal 3" "exclusivehold"
    pty_start waiter exclusivehold
    pty_wait_for waiter "Before entering into critical section"
    wait_until "$ready_seconds" "the waiting write lock showing in /proc/locks" \
        waits_for_lock "${pty[waiter.program]}" WRITE
    pty_show waiter
    lock_outcome sharedhold writer "${pty[waiter.program]}" WRITE
    show_locks "terminal 4" "${pty[waiter.program]}"
    if look_usable; then
        typed_at "terminal 4" "syslab-look locks db.txt"
        note "the two readers hold the whole file; the writer waits in line behind them"
    fi
    answer sharedhold writer
    note "Enter in terminal 1:"
    pty_type reader1 $'\n'
    pty_finish reader1
    note "Enter in terminal 2:"
    pty_type reader2 $'\n'
    pty_finish reader2
    note "the last reader let go: terminal 3 has its lock"
    pty_wait_for waiter "Enter to unlock.."
    pty_show waiter
    note "Enter in terminal 3:"
    pty_type waiter $'\n'
    pty_finish waiter
}
