# Loaded by every test file: puts the built programs first on PATH and runs each test
# in a fresh scratch directory of its own.
# shellcheck shell=bash disable=SC2034 # its variables are the test files' to use

bats_require_minimum_version 1.5.0

SYSLAB_BIN=${SYSLAB_BIN:-$BATS_TEST_DIRNAME/../build/default/bin}
PATH=$SYSLAB_BIN:$PATH

# The programs, by name, as programs.list gives them (folder/program per line).
mapfile -t programs < <(sed -n 's|^[a-z]*/\([a-z]*\)$|\1|p' "$BATS_TEST_DIRNAME/../programs.list")

# What several files expect: the holders' lines ("unlocked" has no newline), the sizedecho
# prompt, the listing launchers' banners (each its own count of dashes).
lock_lines='Before entering into critical section
inside the critical section....
Enter to unlock..
unlocked'
prompt='Ehter the size of the text you want to enter , MAX_CHAR=80'
declare -gA banner
banner[execvlist]='----------------------OUTPUT(ls -Rl) USING execv() system call'
banner[execvlist]+='---------------------'
banner[execlelist]='---------------------OUTPUT(ls -Rl) USING execle() system call'
banner[execlelist]+='-------------------------'
banner[execlplist]='-----------------OUTPUT(ls -Rl) USING execlp() system call'
banner[execlplist]+='-----------------------'

setup() {
    cd "$BATS_TEST_TMPDIR" || return 1
}

# An ordinary user for the unprivileged cases when the tests run as root.
unprivileged_user=nobody
unprivileged_group=nogroup

# unprivileged CMD...: runs CMD as an ordinary user: as is when the tests do not run as root,
# else through setpriv, with the program copied where that user can reach it (the build
# tree may sit in root's home) and the scratch directory made reachable.
unprivileged() {
    if ((EUID != 0)); then
        "$@"
        return
    fi
    local program copy=$BATS_FILE_TMPDIR/unprivileged-bin/$1
    program=$(command -v "$1") || return 127
    mkdir -p "${copy%/*}"
    [[ -e $copy ]] || cp "$program" "$copy"
    chmod o+x "$BATS_RUN_TMPDIR" "$BATS_FILE_TMPDIR" "${copy%/*}" "$BATS_TEST_TMPDIR"
    shift
    setpriv --reuid="$unprivileged_user" --regid="$unprivileged_group" --clear-groups \
        -- "$copy" "$@"
}

# require_root REASON: skips the test unless it runs as root.
require_root() {
    ((EUID == 0)) || skip "needs root: $1"
}

