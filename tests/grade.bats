#!/usr/bin/env bats
# syslab-grade on submissions, each a table: syslab's own programs (full marks), copies with
# one fault each (each loses the check that names it, and only it), versions written
# otherwise in C (full marks), hostile ones (contained, within the bound, nothing left). The
# gradings start side by side in setup_file, as most of their time is the programs' waits;
# each test reads its own.

load helper

grade=$SYSLAB_BIN/syslab-grade
fixtures=$BATS_TEST_DIRNAME/grade
source_dir=$BATS_TEST_DIRNAME/..

# Faults: program | a one-line sed on its source | the one check that must fail.
faults=(
    "policyflip|s/sched_getscheduler(pid)/sched_getscheduler(0)/|names-own-pid"
    "rrrange|s/min_priority = sched_get_priority_min/min_priority = sched_get_priority_max/|min-priority"
    "niceset|s/if (argc != 2)/if (argc < 2)/|usage"
    "exclusivehold|s/F_SETLKW/F_SETLK/|waits-for-lock"
    "exclusivehold|s/F_WRLCK/F_RDLCK/|write-lock"
    "sharedhold|s/fcntl(fd, F_SETLK, &lock) == -1/fcntl(fd, F_SETLKW, \\&lock) == -1/|refused-at-once"
    "sharedhold|s/printf(\"unlocked\")/puts(\"unlocked\")/|lines"
    "execvlist|s/\"-Rl\"/\"-l\"/|lists"
    "execlelist|s/nullptr, empty_environment/nullptr, environ/|execs-ls"
    "execlplist|s/-----------------OUTPUT/----------------OUTPUT/|banner"
    "runother|s/\"childprog.c\"/\"childprog.cc\"/|runs-childprog"
    "envdump|s/getchar();/while (getchar() != 10) {}/|end-of-input"
    "envdump|s/\"\\\\n%s\"/\"%s\\\\n\"/|lists"
    "pidtimer|s/\"PID: %d\\\\n\"/\"PID: %d \\\\n\"/|pid"
    "seekgap|s/\"offset : %lld\"/\"offset: %lld\"/|offset"
    "seekgap|s/^    close(fd);/    ftruncate(fd, 25);/|file"
    "sizedecho|s/puts(\"the entered string is\")/puts(\"the entered string is:\")/|echo"
    "sizedecho|s/^    puts(\"the entered string is\");/    for (char c = 0; count > 0 \\&\\& count == requested \\&\\& read(0, \\&c, 1) == 1 \\&\\& c != 10;) {}\\n&/|leaves-rest"
    "bytecat|s/write(1, &byte, 1) != 1/write(1, byte == 0 ? \" \" : \\&byte, 1) != 1/|copies"
    "bytecat|s/if (write(1, &byte, 1) != 1) {/if (putchar(byte) == EOF) {/|one-byte-calls"
    "stdinwait|s/\"No data was given for 10 seconds\"/\"No data was given for 10 seconds.\"/|times-out"
    "stdinwait|s/puts(\"The data is now available\");/{ puts(\"The data is now available\"); getchar(); }/|data-ready"
    "stdinwait|s/timeout.tv_usec = 0;/timeout.tv_usec = 500000;/|one-select"
    "exclcreate|s/O_CREAT . O_EXCL/O_EXCL/|creates"
    "exclcreate|s/ . O_EXCL,/,/|exists"
    "fdflood|s/for (;;) {/for (int pass = 0; pass < 5; ++pass) {/|fills-table"
    "fdflood|s/file_mode = 0777;/file_mode = 0700;/|files"
    "makelinks|s/symlink(\"three.txt\", \"four.txt\")/symlink(\"three.txt\", \"four\")/|symlink"
    "makelinks|s/if (link(\"three.txt\", \"five.txt\") < 0)/if ((link(\"three.txt\", \"five.txt\") == 0 ? unlink(\"five.txt\") : -1) < 0)/|hard-link"
    "makelinks|s/perror(\"Failed : \")/perror(\"Failed\")/|errors"
    "forkpids|s/of the parent process is/of the parent is/|lines"
    "forkpids|s/, child);/, getppid());/|child"
    "orphanmaker|s/puts(\"Exiting parent!\")/puts(\"Exiting parent\")/|lines"
    "orphanmaker|s/_exit(0);/_exit(1);/|parent-ends"
    "orphanmaker|s/sleep(child_sleep_seconds);/sleep(child_sleep_seconds - 6);/|adopted"
    "zombiemaker|s/puts(\"Exiting child!\")/puts(\"Exiting child\")/|lines"
    "zombiemaker|1s/^/#include <sys\\/wait.h>\\n/;s/sleep(parent_sleep_seconds);/wait(nullptr); &/|zombie"
    "forkappend|s/ . O_APPEND,/,/|records"
    "forkappend|s/O_APPEND, 0700)/O_APPEND, 0644)/|mode"
)

