# shellcheck shell=bash
# --worksheet: the questions of the bank, numbered and grouped by program, for a hand-out;
# with --answers, the key. --format text (the default) prints them for a terminal or a
# printer, markdown for a Git forge or pandoc, gift for a learning platform's question bank
# (Moodle: Question bank, Import, GIFT format). All three print the same entries, with the
# numbers of the student's own (--student, --seed) as the tour runs the programs with them.

print_worksheet() {
    # shellcheck disable=SC2154 # opt: the options, written by the tour's parse_arguments
    "worksheet_${opt[format]}"
}

# The room to write an answer in: a line for a number or a choice, two for a free answer,
# ruled to the 79th column (the answer's own line after "     Answer: ").
readonly worksheet_short=____________________
readonly worksheet_line=__________________________________________________________________________
readonly worksheet_first=${worksheet_line:8}

worksheet_text() {
    local line path entry lines text number folder=""
    if ${opt[answers]}; then
        printf 'syslab: questions and answers\n'
    else
        printf 'syslab: questions. Write down what you predict, then run the program and see.\n'
    fi
    if [[ -n $variant_student ]]; then
        printf 'Student: %s\n' "$(variant_label)"
    elif [[ -n $variant_seed ]]; then
        printf 'Seed: %s\n' "$variant_seed"
    fi
    # shellcheck disable=SC2154 # question_entries: questions.bash's
    for line in "${question_entries[@]}"; do
        path=${line%% *} entry=${line#* }
        [[ $path == "$folder" ]] || printf '\n%s\n' "$path"
        folder=$path
        # shellcheck disable=SC2154 # question: questions.bash's
        fill text "${question[$entry.text]}"
        printf -v number '%3d. ' "${question[$entry.number]}"
        wrap lines "$number" "     " "$text"
        printf '%s\n' "${lines[@]}"
        if ${opt[answers]}; then
            fill text "${question[$entry.answer]}"
            wrap lines "     Answer: " "             " "$text"
            printf '%s\n' "${lines[@]}"
        elif [[ ${question[$entry.kind]} == free ]]; then
            printf '     Answer: %s\n     %s\n' "$worksheet_first" "$worksheet_line"
        else
            printf '     Answer: %s\n' "$worksheet_short"
        fi
    done
}

# escaped VAR TEXT CHARACTERS: TEXT with each of CHARACTERS (a backslash first) led by a
# backslash, into VAR: one substitution per character, so a long line costs its length.
escaped() {
    local escaped_text=$2 escaped_char escaped_with escaped_i
    for ((escaped_i = 0; escaped_i < ${#3}; escaped_i++)); do
        escaped_char=${3:escaped_i:1} escaped_with="\\${3:escaped_i:1}"
        [[ $escaped_text != *"$escaped_char"* ]] ||
            escaped_text=${escaped_text//"$escaped_char"/"$escaped_with"}
    done
    printf -v "$1" '%s' "$escaped_text"
}

# The characters that CommonMark or pandoc's Markdown could take for markup, and GIFT's own.
readonly markdown_special='\`*_{}[]<>#|~^$@&' gift_special='\~=#{}:'

# worksheet_markdown: a title, a heading for each folder and program, each question a
# paragraph of its own under its number; under each, the answer, or the room to write it: as
# on the text sheet, its lines broken where the text's are (a backslash at the end).
worksheet_markdown() {
    local line path entry text folder="" program="" short line_rule
    escaped short "$worksheet_short" "$markdown_special"
    escaped line_rule "${worksheet_line:14}" "$markdown_special"
    if ${opt[answers]}; then
        printf '# syslab: questions and answers\n'
    else
        printf '# syslab: questions\n\nWrite down what you predict, then run the program and see.\n'
    fi
    if [[ -n $variant_student ]]; then
        escaped text "$(variant_label)" "$markdown_special"
        printf '\nStudent: %s\n' "$text"
    elif [[ -n $variant_seed ]]; then
        printf '\nSeed: %s\n' "$variant_seed"
    fi
    for line in "${question_entries[@]}"; do
        path=${line%% *} entry=${line#* }
        [[ ${path%/*} == "$folder" ]] || printf '\n## %s\n' "${path%/*}"
        [[ $path == "$program" ]] || printf '\n### %s\n' "${path##*/}"
        folder=${path%/*} program=$path
        fill text "${question[$entry.text]}"
        escaped text "$text" "$markdown_special"
        printf '\n**%s.** %s\n' "${question[$entry.number]}" "$text"
        if ${opt[answers]}; then
            fill text "${question[$entry.answer]}"
            escaped text "$text" "$markdown_special"
            printf '\n**Answer:** %s\n' "$text"
        elif [[ ${question[$entry.kind]} == free ]]; then
            printf '\nAnswer: %s\\\n%s\n' "$line_rule" "$line_rule"
        else
            printf '\nAnswer: %s\n' "$short"
        fi
    done
}

# worksheet_gift: a GIFT question for each entry, titled "program key", in a category for
# each folder: a number as a numerical question, a choice as multiple choice with the right
# one marked, a free question as an essay; the answer with its reason as general feedback.
worksheet_gift() {
    local line path entry text feedback key choice answers folder=""
    printf '// syslab: questions%s, for import as GIFT\n' \
        "${variant_seed:+ with the numbers of $(variant_label)}"
    for line in "${question_entries[@]}"; do
        path=${line%% *} entry=${line#* }
        # shellcheck disable=SC2016 # GIFT's own $CATEGORY
        [[ ${path%/*} == "$folder" ]] || printf '\n$CATEGORY: syslab/%s\n' "${path%/*}"
        folder=${path%/*}
        fill key "${question[$entry.key]}"
        case ${question[$entry.kind]} in
        number) answers="#$key" ;;
        choice)
            answers=""
            for choice in ${question[$entry.choices]//|/ }; do
                if [[ $choice == "$key" ]]; then answers+="="; else answers+="~"; fi
                escaped choice "$choice" "$gift_special"
                answers+="$choice "
            done
            ;;
        *) answers="" ;;
        esac
        fill text "${question[$entry.text]}"
        escaped text "$text" "$gift_special"
        fill feedback "${question[$entry.answer]}"
        escaped feedback "$feedback" "$gift_special"
        printf '\n// %s.\n::%s::%s {%s####%s}\n' "${question[$entry.number]}" "$entry" "$text" \
            "$answers" "$feedback"
    done
}
