#!/usr/bin/env bats
# Every program under bad conditions: standard streams closed, standard input a directory, data
# files missing, unreadable or in a read-only directory, fork refused, hostile sizes and
# increments. Most tests are tables, a row per command: its status, its standard output byte
# for byte (a glob where a process id or ls's long line shows) and its error lines less the
# final newline (a sanitizer report is extra text and fails the row). orphanmaker and
# zombiemaker sleep 10 s and read nothing: they meet only a refused fork, which ends them.

load helper

# attempt CMD...: runs CMD with a time-out (none under `unprivileged`: those rows never wait
# for input), standard output into $out (closed if $stdout_closed is set), standard error into
# $err (closed if $stderr_closed is set); sets $attempt_status. Both files lie outside the
# working directory, which a row may make read-only. The time-out is far off: a row that leaves
# niceset at nice 19 waits behind every other process of a busy machine (a fork bomb the grader
# tests contain, beside it) before it prints.
attempt() {
    out=$BATS_TEST_TMPDIR/out err=$BATS_TEST_TMPDIR/err attempt_status=0
    (
        close_inherited_fds
        if [[ -n ${stdout_closed:-} ]]; then exec >&-; fi
        if [[ -n ${stderr_closed:-} ]]; then exec 2>&-; fi
        if [[ $1 == unprivileged ]]; then "$@"; else exec timeout 60 "$@"; fi
    ) >"$out" 2>"$err" || attempt_status=$?
}

# expect_row ROW STATUS STDOUT STDERR: the last attempt ended as ROW says. A mismatch shows both
# sides quoted: status, output and error, a newline between them.
expect_row() {
    local got_stdout got_stderr
    got_stdout=$(cat "$out" && printf .) got_stderr=$(cat "$err")
    # shellcheck disable=SC2053 # the expected output and error are globs on purpose
    [[ $attempt_status == "$2" && ${got_stdout%.} == $3 && $got_stderr == $4 ]] ||
        row_fails "$1" "$attempt_status"$'\n'"${got_stdout%.}"$'\n'"$got_stderr" \
            "$2"$'\n'"$3"$'\n'"$4"
}

# fixture NAME: a fresh directory holding every data file, made the working directory.
# bytecat.txt has no final newline; childprog_out reports its arguments on standard error
# and ends with status 7, whatever standard output is.
fixture() {
    mkdir "$BATS_TEST_TMPDIR/$1" "$BATS_TEST_TMPDIR/$1/childprog"
    cd "$BATS_TEST_TMPDIR/$1" || return 1
    printf 'one record\n' >db.txt
    : >seekgap.txt
    printf abc >bytecat.txt
    printf 'three\n' >three.txt
    printf 'lsdemo\n' >lsdemo.txt
    chmod 644 lsdemo.txt
    # shellcheck disable=SC2016 # the script's own $0 and $1
    printf '#!/bin/sh\necho "$0 $1" >&2\nexit 7\n' >childprog/childprog_out
    chmod 755 childprog/childprog_out
}

# A read-only directory or a 000 folder left by a test is made removable again; a flood left
# running by a failed test is stopped (only the one this test started).
teardown() {
    if [[ -n ${flood_runner:-} ]]; then find_flood "$flood_runner" || true; fi
    if [[ -n ${flood_pid:-} ]]; then kill -KILL "$flood_pid" 2>/dev/null || true; fi
    chmod -R u+rwX "$BATS_TEST_TMPDIR" 2>/dev/null || true
}

child_report='./childprog/childprog_out childprog.c'
lsdemo_line='-rw-r--r-- 1 * lsdemo.txt'
# ls's complaints are its own (Debian 12 begins them with "/bin/ls:", Debian 13 with "ls:"):
# a row checks ls's status and that it named the write error or lsdemo.txt.
ls_write_error='?*Bad file descriptor'
ls_lsdemo_error='*lsdemo.txt*'

