#!/usr/bin/env bats
# A student's tour at a terminal (a pseudo-terminal through script, typed at through a FIFO):
# the tour runs the programs with the numbers of that student's sheet, takes the predictions
# typed, judges each against what the kernel did, and scores them at the end.

load helper

tour=$BATS_TEST_DIRNAME/../tour
export SYSLAB_BIN

# prompts: the prompts the screen has shown so far, one a line: a prediction's, or a pause's.
prompts() {
    grep -o -e '(Enter skips)' -e '\[Enter[^]]*\]' screen
}

# asked_more SEEN: whether the screen asks again after SEEN prompts, or the tour has ended.
asked_more() {
    (($(prompts | wc -l) > $1)) || [[ -s status ]]
}

@test "tour --ask --student at a terminal: the student's key matches the kernel; a miss, a skip, the score" {
    require_native "ps and strace show the emulator, and env -i drops QEMU_LD_PREFIX"
    # The key of the student's sheet (its GIFT form: a number, or the right choice marked =),
    # by question number, and the numbers of the questions by program and key.
    local -A key=() numbered=()
    local number entry value
    while IFS=$'\t' read -r number entry value; do
        numbered[$entry]=$number
        [[ -z $value ]] || key[$number]=$value
    done < <("$tour" --worksheet --answers --format gift --student "Ann Lee" | awk '
        /^\/\/ [0-9]+\.$/ { number = $2 + 0 }
        /^::/ { split($0, title, "::"); value = ""
            if (match($0, / [{]#-?[0-9]+####/)) value = substr($0, RSTART + 3, RLENGTH - 7)
            else if (match($0, / [{][^{]*####/)) {
                answers = substr($0, RSTART, RLENGTH)
                if (match(answers, /=[A-Za-z0-9-]+ /)) value = substr(answers, RSTART + 1, RLENGTH - 2)
            }
            printf "%s\t%s\t%s\n", number, title[2], value }')
    [ "${key[${numbered[bytecat calls]}]}" -eq 22 ]
    [ "${key[${numbered[sharedhold writer]}]}" = waits ]
    # seekgap's offset is mispredicted, sizedecho's skipped, exclcreate's first answered with
    # a word first
    local offset=${numbered[seekgap offset]} skip=${numbered[sizedecho read]}
    local word=${numbered[exclcreate first]}

    mkfifo keys
    mkdir tmp
    (
        NO_COLOR=1 TMPDIR=$PWD/tmp timeout 120 script -qefc \
            "'$tour' --ask --quick --student 'Ann Lee'" /dev/null <keys >screen 2>&1
        echo "$?" >status
    ) 3>&- &
    local typing seen=0 answer asked=()
    exec {typing}>keys
    while wait_for 60 asked_more "$seen" && (($(prompts | wc -l) > seen)); do
        seen=$((seen + 1))
        if [[ $(prompts | tail -n 1) != "(Enter skips)" ]]; then
            printf '\n' >&"$typing" # a pause
            continue
        fi
        number=$(grep -o '^Question [0-9]*:' screen | tail -n 1 | tr -dc 0-9)
        answer=${key[$number]:-}
        case $number in
        "$offset") answer=$((answer + 1)) ;;
        "$skip") answer="" ;;
        "$word") [[ " ${asked[*]} " == *" $word "* ]] || answer=seven ;;
        esac
        asked+=("$number")
        printf '%s\n' "$answer" >&"$typing"
    done
    exec {typing}>&-
    wait_for 10 test -s status
    [ "$(cat status)" -eq 0 ]
    output=$(tr -d '\r' <screen)

    grep -qx '# with the numbers of Ann Lee (seed 3901051065)' <<<"$output"
    grep -qxF "\$ printf '9\\npartial read\\n' | sizedecho" <<<"$output"
    # The word is refused and asked for again; every prediction but the two is matched.
    [ "$(grep -c '^# that is not one of the answers asked for$' <<<"$output")" -eq 1 ]
    grep -qx "Your prediction: $((key[$offset] + 1))\\. The kernel here: ${key[$offset]}\\. Missed\\." <<<"$output"
    local made
    made=$(grep -c '^Your prediction: .*\. The kernel here: .*\. \(Matched\|Missed\)\.$' <<<"$output")
    [ "$(grep -c '\. Matched\.$' <<<"$output")" -eq $((made - 1)) ]
    [ "$(grep -c 'Not checked' <<<"$output")" -eq 0 ]
    # each question with a key asked here took a prediction: all but the one skipped judged
    [ "$made" -eq $(($(grep '^Question [0-9]*: ' <<<"$output" | grep -v '^Question [0-9]*: left out here: ' |
        grep -o '^Question [0-9]*' | tr -dc '0-9\n' |
        while read -r number; do [[ -z ${key[$number]:-} ]] || echo; done | wc -l) - 1)) ]
    [ "$(tail -n 1 <<<"$output")" = "$((made - 1)) of $made predictions matched; missed: question $offset." ]
    [ "$(ls -A tmp)" = "" ]
}
