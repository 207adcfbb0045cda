#!/usr/bin/env bats
# The guided tour as a whole: one quick run with its questions (--ask --quick), checked view
# by view; a full run of orphanmaker and zombiemaker beside it; the choice of programs and
# options, the worksheet. Each tour makes its scratch directory under a TMPDIR of the test's
# own, so what it leaves behind (a directory, a process working there) shows.

load helper

tour=$BATS_TEST_DIRNAME/../tour
export SYSLAB_BIN # the tour runs the programs under test and builds nothing

# questions_in: the questions of a tour's --ask output or of a worksheet, one per line, each
# after its number.
questions_in() {
    awk '/^Question [0-9]+: / { if (q) print q; q = $2 " " substr($0, length($1 $2) + 3); next }
        /^[ 0-9][ 0-9][0-9]\. / { if (q) print q; q = $1 " " substr($0, 6); next }
        /^     (Answer: )?_+$/ { if (q) print q; q = ""; next }
        q && /^     / { sub(/^ +/, ""); q = q " " $0; next }
        { if (q) print q; q = "" } END { if (q) print q }' | sed 's/^\([0-9]*\)[:.] /\1 /'
}

# run_tour NAME ARGUMENT...: runs the tour in $BATS_FILE_TMPDIR/NAME, its scratch directory
# under NAME/tmp, into NAME/out, NAME/err and NAME/status.
run_tour() {
    local dir=$BATS_FILE_TMPDIR/$1
    shift
    mkdir -p "$dir/tmp"
    (
        cd "$dir" || exit
        # shellcheck disable=SC2086 # $under: words to put in front
        TMPDIR=$dir/tmp timeout 60 ${under:-} "$tour" "$@" >out 2>err &
        echo "$!" >pid
        wait "$!"
        echo "$?" >status
    ) 3>&-
}

setup_file() {
    # The orphan and zombie views take 12 s: those tours run while the other tests do, one
    # with both side by side, one with --ask, which shows each as it happens.
    run_tour slow zombiemaker orphanmaker &
    run_tour asked --ask orphanmaker &
    [[ -n ${SYSLAB_EMULATOR:-} ]] || run_tour quick --ask --quick
    # zombiemaker under a process 1 that collects nothing (timeout, first in a PID namespace
    # of its own), where one can be made
    if [[ -z ${SYSLAB_EMULATOR:-} ]] &&
        unshare --pid --fork --mount-proc --propagation private true 2>/dev/null; then
        under="unshare --pid --fork --mount-proc --propagation private --kill-child timeout 50" \
            run_tour unreaped zombiemaker &
    fi
}

teardown_file() {
    local slow
    for slow in "$BATS_FILE_TMPDIR"/{slow,asked,unreaped}; do
        if [[ ! -e $slow/status && -s $slow/pid ]]; then
            kill -TERM "$(cat "$slow/pid")" 2>/dev/null || true
        fi
    done
}

# tour_ended NAME: waits for the tour that run_tour NAME started, which must end with status 0,
# print nothing on standard error and leave nothing behind (no process, no directory); its
# output into $output.
tour_ended() {
    local dir=$BATS_FILE_TMPDIR/$1
    wait_for 50 test -s "$dir/status"
    [ "$(cat "$dir/status")" -eq 0 ]
    [ "$(cat "$dir/err")" = "" ]
    [ "$(leftovers "$dir/tmp")" = "" ]
    [ "$(ls -A "$dir/tmp")" = "" ]
    output=$(cat "$dir/out")
}

# file_system_at DIR: "TYPE, whose blocks are N bytes", of the file system DIR lies on.
file_system_at() {
    printf '%s, whose blocks are %s bytes' "$(findmnt -no FSTYPE -T "$1" | tail -n 1)" \
        "$(stat -f -c %S "$1")"
}

quick_tour() {
    require_native "ps and strace show the emulator, and env -i drops QEMU_LD_PREFIX"
    tour_ended quick
}

