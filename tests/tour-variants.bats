#!/usr/bin/env bats
# A student's tour at a terminal (a pseudo-terminal through script, typed at through a FIFO):
# the tour runs the programs with the numbers of that student's sheet, takes the predictions
# typed, judges each against what the kernel did, and scores them at the end.

load helper

tour=$BATS_TEST_DIRNAME/../tour
export SYSLAB_BIN

# prompted: counts into $prompted the prompts the screen has shown since it was opened (a
# prediction's or a pause's), the last one into $last_prompt, and the number of the question
# last shown before each into question_at[]. It reads on where it left off, builtins alone, as
# several tours poll at once.
prompted() {
    local chunk="" prompt
    IFS= read -r -d '' -u "$screen_fd" chunk || true
    screen_rest+=$chunk
    while [[ $screen_rest =~ \(Enter\ skips\)|\[Enter[^]]*\] ]]; do
        prompt=${BASH_REMATCH[0]}
        question_in "${screen_rest%%"$prompt"*}"
        prompted=$((prompted + 1)) last_prompt=$prompt
        question_at[prompted]=$last_question
        screen_rest=${screen_rest#*"$prompt"}
    done
    # a prompt may come in pieces, within its line; the whole lines before it are read
    if [[ $screen_rest == *$'\n'* ]]; then question_in "${screen_rest%$'\n'*}"; fi
    screen_rest=${screen_rest##*$'\n'}
}

# question_in TEXT: the number of the last line of TEXT that begins "Question N:", if any, into
# $last_question.
question_in() {
    local text=$1
    while [[ $text =~ (^|$'\n')Question\ ([0-9]+): ]]; do
        last_question=${BASH_REMATCH[2]}
        text=${text#*"${BASH_REMATCH[0]}"}
    done
}

# asked_more SEEN: whether the screen asks again after SEEN prompts, or the tour has ended.
asked_more() {
    prompted
    ((prompted > $1)) || [[ -s status ]]
}

# sheet_key OPTION...: the key of the sheet of the tour --ask OPTION... (its GIFT form: a
# number, or the right choice marked =) into key[] by question number, and the numbers of
# the questions into numbered[] by program and key.
sheet_key() {
    local number entry value options=()
    for entry in "$@"; do [[ $entry == --quick ]] || options+=("$entry"); done
    key=() numbered=()
    while IFS=$'\t' read -r number entry value; do
        numbered[$entry]=$number
        [[ -z $value ]] || key[$number]=$value
    done < <("$tour" --worksheet --answers --format gift "${options[@]}" | awk '
        /^\/\/ [0-9]+\.$/ { number = $2 + 0 }
        /^::/ { split($0, title, "::"); value = ""
            if (match($0, / [{]#-?[0-9]+####/)) value = substr($0, RSTART + 3, RLENGTH - 7)
            else if (match($0, / [{][^{]*####/)) {
                answers = substr($0, RSTART, RLENGTH)
                if (match(answers, /=[A-Za-z0-9-]+ /)) value = substr(answers, RSTART + 1, RLENGTH - 2)
            }
            printf "%s\t%s\t%s\n", number, title[2], value }')
}

# typed_tour OPTION...: in the working directory, the tour --ask OPTION... at a terminal, its
# scratch directory under tmp, its screen into screen (CRs removed into $output) and its
# status into status. Each prediction asked for is the key's (sheet_key), or what a function
# typed NUMBER, if defined, puts into $answer; each pause gets Enter.
typed_tour() {
    mkfifo keys
    mkdir tmp
    : >screen
    local screen_fd prompted=0 last_prompt="" screen_rest="" last_question="" question_at=()
    (
        NO_COLOR=1 TMPDIR=$PWD/tmp timeout 240 script -qefc "$(printf '%q ' "$tour" --ask "$@")" \
            /dev/null <keys >screen 2>&1 &
        echo "$!" >pid
        wait "$!"
        echo "$?" >status
    ) 3>&- &
    local typing seen=0 number
    exec {screen_fd}<screen {typing}>keys
    # each prompt waited for as long as the tour may run: niceset, left at nice 19, waits behind
    # every other process of a busy machine
    while wait_for 240 asked_more "$seen" && ((prompted > seen)); do
        seen=$((seen + 1))
        if [[ $last_prompt != "(Enter skips)" ]]; then
            printf '\n' >&"$typing" # a pause
            continue
        fi
        number=${question_at[seen]}
        answer=${key[$number]:-}
        if declare -F typed >/dev/null; then typed "$number"; fi
        printf '%s\n' "$answer" >&"$typing"
    done
    exec {typing}>&- {screen_fd}<&-
    output=$(tr -d '\r' <screen)
    wait_for 30 test -s status || {
        printf 'the tour did not end; after %s prompts, its screen ends:\n' "$seen"
        tail -n 12 <<<"$output"
        false
    }
}

# judged: how many predictions the tour judged on the screen, each question with a key that it
# asked (not left out) taking one.
judged() {
    local number
    grep '^Question [0-9]*: ' <<<"$output" | grep -v '^Question [0-9]*: left out here: ' |
        grep -o '^Question [0-9]*' | tr -dc '0-9\n' |
        while read -r number; do [[ -z ${key[$number]:-} ]] || echo; done | wc -l
}

# The programs whose questions' keys vary with the numbers, and seeds that reach the edges of
# each draw (lib/tour/variants.bash): the smallest and the largest number each can give.
varying=(seekgap sizedecho bytecat exclcreate fdflood niceset forkappend envdump)
seeds=(
    # seed | the edges it reaches
    "0|the smallest seed; niceset started at 1, the least; fdflood's file three.txt"
    "4294967295|the largest seed; exclcreate 2>&-; envdump's fewest variables (1)"
    "88742|seekgap's most bytes (59), sizedecho's least size (2); niceset started at 7 and raised by 9, the most; exclcreate's last redirection; fdflood's first file; envdump's most variables (6)"
    "75771|sizedecho's largest size (12), bytecat's fewest bytes (12); the least raise (1); exclcreate as is; fdflood's last file; forkappend's fewest runs (2)"
    "44369|seekgap's fewest bytes (4, under the ten it writes); exclcreate <&-; fdflood's smallest limit (16); forkappend's most runs (10)"
    "93612|bytecat's most bytes (90); exclcreate <&- 3<db.txt; fdflood's largest limit (128)"
)

setup_file() {
    # Each seed's tour of the programs whose keys vary runs beside the other tests, one each.
    [[ -z ${SYSLAB_EMULATOR:-} ]] || return 0
    local row
    for row in "${seeds[@]}"; do
        (
            trap - DEBUG # bats' trap before every command: these are no case's own lines
            mkdir "$BATS_FILE_TMPDIR/seed-${row%%|*}" && cd "$BATS_FILE_TMPDIR/seed-${row%%|*}" &&
                declare -A key numbered && sheet_key --seed "${row%%|*}" "${varying[@]}" &&
                typed_tour --seed "${row%%|*}" "${varying[@]}" &&
                judged >judged.count
        ) 3>&- &
    done
}

# The tours at a terminal still running, failed or not, are ended: the case's, then the seeds'.
teardown() {
    [[ -e status || ! -s pid ]] || kill -TERM "$(cat pid)" 2>/dev/null || true
}

teardown_file() {
    local pid
    for pid in "$BATS_FILE_TMPDIR"/seed-*/pid; do
        [[ -e ${pid%/pid}/status ]] || kill -TERM "$(cat "$pid")" 2>/dev/null || true
    done
}

@test "tour --ask --student at a terminal: the student's key matches the kernel; misses, a skip, the score" {
    require_native "ps and strace show the emulator, and env -i drops QEMU_LD_PREFIX"
    local -A key=() numbered=()
    sheet_key --student "Ann Lee"
    [ "${key[${numbered[bytecat calls]}]}" -eq 22 ]
    [ "${key[${numbered[sharedhold writer]}]}" = waits ]
    # seekgap's offset and bytecat's calls are mispredicted, sizedecho's skipped, exclcreate's
    # first answered with a word first
    local offset=${numbered[seekgap offset]} calls=${numbered[bytecat calls]}
    local skip=${numbered[sizedecho read]} word=${numbered[exclcreate first]} asked=()
    typed() {
        case $1 in
        "$offset" | "$calls") answer=$((answer + 1)) ;;
        "$skip") answer="" ;;
        "$word") [[ " ${asked[*]} " == *" $word "* ]] || answer=seven ;;
        esac
        asked+=("$1")
    }
    untraced typed_tour --quick --student 'Ann Lee'
    [ "$(cat status)" -eq 0 ]

    grep -qx '# with the numbers of Ann Lee (seed 3901051065)' <<<"$output"
    grep -qxF "\$ printf '9\\npartial read\\n' | sizedecho" <<<"$output"
    # The word is refused and asked for again; every prediction but the two is matched.
    [ "$(grep -c '^# that is not one of the answers asked for$' <<<"$output")" -eq 1 ]
    grep -qx "Your prediction: $((key[$offset] + 1))\\. The kernel here: ${key[$offset]}\\. Missed\\." <<<"$output"
    local made
    made=$(grep -c '^Your prediction: .*\. The kernel here: .*\. \(Matched\|Missed\)\.$' <<<"$output")
    [ "$(grep -c '\. Matched\.$' <<<"$output")" -eq $((made - 2)) ]
    [ "$(grep -c 'Not checked' <<<"$output")" -eq 0 ]
    # each question with a key asked here took a prediction: all but the one skipped judged
    [ "$made" -eq $(($(judged) - 1)) ]
    [ "$(tail -n 1 <<<"$output")" = "$((made - 2)) of $made predictions matched; missed: questions $offset and $calls." ]
    [ "$(ls -A tmp)" = "" ]
}

@test "tour --ask --seed at a terminal: each key is what the kernel does, for seeds at every draw's edges" {
    require_native "ps and strace show the emulator, and env -i drops QEMU_LD_PREFIX"
    local row seed dir made sheet number value failed=0
    local -A key=() numbered=()
    for row in "${seeds[@]}"; do
        seed=${row%%|*} dir=$BATS_FILE_TMPDIR/seed-$seed
        wait_for 240 test -s "$dir/judged.count" || {
            row_fails "seed $seed" "status $(cat "$dir/status" 2>/dev/null)" "status 0" || failed=1
            continue
        }
        output=$(tr -d '\r' <"$dir/screen")
        made=$(cat "$dir/judged.count")
        # each prediction typed was the key's: each is matched, bytecat's but where no strace
        # counts its calls
        if grep -q '^# no usable strace' <<<"$output"; then made=$((made - 1)); fi
        [[ $(cat "$dir/status") == 0 && $made -ge 10 && $(grep -c '\. Matched\.$' <<<"$output") == "$made" &&
            $(tail -n 1 <<<"$output") == "$made of $made predictions matched." ]] ||
            row_fails "seed $seed" "$(grep -e Missed -e 'predictions matched' <<<"$output")" \
                "$made of $made predictions matched." || failed=1
        # the text sheet's answers begin with the same keys, every number filled in
        sheet_key --seed "$seed" "${varying[@]}"
        sheet=$("$tour" --worksheet --answers --seed "$seed" "${varying[@]}")
        while read -r number value; do
            [[ -z ${key[$number]:-} || ${value%[:,.]} == "${key[$number]}" || ${value,,} == "${key[$number]}"[:,.] ]] ||
                row_fails "seed $seed: the text key of question $number" "$value" "${key[$number]}" || failed=1
        done < <(awk '/^ *[0-9]+\. / { n = $1 + 0 } /^     Answer: / { print n, $2 }' <<<"$sheet")
        for sheet in "$sheet" "$("$tour" --worksheet --answers --seed "$seed" --format markdown)" \
            "$("$tour" --worksheet --answers --seed "$seed" --format gift)"; do
            [[ ! $sheet =~ \{[a-z_]+\} ]] ||
                row_fails "seed $seed: a number not filled in" "$(grep -o '{[a-z_]*}' <<<"$sheet" | head -n 1)" "" ||
                failed=1
        done
    done
    [ "$failed" -eq 0 ]
}

@test "variants: a thousand seeds, and the usual numbers, keep the point of every question whose numbers vary" {
    run bash -c 'source "$1"; load_questions
        for ((i = -1; i < 1000; i++)); do
            if ((i < 0)); then choose_variant; else choose_variant $((i * 4294967 + i % 7)); fi
            for row in "${variant_points[@]}"; do
                [[ -n ${question[${row%%|*}.text]+set} ]] || { echo "no question ${row%%|*}"; exit 1; }
                point_kept filled "$row" || echo "seed ${variant_seed:-none}: ${row%%|*}: $filled"
            done
        done' bash "$tour"
    [ "$status" -eq 0 ]
    [ "$output" = "" ]
}
