#!/usr/bin/env bats
# The tour at a terminal, as a class sees it at the projector: a pseudo-terminal of a given
# size (script), Enter typed only when the tour waits for it, at a pause. Pages that fit the
# screen with nothing lost, Enter typed ahead discarded, and the endings: Ctrl-C, a closed
# terminal, a second signal during the clean-up.

load helper

tour=$BATS_TEST_DIRNAME/../tour
export SYSLAB_BIN

setup() {
    require_native "the tour's terminal is read through /proc, which shows the emulator"
    cd "$BATS_TEST_TMPDIR" || return 1
    mkdir tmp
}

teardown() {
    [[ -z ${keys_fd:-} ]] || exec {keys_fd}>&-
    # a tour still running (a case failed) ends what it started on SIGTERM, within seconds
    if [[ -n ${tour_pid:-} ]] && kill -TERM "$tour_pid" 2>/dev/null; then
        # shellcheck disable=SC2016 # evaluated afresh at each poll
        wait_for 10 eval '! kill -0 "$tour_pid" 2>/dev/null' || kill -KILL "$tour_pid" 2>/dev/null
    fi
    [[ -z ${script_pid:-} ]] || kill -KILL "$script_pid" 2>/dev/null || true
}

# at_terminal ROWS COLUMNS ARGUMENT...: starts the tour on a terminal of that size (after the
# shell's words $before); its keyboard is $keys_fd, its screen the file screen, its process id
# $tour_pid. LINES and COLUMNS exported by the shell that runs the tests are not passed on.
at_terminal() {
    local rows=$1 columns=$2
    shift 2
    rm -f keys screen
    mkfifo keys
    exec {keys_fd}<>keys
    # Started as a job of its own, as from a shell at a terminal: Ctrl-C is not ignored.
    set -m
    env -u LINES -u COLUMNS TMPDIR="$PWD/tmp" timeout 60 script -qefc \
        "stty rows $rows cols $columns; ${before:-} exec $(printf '%q ' "$tour" "$@")" /dev/null <keys >screen 2>&1 &
    script_pid=$!
    set +m
    wait_for 10 tour_started
}

tour_started() {
    local script
    script=$(cat "/proc/$script_pid/task/$script_pid/children" 2>/dev/null) || return 1
    script=${script%% *}
    [[ -n $script ]] || return 1
    tour_pid=$(cat "/proc/$script/task/$script/children" 2>/dev/null) || return 1
    tour_pid=${tour_pid%% *}
    [[ -n $tour_pid && $(readlink "/proc/$tour_pid/exe") == */bash ]] &&
        grep -q 'syslab tour' screen
}