@test "tour --ask --quick: every program but the long ones, each question answered" {
    quick_tour
    # Every program has its heading, but those --quick leaves out whole; the line says so.
    local expected
    expected=$(grep -E '^[a-z]+/[a-z]+$' "$BATS_TEST_DIRNAME/../programs.list" |
        grep -v -e orphanmaker -e zombiemaker | sed 's|.*/||')
    [ "$(sed -n 's/^== \([a-z]*\):.*/\1/p' <<<"$output")" = "$expected" ]
    grep -A1 '^# --quick: left out' <<<"$output" | tr '\n' ' ' | grep -qx "# --quick: left out, as \
they wait longer than a second: orphanmaker, # zombiemaker, stdinwait's 10-second time-out "
    # no program failed (a sanitizer report would end one with a status)
    # (but niceset -5, refused with status 1 without CAP_SYS_NICE)
    [ "$(grep -c '^# exit status' <<<"$output")" -eq "$(capable 23 && echo 0 || echo 1)" ]
    # The tour's own lines fit 80 columns.
    [ "$(grep -E '^(==|#|\[|\$|Question|Answer)' <<<"$output" | awk 'length > 80')" = "" ]

    # Off a terminal nothing waits: each question (two on one view, as the case may be), its
    # view, then its answer, which is the bank's answer to that very question. (A question
    # this machine cannot show, such as the real-time one for an ordinary user, is named as
    # left out, with no answer.)
    output=$(grep -v '^Question [0-9]*: left out here: ' <<<"$output")
    grep -Eo '^(Question|Answer)' <<<"$output" |
        awk '/Q/ { q++ } /A/ { if (++a > q) bad = 1 } END { exit bad || a != q || q == 0 }'
    local pairs bank
    pairs=$(awk '/^(Question|Answer)/ { if (t) print t; t = $0; sub(/^[A-Za-z]+( [0-9]+)?: /, "", t)
            t = substr($1, 1, 1) ": " t; next }
        t && /^    / { sub(/^ +/, ""); t = t " " $0; next }
        { if (t) print t; t = "" } END { if (t) print t }' <<<"$output")
    # the bank's entries, their numbers filled in as the tour does
    bank=$(bash -c "source '$tour'; load_questions"' && for entry in "${question_keys[@]}"; do
        fill text "${question[$entry.text]}" && fill answer "${question[$entry.answer]}" &&
        printf "Q: %s\nA: %s\n" "$text" "$answer"; done')
    [ -n "$pairs" ]
    # each printed question and answer, in pairs, stands in the bank as such a pair
    [ "$(paste -d '\n' <(grep '^Q: ' <<<"$pairs") <(grep '^A: ' <<<"$pairs") |
        paste - - | grep -vxF -f <(paste - - <<<"$bank"))" = "" ]
}

@test "tour --quick: what each view shows, at the moment it shows it" {
    quick_tour
    local rows=(
        # a line (ERE) | how many lines after | a line (ERE, the rest of the row) it follows
        # exclusivehold's write lock; sharedhold refused meanwhile, holding no lock
        'exclusivehold .* WRITE .*/db\.txt|2|^\[terminal 3\] \$ lslocks -o COMMAND,PID,TYPE,MODE,START,END,PATH -p [0-9]+$'
        'Before entering into critical section|1|^\[terminal 2\] \$ sharedhold$'
        'Shared lock not granted: Resource temporarily unavailable|2|^\[terminal 2\] \$ sharedhold$'
        '# none: .*|1|^\[terminal 3\] \$ lslocks -o COMMAND,PID,TYPE,MODE,START,END,PATH -p [0-9]+$'
        # a writer waiting for the two readers (WRITE*), then granted
        'exclusivehold .* WRITE\* .*/db\.txt|2|^\[terminal 4\] \$ lslocks -o COMMAND,PID,TYPE,MODE,START,END,PATH -p [0-9]+$'
        'Enter to unlock\.\.|2|^# the last reader let go'
        # seekgap's offset and zero-filled gap; sizedecho's one read of 5 bytes
        'offset : 20|1|^\$ seekgap$'
        '0000000   0   1   0   1   0   1   1   0   1   0  \\0  \\0  \\0  \\0  \\0  \\0|1|^\[second terminal\] \$ od -A d -c seekgap\.txt$'
        '0000016  \\0  \\0  \\0  \\0   0   1   0   1   0   1   1   0   1   0|2|^\[second terminal\] \$ od -A d -c seekgap\.txt$'
        'hello|4|^\$ printf .5.nhello world.n. \| sizedecho$'
        # exclcreate: descriptor 3, then -1; fdflood's table full at the limit of 64
        'The file descriptor value is: 3|1|^\$ exclcreate$'
        'The file descriptor value is: -1|1|^\$ exclcreate$'
        '64|1|^\[second terminal\] \$ ls /proc/[0-9]+/fd \| wc -l$'
        # makelinks run again: both names refused
        'Failed : : File exists|1|^\$ makelinks$'
        'Failed : : File exists|2|^\$ makelinks$'
        # forkappend: the tour waits for all six records before it looks (90 bytes)
        '0000090|7|^\[second terminal\] \$ od -A d -c forkappend\.txt$'
        # envdump under env -i sees its two variables only
        'FRUIT=apple|1|^\[second terminal\] \$ tr .* </proc/[0-9]+/environ$'
        'COLOUR=green|2|^\[second terminal\] \$ tr .* </proc/[0-9]+/environ$'
    )
    # a launcher traced: what strace writes, the listing sent to /dev/null
    grep -q '^# no usable strace' <<<"$output" ||
        rows+=('.*execvlist.*|1|^\[second terminal\] \$ strace -qq -e trace=execve execvlist >/dev/null$')
    local row line after re got
    for row in "${rows[@]}"; do
        IFS='|' read -r line after re <<<"$row"
        got=$(re=$re after=$after awk '$0 ~ ENVIRON["re"] { at[NR + ENVIRON["after"]] = 1 }
            NR in at' <<<"$output")
        grep -Eqx -- "$line" <<<"$got" || row_fails "$re, +$after" "$got" "$line"
    done
    # two readers at once
    [ "$(grep -Ec '^sharedhold .* READ .*/db\.txt$' <<<"$output")" -eq 2 ]
    # makelinks: the symbolic link, and the hard link sharing three.txt's inode
    # (ls pads the inode numbers to one width, and may mark a file with . or +)
    grep -Eq '^ *[0-9]+ lrwxrwxrwx[.+]? +1 .* four\.txt -> three\.txt$' <<<"$output"
    local five three
    five=$(grep -E '^ *[0-9]+ -[rwx-]{9}[.+]? +2 .* five\.txt$' <<<"$output")
    three=$(grep -E '^ *[0-9]+ -[rwx-]{9}[.+]? +2 .* three\.txt$' <<<"$output")
    read -r five _ <<<"$five"
    read -r three _ <<<"$three"
    [ -n "$five" ]
    [ "$five" = "$three" ]
    # seekgap's blocks, on the file system that holds the scratch directory, named as the
    # mount table names it (ext4, where stat -f says ext2/ext3)
    local file_system
    file_system=$(file_system_at "$BATS_FILE_TMPDIR/quick/tmp")
    tr -s '\n ' '  ' <<<"$output" | grep -qF " of 512 bytes on $file_system: "
    # pidtimer's machine: a virtual one where the processor shows the hypervisor flag, with
    # page-table isolation where the kernel says it is on
    if [[ $HOSTTYPE == x86_64 ]]; then
        local machine="this looks like a physical machine (no hypervisor flag)" isolation=without
        grep -m 1 '^flags' /proc/cpuinfo | grep -qw hypervisor &&
            machine="this is a virtual machine (the processor shows the hypervisor flag)"
        { grep -q PTI /sys/devices/system/cpu/vulnerabilities/meltdown ||
            grep -m 1 '^flags' /proc/cpuinfo | grep -qw pti; } 2>/dev/null && isolation=with
        tr -s '\n ' '  ' <<<"$output" | grep -qF " ticks: $machine, $isolation page-table isolation"
    fi
}

@test "tour zombiemaker orphanmaker: the zombie as <defunct>, the orphan adopted" {
    require_native "ps shows the emulator's thread and command line"
    tour_ended slow
    # no status noted, not even that of ps finding the collected zombie gone (a second terminal)
    [ "$(grep -c '^# exit status' <<<"$output")" -eq 0 ]

    # zombiemaker: during the sleep, the child as Z <defunct> with the parent as its parent
    local parent child
    parent=$(sed -n 's/^Parent PID is: \([0-9]*\)$/\1/p' <<<"$output" | tail -n 1)
    child=$(sed -n 's/^Child PID is: \([0-9]*\)$/\1/p' <<<"$output" | tail -n 1)
    grep -Eq "^ *$child +$parent +Z +\\[zombiemaker\\] <defunct>\$" <<<"$output"
    grep -qx 'Parent is now awake!' <<<"$output"

    # orphanmaker: the child's parent first the orphanmaker, then another process
    parent=$(sed -n 's/^Parent PID is: \([0-9]*\)$/\1/p' <<<"$output" | head -n 1)
    child=$(sed -n 's/^Child PID is: \([0-9]*\)$/\1/p' <<<"$output" | head -n 1)
    grep -Eq "^ *$child +$parent +S +.*orphanmaker\$" <<<"$output"
    local adopter
    adopter=$(grep -E "^ *$child +[0-9]+ +S +.*orphanmaker\$" <<<"$output" | awk '{ print $2 }' |
        grep -vx "$parent")
    [ -n "$adopter" ]
    grep -qx "# the parent is gone: the orphan was adopted by process $adopter (init, or the" <<<"$output"
    # the two waits overlapped: the parent ended at 10 s and the child at 12 s, and the views
    # come in the order they were seen: the child's last line after its adoption
    grep -Eqx '# the parent ended after 1[01]\.[0-9] s' <<<"$output"
    grep -Eqx '# the child ended after 1[23]\.[0-9] s' <<<"$output"
    awk -v child="$child" -v adopter="$adopter" '$1 == child && $2 == adopter { seen = 1 }
        seen && $0 == "Child is now awake!" { found = 1 } END { exit !found }' <<<"$output"

    # --ask: the orphanmaker runs in its turn, its two questions answered, the views' times
    # in step: the adoption seen at or after the parent's end, which names the adopter
    tour_ended asked
    [ "$(sed -n '/^== orphanmaker/,/^== zombiemaker/p' <<<"$output" |
        grep -Ec '^(Question [0-9]+|Answer):')" -eq 6 ]
    local ended seen
    ended=$(sed -n 's/^# the parent ended after \([0-9.]*\) s$/\1/p' <<<"$output" | tr -d .)
    seen=$(sed -n 's/^\[second terminal, \([0-9.]*\) s in\] \$ ps -o pid,ppid,stat,cmd -p [0-9]*$/\1/p' \
        <<<"$output" | tr -d .)
    ((10#$seen >= 10#$ended))
    # the adopter named is the orphan's parent that ps showed after the parent's end
    child=$(sed -n 's/^Child PID is: \([0-9]*\)$/\1/p' <<<"$output" | head -n 1)
    adopter=$(grep -E "^ *$child +[0-9]+ +S +.*orphanmaker\$" <<<"$output" | tail -n 1 | awk '{ print $2 }')
    grep -Eq "^Here: process $adopter, " <<<"$output"
}

@test "tour started as in real use: descriptor 3 open, TMPDIR on a tmpfs of its own, no UTF-8" {
    # As root the scratch directory is on a tmpfs mounted in a mount namespace of its own.
    local tmp=$PWD/tmp file_system inside=()
    mkdir tmp
    file_system=$(file_system_at tmp)
    if ((EUID == 0)) && unshare --mount --propagation private true 2>/dev/null; then
        # shellcheck disable=SC2016 # the inner shell's arguments
        inside=(unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs "$1" && shift &&
            exec "$@"' sh "$tmp")
        file_system="tmpfs, whose blocks are $(getconf PAGESIZE) bytes"
    fi
    (
        exec 3<"$BATS_TEST_FILENAME"
        "${inside[@]}" env LC_ALL=C TMPDIR="$tmp" timeout 30 "$tour" --ask seekgap exclcreate fdflood \
            >out 2>err
        echo "$?" >status
    )
    [ "$(cat status err)" = 0 ]
    output=$(cat out)
    # exclcreate gets descriptor 3 still, and fdflood fills its table of 64 from 3 on
    [ "$(grep -A1 -x '\$ exclcreate' <<<"$output" | sed -n 2p)" = "The file descriptor value is: 3" ]
    [ "$(grep -A1 -E '^\[second terminal\] \$ ls /proc/[0-9]+/fd \| wc -l$' <<<"$output" | sed -n 2p)" = 64 ]
    tr -s '\n ' '  ' <<<"$output" | grep -qF " of 512 bytes on $file_system: "
    [ "$(ls -A tmp)" = "" ]
}

@test "tour PROGRAM...: only those; --keep keeps the directory; --step pauses" {
    TMPDIR=$PWD run --separate-stderr timeout 30 "$tour" --keep makelinks seekgap
    [ "$status" -eq 0 ]
    [ "$(grep '^== ' <<<"$output" | cut -d : -f 1)" = $'== seekgap\n== makelinks' ]
    local kept
    kept=$(sed -n 's/^The scratch directory is kept: //p' <<<"$output")
    [[ $kept == "$PWD"/* ]]
    [ "$(readlink "$kept/four.txt")" = three.txt ]
    # seekgap's 30 bytes, made a megabyte by truncate -s 1M for syslab-look's picture of holes
    [ "$(wc -c <"$kept/seekgap.txt")" -eq "$([[ -x $SYSLAB_BIN/syslab-look ]] && echo 1048576 || echo 30)" ]
    # the programs without syslab-look beside them: its pictures left out, and the tour goes on
    local name
    mkdir alone
    for name in "${programs[@]}"; do
        [[ ! -e $SYSLAB_BIN/$name ]] || ln -s "$SYSLAB_BIN/$name" alone/
    done
    SYSLAB_BIN=$PWD/alone TMPDIR=$PWD run --separate-stderr timeout 30 "$tour" forkappend
    [[ $status == 0 && ${lines[-1]} == "The tour is over." ]] ||
        row_fails "forkappend without syslab-look" "$status ${lines[-1]}" "0 The tour is over."

    # --step: a pause at least every 22 lines, a long step paused within
    TMPDIR=$PWD run bash -c "yes '' | timeout 30 '$tour' --step exclusivehold sharedhold"
    [ "$status" -eq 0 ]
    [ "$(awk '/^\[Enter/ { if (n > max) max = n; n = 0; next } { n++ }
        END { print (n > max ? n : max) }' <<<"$output")" -le 22 ]
    grep -q '^\[Enter for more\]' <<<"$output"
    # sizes no terminal has are taken as unknown: 24 by 80
    local size
    for size in 18446744073709551616 18446744073709551615 0; do
        TMPDIR=$PWD run --separate-stderr bash -c \
            "yes '' | COLUMNS=$size LINES=$size timeout 30 '$tour' --step sharedhold"
        [[ $status == 0 && -z $stderr && $(awk '/^\[Enter/ { if (n > max) max = n; n = 0; next }
            { n++ } END { print (n > max ? n : max) }' <<<"$output") -le 22 ]] ||
            row_fails "COLUMNS=LINES=$size" "$status $stderr" "0"
    done
}

@test "tour: a wrong name or option, or options that do nothing together: the usage, status 2" {
    local rows=(
        "makelinks nosuchprogram|tour: no program nosuchprogram"
        "--no-such-option|tour: unknown option --no-such-option"
        "--worksheet --ask|tour: --ask goes with the tour, not with --worksheet"
        "--worksheet --step --keep|tour: --step goes with the tour, not with --worksheet"
        "--lab $PWD/scratch/lab --quick|tour: --quick goes with the tour, not with --lab"
        "--answers|tour: --answers goes with --worksheet"
        "--student Bo --seed 1|tour: --student and --seed go separately"
        "--worksheet --seed 4294967296|tour: --seed takes a number from 0 to 4294967295"
        "--student=|tour: --student needs a name"
        "--format gift|tour: --format goes with --worksheet"
        "--worksheet --format pdf|tour: no format pdf: text, markdown or gift"
    )
    local row arguments error
    mkdir scratch
    for row in "${rows[@]}"; do
        IFS='|' read -r arguments error <<<"$row"
        # shellcheck disable=SC2086 # the row's words
        TMPDIR=$PWD/scratch run --separate-stderr "$tour" $arguments
        [[ $status == 2 && $output == "" && $stderr == "$error"$'\n'usage:* ]] ||
            row_fails "$arguments" "$status ${stderr%%$'\n'*}" "2 $error"
    done
    # nothing made: no lab, no scratch directory
    [ "$(ls -A scratch)" = "" ]
}

@test "tour --worksheet: the questions the tour asks, numbered 1, 2, 3...; the key answers each" {
    local sheet key numbers
    sheet=$("$tour" --worksheet)
    key=$("$tour" --worksheet --answers)
    # a heading for every program, and the questions numbered in turn
    [ "$(grep '^[a-z]*/[a-z]*$' <<<"$sheet")" = \
        "$(grep -E '^[a-z]+/[a-z]+$' "$BATS_TEST_DIRNAME/../programs.list")" ]
    numbers=$(grep -Eo '^ *[0-9]+\. ' <<<"$sheet" | tr -d ' .')
    [ "$numbers" = "$(seq "$(grep -c '^@' "$BATS_TEST_DIRNAME"/../questions/*.txt |
        awk -F: '{ n += $2 } END { print n }')")" ]
    [ "$(grep -Ec '^ *[0-9]+\. ' <<<"$key")" -eq "$(grep -c '^ *Answer: ' <<<"$key")" ]
    # on the sheet room to write: a ruled line for a number or a choice, two for a free answer
    [ "$(grep -Ec '^ *[0-9]+\. ' <<<"$sheet")" -eq "$(grep -c '^     Answer: _*$' <<<"$sheet")" ]
    [ "$("$tour" --worksheet exclusivehold | sed -n '8,13p')" = \
"  7. Over which bytes of db.txt does exclusivehold hold it?
     Answer: __________________________________________________________________
     __________________________________________________________________________
  8. sharedhold asks for a read lock while exclusivehold holds its lock. Will
     the kernel grant it, refuse it, or make sharedhold wait?
     Answer: ____________________" ]
    [ "$(printf '%s\n' "$key" "$sheet" | awk 'length > 80')" = "" ]
    if [[ -z ${SYSLAB_EMULATOR:-} ]]; then
        # every question the quick tour asked is on the sheet, under the same number
        [ "$(comm -23 <(grep -v ': left out here: ' "$BATS_FILE_TMPDIR/quick/out" | questions_in | sort) \
            <(questions_in <<<"$sheet" | sort))" = "" ]
    fi
    # a student's sheet: the same questions, with that student's numbers
    sheet=$("$tour" --worksheet --student "Ann Lee")
    [ "$(sed -n 2p <<<"$sheet")" = "Student: Ann Lee (seed 3901051065)" ]
    grep -q '^ 12\. seekgap.txt holds 23 bytes\.' <<<"$sheet"
}

@test "tour --worksheet --format markdown: every question rendered, numbered, under its folder" {
    local renderers=() renderer options md html got expected
    command -v cmark >/dev/null && renderers+=("cmark")
    command -v pandoc >/dev/null && renderers+=("pandoc -f markdown-smart --wrap=none -t html")
    ((${#renderers[@]} > 0)) || skip "nothing to render Markdown with: apt-get install cmark"
    for options in "" "--answers --student Bo"; do
        # shellcheck disable=SC2086 # the options' words
        md=$("$tour" --worksheet --format markdown $options)
        # shellcheck disable=SC2086 # the questions alone, without the answers, as HTML text
        expected=$("$tour" --worksheet ${options#--answers} | questions_in |
            sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g')
        for renderer in "${renderers[@]}"; do
            html=$($renderer <<<"$md")
            # each question a paragraph of its own under its number, in the order of the sheet
            got=$(sed -n 's|^<p><strong>\([0-9]*\)\.</strong> \(.*\)</p>$|\1 \2|p' <<<"$html" |
                sed 's/&quot;/"/g')
            [ "$got" = "$expected" ] || row_fails "$renderer, $options" "$got" "$expected"
            # a heading for each folder, and under it one for each of its programs
            [ "$(sed -n 's|^<h[23][^>]*>\(.*\)</h[23]>$|\1|p' <<<"$html")" = "$(awk -F / '
                /^[a-z]+\/[a-z]+$/ { if ($1 != folder) print $1; folder = $1; print $2 }' \
                "$BATS_TEST_DIRNAME/../programs.list")" ]
            # no text was taken for markup: the only tags are the page's own
            [ "$(grep -o '<[^>]*>' <<<"$html" | sed 's/ .*/>/' | sort -u | grep -vx \
                -e '</\{0,1\}\(h[123]\|p\|strong\)>' -e '<br */\{0,1\}>')" = "" ]
            # under each question its answer, or room to write it: a ruled line, or two
            if ((${#options} > 0)); then
                [ "$(grep -c '^<p><strong>Answer:</strong>' <<<"$html")" -eq "$(wc -l <<<"$expected")" ]
            else
                [ "$(grep -c '^<p>Answer: _\{20\}</p>$' <<<"$html")" -eq \
                    "$(grep -c '^K: \(number\|choice\)' "$BATS_TEST_DIRNAME"/../questions/*.txt |
                        awk -F: '{ n += $2 } END { print n }')" ]
                [ "$(grep -c '^<p>Answer: _\{60\}<br */\{0,1\}>$' <<<"$html")" -eq \
                    $(($(wc -l <<<"$expected") - $(grep -c '^<p>Answer: _\{20\}</p>$' <<<"$html"))) ]
            fi
        done
    done
}

@test "tour --worksheet --format gift: parsed by gift-pegjs, one question of its kind per entry" {
    local modules=${SYSLAB_NODE_MODULES:-$BATS_TEST_DIRNAME/../build/node/node_modules}
    command -v node >/dev/null || skip "no node to run the GIFT parser: apt-get install nodejs npm"
    [[ -d $modules/gift-pegjs ]] ||
        skip "no GIFT parser in $modules: npm install --prefix build/node gift-pegjs"
    # The kinds the bank's files give: a number, a choice, free (also without a K: line).
    local bank
    bank=$(awk '/^@/ { if (t) print kind " " t; t = substr($0, 2); kind = "Essay" }
        /^K: number / { kind = "Numerical" } /^K: choice / { kind = "MC" }
        END { print kind " " t }' "$BATS_TEST_DIRNAME"/../questions/*.txt | sort)
    local options gift parsed
    for options in "" "--student Bo"; do
        # shellcheck disable=SC2086 # the options' words
        gift=$("$tour" --worksheet --answers --format gift $options)
        parsed=$(node -e '
            const questions = require(process.argv[1] + "/gift-pegjs").parse(require("fs").readFileSync(0, "utf8"));
            for (const q of questions) {
                if (q.type === "Category") { console.log("Category\t" + q.title); continue; }
                const right = q.type === "MC" ? q.choices.filter(c => c.isCorrect).length : 1;
                console.log(q.type + "\t" + q.title + "\t" + right + "\t" + q.stem.text);
            }' "$modules" <<<"$gift")
        [ "$(grep -c '^Category' <<<"$parsed")" -eq 6 ]
        [ "$(grep -v '^Category' <<<"$parsed" | cut -f 1,2 | tr '\t' ' ' | sort)" = "$bank" ]
        # one right choice each; the stems, unescaped, are the questions of the text sheet
        [ "$(grep -v '^Category' <<<"$parsed" | cut -f 3 | sort -u)" = 1 ]
        # shellcheck disable=SC2086
        [ "$(grep -v '^Category' <<<"$parsed" | cut -f 4)" = \
            "$("$tour" --worksheet $options | questions_in | cut -d ' ' -f 2-)" ]
    done
}

@test "the teacher's guide quotes the tour as it prints now: docs/refresh-quotes changes nothing" {
    # the guide's lab printout names syslab-look, which a build of the programs alone lacks
    [[ -x $SYSLAB_BIN/syslab-look ]] || skip "no syslab-look in $SYSLAB_BIN"
    cp "$BATS_TEST_DIRNAME/../docs/teaching.md" "$BATS_TEST_TMPDIR/guide.md"
    run timeout 60 "$BATS_TEST_DIRNAME/../docs/refresh-quotes" "$BATS_TEST_TMPDIR/guide.md"
    [ "$status" -eq 0 ]
    diff -u "$BATS_TEST_DIRNAME/../docs/teaching.md" "$BATS_TEST_TMPDIR/guide.md"
}

@test "tour zombiemaker under a process 1 that collects nothing: the zombie left there, named" {
    require_native "ps shows the emulator's thread and command line"
    [[ -s $BATS_FILE_TMPDIR/unreaped/pid ]] ||
        skip "no PID namespace can be made here for a process 1 that collects nothing"
    tour_ended unreaped
    local child
    child=$(sed -n 's/^Child PID is: \([0-9]*\)$/\1/p' <<<"$output")
    grep -Eq "^ *$child +1 +Z +\\[zombiemaker\\] <defunct>\$" <<<"$output"
    [[ $(tr '\n#' '  ' <<<"$output" | tr -s ' ') == *"handed to process 1 (timeout), which has \
not collected it in 3 s: it stays a zombie until that process waits for it or ends"* ]]
}

@test "tour --ask: the scheduling answers agree with the views, as root, a user, root without CAP_SYS_NICE" {
    require_native "the emulator does not pass on the real-time policy"
    # who runs the tests, by their effective capabilities
    local here capabilities
    capabilities=$(sed -n 's/^CapEff:[[:space:]]*//p' /proc/self/status)
    if (((16#$capabilities >> 23) & 1)); then
        here="$( ((EUID == 0)) && echo root || echo "a user") with CAP_SYS_NICE"
    elif ((EUID == 0)); then
        here="root, but without CAP_SYS_NICE (as in a container that drops it)"
    else
        here="an ordinary user, without CAP_SYS_NICE"
    fi
    local rows=(
        # who runs the tour (a command to put in front) | who the answers say runs the programs
        "|$here"
        "setpriv --reuid=$unprivileged_user --regid=$unprivileged_group --clear-groups|an \
ordinary user, without CAP_SYS_NICE"
        "setpriv --inh-caps=-sys_nice --bounding-set=-sys_nice|root, but without CAP_SYS_NICE \
(as in a container that drops it)"
    )
    local row who policy refused copy=$BATS_TEST_TMPDIR/copy
    mkdir -m 1777 tmp
    chmod o+x "$BATS_RUN_TMPDIR" "$BATS_FILE_TMPDIR" "$BATS_TEST_TMPDIR"
    # The tree may sit where an ordinary user cannot reach it (/root): the tour and the
    # programs run from a copy that user can read.
    mkdir -p "$copy/bin"
    cp -R "$BATS_TEST_DIRNAME"/../{tour,lib,questions,programs.list} "$copy"
    cp "$SYSLAB_BIN"/{policyflip,niceset} "$copy/bin"
    chmod -R go-w,o+rX "$copy"
    for row in "${rows[@]}"; do
        IFS='|' read -r row who <<<"$row"
        if [[ -n $row ]] && ((EUID != 0)); then
            continue # only root can take on another user, or drop a capability
        fi
        # shellcheck disable=SC2086 # the row's words
        output=$(cd tmp && TMPDIR=$PWD NO_COLOR=1 SYSLAB_BIN=$copy/bin $row "$copy/tour" --ask \
            policyflip niceset 2>&1) ||
            row_fails "$row" "status $?" 0
        # policyflip's second line, and the answer's word on this machine
        policy=$(grep -m1 -E '^Current policy is [0-9]+$' <<<"$output")
        policy=${policy##* }
        # (refused with CAP_SYS_NICE: a cpu control group with no real-time runtime)
        grep -Eq "^Here: $policy: $( ((policy == 2)) && echo 'the kernel granted' ||
            echo '(the kernel refused|the programs run as .* with CAP_SYS_NICE, yet)')" \
            <<<"$output" || row_fails "$row: policyflip" "$(grep -A1 '^Here' <<<"$output")" "$policy"
        # niceset -5: refused with status 1, or granted; the answer says which
        refused=$(grep -A3 -Fx '$ niceset -5' <<<"$output" | grep -c '^# exit status 1$' || true)
        grep -Eq "^Here: $( ((refused)) && echo refused || echo granted), as the programs run as" \
            <<<"$output" || row_fails "$row: niceset" "$(grep '^Here' <<<"$output")" "$refused"
        [[ -z $who || $(tr '\n' ' ' <<<"$output" | tr -s ' ') == *"as the programs run as $who"* ]] ||
            row_fails "$row: who" "$(grep -A1 '^Here' <<<"$output")" "$who"
    done
    # and what it says of autogroup is what the kernel says
    local autogroup said
    autogroup=$(cat /proc/sys/kernel/sched_autogroup_enabled 2>/dev/null) || autogroup=none
    said=$(tr '\n' ' ' <<<"$output" | tr -s ' ')
    case $autogroup in
    1) [[ $said == *"autogroup is on here"* ]] ;;
    0) [[ $said == *"autogroup is off here"* ]] ;;
    *) [[ $said == *"this kernel has no autogroup"* ]] ;;
    esac
}
