#!/usr/bin/env bats
# The tour's parts, sourced and tried one at a time: wrapping, the question bank, the links
# between programs, views and questions, and what a lab may hold. Tables of rows, each row
# named when it fails.

load helper

tour=$BATS_TEST_DIRNAME/../tour
export SYSLAB_BIN

setup() {
    cd "$BATS_TEST_TMPDIR" || return 1
    # shellcheck source=/dev/null
    untraced source "$tour"
}

teardown() {
    [[ -z ${sleeper:-} ]] || kill "$sleeper" 2>/dev/null || true
}

# keys_of NAME: the key of each question of a student's sheet, one a line (empty: free).
keys_of() {
    local entry key
    choose_student "$1"
    for entry in "${question_keys[@]}"; do
        fill key "${question[$entry.key]}"
        printf '%s\n' "$key"
    done
}

@test "wrap: 78 columns, a word longer than a line alone on its own, the continuation prefix" {
    local long=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx
    local seventy=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa
    local rows=(
        # first next text | the lines, joined by |
        "1. |   |one two three|1. one two three"
        "# |# |$seventy bbbbb|# $seventy bbbbb"
        "# |# |$seventy bbbbbb|# $seventy|# bbbbbb"
        "Q: |   |a $long b|Q: a|   $long|   b"
        "Q: |   |  spaced   out  |Q: spaced out"
        "> |> ||"
    )
    local row first next words expected lines got
    for row in "${rows[@]}"; do
        IFS='|' read -r first next words expected <<<"$row"
        wrap lines "$first" "$next" "$words"
        got=$(IFS='|' && printf '%s' "${lines[*]}")
        [[ $got == "$expected" ]] || row_fails "$words" "$got" "$expected"
    done
}