# grading NAME ARGUMENT...: starts syslab-grade in the background (through the command in the
# array before, if set), its output into NAME.out, its status into NAME.status when it ends;
# its scratch directories under NAME.tmp.
grading() {
    local name=$1
    shift
    mkdir -p "$BATS_FILE_TMPDIR/$name.tmp"
    (
        status=0
        TMPDIR=$BATS_FILE_TMPDIR/$name.tmp timeout 150 ${before[@]+"${before[@]}"} "$grade" "$@" \
            >"$BATS_FILE_TMPDIR/$name.out" 2>"$BATS_FILE_TMPDIR/$name.err" || status=$?
        echo "$status" >"$BATS_FILE_TMPDIR/$name.status"
    ) 3>&- &
    echo $! >>"$BATS_FILE_TMPDIR/gradings"
}

# graded NAME: waits for the grading NAME to end; $output holds its results, $status its status.
graded() {
    wait_for 160 test -s "$BATS_FILE_TMPDIR/$1.status"
    output=$(cat "$BATS_FILE_TMPDIR/$1.out")
    status=$(cat "$BATS_FILE_TMPDIR/$1.status")
}

# one_submission DIR: a submission of every program in the fault table, one copy each; a
# second table row of the same program goes into DIR-2, and so on.
fault_submissions() {
    local row program expression check round source
    local -A taken=()
    for row in "${faults[@]}"; do
        IFS='|' read -r program expression check <<<"$row"
        round=${taken[$program]:-1}
        taken[$program]=$((round + 1))
        mkdir -p "$BATS_FILE_TMPDIR/faults-$round"
        source=$(grep -x "[a-z]*/$program" "$source_dir/programs.list").cpp
        sed "$expression" "$source_dir/$source" >"$BATS_FILE_TMPDIR/faults-$round/$program.cpp"
        ! cmp -s "$source_dir/$source" "$BATS_FILE_TMPDIR/faults-$round/$program.cpp" ||
            echo "$row: the sed changed nothing" >>"$BATS_FILE_TMPDIR/fault-errors"
    done
}

