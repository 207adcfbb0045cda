#!/usr/bin/env bats
# Every program under bad conditions: standard output, error or input closed, standard input
# a directory, data files missing, unreadable or in a read-only directory, hostile sizes and
# increments. Most tests are a table, one row per program or value; the loop names the row
# that fails. A row gives the command, then its status, standard output and standard error:
# the output byte for byte (a glob where a process id or ls's long line shows), the error
# lines with their final newline left off. Any sanitizer report is extra error text and fails
# the row.
#
# orphanmaker and zombiemaker sleep 10 s and read nothing: they meet only a refused fork, which
# ends them at once. fdflood has a test of its own, under a small `ulimit -n`.

load helper

# attempt CMD...: runs CMD with a time-out (under `unprivileged` without one: those rows never
# wait for input), standard output into $out or closed when $stdout_closed is set, standard
# error into $err, standard input as the caller gives it. Sets $attempt_status. The two files
# sit outside the working directory, which a row may make read-only.
attempt() {
    out=$BATS_TEST_TMPDIR/out err=$BATS_TEST_TMPDIR/err
    attempt_status=0
    : >"$out"
    (
        close_inherited_fds
        if [[ -n ${stdout_closed:-} ]]; then exec >&-; fi
        if [[ $1 == unprivileged ]]; then "$@"; else exec timeout 5 "$@"; fi
    ) >"$out" 2>"$err" || attempt_status=$?
}

# expect_row ROW STATUS STDOUT STDERR: the last attempt ended as the row says. On a mismatch it
# names the row and shows both sides quoted, so that every byte is visible.
expect_row() {
    local row=$1 status=$2 stdout=$3 stderr=$4 got_stdout got_stderr
    got_stdout=$(cat "$out" && printf .)
    got_stdout=${got_stdout%.}
    got_stderr=$(cat "$err")
    # shellcheck disable=SC2053 # the expected output is a glob on purpose
    if [[ $attempt_status == "$status" && $got_stdout == $stdout && $got_stderr == $stderr ]]; then
        return 0
    fi
    {
        echo "row failed: $row"
        printf '  status %s, expected %s\n' "$attempt_status" "$status"
        printf '  stdout   %q\n  expected %q\n' "$got_stdout" "$stdout"
        printf '  stderr   %q\n  expected %q\n' "$got_stderr" "$stderr"
    } >&2
    return 1
}

# fixture NAME: a fresh directory holding every data file, made the working directory.
# bytecat.txt has no final newline; childprog_out reports its arguments on standard error
# and ends with status 7, whatever standard output is.
fixture() {
    mkdir "$BATS_TEST_TMPDIR/$1"
    cd "$BATS_TEST_TMPDIR/$1" || return 1
    printf 'one record\n' >db.txt
    : >seekgap.txt
    printf abc >bytecat.txt
    printf 'three\n' >three.txt
    printf 'lsdemo\n' >lsdemo.txt
    chmod 644 lsdemo.txt
    mkdir childprog
    # shellcheck disable=SC2016 # the script's own $0 and $1
    printf '#!/bin/sh\necho "$0 $1" >&2\nexit 7\n' >childprog/childprog_out
    chmod 755 childprog/childprog_out
}

# A read-only directory or a 000 folder left by a test is made removable again; a flood
# left running by a failed test is stopped (only the one this test started).
teardown() {
    if [[ -n ${flood_runner:-} ]]; then
        find_flood "$flood_runner" || true
    fi
    if [[ -n ${flood_pid:-} ]]; then
        kill -KILL "$flood_pid" 2>/dev/null || true
    fi
    chmod -R u+rwX "$BATS_TEST_TMPDIR" 2>/dev/null || true
}