@test "questions: records with kinds and continuations; a malformed file named with its line, status 2" {
    cat >good.txt <<'EOF'
# a comment
@seekgap one
K: choice Yes|no|maybe no
Q: first
   and more
A: its answer
     on two lines

@seekgap two
Q: second, of {bytecat_bytes}
A: another
K: number {bytecat_reads}
@seekgap three
Q: third
A: free
EOF
    question=() question_keys=()
    load_question_file good.txt
    [ "${question_keys[*]}" = "seekgap one seekgap two seekgap three" ]
    [ "${question[seekgap one.text]}" = "first and more" ]
    [ "${question[seekgap one.answer]}" = "its answer on two lines" ]
    [ "${question[seekgap one.kind]} ${question[seekgap one.choices]} ${question[seekgap one.key]}" = "choice Yes|no|maybe no" ]
    local text
    fill text "${question[seekgap two.kind]} ${question[seekgap two.key]} ${question[seekgap two.text]}"
    [ "$text" = "number 34 second, of 33" ]
    [ "${question[seekgap three.kind]}" = free ]

    local rows=(
        # file's lines (\n between) => the error
        '@seekgap => good.txt:1: not "@PROGRAM KEY"'
        '@nosuch key\nQ: q\nA: a => good.txt:1: no program nosuch'
        'Q: q => good.txt:1: Q: before any @PROGRAM KEY'
        '@seekgap k\nQ: q\nQ: again\nA: a => good.txt:3: a second Q: line for @seekgap k'
        '@seekgap k\nQ: q\n\n  stray\nA: a => good.txt:4: a continuation line under nothing'
        '@seekgap k\nQ: q\nA: a\nZ: what => good.txt:4: not "@PROGRAM KEY", "K: ", "Q: ", "A: " or an indented line'
        '@seekgap k\nQ: q\n@seekgap l\nQ: q\nA: a => good.txt:3: @seekgap k has no Q: and A: lines'
        '@seekgap k\nQ: only a question => good.txt:2: @seekgap k has no Q: and A: lines'
        '@seekgap k\nA: a\n@seekgap l\nQ: q\nA: a => good.txt:3: @seekgap k has no Q: and A: lines'
        '@seekgap k\nK: free\nK: free\nQ: q\nA: a => good.txt:3: a second K: line for @seekgap k'
        '@seekgap k\nK: number\nQ: q\nA: a => good.txt:2: not a kind: "number N", "choice A|B... RIGHT" or "free"'
        '@seekgap k\nK: number 1 2\nQ: q\nA: a => good.txt:2: not a kind: "number N", "choice A|B... RIGHT" or "free"'
        '@seekgap k\nK: choice yes no\nQ: q\nA: a => good.txt:2: not a kind: "number N", "choice A|B... RIGHT" or "free"'
        '@seekgap k\nK: choice yes|no maybe\nQ: q\nA: a => good.txt:2: the right choice maybe is not among yes|no'
        '@seekgap k\nK: number {nosuch}\nQ: q\nA: a => good.txt:2: unknown placeholder {nosuch}'
        '@seekgap k\nQ: q\nA: a\n   and {nope} => good.txt:4: unknown placeholder {nope}'
    )
    local row lines error
    for row in "${rows[@]}"; do
        lines=${row%% => *} error=${row#* => }
        printf '%b\n' "$lines" >good.txt
        run --separate-stderr load_question_file good.txt
        [[ $status == 2 && $stderr == "tour: $error" ]] || row_fails "$lines" "$status $stderr" "2 tour: $error"
    done
}

@test "links: a program without a view or a question, a key the bank lacks: one line, status 2" {
    load_questions
    outcome 0 "" "" check_links

    local rows=(
        # what is broken | the error
        "unset -f show_seekgap|seekgap is in programs.list but no show_seekgap is in lib/tour/show/files.bash"
        "question_keys=(\"\${question_keys[@]/pidtimer */}\")|pidtimer has no question in questions/procinfo.txt"
    )
    local row breaking error
    for row in "${rows[@]}"; do
        IFS='|' read -r breaking error <<<"$row"
        run --separate-stderr bash -c "source '$tour'; load_questions; $breaking; check_links"
        [[ $status == 2 && $stderr == "tour: broken link: $error" ]] ||
            row_fails "$breaking" "$status $stderr" "2 tour: broken link: $error"
    done

    # A view that asks for a question its folder's file does not hold stops the tour, not just --ask.
    # shellcheck disable=SC2034 # read by ask
    opt[ask]=true
    outcome 1 "" "tour: show_seekgap asks \"seekgap nokey\", which the tour's own question files do not hold" \
        ask seekgap nokey

    # A teacher's broken file stops every mode before anything runs.
    mkdir own
    printf '@seekgap gap\nQ: reworded\n' >own/mine.txt
    local mode
    for mode in --worksheet "--lab $PWD/lab" --quick; do
        # shellcheck disable=SC2086 # the mode's words
        TMPDIR=$PWD run --separate-stderr "$tour" --questions own $mode
        [[ $status == 2 && $output == "" && $stderr == "tour: own/mine.txt:2: @seekgap gap has no Q: and A: lines" ]] ||
            row_fails "$mode" "$status $stderr" "2"
    done
    [ ! -e lab ]
    [ -z "$(compgen -G "syslab-tour.*")" ]
    # and a good one replaces the entry of its key, and adds a key of its own, even *
    printf '@seekgap gap\nQ: reworded\nA: new\n\n@seekgap *\nQ: starred\nA: s\n' >own/mine.txt
    run "$tour" --worksheet --answers --questions own seekgap
    [ "$status" -eq 0 ]
    # under the numbers of the whole sheet, a key of its own after the bank's
    grep -qx ' 13. reworded' <<<"$output"
    grep -qx '     Answer: new' <<<"$output"
    grep -qx ' 47. starred' <<<"$output"
    [ "$(grep -c '^ *[0-9]*\. ' <<<"$output")" -eq 5 ]
}

@test "lab: what a lab may hold, and a directory it did not make refused as it is" {
    local rows=(
        # what the directory holds (commands run in it) | what foreign_entries names
        "touch db.txt exclcreate.txt forkappend.txt one.txt|"
        "mkdir flood childprog && touch flood/one.txt flood/five.txt childprog/childprog_out|"
        "ln -s three.txt four.txt && touch five.txt|"
        "touch four.txt|"
        "echo data >four.txt|four.txt"
        "touch notes.txt .hidden|.hidden notes.txt"
        "ln -s /etc/passwd db.txt|db.txt"
        "mkdir db.txt|db.txt"
        "mkdir flood && touch flood/six.txt|flood/six.txt"
        "ln -s /tmp flood|flood"
        "mkdir childprog && ln -s /etc/passwd childprog/childprog_out|childprog/childprog_out"
        "mkdir flood && mkdir flood/one.txt|flood/one.txt"
        "ln -s /etc/passwd .syslab-lab|.syslab-lab"
    )
    local row commands expected got known
    known="$(lab_names needs) $(lab_names makes)"
    # shellcheck source=/dev/null
    source "$BATS_TEST_DIRNAME/../lib/tour/lab-writer"
    for row in "${rows[@]}"; do
        IFS='|' read -r commands expected <<<"$row"
        rm -rf dir && mkdir dir
        (cd dir && eval "$commands")
        got=$(foreign_entries dir "$known" | sort | paste -sd ' ')
        [[ $got == "$expected" ]] || row_fails "$commands" "$got" "$expected"
    done

    # A directory with only the names a lab has, but no mark, is not a lab: refused, as it is.
    rm -rf dir && mkdir dir && echo mine >dir/one.txt && echo mine >dir/forkappend.txt
    outcome 1 "" "tour: dir holds files that are not a lab's: choose a new or empty directory" make_lab dir
    [ "$(cat dir/one.txt dir/forkappend.txt)" = $'mine\nmine' ]
    ln -s dir link
    outcome 1 "" "tour: link is a symbolic link: choose a new or empty directory" make_lab link
}

@test "variants: the numbers a seed or a name gives, the same on any machine; two students differ" {
    local rows=(
        # the variant => its label; seekgap.txt's bytes, sizedecho's size, bytecat.txt's bytes,
        # niceset's start, first and second increment, exclcreate's command line, fdflood's
        # ulimit -n and file, forkappend's runs, envdump's variables
        ' => - 0 5 33 0 5 100 exclcreate 64 one.txt 3 2'
        'seed 0 => seed 0 37 4 77 1 6 21 exclcreate 4<db.txt 24 three.txt 8 5'
        'seed 1 => seed 1 55 3 54 4 1 18 exclcreate 3<db.txt 44 one.txt 4 4'
        'seed 4294967295 => seed 4294967295 19 6 21 6 2 16 exclcreate 2>&- 120 three.txt 4 1'
        'student Ann Lee => Ann Lee (seed 3901051065) 23 9 21 6 1 17 exclcreate 3<db.txt 4<db.txt 85 one.txt 6 3'
        'student   ann   LEE  => ann LEE (seed 3901051065) 23 9 21 6 1 17 exclcreate 3<db.txt 4<db.txt 85 one.txt 6 3'
        $'student Ann Lee\r => Ann Lee (seed 3901051065) 23 9 21 6 1 17 exclcreate 3<db.txt 4<db.txt 85 one.txt 6 3'
        # decomposed (e and a combining diaeresis), or in capitals: the seed of the name as written
        "student Zoë Martín => Zoë Martín (seed 664635852) 11 2 22 6 3 20 exclcreate 3<db.txt 4<db.txt 5<db.txt 7<db.txt 40 two.txt 4 3"
        $'student Zoe\xcc\x88 Marti\xcc\x81n => Zoe\xcc\x88 Marti\xcc\x81n (seed 664635852) 11 2 22 6 3 20 exclcreate 3<db.txt 4<db.txt 5<db.txt 7<db.txt 40 two.txt 4 3'
        "student ZOË MARTÍN => ZOË MARTÍN (seed 664635852) 11 2 22 6 3 20 exclcreate 3<db.txt 4<db.txt 5<db.txt 7<db.txt 40 two.txt 4 3"
    )
    local row how expected got
    for row in "${rows[@]}"; do
        how=${row%% => *} expected=${row#* => }
        case $how in
        seed*) choose_variant "${how#seed }" ;;
        student*) choose_student "${how#student }" ;;
        *) choose_variant ;;
        esac
        got=$(variant_label)
        got="${got:--} ${variant[seekgap_bytes]} ${variant[sizedecho_size]}"
        got+=" ${variant[bytecat_bytes]} ${variant[nice_start]} ${variant[nice_raise]}"
        got+=" ${variant[nice_add]} ${variant[exclcreate]} ${variant[fdflood_limit]}"
        got+=" ${variant[fdflood_file]} ${variant[forkappend_runs]} ${variant[envdump_count]}"
        [[ $got == "$expected" ]] || row_fails "$how" "$got" "$expected"
    done

    # Two students' keys differ in at least eight of the numbers asked for.
    load_questions
    local differ
    differ=$(paste <(keys_of "Ann Lee") <(keys_of Bo) | awk -F '\t' '$1 != $2' | wc -l)
    ((differ >= 8)) || row_fails "Ann Lee and Bo" "$differ differ" "8 or more"
}