setup_file() {
    [[ -x $grade && -z ${SYSLAB_EMULATOR:-} && ${SYSLAB_SANITIZED:-} != 1 ]] || return 0
    local path
    # as root the programs run as uids of their own, which must reach their directories
    chmod o+x "$BATS_RUN_TMPDIR" "$BATS_FILE_TMPDIR"
    mkdir "$BATS_FILE_TMPDIR/own"
    while read -r path; do
        [[ $path == [a-z]*/[a-z]* ]] || continue
        cp "$SYSLAB_BIN/${path#*/}" "$BATS_FILE_TMPDIR/own/" 2>/dev/null || true
    done <"$source_dir/programs.list"
    grading own --format gradescope "$BATS_FILE_TMPDIR/own"
    fault_submissions
    for path in "$BATS_FILE_TMPDIR"/faults-*; do
        grading "${path##*/}" "$path"
    done
    grading written-otherwise "$fixtures"
    mkdir "$BATS_FILE_TMPDIR/empty"
    grading nothing --format prairielearn "$BATS_FILE_TMPDIR/empty"
    # as root, these without CAP_SYS_PTRACE, as a container's root is
    local before=()
    ((EUID != 0)) || ! setpriv --bounding-set -sys_ptrace true 2>/dev/null ||
        before=(setpriv --bounding-set -sys_ptrace)
    grading few --format prairielearn "$BATS_FILE_TMPDIR/own" rrrange pidtimer fdflood
    before=()
    ((EUID != 0)) || ! unshare --pid --fork --mount-proc true 2>/dev/null || beside_grading
    cp -r "$fixtures/hostile" "$BATS_FILE_TMPDIR/hostile"
    # The hostile grading starts once the others have ended: its fork bomb and its loop would
    # starve their programs (a niceset left at nice 19 past its bound), and not root, where
    # every program runs as this one user, take the processes they need. Not root, runother,
    # which removes all it can reach of its grading, is graded on its own, or it could remove
    # the fork bomb's and the loop's builds before they ran to their bound.
    local started=("$BATS_FILE_TMPDIR"/*.tmp)
    (
        wait_for 300 all_graded "${#started[@]}"
        if ((EUID == 0)); then
            grading hostile --time-limit 20 "$BATS_FILE_TMPDIR/hostile"
        else
            grading hostile-runother --time-limit 20 "$BATS_FILE_TMPDIR/hostile" runother
            grading hostile --time-limit 20 "$BATS_FILE_TMPDIR/hostile" rrrange pidtimer envdump niceset
        fi
    ) 3>&- &
    echo $! >>"$BATS_FILE_TMPDIR/gradings"
}

# beside_grading: as root, the grading "beside" of forkpids and zombiemaker by a grader not
# root, in a PID namespace of its own, while 64 processes of its user run outside it, which the
# kernel counts and its /proc does not show (a container beside another of the same uid).
beside_grading() {
    local as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups) holders
    mkdir -m 1777 "$BATS_FILE_TMPDIR/beside.tmp"
    mkdir -m 755 "$BATS_FILE_TMPDIR/beside"
    cp "$fixtures/forkpids.c" "$fixtures/zombiemaker.c" "$BATS_FILE_TMPDIR/beside/"
    chmod a+r "$BATS_FILE_TMPDIR/beside/"*
    # ended with the namespace of their own, as its first process (root's) ends with unshare,
    # which takes only KILL
    unshare --pid --fork --kill-child bash -c 'for i in {1..64}; do "$@" sleep 300 & done; wait' \
        holders "${as_nobody[@]}" </dev/null >/dev/null 2>&1 3>&- &
    holders=$!
    disown "$holders" # killed below, which bash would report
    echo "$holders" >"$BATS_FILE_TMPDIR/holders"
    wait_for 10 runs_as_nobody 64
    before=(unshare --pid --fork --mount-proc "${as_nobody[@]}")
    grading beside "$BATS_FILE_TMPDIR/beside"
    before=()
    (
        wait_for 160 test -s "$BATS_FILE_TMPDIR/beside.status"
        kill -KILL "$holders"
    ) 3>&- &
    echo $! >>"$BATS_FILE_TMPDIR/gradings"
}

# runs_as_nobody N: at least N processes run as nobody.
runs_as_nobody() {
    (($(pgrep -c -u 65534 sleep) >= $1))
}

# all_graded N: N gradings have ended.
all_graded() {
    local ended=("$BATS_FILE_TMPDIR"/*.status)
    [[ -e ${ended[0]} ]] && ((${#ended[@]} >= $1))
}

teardown_file() {
    local pid
    [[ ! -s $BATS_FILE_TMPDIR/holders ]] || kill -KILL "$(cat "$BATS_FILE_TMPDIR/holders")" 2>/dev/null || true
    [[ -f $BATS_FILE_TMPDIR/gradings ]] || return 0
    while read -r pid; do
        kill -TERM "$pid" 2>/dev/null || true
    done <"$BATS_FILE_TMPDIR/gradings"
}

setup() {
    [[ -x $grade ]] || skip "syslab-grade is not built in $SYSLAB_BIN"
    require_native "the grader runs each program in a clean environment, without the emulator's library path"
    [[ ${SYSLAB_SANITIZED:-} != 1 ]] ||
        skip "sanitized programs reserve more address space than the grader's limits allow"
    cd "$BATS_TEST_TMPDIR" || return 1
}

@test "grade: syslab's own programs score 100 of 100, in Gradescope's results.json" {
    command -v jq >/dev/null || skip "jq is not installed (apt-get install jq)"
    graded own
    jq -r '.tests[] | select(.status != "passed" or .score != .max_score) | .name, .output' \
        <<<"$output" >&2
    [ "$status" -eq 0 ]
    # every test passed or not gradable here, with its score, visible; the score 100
    [ "$(jq '.score == 100' <<<"$output")" = true ]
    [ "$(jq -r '[.tests[] | select(.status != "passed" or .score != .max_score)] | length' \
        <<<"$output")" = 0 ]
    [ "$(jq -r '[.tests[] | select(has("name") and has("output") and .visibility == "visible")]
        | length' <<<"$output")" = "$(jq '.tests | length' <<<"$output")" ]
    [ "$(jq '[.tests[].max_score] | add | round' <<<"$output")" = 100 ]
}

@test "grade: each fault loses the check that names it, and only it" {
    local row program expression check round failed
    local -A taken=()
    [[ ! -s $BATS_FILE_TMPDIR/fault-errors ]] || { cat "$BATS_FILE_TMPDIR/fault-errors"; false; }
    for row in "${faults[@]}"; do
        IFS='|' read -r program expression check <<<"$row"
        round=${taken[$program]:-1}
        taken[$program]=$((round + 1))
        graded "faults-$round"
        [ "$status" -eq 1 ]
        # the checks that failed in that program's part of the results
        failed=$(awk -v program="$program:" '$1 == program { on = 1; next }
            /^[a-z]+: / { on = 0 } on && $1 == "FAIL" { print $2 }' <<<"$output")
        [[ $failed == "$check" ]] || row_fails "$row" "$failed" "$check"
    done
}

@test "grade: versions written otherwise, in C, score 100; the whole-grading bound and results in PrairieLearn's form, as root without CAP_SYS_PTRACE" {
    graded written-otherwise
    [ "$status" -eq 0 ]
    [[ $output == *$'\nTotal: '*' points: 100.0 of 100' ]]
    command -v jq >/dev/null || skip "jq is not installed (apt-get install jq)"
    graded few
    [ "$status" -eq 0 ]
    [ "$(jq -c '[.gradable, .score, .points, .max_points]' <<<"$output")" = '[true,1,13,13]' ]
    [ "$(jq -c '[.tests[] | select(.points == .max_points) | .name | split(":")[0]] | unique' \
        <<<"$output")" = '["fdflood","pidtimer","rrrange"]' ]
    [ "$(jq -r '[.tests[] | has("message") and has("output")] | all' <<<"$output")" = true ]
    if [[ -e $BATS_FILE_TMPDIR/beside.tmp ]]; then
        graded beside
        [ "$status" -eq 0 ]
    fi
    graded nothing
    [ "$status" -eq 2 ]
    [ "$(jq -c '[.gradable, .score]' <<<"$output")" = '[false,0]' ]
    [[ $(jq -r .message <<<"$output") == *"holds none of the programs"* ]]
}

@test "grade: hostile submissions fail their checks within the bound; nothing is left running" {
    local program pid left graded_apart=""
    graded hostile
    [ "$status" -eq 1 ]
    if ((EUID != 0)); then
        graded_apart=$output
        graded hostile-runother
        [ "$status" -eq 1 ]
        output=$graded_apart$'\n'$output
    fi
    # each program built, and every check after that failed
    for program in rrrange pidtimer envdump niceset runother; do
        awk -v program="$program:" '$1 == program { on = 1; next } /^[a-z]+: / { on = 0 }
            on && $1 == "pass" && $2 != "builds" { bad = 1 } END { exit bad }' <<<"$output"
        [[ $output == *$'\n'"$program: 0 of "* ]]
    done
    # the fork bomb and the loop killed at their bound; as root, what the whole bound cut, said
    [[ $output == *"was still running after 10 s and was killed"* ]]
    ((EUID != 0)) || [[ $output == *"not checked: the whole grading ran out of time"* ]]
    # nothing read that the program's user may not read; the submission untouched
    [[ $output != *"read /etc/shadow"* ]]
    [ "$(find "$BATS_FILE_TMPDIR/hostile" -type f | wc -l)" -eq 5 ]
    # nothing left: the daemons it named are gone, no process works in the scratch directories
    while read -r pid; do
        ! kill -0 "$pid" 2>/dev/null || [[ $(cat "/proc/$pid/comm") != envdump ]]
    done < <(grep -o 'left behind: [0-9]*' <<<"$output" | grep -o '[0-9]*$')
    left=$(leftovers "$BATS_FILE_TMPDIR/hostile.tmp")$(ls -A "$BATS_FILE_TMPDIR/hostile.tmp")
    [[ -z $graded_apart ]] ||
        left+=$(leftovers "$BATS_FILE_TMPDIR/hostile-runother.tmp")$(ls -A "$BATS_FILE_TMPDIR/hostile-runother.tmp")
    [ -z "$left" ]
}

@test "grade --answers: numbers and choices judged as the tour judges predictions, free text listed, stray lines named" {
    printf '%s\n' '# programs: rrrange sharedhold niceset' '3. +099' '4. -1000' '5. whatever' \
        '10. GRANT shared' '11. r' '6. 7' 'x. y' '' '3. 99' >sheet
    run -1 "$grade" --answers sheet --student ada
    [[ $output == *$'\nanswers: 2 of 4\n'* ]]
    # the lines judged, as "state number" in order; the sheet's stray lines by their number
    [ "$(awk '$1 ~ /^(pass|FAIL|text)$/ { print $1, $2 }' <<<"$output" | tr '\n' ,)" = \
        "FAIL line-7,FAIL line-8,FAIL line-10,pass 3,FAIL 4,text 5,pass 10,FAIL 11," ]
    [[ $output == *'answered -1000; the key is '* && $output == *'answered refused; the key is waits'* ]]
    [[ $output == *'        answer: whatever'$'\n''        key: '* ]]
    run -2 "$grade" --answers sheet --student ada --seed 3
    run -1 "$grade" --answers /dev/null --seed 3 --format prairielearn
    command -v jq >/dev/null || skip "jq is not installed (apt-get install jq)"
    [ "$(jq -c '[.gradable, .score]' <<<"$output")" = '[true,0]' ]
}