# shown TEXT: how many times the screen has shown TEXT, into $shown; builtins alone, as it is
# polled.
shown() {
    local shown_screen="" shown_rest
    IFS= read -r -d '' shown_screen <screen || true
    shown_rest=${shown_screen//"$1"/}
    shown=$(((${#shown_screen} - ${#shown_rest}) / ${#1}))
}

# waits_at PAUSES: the tour has shown PAUSES pauses and waits for Enter in a read from its
# terminal; fails at once when it has gone past them.
waits_at() {
    local call fd shown
    shown '[Enter'
    ((shown <= $1)) || { echo "past pause $1" >&2; return 2; }
    read -r call fd _ <"/proc/$tour_pid/syscall" 2>/dev/null || return 1
    shown '[Enter'
    [[ $call == 0 && $(readlink "/proc/$tour_pid/fd/$((fd))") == /dev/pts/* ]] && ((shown == $1))
}

# entered_to_end: Enter at the next pause once the tour waits there; true once it has ended.
entered_to_end() {
    local shown
    shown '[Enter'
    if ((shown > pause)) && waits_at "$((pause + 1))"; then
        pause=$((pause + 1))
        printf '\n' >&"$keys_fd"
    fi
    ! kill -0 "$script_pid" 2>/dev/null
}

@test "tour --step at 80x24, 80x16 and 0x0: each page fits the screen, every line of a view arrives" {
    local size rows pause
    # the terminal's size | the rows the pages fit (a terminal of no size is taken as 24x80)
    for size in "24 80|24" "16 80|16" "0 0|24"; do
        rows=${size#*|}
        # shellcheck disable=SC2086 # rows and columns
        at_terminal ${size%|*} --step fdflood sharedhold
        # Enter at every pause until the tour ends
        pause=0
        wait_for 60 entered_to_end
        wait "$script_pid"
        output=$(tr -d '\r' <screen | sed 's/\x1b\[[0-9;]*m//g')
        # the most screen rows between two pauses, each line counted as the rows it takes (a
        # character of a picture's UTF-8 one column, as awk counts bytes)
        [ "$(expand <<<"$output" | perl -CS -pe 's/[^\x00-\x7f]/x/g' | awk '/\[Enter/ { if (n > max) max = n; n = 0; next }
            { n += (length == 0 ? 1 : int((length + 79) / 80)) }
            END { print (n > max ? n : max) }')" -le $((rows - 2)) ]
        # every line of the listing and of lslocks, whatever pause fell among them
        [ "$(grep -cE '^-rwx.* (one|two|three|four|five)\.txt$' <<<"$output")" -eq 5 ]
        [ "$(grep -cE '^sharedhold .* READ ' <<<"$output")" -eq 2 ]
        grep -qE '^exclusivehold .* WRITE\* ' <<<"$output"
        grep -qx 'The tour is over.' <<<"$output"
    done
}

@test "tour --ask at a terminal: Enter typed ahead is dropped; each answer waits" {
    at_terminal 24 80 --ask forkpids
    wait_for 10 waits_at 1
    # two Enters at the first pause, in one write: the second must not answer the next one
    # (bash's own printf writes a line at a time, and the second could come after the pause)
    env printf '\n\n' >&"$keys_fd"
    wait_for 10 waits_at 2
    grep -q 'Enter for the next question' screen
    printf '\n' >&"$keys_fd"
    wait_for 10 waits_at 3
    printf '\n' >&"$keys_fd"
    wait "$script_pid"
    grep -q 'The tour is over' screen
}

# prompts_at N: the tour has asked N predictions and waits for one in a read from its terminal.
prompts_at() {
    local call fd shown
    read -r call fd _ <"/proc/$tour_pid/syscall" 2>/dev/null || return 1
    shown '(Enter skips)'
    [[ $call == 0 && $(readlink "/proc/$tour_pid/fd/$((fd))") == /dev/pts/* ]] && ((shown == $1))
}

@test "tour --ask --record: the predictions typed, an answer sheet at the end or at Ctrl-C; no file overwritten" {
    at_terminal 40 100 --ask --student ada --record "$PWD/sheet" sharedhold
    wait_for 10 prompts_at 1
    printf 'GRANTED\n' >&"$keys_fd"
    wait_for 10 waits_at 1
    printf '\n' >&"$keys_fd"
    wait_for 10 prompts_at 2
    # a prefix that names one choice; after the tour's last answer no pause
    printf 'w\n' >&"$keys_fd"
    wait "$script_pid"
    [ "$(cat sheet)" = $'# syslab-tour --ask predictions of ada\n# programs: sharedhold\n10. granted\n11. waits' ]
    # Ctrl-C after the first prediction: the sheet holds it
    at_terminal 40 100 --ask --seed 7 --record "$PWD/cut" sharedhold
    wait_for 10 prompts_at 1
    printf 'refused\n' >&"$keys_fd"
    wait_for 10 waits_at 1
    kill -INT "$tour_pid"
    wait "$script_pid" || true
    [ "$(cat cut)" = $'# syslab-tour --ask predictions, seed 7\n# programs: sharedhold\n10. refused' ]
        grep -q '0 of 1 predictions matched so far, of 1 questions asked; missed: question 10\.' screen
    # an existing file, and a link planted where the sheet would go, are left alone
    ln -s "$PWD/elsewhere" link
    for file in sheet link; do
        run -1 "$tour" --ask --record "$file" sharedhold </dev/null
        [[ ${lines[-1]} == "tour: --record $file: "* ]]
    done
    [ ! -e elsewhere ] && [ "$(wc -l <sheet)" -eq 4 ]
}

@test "tour endings: Ctrl-C, a closed terminal, a second signal: all stopped, named, removed" {
    local rows=(
        # program | the pause (on a screen of 12 rows) | signals sent there | the last line (a
        # glob: of signals that come together, any may be handled first)
        "exclusivehold|1|INT|tour: interrupted: stopped exclusivehold; removed"
        "fdflood|2|HUP|tour: ended by SIGHUP: stopped fdflood; removed"
        "fdflood|2|INT TERM HUP|tour: *: stopped fdflood; removed"
        "sharedhold|1|TERM TERM|tour: ended by SIGTERM: stopped sharedhold; removed"
        # (pause 0: without --step, once the wait for zombiemaker's parent counts down)
        "zombiemaker|0|INT|tour: interrupted: stopped zombiemaker; removed"
        # started with SIGTERM ignored, as its programs then are: the clean-up kills them, and
        # bash reports none of them as a job it saw killed
        "sharedhold|1|INT|tour: interrupted: stopped sharedhold; removed|trap '' TERM;"
    )
    local row program pause signals said before signal left
    for row in "${rows[@]}"; do
        IFS='|' read -r program pause signals said before <<<"$row"
        if ((pause == 0)); then
            at_terminal 12 80 "$program"
            wait_for 10 grep -q "# zombiemaker's parent wakes and ends in [0-9]* s" screen
        else
            at_terminal 12 80 --step "$program"
            wait_for 10 waits_at 1
        fi
        if ((pause == 2)); then
            printf '\n' >&"$keys_fd"
            wait_for 10 waits_at 2
        fi
        for signal in $signals; do
            kill "-$signal" "$tour_pid"
        done
        wait "$script_pid" || true
        script_pid=
        exec {keys_fd}>&-
        keys_fd=
        # nothing left: no process working in the scratch directory, no directory
        left=$(leftovers "$PWD/tmp")$(ls -A tmp)
        # no line but the tour's own: no job report naming one of its files
        ! grep -q 'lib/tour/' screen || left+=" a job report: $(grep 'lib/tour/' screen | tr -d '\r')"
        # shellcheck disable=SC2053 # a glob on purpose
        [[ -z $left && $(tr -d '\r' <screen | tail -n 1) == $said\ * ]] ||
            row_fails "$row" "left: $left; $(tail -n 1 screen)" "nothing left; $said"
    done
}