# capable NUMBER: whether this shell holds capability NUMBER in its effective set (19 is
# CAP_SYS_PTRACE, 23 CAP_SYS_NICE); a container's root may lack some.
capable() {
    local key value
    while read -r key value; do
        [[ $key == CapEff: ]] && (((16#$value >> $1) & 1)) && return 0
    done </proc/$BASHPID/status
    return 1
}

# require_realtime: skips the test unless this process may take a real-time policy.
require_realtime() {
    require_root "real-time scheduling policies"
    chrt -f 10 true 2>/dev/null || skip "real-time scheduling is refused here, even to root"
}

# untraced CMD...: runs CMD without the trap bats runs before every command of a test (it
# keeps the stack of the last one, to name the line of a failure): a loop of thousands of
# commands, a poll or a parse, would spend most of its time in that trap. A failure within
# CMD is named at the line that called untraced.
untraced() {
    local untraced_trap untraced_status
    untraced_trap=$(trap -p DEBUG)
    trap - DEBUG
    "$@"
    untraced_status=$?
    eval "$untraced_trap"
    return "$untraced_status"
}

# wait_for SECONDS CMD...: polls CMD, run afresh each time, every 50 ms until it succeeds;
# fails after SECONDS. Never pass it an expanded value: `wait_for 5 prints 90 stat ...`.
# Untraced, and the pause between polls starts no process: a read with a time-out on a FIFO
# no one writes (several processes of a file poll at once).
wait_for() {
    untraced polled "$@"
}

polled() {
    local deadline=$((SECONDS + $1)) polled_nap=$BATS_RUN_TMPDIR/nap
    shift
    [[ -p $polled_nap ]] || mkfifo "$polled_nap" 2>/dev/null || [[ -p $polled_nap ]] || polled_nap=""
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        if [[ -n $polled_nap ]]; then
            read -r -t 0.05 _ <>"$polled_nap" || true
        else
            sleep 0.05
        fi
    done
}

# close_inherited_fds: closes every descriptor above 2 of this shell (bats keeps some open),
# so that a program exec'd from it gets the lowest free numbers, as it would from a terminal.
close_inherited_fds() {
    local fd
    for fd in "/proc/$BASHPID/fd/"*; do
        fd=${fd##*/}
        if ((fd > 2)); then exec {fd}>&-; fi
    done
}

# bare CMD...: runs CMD with descriptors 0 to 2 only.
bare() {
    (
        close_inherited_fds
        exec "$@"
    )
}

# child_of PID: prints the first child of PID, fails while it has none.
child_of() {
    local children
    children=$(cat "/proc/$1/task/$1/children" 2>/dev/null) || return 1
    [[ -n $children ]] || return 1
    echo "${children%% *}"
}

# prints EXPECTED CMD...: CMD prints EXPECTED (its last newline aside).
prints() {
    [[ $("${@:2}" 2>/dev/null) == "$1" ]]
}

# fd_count PID: prints how many descriptors PID has open.
fd_count() {
    local fds=("/proc/$1/fd/"*)
    echo "${#fds[@]}"
}

# state_ppid PID: prints "STATE PPID" of PID, fails once it is gone.
state_ppid() {
    local stat state ppid
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    read -r state ppid _ <<<"${stat##*) }"
    echo "$state $ppid"
}

# The clock of process start times: hundredths of a second since boot. A time measured from a
# process's own start leaves out what came before it, such as a slow fork on a busy machine or
# an emulator loading the program; both reads are builtins, so no fork delays them either.

# started PID: sets $started to the time PID started (field 22 of /proc/PID/stat, in clock
# ticks); fails once PID is gone.
started() {
    local stat fields
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    read -ra fields <<<"${stat##*) }"
    clock_ticks=${clock_ticks:-$(getconf CLK_TCK)}
    started=$((fields[19] * 100 / clock_ticks))
}

# since_boot: sets $since_boot to the time since boot (/proc/uptime).
since_boot() {
    local uptime
    read -r uptime _ </proc/uptime
    since_boot=$((10#${uptime/./}))
}

# outcome STATUS STDOUT STDERR CMD...: runs CMD, which must end with STATUS and print exactly
# STDOUT and STDERR (less their final newline); on a mismatch it shows what came.
outcome() {
    run --separate-stderr "${@:4}"
    # shellcheck disable=SC2154 # set by run
    [[ $status == "$1" && $output == "$2" && $stderr == "$3" ]] && return
    printf 'status %s, expected %s\nstdout %q\nstderr %q\n' "$status" "$1" "$output" "$stderr"
    return 1
}

# require_native REASON: skips the test when the programs run under an emulator
# (SYSLAB_EMULATOR, set by the aarch64 preset), which REASON says it cannot stand.
require_native() {
    [[ -z ${SYSLAB_EMULATOR:-} ]] || skip "under emulation: $1"
}

# row_fails NAME GOT EXPECTED: names a table's row that failed and shows both sides; fails.
row_fails() {
    printf 'row failed: %s\n  got      %q\n  expected %q\n' "$1" "$2" "$3" >&2
    return 1
}

# leftovers DIR: the processes whose working directory lies under DIR, one per line. Every
# process of the machine is looked at: untraced.
leftovers() {
    untraced processes_under "$1"
}

processes_under() {
    local entry cwd comm
    # one find reads every working directory; a process gone meanwhile is passed over
    while IFS=$'\t' read -r entry cwd; do
        [[ $cwd == "$1"/* ]] || continue
        comm=""
        { read -r comm <"${entry%/cwd}/comm"; } 2>/dev/null || continue
        entry=${entry#/proc/}
        printf '%s %s\n' "${entry%/cwd}" "$comm"
    done < <(find /proc/[0-9]*/cwd -maxdepth 0 -printf '%p\t%l\n' 2>/dev/null)
    return 0
}
