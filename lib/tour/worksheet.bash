# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# --worksheet: the questions of the bank, numbered and grouped by program, for a hand-out;
# with --answers, the key.

print_worksheet() {
    local path name entry lines
    if $answers; then
        printf 'syslab: questions and answers\n'
    else
        printf 'syslab: questions. Write down what you predict, then run the program and see.\n'
    fi
    for path in "${programs[@]}"; do
        name=${path##*/}
        selected_has "$name" || continue
        printf '\n%s\n' "$path"
        for entry in "${question_keys[@]}"; do
            [[ ${entry%% *} == "$name" ]] || continue
            wrap lines "$(printf '%3d. ' "${question[$entry.number]}")" "     " "${question[$entry.text]}"
            printf '%s\n' "${lines[@]}"
            if $answers; then
                wrap lines "     Answer: " "             " "${question[$entry.answer]}"
                printf '%s\n' "${lines[@]}"
            fi
        done
    done
}
