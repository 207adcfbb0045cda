# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# --worksheet: the questions of the bank, numbered and grouped by program, for a hand-out;
# with --answers, the key. The questions carry the numbers of the student's own (--student,
# --seed), as the tour runs the programs with them.

print_worksheet() {
    local path entry lines text folder=""
    if $answers; then
        printf 'syslab: questions and answers\n'
    else
        printf 'syslab: questions. Write down what you predict, then run the program and see.\n'
    fi
    if [[ -n $variant_student ]]; then
        printf 'Student: %s\n' "$(variant_label)"
    elif [[ -n $variant_seed ]]; then
        printf 'Seed: %s\n' "$variant_seed"
    fi
    while read -r path entry; do
        [[ $path == "$folder" ]] || printf '\n%s\n' "$path"
        folder=$path
        fill text "${question[$entry.text]}"
        wrap lines "$(printf '%3d. ' "${question[$entry.number]}")" "     " "$text"
        printf '%s\n' "${lines[@]}"
        if $answers; then
            fill text "${question[$entry.answer]}"
            wrap lines "     Answer: " "             " "$text"
            printf '%s\n' "${lines[@]}"
        fi
    done < <(worksheet_entries)
}

# worksheet_entries: the entries of the programs selected, as "FOLDER/PROGRAM ENTRY" lines,
# in the order of the worksheet.
worksheet_entries() {
    local path entry
    for path in "${programs[@]}"; do
        selected_has "${path##*/}" || continue
        for entry in "${question_keys[@]}"; do
            [[ ${entry%% *} == "${path##*/}" ]] && printf '%s %s\n' "$path" "$entry"
        done
    done
}