# each_row WIDTH RUNNER [ARG...]: calls RUNNER ARG... with each row of $rows, WIDTH fields at a
# time. Every row runs and each failing one is named; the test fails if any did.
each_row() {
    local width=$1 runner=$2 i failed=0
    shift 2
    for ((i = 0; i < ${#rows[@]}; i += width)); do
        "$runner" "$@" "${rows[@]:i:width}" || failed=1
    done
    return "$failed"
}

# command_row SETUP COMMAND STATUS STDOUT STDERR: in a subshell, a fresh fixture SETUP-COMMAND,
# SETUP (a function) run in it, COMMAND (split on spaces) attempted.
command_row() (
    local command
    fixture "$1-${2//[^a-z]/_}"
    "$1"
    read -ra command <<<"$2"
    attempt "${command[@]}"
    expect_row "$1 $2" "${@:3}"
)

# The conditions, each a SETUP for command_row.
close_stdout() { stdout_closed=1; }
close_stdin() { exec <&-; }
stdin_directory() { exec <.; }
remove_all() { rm -r ./*; }
# Read-only db.txt and seekgap.txt (the programs open them read-write), an unreadable
# bytecat.txt, a read-only forkappend.txt, an unreadable directory lsdemo.txt.
lock_out() {
    chmod 444 db.txt seekgap.txt
    chmod 000 bytecat.txt
    : >forkappend.txt
    chmod 444 forkappend.txt
    rm lsdemo.txt
    mkdir -m 000 lsdemo.txt
}
# As root, three.txt goes to the unprivileged user: a hard link to someone else's file is
# refused for its own reason (protected_hardlinks), which would hide the directory's.
read_only_directory() {
    chmod 666 db.txt seekgap.txt
    if ((EUID == 0)); then chown "$unprivileged_user" three.txt; fi
    chmod 555 .
}

@test "every program in programs.list meets at least one of these conditions" {
    local name missing=()
    ((${#programs[@]} > 0))
    for name in "${programs[@]}"; do
        grep -Eq "^ +['\"]?([^ '\"]+ )*[^ '\"]*\<$name\>|^@test \"$name:" "$BATS_TEST_FILENAME" ||
            missing+=("$name")
    done
    echo "in no row: ${missing[*]}"
    [ "${missing[*]}" = "" ]
}

@test "standard output or error closed: a failed write is an error, data files keep their bytes" {
    # The data files take descriptor 1: seekgap's and the holders' move above 2, so neither the
    # offset nor the lines buffered for standard output land in them; bytecat's copy reads its
    # file and its write is refused; exclcreate's report of its new file's number goes into it.
    local rows=() program echo_failed='Writing the text failed: Bad file descriptor'
    for program in rrrange policyflip pidtimer forkpids stdinwait makelinks envdump seekgap \
        exclusivehold sharedhold forkappend exclcreate 'niceset 5'; do
        rows+=("$program" 0 '' '')
    done
    rows+=(
        # command            status  stdout  stderr
        bytecat             1       ''      'Writing to standard output failed: Bad file descriptor'
        execvlist            2       ''      "$ls_write_error"
        execlelist           2       ''      "$ls_write_error"
        execlplist           2       ''      "$ls_write_error"
        runother             7       ''      "$child_report"
    )
    each_row 4 command_row close_stdout </dev/null
    rows=(5 1 '' "$echo_failed" 80 1 '' "$echo_failed")
    stdout_closed=1 each_row 4 sizedecho_row $'\nhello world\n'
    # What the holders and bytecat leave in their files is checked where nothing is lost.
    cmp <(printf '%s\0\0\0\0\0\0\0\0\0\0%s' 0101011010 0101011010) close_stdout-seekgap/seekgap.txt
    cmp <(printf 'The file descriptor value is: 1') close_stdout-exclcreate/exclcreate.txt
    wait_for 5 prints 30 stat -c %s close_stdout-forkappend/forkappend.txt

    # Standard error closed: db.txt moves above 2, and sharedhold's refusal stays out of it.
    fixture stderr-closed
    mkfifo enter
    local hold holder
    exec {hold}<>enter # a writer that stays: the holder waits for its Enter
    (
        close_inherited_fds
        exec timeout 20 exclusivehold
    ) <enter >/dev/null 2>&- &
    holder=$!
    wait_for 5 grep -q "WRITE .*:$(stat -c %i db.txt) 0 EOF" /proc/locks
    [ "$(readlink "/proc/$(child_of "$holder")/fd/3")" = "$PWD/db.txt" ]
    stderr_closed=1 attempt sharedhold </dev/null
    echo >&"$hold"
    wait "$holder"
    exec {hold}>&-
    expect_row 'sharedhold 2>&-' 0 "$lock_lines" ''
    cmp <(printf 'one record\n') db.txt
}

@test "standard input closed or a directory: readers see its end or an error, and do not wait" {
    require_native "the emulator holds descriptor 0 and others, and env -i drops QEMU_LD_PREFIX"
    local start
    start=$(nice)
    local rr=$'The max priority with RR Scheduling Policy is : 99\n'
    rr+=$'The min priority with RR Scheduling Policy is : 1\n'
    local now="Current priority of the running process is: $start"$'\n\n'
    now+="New priority of the running process is: $start"$'\n'
    local pids=$'Process id(PID) of the parent process is: +([0-9])\n'
    pids+=$'Process id(PID) of the child process is: +([0-9])\n'
    local unmoved=' above descriptor 2 failed: Invalid argument'
    local rows=(
        # command                 status  stdout                                    stderr
        rrrange                   0       "$rr"                                     ''
        'unprivileged policyflip' 0       $'Current policy is OTHER\nCurrent policy is 0\n' ''
        'niceset 0'               0       "$now"                                    ''
        pidtimer                  0       $'PID: +([0-9])\nTime taken : +([0-9]) \n' ''
        forkpids                  0       "$pids"                                   ''
        exclusivehold             0       "$lock_lines"                             ''
        sharedhold                0       "$lock_lines"                             ''
        seekgap                   0       'offset : 20'                             ''
        sizedecho        1       "$prompt"$'\n'       'Reading the size failed: Bad file descriptor'
        bytecat                   0       abc                                       ''
        stdinwait                 0       ''                           'error : Bad file descriptor'
        exclcreate                0       'The file descriptor value is: 0'         ''
        makelinks                 0       ''                                        ''
        forkappend                0       ''                                        ''
        execvlist                 0       "${banner[execvlist]}"$'\n'"$lsdemo_line"$'\n'   ''
        execlelist                0       "${banner[execlelist]}"$'\n'"$lsdemo_line"$'\n'  ''
        execlplist                0       "${banner[execlplist]}"$'\n'"$lsdemo_line"$'\n'  ''
        runother                  7       ''                                        "$child_report"
        "env -i A=1 $SYSLAB_BIN/envdump" 0 $'\nA=1'                                 ''
    )
    # The file takes descriptor 0 and there is no descriptor above 2 to move it to. (The
    # sanitizers' runtime cannot start with three descriptors.)
    [[ ${SYSLAB_SANITIZED:-} == 1 ]] || rows+=(
        'prlimit --nofile=3 exclusivehold' 1 ''                              "Moving db.txt$unmoved"
        'prlimit --nofile=3 sharedhold' 1 ''                                 "Moving db.txt$unmoved"
        'prlimit --nofile=3 seekgap' 1    ''                            "Moving seekgap.txt$unmoved"
    )
    each_row 4 command_row close_stdin
    [[ ${SYSLAB_SANITIZED:-} == 1 ]] || [ ! -s close_stdin-prlimit___nofile___seekgap/seekgap.txt ]

    rows=(
        # command            status  stdout                      stderr
        sizedecho          1       "$prompt"$'\n'          'Reading the size failed: Is a directory'
        stdinwait            0       $'The data is now available\n' ''
        exclusivehold        0       "$lock_lines"               ''
        sharedhold           0       "$lock_lines"               ''
        "env -i A=1 $SYSLAB_BIN/envdump" 0 $'\nA=1'              ''
    )
    each_row 4 command_row stdin_directory
}

# The programs that create a missing file (exclcreate, forkappend, makelinks' link) meet it
# in a read-only directory.
@test "data files missing, forbidden or in a read-only directory: errors name them, none made" {
    local rows=(
        # command      status  stdout                            stderr
        exclusivehold  1       ''                                'db.txt: No such file or directory'
        sharedhold     1       ''                                'db.txt: No such file or directory'
        seekgap        1       ''                           'seekgap.txt: No such file or directory'
        bytecat        1       ''                           'bytecat.txt: No such file or directory'
        execvlist      2       "${banner[execvlist]}"$'\n'       "$ls_lsdemo_error"
        execlelist     2       "${banner[execlelist]}"$'\n'      "$ls_lsdemo_error"
        execlplist     2       "${banner[execlplist]}"$'\n'      "$ls_lsdemo_error"
        runother       127     ''             './childprog/childprog_out: No such file or directory'
    )
    each_row 4 command_row remove_all </dev/null
    [ "$(find remove_all-* -mindepth 1)" = "" ]

    rows=(
        # command                    status  stdout                        stderr
        'unprivileged exclusivehold' 1       ''                          'db.txt: Permission denied'
        'unprivileged sharedhold'    1       ''                          'db.txt: Permission denied'
        'unprivileged seekgap'       1       ''                     'seekgap.txt: Permission denied'
        'unprivileged bytecat'       1       ''                     'bytecat.txt: Permission denied'
        'unprivileged forkappend'    1       ''                  'forkappend.txt: Permission denied'
        'unprivileged execvlist'     2       "${banner[execvlist]}"$'\n'   "$ls_lsdemo_error"
        'unprivileged execlelist'    2       "${banner[execlelist]}"$'\n'  "$ls_lsdemo_error"
        'unprivileged execlplist'    2       "${banner[execlplist]}"$'\n'  "$ls_lsdemo_error"
    )
    each_row 4 command_row lock_out </dev/null

    local denied='Failed : : Permission denied'
    rows=(
        # command                    status  stdout                              stderr
        'unprivileged exclcreate'    0       'The file descriptor value is: -1'  ''
        'unprivileged forkappend'    1       ''                  'forkappend.txt: Permission denied'
        'unprivileged makelinks'     0       ''                              "$denied"$'\n'"$denied"
        'unprivileged seekgap'       0       'offset : 20'                       ''
        'unprivileged exclusivehold' 0       "$lock_lines"                       ''
        'unprivileged sharedhold'    0       "$lock_lines"                       ''
        'unprivileged bytecat'       0       abc                                 ''
    )
    each_row 4 command_row read_only_directory </dev/null
}

# fork_row PROGRAM STATUS STDOUT STDERR: PROGRAM run where fork is refused: one process at most
# for its user, who has that one already, and no time-out (timeout could not fork either). Root
# is not held to the limit, so as root the program runs as a user id of its own, which no
# account and no other process has.
fork_row() {
    local command=("$1") copy=$BATS_TEST_TMPDIR/$1
    fixture "fork-$1"
    if ((EUID == 0)); then
        cp "$(command -v "$1")" "$copy"
        chmod o+x "$BATS_RUN_TMPDIR" "$BATS_TEST_TMPDIR"
        chmod 777 .
        command=(timeout 5 setpriv --reuid=64999 --regid=64999 --clear-groups "$copy")
    fi
    out=$BATS_TEST_TMPDIR/out err=$BATS_TEST_TMPDIR/err attempt_status=0
    (
        close_inherited_fds
        ulimit -u 1
        exec "${command[@]}"
    ) </dev/null >"$out" 2>"$err" || attempt_status=$?
    expect_row "$@"
}

@test "fork refused: an error line and status 1, never the parent's path with no child" {
    require_native "the emulator needs a thread of its own, which the process limit refuses"
    # LeakSanitizer needs a thread of its own at exit, which the limit refuses as well.
    if [[ ${SYSLAB_SANITIZED:-} == 1 ]]; then
        export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    fi
    # As root each row starts its program as another user through timeout, whose own fork
    # the limit spares only to a root that is root on the machine, not in a user namespace.
    ((EUID != 0)) || (ulimit -u 1 && exec timeout 5 true) 2>/dev/null ||
        skip "root here is not exempt from the process limit (root of a user namespace)"
    local refused='fork: Resource temporarily unavailable'
    local rows=(
        # program    status  stdout                                                  stderr
        forkpids     1       $'Process id(PID) of the parent process is: +([0-9])\n'   "$refused"
        orphanmaker  1       ''                                                      "$refused"
        zombiemaker  1       ''                                                      "$refused"
        forkappend   1       ''                                                      "$refused"
    )
    each_row 4 fork_row
    # Opened before the fork: there, and empty.
    [ -f forkappend.txt ] && [ ! -s forkappend.txt ]
}

# sizedecho_row INPUT_TAIL SIZE_LINE STATUS STDOUT STDERR [LEFT]: sizedecho fed SIZE_LINE and
# INPUT_TAIL; then LEFT (a glob) is what it left unread, when given.
sizedecho_row() {
    local left
    printf %s "$2$1" >input
    {
        attempt sizedecho
        left=$(cat && printf .)
    } <input
    expect_row "sizedecho <<< ${2:0:24}" "${@:3:3}" || return 1
    # shellcheck disable=SC2053 # a glob on purpose
    [[ $# -lt 6 || ${left%.} == $6 ]] ||
        { echo "row failed: sizedecho <<< ${2:0:24}: left ${#left} bytes" >&2 && return 1; }
}

@test "sizedecho: hostile sizes never read past 80 bytes, nor into the text when refused" {
    local head=$prompt$'\nenter string\nthe entered string is\n'
    local long_line long_number
    long_line=$(head -c 102400 /dev/zero | tr '\0' x)
    long_number=$(head -c 102400 /dev/zero | tr '\0' 9)
    local eighty=$head${long_line:0:80}$'\n' rest=${long_line:80}$'\n'
    # A number is taken from its first 31 characters at most; the read takes the next 80.
    local nines=$head${long_number:31:80}$'\n' nines_rest=${long_number:111}$'\n'$long_line$'\n'
    local invalid='Invalid size: Invalid argument' asked=$prompt$'\n'
    local rows=() size
    for size in -1 -99999999999999999999 abc x5 - +-5; do
        rows+=("$size" 1 "$asked" "$invalid" $'*hello\n') # the last: left unread (a glob)
    done
    each_row 5 sizedecho_row $'\nhello\n'
    rows=(81 0 "$eighty" '' "$rest" 4096 0 "$eighty" '' "$rest" 2147483647 0 "$eighty" '' "$rest"
        2147483648 0 "$eighty" '' "$rest" 99999999999999999999 0 "$eighty" '' "$rest"
        "$long_number" 0 "$nines" '' "$nines_rest")
    each_row 5 sizedecho_row $'\n'"$long_line"$'\n'
    rows=('' 1 "$asked" 'No size given: No data available' '')
    each_row 5 sizedecho_row ''
}

# niceset_row START INCREMENT ADDED: niceset INCREMENT, started at nice value START, adds ADDED
# (the kernel stops at 19), or is "refused" as a decrease asked by an ordinary user.
niceset_row() {
    local now="Current priority of the running process is: $1"$'\n'
    if [[ $3 == refused ]]; then
        attempt unprivileged niceset "$2" </dev/null
        expect_row "niceset '$2'" 1 "$now" \
            'Not able to change the priority: Operation not permitted'
    else
        attempt niceset "$2" </dev/null
        now+=$'\nNew priority of the running process is: '$(($1 + $3 > 19 ? 19 : $1 + $3))$'\n'
        expect_row "niceset '$2'" 0 "$now" ''
    fi
}

@test "niceset: hostile increments are read as atoi would, refused decreases are errors" {
    local rows=(-0 0 +5 5 ' 7' 7 3x 3 abc 0 '' 0 0x10 0 2147483648 40 99999999999999999999 40
        -1 refused -99999999999999999999 refused)
    each_row 2 niceset_row "$(nice)"
}

# find_flood PARENT: sets $flood_pid to the child of PARENT once that child runs fdflood.
find_flood() {
    local child
    child=$(child_of "$1") && [[ $(cat "/proc/$child/comm" 2>/dev/null) == fdflood ]] &&
        flood_pid=$child
}

# flood_running: $flood_pid is alive and has spent 10 clock ticks of processor time, so it has
# gone round its loop many times by now.
flood_running() {
    local stat fields
    stat=$(cat "/proc/$flood_pid/stat") || return 1
    read -ra fields <<<"${stat##*) }"
    ((fields[11] + fields[12] >= 10))
}

# start_flood [closed]: fdflood started as an ordinary user in the background, with at most
# 16 descriptors and 5 s of processor time should every kill be missed, standard error into
# $flood_err, standard input and output closed if asked; returns once it is running its loop.
start_flood() {
    (
        close_inherited_fds
        ulimit -n 16 -t 5
        if [[ -n ${1:-} ]]; then exec <&- >&-; fi
        unprivileged fdflood 2>"$flood_err"
    ) </dev/null >/dev/null 2>&1 & # the shell says "Terminated" when the flood is killed
    flood_runner=$!
    wait_for 5 find_flood "$flood_runner"
    wait_for 5 flood_running
}

stop_flood() {
    kill "$flood_pid"
    wait "$flood_runner" || true
    flood_pid='' flood_runner=''
}

@test "fdflood: in a read-only directory it creates nothing, runs on; closed streams fill too" {
    require_native "the emulator's own descriptors count against the limit"
    local flood_err=$BATS_TEST_TMPDIR/flood.err
    fixture flood-readonly
    rm ./*.txt
    chmod 555 .
    start_flood
    [ "$(ls)" = childprog ]
    [ ! -s "$flood_err" ] # silent, at least until killed
    stop_flood

    # With standard input and output closed the flood takes descriptors 0 and 1 as well and
    # stops at the limit all the same.
    fixture flood-closed
    rm ./*.txt
    chmod 777 .
    start_flood closed
    wait_for 5 prints 16 fd_count "$flood_pid"
    [ ! -s "$flood_err" ]
    if ((EUID == 0)) && ! capable 19; then
        stop_flood
        skip "the descriptors' paths: root reads another user's /proc/PID/fd links only with CAP_SYS_PTRACE"
    fi
    [ "$(readlink "/proc/$flood_pid/fd/0")" = "$PWD/one.txt" ]
    [ "$(readlink "/proc/$flood_pid/fd/1")" = "$PWD/two.txt" ]
    stop_flood
}

@test "nothing is lost: the programs that only lock, read or link leave their files as they were" {
    fixture lossless
    local program
    for program in db bytecat three lsdemo; do head -c 65536 /dev/urandom >"$program.txt"; done
    sha256sum db.txt bytecat.txt three.txt lsdemo.txt >../lossless.sums
    for program in exclusivehold sharedhold bytecat makelinks execvlist execlelist execlplist; do
        attempt "$program" </dev/null
        stdout_closed=1 attempt "$program" </dev/null
    done
    for program in exclusivehold sharedhold bytecat; do
        attempt "$program" <&-
        attempt "$program" <.
    done
    (exec bytecat >/dev/full 2>/dev/null) || true
    sha256sum --quiet -c ../lossless.sums
}

@test "the tour: a signal at any of its forks ends it at once; a TMPDIR others can write refused" {
    command -v strace >/dev/null || skip "no strace, to aim the signals at the forks"
    local tour=$BATS_TEST_DIRNAME/../tour row when signal want got
    # strace delivers the signal as the tour enters its WHEN-th fork: the tour ends with its
    # status, stops what it started and removes its scratch directory, within seconds (the
    # time-out leaves room for a machine busy with the other test files; a hang still fails)
    local rows=("2 TERM 143" "6 HUP 129" "10 TERM 143" "14 HUP 129" "18 TERM 143")
    for row in "${rows[@]}"; do
        read -r when signal want <<<"$row"
        rm -rf 't&mp' && mkdir 't&mp'
        got=0
        TMPDIR=$PWD/t\&mp timeout -k 1 60 strace -o /dev/null -e trace=clone,clone3 \
            -e "inject=clone,clone3:signal=SIG$signal:when=$when" \
            "$tour" --quick exclusivehold fdflood >/dev/null 2>&1 || got=$?
        got+=" $(ls -A 't&mp')"
        [[ $got == "$want " ]] || row_fails "$row" "$got" "$want "
    done
    rm -rf tmp && mkdir -m 777 tmp
    outcome 1 "" "tour: TMPDIR=$PWD/tmp: $PWD/tmp can be written by anyone: the tour keeps its files only where no one but root and you can change them" \
        env TMPDIR="$PWD/tmp" "$tour" rrrange
    chmod 1777 tmp
    TMPDIR=$PWD/tmp run "$tour" rrrange
    [ "$status" -eq 0 ] && [ -z "$(ls -A tmp)" ]
}
