# shellcheck shell=bash
# The question bank of --ask and --worksheet: questions/<folder>.txt, and over it a teacher's
# own directory (--questions DIR or SYSLAB_QUESTIONS), whose entries replace those of the same
# program and key and add the others. A file holds records:
#
#   @PROGRAM KEY
#   K: number 34          the kind of answer: number N, choice A|B|C RIGHT, or free (the
#                         default); a number or choice is what --ask checks a prediction
#                         against, and what the worksheets give as the key
#   Q: the question
#      an indented line continues the line above
#   A: the answer, with its reason
#
# {NAME} in any of them stands for a number of the student's own (lib/tour/variants.bash).
# Lines that begin with # and blank lines are passed over. question[PROGRAM KEY.text],
# .answer, .kind, .key (the number or the right choice) and .choices (A|B|C) hold each entry;
# question_keys lists them in the order read.
declare -gA question=()
question_keys=()
# The keys of the tour's own bank by program, in the order read: the questions its view asks
# (a teacher's own file may add keys, which the worksheet has and no view asks).
declare -gA question_asks=()

# question_error FILE LINE TEXT: a malformed bank is a usage error that names the place.
question_error() {
    printf 'tour: %s:%s: %s\n' "$1" "$2" "$3" >&2
    exit 2
}

# load_question_file FILE: adds the records of FILE to the bank.
# shellcheck disable=SC2094 # FILE is only read; question_error names it
load_question_file() {
    local file=$1 line lines number=0 entry="" part="" program key rest unknown words
    mapfile -t lines <"$file" # at once: a read per line would be two system calls each
    for line in "${lines[@]}"; do
        number=$((number + 1))
        case $line in
        '' | '#'*) part="" ;;
        @*)
            split words "${line#@}"
            program=${words[0]:-} key=${words[1]:-} rest=${words[2]:-}
            [[ -n $key && -z $rest ]] || question_error "$file" "$number" "not \"@PROGRAM KEY\""
            # shellcheck disable=SC2154 # tour_programs: the tour's list of the programs
            [[ " ${tour_programs[*]##*/} " == *" $program "* ]] ||
                question_error "$file" "$number" "no program $program"
            close_entry "$entry" "$file" "$number"
            entry="$program $key" part=""
            [[ -n ${question["$entry.text"]+set} ]] || question_keys+=("$entry")
            question[$entry.text]="" question[$entry.answer]="" question[$entry.kind]=""
            question[$entry.key]="" question[$entry.choices]=""
            ;;
        'Q: '* | 'A: '* | 'K: '*)
            [[ -n $entry ]] || question_error "$file" "$number" "${line:0:2} before any @PROGRAM KEY"
            case $line in
            Q*) part=text ;;
            A*) part=answer ;;
            K*) part=kind ;;
            esac
            [[ -z ${question[$entry.$part]} ]] ||
                question_error "$file" "$number" "a second ${line:0:2} line for @$entry"
            question[$entry.$part]=${line:3}
            if [[ $part == kind ]]; then
                read_kind "$entry" "$file" "$number"
                part=""
            fi
            ;;
        ' '*)
            [[ -n $part ]] || question_error "$file" "$number" "a continuation line under nothing"
            line=${line#"${line%%[! ]*}"}
            question[$entry.$part]+=" $line"
            ;;
        *) question_error "$file" "$number" "not \"@PROGRAM KEY\", \"K: \", \"Q: \", \"A: \" or an indented line" ;;
        esac
        if [[ $line != [@#]* && $line == *"{"* ]] && unknown_placeholder unknown "$line"; then
            question_error "$file" "$number" "unknown placeholder $unknown"
        fi
    done
    close_entry "$entry" "$file" "$number"
}

# close_entry ENTRY FILE LINE: ENTRY, read to its end, has a question and an answer; without a
# K: line its kind is free. No entry, nothing to close.
close_entry() {
    [[ -n $1 ]] || return 0
    [[ -n ${question[$1.text]} && -n ${question[$1.answer]} ]] ||
        question_error "$2" "$3" "@$1 has no Q: and A: lines"
    question[$1.kind]=${question[$1.kind]:-free}
}

# read_kind ENTRY FILE LINE: the kind line of ENTRY, taken apart into .kind, .key and
# .choices: "number N" (N a whole number or a {NAME}), "choice A|B... RIGHT" (words, RIGHT
# among them; a prediction may differ from them in case) or "free".
read_kind() {
    local entry=$1 kind key choices rest words
    split words "${question[$entry.kind]}"
    kind=${words[0]:-} key=${words[1]:-}
    rest=${words[*]:2}
    case $kind in
    number)
        [[ -z $rest && $key =~ ^(-?[0-9]+|\{[a-z_]+\})$ ]] || kind=""
        ;;
    choice)
        choices=$key key=$rest
        [[ $choices =~ ^[A-Za-z0-9-]+(\|[A-Za-z0-9-]+)+$ && $key =~ ^[A-Za-z0-9-]+$ ]] || kind=""
        [[ -z $kind || "|$choices|" == *"|$key|"* ]] ||
            question_error "$2" "$3" "the right choice $key is not among $choices"
        ;;
    free) [[ -z $key ]] || kind="" ;;
    *) kind="" ;;
    esac
    [[ -n $kind ]] ||
        question_error "$2" "$3" "not a kind: \"number N\", \"choice A|B... RIGHT\" or \"free\""
    question[$entry.kind]=$kind question[$entry.key]=$key question[$entry.choices]=${choices:-}
}