# called NAME FUNCTION ARGUMENT...: FUNCTION NAME ARGUMENT..., then what NAME holds (its words
# joined by a space) and a dot. No locals of its own, so that none hides NAME.
called() {
    unset "$1"
    "$2" "$1" "${@:3}" >/dev/null 2>&1
    eval "printf '%s.' \"\${$1[*]}\""
}

@test "out-parameters: a function given a variable's name fills it whatever the name, its locals prefixed" {
    local seventy=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa
    printf abcdefg >file
    printf '  PID  PPID STAT CMD\n   42     1 S    x\n' >ps.view
    printf 'typed\n' >typed
    exec {keys}<typed
    output[keys]=$keys
    # a process named as a program, a child of this shell
    cp "$(command -v sleep)" forkpids
    ./forkpids 30 &
    sleeper=$!
    local parent=$BASHPID
    wait_for 5 prints "S $parent" state_ppid "$sleeper"
    local rows=(
        # function|the prefix of its locals|its arguments after the name|what the name holds
        # after (= as for a name of no function's, ~ a pattern)
        "split|split_|'a  b c'|a b c"
        "wrap|wrap_|'# ' '- ' '$seventy bbbbbb'|# $seventy - bbbbbb"
        "listed|listed_|A B C|A, B and C"
        "rows_of|rows_|$(printf '%090d' 0)|2"
        "read_line|read_|'> '|typed"
        "read_file|file_|file 2 5|cde"
        "size_at|size_|file|7"
        "stat_field|field_|$sleeper 3|S"
        "first_child|child_|$parent|$sleeper"
        "program_names|names_|$sleeper|forkpids"
        "seconds_between|between_|0 1250000|1.3"
        "spawn|spawn_|true|~[0-9]+"
        "autogroup_said|autogroup_||="
        "processor_said|processor_||="
        "text_of_size|sized_|5 ab|ab a\n"
        "fill|fill_|'{bytecat_bytes} bytes'|33 bytes"
        "unknown_placeholder|placeholder_|'a {nosuch} b'|{nosuch}"
        "escaped|escaped_|'a*b' '*'|a\\\\*b"
        "ps_row|row_|ps.view 42|1 S"
        "left_under|left_|4194305|"
        "children|children_||~[0-9]+( [0-9]+)*"
        "uncollected_said|uncollected_|1|="
        "visible|visible_|\$'a\\001b'|a\\\\001b"
        "continued_lines|continued_|'> ' 'a b'|> a b"
        "shell_word|word_|'a b'|'a b'"
        "file_system_of|mount_|/proc|proc"
    )
    local row function prefix arguments expected word name names got
    for row in "${rows[@]}"; do
        IFS='|' read -r function prefix arguments expected <<<"$row"
        eval "arguments=($arguments)"
        [[ $expected != = ]] || expected=$(called oracle "$function" "${arguments[@]}")
        expected=${expected%.}
        printf -v expected '%b' "$expected"
        # its locals but the shell's own, each given without the prefix
        names=()
        for word in $(declare -f "$function" | sed -n 's/^ *local \(-[a-zA-Z]* \)*//p'); do
            [[ $word =~ ^([A-Za-z_][A-Za-z0-9_]*)(=|;|$) ]] || continue
            [[ ${BASH_REMATCH[1]} != IFS && ${BASH_REMATCH[1]} != LC_ALL ]] || continue
            names+=("${BASH_REMATCH[1]}")
        done
        ((${#names[@]} > 0)) || row_fails "$function" "no locals" "locals named $prefix*"
        for name in "${names[@]}"; do
            got=$(called "${name#"$prefix"}" "$function" "${arguments[@]}")
            got=${got%.}
            if [[ $expected == "~"* ]]; then
                [[ $got =~ ^${expected#"~"}$ ]] || row_fails "$function ${name#"$prefix"}" "$got" "$expected"
            else
                [[ $got == "$expected" ]] || row_fails "$function ${name#"$prefix"}" "$got" "$expected"
            fi
        done
        # and so a local added later cannot take a name a caller uses
        for name in "${names[@]}"; do
            [[ $name == "$prefix"* ]] || row_fails "$function" "a local $name" "locals named $prefix*"
        done
    done
}

@test "observations: bytecat's calls read from strace's count, whatever share of the time they took" {
    local rows=(
        # strace -c's lines, joined by | => the read calls seen
        " 52.38    0.000011           0        91           read| 47.62    0.000010           0        90           write => 91"
        "100.00    0.004000          43        91           read|  0.00    0.000000           0        90           write => 91"
        "  0.00    0.000000           0        13         1 read => 13"
    )
    local row got
    strace_usable() { :; }
    traced() { observe "cat strace.out"; }
    typed() { :; }
    size_at() { :; }
    note() { :; }
    answer() { :; }
    for row in "${rows[@]}"; do
        observation=()
        tr '|' '\n' <<<"${row% => *}" >strace.out
        show_bytecat >/dev/null
        got=${observation[bytecat calls]-}
        [[ $got == "${row#* => }" ]] || row_fails "${row% => *}" "$got" "${row#* => }"
    done
}

@test "--step: what a wait runs or shows is shown as --step shows it, the flag not hidden" {
    local rows=(
        # what runs after parse_arguments --step | status | output | error
        'wait_until 1 "the line" emit "" shown|0|shown|'
        # (a program that ends at once may be gone before pty_start sees it start)
        'process_init && pty_init && pty_start t "sh -c \"echo once; sleep 2\"" && pty_wait_for t never|1|once|tour: sh did not print "never" (within 10 s)'
    )
    local row commands code out error
    for row in "${rows[@]}"; do
        IFS='|' read -r commands code out error <<<"$row"
        TMPDIR=$PWD run --separate-stderr timeout 20 bash -c \
            "source '$tour'; set -euo pipefail; parse_arguments --step; $commands"
        [[ $status == "$code" && $output == "$out" && $stderr == "$error" ]] ||
            row_fails "$commands" "$status $output $stderr" "$code $out $error"
    done
}

@test "names: the tour and the tests that source it never define the same function or variable" {
    local bash_own tour_own tests_own both
    bash_own=$(bash -c 'compgen -v; compgen -A function' | sort -u)
    tour_own=$(bash -c "source '$tour'; compgen -v; compgen -A function" | sort -u |
        comm -23 - <(printf '%s\n' "$bash_own"))
    tests_own=$(
        bash -c "bats_require_minimum_version() { :; }; BATS_TEST_DIRNAME='$BATS_TEST_DIRNAME'
            source '$BATS_TEST_DIRNAME/helper.bash'; compgen -v; compgen -A function"
        # the functions of the test files that source the tour
        sed -n 's/^\([a-z_]*\)() {$/\1/p' "$BATS_TEST_DIRNAME"/tour-parts.bats "$BATS_TEST_DIRNAME"/tour.bats
    )
    tests_own=$(sort -u <<<"$tests_own" | comm -23 - <(printf '%s\n' "$bash_own"))
    both=$(comm -12 <(printf '%s\n' "$tour_own") <(printf '%s\n' "$tests_own") |
        grep -vx 'BASH_REMATCH\|PIPESTATUS\|bats_require_minimum_version' | paste -sd ' ')
    [[ -z $both ]] || row_fails "the tour and tests/helper.bash" "$both" ""
}