prompt='Ehter the size of the text you want to enter , MAX_CHAR=80'
lock_lines=$'Before entering into critical section\ninside the critical section....\nEnter to unlock..\nunlocked'
execv_banner='----------------------OUTPUT(ls -Rl) USING execv() system call---------------------'
execle_banner='---------------------OUTPUT(ls -Rl) USING execle() system call-------------------------'
execlp_banner='-----------------OUTPUT(ls -Rl) USING execlp() system call-----------------------'
child_report='./childprog/childprog_out childprog.c'
lsdemo_line='-rw-r--r-- 1 * lsdemo.txt'

# run_rows SETUP: for each row of $rows (four fields: command, status, stdout, stderr), a fresh
# fixture, SETUP evaluated in it, the command attempted with this shell's standard input.
# The command is split on spaces.
run_rows() {
    local setup=$1 i command
    for ((i = 0; i < ${#rows[@]}; i += 4)); do
        fixture "row-${rows[i]//[^a-z]/_}"
        eval "$setup"
        read -ra command <<<"${rows[i]}"
        attempt "${command[@]}"
        expect_row "${rows[i]}" "${rows[i + 1]}" "${rows[i + 2]}" "${rows[i + 3]}"
    done
}

@test "standard output closed: a failed copy or echo is an error, data files keep their bytes" {
    local stdout_closed=1
    local rows=(
        # command            status  stdout  stderr
        rrrange              0       ''      ''
        'niceset 5'          0       ''      ''
        policyflip           0       ''      ''
        pidtimer             0       ''      ''
        forkpids             0       ''      ''
        stdinwait            0       ''      ''
        makelinks            0       ''      ''
        envdump              0       ''      ''
        # The file takes descriptor 1: the copy reads it, and the write to it is refused.
        bytecat              1       ''      'Writing to standard output failed: Bad file descriptor'
        # The file takes descriptor 1 and is closed before the buffered offset goes out.
        seekgap              0       ''      ''
        # The file takes descriptor 1; the lines buffered for it must not land in it.
        exclusivehold        0       ''      ''
        sharedhold           0       ''      ''
        forkappend           0       ''      ''
        # The new file takes descriptor 1, so the report of its number goes into it.
        exclcreate           0       ''      ''
        execvlist            2       ''      '/bin/ls: write error: Bad file descriptor'
        execlelist           2       ''      '/bin/ls: write error: Bad file descriptor'
        execlplist           2       ''      '/bin/ls: write error: Bad file descriptor'
        runother             7       ''      "$child_report"
    )
    run_rows '' </dev/null

    local i sizes=(5 80)
    for i in "${sizes[@]}"; do
        fixture "sizedecho$i"
        printf '%s\nhello world\n' "$i" >input
        attempt sizedecho <input
        expect_row "sizedecho, size $i" 1 '' 'Writing the text failed: Bad file descriptor'
    done

    # What each left in its data files.
    cd "$BATS_TEST_TMPDIR"
    cmp <(printf '%s\0\0\0\0\0\0\0\0\0\0%s' 0101011010 0101011010) row-seekgap/seekgap.txt
    cmp <(printf abc) row-bytecat/bytecat.txt
    cmp <(printf 'The file descriptor value is: 1') row-exclcreate/exclcreate.txt
    wait_for 2 test "$(stat -c %s row-forkappend/forkappend.txt)" -eq 30
    cmp <(printf 'one record\n') row-exclusivehold/db.txt
    cmp <(printf 'one record\n') row-sharedhold/db.txt
}

@test "standard error closed: a refused lock's error line does not land in db.txt" {
    fixture stderr-closed
    mkfifo enter
    local hold
    exec {hold}<>enter # a writer that stays: the holder waits for its Enter
    (
        close_inherited_fds
        exec timeout 5 exclusivehold
    ) <enter >/dev/null 2>&1 &
    local holder=$!
    wait_for 3 grep -q "WRITE .*:$(stat -c %i db.txt) 0 EOF" /proc/locks

    # db.txt takes descriptor 2, where the refusal is reported.
    local status=0
    (
        close_inherited_fds
        exec timeout 5 sharedhold
    ) </dev/null >"$BATS_TEST_TMPDIR/out" 2>&- || status=$?
    echo >&"$hold"
    wait "$holder"
    exec {hold}>&-
    [ "$status" -eq 0 ]
    [ "$(cat "$BATS_TEST_TMPDIR/out")" = "$lock_lines" ]
    cmp <(printf 'one record\n') db.txt
}

@test "standard input closed: readers see end of input or an error, files take descriptor 0" {
    local start
    start=$(nice)
    local rows=(
        # command            status  stdout                                         stderr
        rrrange              0       $'The max priority with RR Scheduling Policy is : 99\nThe min priority with RR Scheduling Policy is : 1\n' ''
        'unprivileged policyflip' 0  $'Current policy is OTHER\nCurrent policy is 0\n' ''
        'niceset 0'          0       "Current priority of the running process is: $start"$'\n\n'"New priority of the running process is: $start"$'\n' ''
        pidtimer             0       $'PID: +([0-9])\nTime taken : +([0-9]) \n'          ''
        forkpids             0       $'Process id(PID) of the parent process is: +([0-9])\nProcess id(PID) of the child process is: +([0-9])\n' ''
        exclusivehold        0       "$lock_lines"                                  ''
        sharedhold           0       "$lock_lines"                                  ''
        seekgap              0       'offset : 20'                                  ''
        sizedecho            1       "$prompt"$'\n'                                 'Reading the size failed: Bad file descriptor'
        bytecat              0       abc                                            ''
        stdinwait            0       ''                                             'error : Bad file descriptor'
        exclcreate           0       'The file descriptor value is: 0'              ''
        makelinks            0       ''                                             ''
        forkappend           0       ''                                             ''
        execvlist            0       "$execv_banner"$'\n'"$lsdemo_line"$'\n'        ''
        execlelist           0       "$execle_banner"$'\n'"$lsdemo_line"$'\n'       ''
        execlplist           0       "$execlp_banner"$'\n'"$lsdemo_line"$'\n'       ''
        runother             7       ''                                             "$child_report"
        "env -i A=1 $SYSLAB_BIN/envdump" 0 $'\nA=1'                                 ''
    )
    run_rows '' <&-
}

@test "standard input a directory: the readers fail to read and do not wait" {
    local rows=(
        # command            status  stdout                      stderr
        sizedecho            1       "$prompt"$'\n'              'Reading the size failed: Is a directory'
        stdinwait            0       $'The data is now available\n' ''
        exclusivehold        0       "$lock_lines"               ''
        sharedhold           0       "$lock_lines"               ''
        "env -i A=1 $SYSLAB_BIN/envdump" 0 $'\nA=1'              ''
    )
    run_rows '' <.
}

# The programs that create a missing file (exclcreate, forkappend, makelinks' link) are tested
# with their folders.
@test "every data file missing: an error line naming the file, and nothing is created" {
    local rows=(
        # command            status  stdout                               stderr
        exclusivehold        1       ''                                   'db.txt: No such file or directory'
        sharedhold           1       ''                                   'db.txt: No such file or directory'
        seekgap              1       ''                                   'seekgap.txt: No such file or directory'
        bytecat              1       ''                                   'bytecat.txt: No such file or directory'
        'env LC_ALL=C execvlist'  2  "$execv_banner"$'\n'                 "/bin/ls: cannot access 'lsdemo.txt': No such file or directory"
        execlelist           2       "$execle_banner"$'\n'                "/bin/ls: cannot access 'lsdemo.txt': No such file or directory"
        'env LC_ALL=C execlplist' 2  "$execlp_banner"$'\n'                "/bin/ls: cannot access 'lsdemo.txt': No such file or directory"
        runother             127     ''                                   './childprog/childprog_out: No such file or directory'
    )
    run_rows 'rm -r ./*' </dev/null
    cd "$BATS_TEST_TMPDIR"
    [ "$(find row-* -mindepth 1)" = "" ]
}

@test "a data file the user may not read or write: an error line naming it" {
    local rows=(
        # command                    status  stdout                 stderr
        'unprivileged exclusivehold' 1       ''                     'db.txt: Permission denied'
        'unprivileged sharedhold'    1       ''                     'db.txt: Permission denied'
        'unprivileged seekgap'       1       ''                     'seekgap.txt: Permission denied'
        'unprivileged bytecat'       1       ''                     'bytecat.txt: Permission denied'
        'unprivileged forkappend'    1       ''                     'forkappend.txt: Permission denied'
        'unprivileged execvlist'     2       "$execv_banner"$'\n'   "/bin/ls: cannot open directory 'lsdemo.txt': Permission denied"
        'unprivileged execlelist'    2       "$execle_banner"$'\n'  "/bin/ls: cannot open directory 'lsdemo.txt': Permission denied"
        'unprivileged execlplist'    2       "$execlp_banner"$'\n'  "/bin/ls: cannot open directory 'lsdemo.txt': Permission denied"
    )
    # Read-only db.txt and seekgap.txt (the programs open them read-write), an unreadable
    # bytecat.txt, a read-only forkappend.txt, an unreadable directory lsdemo.txt.
    run_rows 'chmod 444 db.txt seekgap.txt; chmod 000 bytecat.txt; : >forkappend.txt
        chmod 444 forkappend.txt; rm lsdemo.txt; mkdir -m 000 lsdemo.txt; export LC_ALL=C' </dev/null
    cd "$BATS_TEST_TMPDIR"
    cmp <(printf 'one record\n') row-unprivileged_exclusivehold/db.txt
    cmp <(printf 'one record\n') row-unprivileged_sharedhold/db.txt
    [ ! -s row-unprivileged_seekgap/seekgap.txt ]
}

@test "a read-only working directory: nothing can be created, existing files still work" {
    local rows=(
        # command                    status  stdout                              stderr
        'unprivileged exclcreate'    0       'The file descriptor value is: -1'  ''
        'unprivileged forkappend'    1       ''                                  'forkappend.txt: Permission denied'
        'unprivileged makelinks'     0       ''                                  $'Failed : : Permission denied\nFailed : : Permission denied'
        'unprivileged seekgap'       0       'offset : 20'                       ''
        'unprivileged exclusivehold' 0       "$lock_lines"                       ''
        'unprivileged sharedhold'    0       "$lock_lines"                       ''
        'unprivileged bytecat'       0       abc                                 ''
    )
    # As root, three.txt goes to the unprivileged user: a hard link to someone else's file is
    # refused for its own reason (protected_hardlinks), which would hide the directory's.
    # shellcheck disable=SC2016 # evaluated in each row's fixture
    run_rows 'chmod 666 db.txt seekgap.txt; if ((EUID == 0)); then chown "$unprivileged_user" three.txt; fi
        chmod 555 .' </dev/null
}

# without_fork PROGRAM: runs PROGRAM where fork is refused: one process at most for its user,
# who has that one already. Root is not held to the limit, so as root the program runs as a
# user id of its own, which no account and no other process has.
without_fork() {
    local lone_uid=64999
    out=$BATS_TEST_TMPDIR/out err=$BATS_TEST_TMPDIR/err
    attempt_status=0
    if ((EUID == 0)); then
        local copy=$BATS_TEST_TMPDIR/$1
        cp "$(command -v "$1")" "$copy"
        chmod o+x "$BATS_RUN_TMPDIR" "$BATS_TEST_TMPDIR"
        chmod 777 .
        (
            close_inherited_fds
            ulimit -u 1
            exec timeout 5 setpriv --reuid="$lone_uid" --regid="$lone_uid" --clear-groups -- "$copy"
        ) </dev/null >"$out" 2>"$err" || attempt_status=$?
    else
        # No time-out here: timeout could not fork either.
        (
            close_inherited_fds
            ulimit -u 1
            exec "$1"
        ) </dev/null >"$out" 2>"$err" || attempt_status=$?
    fi
}

@test "fork refused: an error line and status 1, never the parent's path with no child" {
    # LeakSanitizer needs a thread of its own at exit, which the limit refuses as well.
    if [[ ${SYSLAB_SANITIZED:-} == 1 ]]; then
        export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    fi
    local refused='fork: Resource temporarily unavailable'
    local rows=(
        # program    status  stdout                                                    stderr
        forkpids     1       $'Process id(PID) of the parent process is: +([0-9])\n'     "$refused"
        orphanmaker  1       ''                                                        "$refused"
        zombiemaker  1       ''                                                        "$refused"
        forkappend   1       ''                                                        "$refused"
    )
    local i
    for ((i = 0; i < ${#rows[@]}; i += 4)); do
        fixture "fork-${rows[i]}"
        without_fork "${rows[i]}"
        expect_row "${rows[i]}" "${rows[i + 1]}" "${rows[i + 2]}" "${rows[i + 3]}"
    done
    # Opened before the fork: there, and empty.
    [ -f forkappend.txt ] && [ ! -s forkappend.txt ]
}

@test "sizedecho: hostile sizes never read past 80 bytes, nor into the text when refused" {
    local head=$prompt$'\nenter string\nthe entered string is\n'
    local long_line long_number
    long_line=$(head -c 102400 /dev/zero | tr '\0' x)
    long_number=$(head -c 102400 /dev/zero | tr '\0' 9)
    local eighty=${long_line:0:80} line_rest=${long_line:80}$'\n'
    # A number is taken from its first 31 characters at most; the read takes the next 80.
    local nines=${long_number:0:80} nines_rest=${long_number:111}$'\n'$long_line$'\n'
    local invalid='Invalid size: Invalid argument'
    local rows=(
        # size line, then the text              status stdout                stderr        left for the next reader (a glob)
        $'-1\nhello\n'                          1  "$prompt"$'\n'            "$invalid"    $'*hello\n'
        $'-99999999999999999999\nhello\n'       1  "$prompt"$'\n'            "$invalid"    $'*hello\n'
        $'abc\nhello\n'                         1  "$prompt"$'\n'            "$invalid"    $'*hello\n'
        $'x5\nhello\n'                          1  "$prompt"$'\n'            "$invalid"    $'*hello\n'
        $'-\nhello\n'                           1  "$prompt"$'\n'            "$invalid"    $'*hello\n'
        $'+-5\nhello\n'                         1  "$prompt"$'\n'            "$invalid"    $'*hello\n'
        ''                                      1  "$prompt"$'\n'            'No size given: No data available' ''
        $'81\n'"$long_line"$'\n'                0  "$head$eighty"$'\n'       ''            "$line_rest"
        $'4096\n'"$long_line"$'\n'              0  "$head$eighty"$'\n'       ''            "$line_rest"
        $'2147483647\n'"$long_line"$'\n'        0  "$head$eighty"$'\n'       ''            "$line_rest"
        $'2147483648\n'"$long_line"$'\n'        0  "$head$eighty"$'\n'       ''            "$line_rest"
        $'99999999999999999999\n'"$long_line"$'\n' 0 "$head$eighty"$'\n'     ''            "$line_rest"
        "$long_number"$'\n'"$long_line"$'\n'    0  "$head$nines"$'\n'        ''            "$nines_rest"
    )
    local i left
    for ((i = 0; i < ${#rows[@]}; i += 5)); do
        printf %s "${rows[i]}" >input
        {
            attempt sizedecho
            left=$(cat && printf .)
        } <input
        expect_row "sizedecho <<< ${rows[i]:0:24}" "${rows[i + 1]}" "${rows[i + 2]}" "${rows[i + 3]}"
        # shellcheck disable=SC2053 # a glob on purpose
        [[ ${left%.} == ${rows[i + 4]} ]] || {
            echo "row failed: sizedecho <<< ${rows[i]:0:24}: left ${#left} bytes" >&2
            return 1
        }
    done
}

@test "niceset: hostile increments are read as atoi would, refused decreases are errors" {
    local start
    start=$(nice)
    local now="Current priority of the running process is: $start"
    # The increment as typed, then what it adds to the nice value (the kernel stops at 19), or
    # "refused" for a decrease asked by an ordinary user.
    local rows=(-0 0 +5 5 ' 7' 7 3x 3 abc 0 '' 0 0x10 0 2147483648 40 99999999999999999999 40
        -1 refused -99999999999999999999 refused)
    local i expected
    for ((i = 0; i < ${#rows[@]}; i += 2)); do
        if [[ ${rows[i + 1]} == refused ]]; then
            attempt unprivileged niceset "${rows[i]}" </dev/null
            expect_row "niceset '${rows[i]}'" 1 "$now"$'\n' \
                'Not able to change the priority: Operation not permitted'
        else
            attempt niceset "${rows[i]}" </dev/null
            expected=$((start + rows[i + 1] > 19 ? 19 : start + rows[i + 1]))
            expect_row "niceset '${rows[i]}'" 0 \
                "$now"$'\n\n'"New priority of the running process is: $expected"$'\n' ''
        fi
    done
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

@test "fdflood: in a read-only directory it creates nothing and runs on; closed streams fill up too" {
    local flood_err=$BATS_TEST_TMPDIR/flood.err
    fixture flood-readonly
    rm ./*.txt
    chmod 555 .
    # At most 16 descriptors, and 5 s of processor time should every kill below be missed.
    (
        close_inherited_fds
        ulimit -n 16 -t 5
        unprivileged fdflood 2>"$flood_err"
    ) </dev/null >/dev/null 2>/dev/null &
    flood_runner=$!
    wait_for 5 find_flood "$flood_runner"
    wait_for 5 flood_running
    run ls
    [ "$output" = childprog ]
    [ ! -s "$flood_err" ] # silent, at least until killed (the shell then says "Terminated")
    kill "$flood_pid"
    wait "$flood_runner" || true
    flood_pid='' flood_runner=''

    # Standard input and output closed: the flood takes descriptors 0 and 1 as well and stops
    # at the limit all the same.
    fixture flood-closed
    rm ./*.txt
    (
        close_inherited_fds
        ulimit -n 16 -t 5
        exec timeout 5 fdflood
    ) <&- >&- 2>"$flood_err" &
    flood_runner=$!
    wait_for 5 find_flood "$flood_runner"
    wait_for 5 test "$(find "/proc/$flood_pid/fd" -mindepth 1 | wc -l)" -eq 16
    wait_for 5 flood_running
    [ "$(readlink "/proc/$flood_pid/fd/0")" = "$PWD/one.txt" ]
    [ "$(readlink "/proc/$flood_pid/fd/1")" = "$PWD/two.txt" ]
    [ ! -s "$flood_err" ]
    kill "$flood_pid"
    wait "$flood_runner" || true
    flood_pid='' flood_runner=''
}

@test "nothing is lost: the programs that only lock, read or link leave their files as they were" {
    fixture lossless
    head -c 65536 /dev/urandom >db.txt
    head -c 65536 /dev/urandom >bytecat.txt
    head -c 65536 /dev/urandom >three.txt
    head -c 65536 /dev/urandom >lsdemo.txt
    sha256sum db.txt bytecat.txt three.txt lsdemo.txt >../lossless.sums

    local program
    for program in exclusivehold sharedhold; do
        attempt "$program" </dev/null
        attempt "$program" <&-
        attempt "$program" <.
        stdout_closed=1 attempt "$program" </dev/null
    done
    attempt bytecat
    attempt bytecat <&-
    stdout_closed=1 attempt bytecat
    (exec bytecat >/dev/full 2>/dev/null) || true
    attempt makelinks
    attempt makelinks
    for program in execvlist execlelist execlplist; do
        attempt "$program"
        stdout_closed=1 attempt "$program"
    done

    sha256sum --quiet -c ../lossless.sums
}