# load_questions: the installed bank, one file per folder, then the teacher's own files.
load_questions() {
    local path folder="" file
    for path in "${tour_programs[@]}"; do
        [[ ${path%/*} != "$folder" ]] || continue
        folder=${path%/*}
        # shellcheck disable=SC2154 # question_dir: the tour's
        file=$question_dir/$folder.txt
        [[ -f $file ]] || fail "no questions for $folder: $file is missing"
        load_question_file "$file"
    done
    for file in "${question_keys[@]}"; do
        question_asks[${file%% *}]+="${file#* } "
    done
    [[ -n ${opt[questions]} ]] || return 0
    [[ -d ${opt[questions]} ]] || fail "--questions ${opt[questions]} is not a directory"
    for file in "${opt[questions]}"/*.txt; do
        [[ -f $file ]] && load_question_file "$file"
    done
}

# check_links: every program has its show_ function and a question. A broken link is one line
# and status 2, before anything runs.
check_links() {
    local path name
    for path in "${tour_programs[@]}"; do
        name=${path##*/}
        declare -F "show_$name" >/dev/null ||
            link_error "$name is in programs.list but no show_$name is in lib/tour/show/${path%/*}.bash"
        [[ " ${question_keys[*]%% *} " == *" $name "* ]] ||
            link_error "$name has no question in questions/${path%/*}.txt"
    done
}

link_error() {
    printf 'tour: broken link: %s\n' "$1" >&2
    exit 2
}

# asked PROGRAM KEY: whether the view of PROGRAM asks that question: whether the tour's own
# question file has it.
asked() {
    [[ " ${question_asks[$1]:-} " == *" $2 "* ]]
}

# number_questions: numbers every question of the bank into question[PROGRAM KEY.number], in
# the order of the programs and of the bank, and after them a teacher's own added keys in the
# same order: a tour, a sheet or a record of some programs carries the numbers of the whole
# sheet. question_entries lists the questions of the programs selected, by number, for the
# worksheet, as "FOLDER/PROGRAM PROGRAM KEY".
question_entries=()
number_questions() {
    local path entry keys pass part count=0
    local -A entries=() # each program's entries, in the order of the bank
    for entry in "${question_keys[@]}"; do
        entries[${entry%% *}]+="${entry#* } "
    done
    question_entries=()
    for pass in bank added; do
        for path in "${tour_programs[@]}"; do
            split keys "${entries[${path##*/}]:-}" # a key * is a key, not the names here
            for entry in "${keys[@]}"; do
                part=added
                ! asked "${path##*/}" "$entry" || part=bank
                [[ $part == "$pass" ]] || continue
                entry="${path##*/} $entry"
                count=$((count + 1))
                question[$entry.number]=$count
                ! selected_has "${path##*/}" || question_entries+=("$path $entry")
            done
        done
    done
}

# The predictions typed at --ask, by entry; what the views saw the kernel do, by entry; and the
# entries whose prediction was checked, in order, for the score at the end.
declare -gA prediction=() observation=()
predicted=()

# How many questions --ask has asked, for the score of a tour cut short; whether the last
# pause was an answer's, after its program's last question (the pause before the next program).
questions_put=0
answer_paused=false

# ask PROGRAM KEY: with --ask, the question under its number. On a terminal the tour then
# takes a prediction of a number or a choice (Enter alone skips it), or waits for Enter.
ask() {
    ${opt[ask]} || return 0
    asked "$1" "$2" || fail "show_$1 asks \"$1 $2\", which the tour's own question files do not hold"
    questions_put=$((questions_put + 1)) answer_paused=false
    local lead="Question ${question[$1 $2.number]}: " text
    fill text "${question[$1 $2.text]}"
    # shellcheck disable=SC2154 # style_*: output.bash's
    say "$style_question" "$lead" "${lead//?/ }" "$text"
    at_terminal || return 0
    if [[ ${question[$1 $2.kind]} == free ]]; then
        pause "[Enter to see what the kernel does]"
    else
        take_prediction "$1 $2"
    fi
}

# word_root VAR WORD: WORD in small letters without the ending of its form (waits, waiting,
# waited: wait; refused, refuse: refus), into VAR; an ending is taken off only where three
# letters stay, so yes stays yes.
word_root() {
    local root_word=${2,,} root_end
    for root_end in ing ed es s e; do
        [[ $root_word == *"$root_end" && ${#root_word} -ge $((${#root_end} + 3)) ]] || continue
        root_word=${root_word%"$root_end"}
        break
    done
    printf -v "$1" '%s' "$root_word"
}

# choice_typed VAR CHOICES TYPED: the one of CHOICES (A|B...) that TYPED names, into VAR: the
# choice itself in any case, else the only one of the same root (wait, waiting: waits) or that
# begins with TYPED (w: waits); nothing where it names none or more than one (r of refused and
# R).
choice_typed() {
    local typed=${3,,} choice root root_typed found="" count=0
    for choice in ${2//|/ }; do
        [[ ${choice,,} != "$typed" ]] || {
            printf -v "$1" '%s' "$choice"
            return 0
        }
    done
    word_root root_typed "$typed"
    for choice in ${2//|/ }; do
        word_root root "$choice"
        [[ $root == "$root_typed" || ${choice,,} == "$typed"* ]] || continue
        found=$choice count=$((count + 1))
    done
    ((count == 1)) || found=""
    printf -v "$1" '%s' "$found"
}

# take_prediction ENTRY: reads a prediction until it is of the entry's kind, or nothing: a
# whole number, or a word that names one of the choices (choice_typed).
take_prediction() {
    local entry=$1 typed words prompt choices=${question[$1.choices]} named
    if [[ ${question[$entry.kind]} == number ]]; then
        prompt="Your prediction, a number (Enter skips): "
    else
        prompt="Your prediction: ${choices//|/, }? (Enter skips) "
        prompt=${prompt/", ${choices##*|}?"/" or ${choices##*|}?"}
    fi
    while true; do
        read_line typed "$prompt"
        split words "${typed,,}"
        typed=${words[0]:-}
        [[ -n $typed ]] || return 0
        if [[ ${question[$entry.kind]} == number && $typed =~ ^([+-]?)0*([0-9]+)$ ]]; then
            typed=${BASH_REMATCH[1]#+}${BASH_REMATCH[2]}
            [[ $typed != -0 ]] || typed=0
            break
        fi
        if [[ ${question[$entry.kind]} == choice ]]; then
            choice_typed named "$choices" "$typed"
            [[ -z $named ]] || {
                typed=$named
                break
            }
        fi
        note "that is not one of the answers asked for"
    done
    prediction[$entry]=$typed
}

# open_record: with --record FILE, FILE is made now, as a new file (noclobber: an existing
# file, or a link planted there, is refused), for the predictions to be written at the end.
record_fd=""
open_record() {
    [[ -n ${opt[record]} ]] || return 0
    local -
    set -C
    { exec {record_fd}>"${opt[record]}"; } 2>/dev/null ||
        fail "--record ${opt[record]}: it exists or cannot be made; the tour writes only a new file"
    hold_fd "$record_fd"
}

# write_record: the predictions typed, one a line as an answer sheet ("NUMBER. ANSWER", the
# worksheet's numbers), and the programs when not all were toured; at the end and on Ctrl-C.
write_record() {
    [[ -n $record_fd ]] || return 0
    local entry
    {
        printf '# syslab-tour --ask predictions%s\n' \
            "${opt[student]:+ of ${opt[student]}}${opt[seed]:+, seed ${opt[seed]}}"
        [[ ${opt[programs]} == "${tour_programs[*]##*/}" ]] ||
            printf '# programs: %s\n' "${opt[programs]}"
        for entry in "${question_entries[@]}"; do
            entry=${entry#* }
            [[ -z ${prediction[$entry]+set} ]] ||
                printf '%s. %s\n' "${question[$entry.number]}" "${prediction[$entry]}"
        done
    } >&"$record_fd"
    release_fd "$record_fd"
    record_fd=""
}

# observed PROGRAM KEY VALUE: what the kernel did, as the view saw it, for the question's
# check: a number, or one of the question's choices.
observed() {
    observation["$1 $2"]=$3
}

# observed_in PROGRAM KEY PATTERN: observed, from what the last command line printed: the
# first group of the extended regular expression PATTERN in the last line that it matches.
observed_in() {
    local line lines
    # shellcheck disable=SC2154 # commands: commands.bash's state
    split lines "${commands[out]}" $'\n'
    for line in "${lines[@]}"; do
        [[ ! $line =~ $3 ]] || observation["$1 $2"]=${BASH_REMATCH[1]}
    done
}

# answer PROGRAM KEY [HERE]: with --ask, once the view has been shown: whether a prediction
# matched what the view saw, then the answer; HERE says what this machine did and why, where
# that depends on the machine.
answer() {
    ${opt[ask]} || return 0
    local entry="$1 $2" seen text
    if [[ -n ${prediction[$entry]+set} ]]; then
        seen=${observation[$entry]-}
        if [[ -z $seen || (${question[$entry.kind]} == choice &&
            "|${question[$entry.choices]}|" != *"|$seen|"*) ]]; then
            text="Not checked: the tour did not see what the kernel did."
        else
            predicted+=("$entry")
            text="The kernel here: $seen. Matched."
            [[ ${prediction[$entry]} == "$seen" ]] || {
                text="The kernel here: $seen. Missed."
                question[$entry.missed]=yes
            }
        fi
        # shellcheck disable=SC2154 # style_*: output.bash's
        say "$style_answer" "" "" "Your prediction: ${prediction[$entry]}. $text"
    fi
    fill text "${question[$1 $2.answer]}"
    say "$style_answer" "Answer: " "        " "$text"
    [[ -z ${3:-} ]] || say "$style_answer" "Here: " "      " "$3"
    at_terminal || return 0
    # After the program's last question the pause is the one before the next program; after
    # the tour's last there is none.
    local keys
    split keys "${question_asks[$1]}"
    if [[ $2 != "${keys[-1]}" ]]; then
        pause "[Enter for the next question]"
    elif [[ -n $tour_next_program ]]; then
        pause "[Enter for the next program]"
        # shellcheck disable=SC2034 # answer_paused: read by programs.bash's show_tour
        answer_paused=true
    fi
}

# left_out PROGRAM KEY REASON: with --ask, a question this machine cannot show, named under
# its number with the reason.
left_out() {
    ${opt[ask]} || return 0
    asked "$1" "$2" || fail "show_$1 leaves out \"$1 $2\", which the tour's own question files do not hold"
    local lead="Question ${question[$1 $2.number]}: "
    say "$style_question" "$lead" "${lead//?/ }" "left out here: $3"
}

# prediction_score [so-far]: after the tour, how many of the predictions checked matched, and
# the numbers of the questions missed; with so-far, for a tour cut short, of how many
# questions asked until then.
prediction_score() {
    local entry missed=() text numbers
    if [[ -n ${1:-} ]]; then
        ((questions_put > 0)) || return 0
    else
        ((${#predicted[@]} > 0)) || return 0
    fi
    for entry in "${predicted[@]}"; do
        [[ -z ${question[$entry.missed]:-} ]] || missed+=("${question[$entry.number]}")
    done
    text="$((${#predicted[@]} - ${#missed[@]})) of ${#predicted[@]} predictions matched"
    [[ -z ${1:-} ]] || text+=" so far, of $questions_put questions asked"
    if ((${#missed[@]} == 1)); then
        text+="; missed: question ${missed[0]}"
    elif ((${#missed[@]} > 1)); then
        listed numbers "${missed[@]}"
        text+="; missed: questions $numbers"
    fi
    emit "" ""
    say "$style_answer" "" "" "$text."
}
