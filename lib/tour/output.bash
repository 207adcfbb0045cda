# shellcheck shell=bash
# The tour's output: colours, wrapping at 78 columns, headings and remarks, command lines as a
# user types them, a program's output, and with --step the pauses between screenfuls.

readonly width=78 # the tour wraps its own lines here, so each fits 80 columns

# This part's state: output[shown], the screen rows printed since the last pause;
# output[rows] and output[columns], the terminal's size, for --step; output[keys], the
# descriptor the tour reads Enter from: its standard input as it was at the start.
declare -gA output=([shown]=0 [rows]=24 [columns]=80 [keys]=0)

# set_styles: the escape sequences of each kind of line, on a terminal without NO_COLOR.
set_styles() {
    # shellcheck disable=SC2034 # style_question, style_answer: read by questions.bash
    if [[ -t 1 && -z ${NO_COLOR:-} ]]; then
        style_folder=$'\e[1;35m' style_heading=$'\e[1;36m' style_command=$'\e[1m'
        style_note=$'\e[2m' style_question=$'\e[1;33m' style_answer=$'\e[32m'
        style_reset=$'\e[0m'
    else
        style_folder="" style_heading="" style_command="" style_note="" style_question=""
        style_answer="" style_reset=""
    fi
}
set_styles

# output_init: the keyboard, and with --step the screen's size.
output_init() {
    open_keys
    # shellcheck disable=SC2154 # opt: the options, written by the tour's parse_arguments
    ! ${opt[step]} || measure_screen
}

# open_keys: keeps the tour's standard input as it was at the start (the terminal, or the pipe
# a test types into) on a descriptor of its own, so that a pause never reads from the data it
# is showing.
open_keys() {
    local keys
    exec {keys}<&0
    output[keys]=$keys
    hold_fd "$keys"
}

# discard_typed_ahead: drops the lines typed while the tour was showing, so that an Enter
# pressed early does not answer the next pause. Only a terminal; a pipe is read as it is.
discard_typed_ahead() {
    [[ -t ${output[keys]} ]] || return 0
    while read -r -t 0 -u "${output[keys]}"; do
        read -r -u "${output[keys]}" _ || break
    done
}

# read_line VAR PROMPT: prints PROMPT and reads a line typed in answer into VAR (empty at the
# end of the input); what was typed before the prompt is discarded.
read_line() {
    local -n read_into=$1
    discard_typed_ahead
    printf '%s%s%s' "$style_note" "$2" "$style_reset"
    read_into=""
    # shellcheck disable=SC2034 # read_into: the caller's variable, assigned through this nameref
    IFS= read -r -u "${output[keys]}" read_into || true
    [[ -t ${output[keys]} ]] || printf '\n'
    output[shown]=0
}

# at_terminal: whether the tour talks with someone at a terminal (not a pipe or a file).
at_terminal() {
    [[ -t ${output[keys]} && -t 1 ]]
}

# pause PROMPT: waits for Enter (a line, or the end of the input).
pause() {
    local _
    read_line _ "$1"
}

# measure_screen: the terminal's rows and columns, from LINES and COLUMNS or asked of the
# terminal; 24 by 80 when neither tells (a terminal of 0 by 0 tells nothing).
measure_screen() {
    local size=""
    [[ ! -t ${output[keys]} ]] || size=$(stty size <&"${output[keys]}" 2>/dev/null) || size=""
    [[ $size =~ ^([1-9][0-9]*)\ ([1-9][0-9]*)$ ]] &&
        output[rows]=${BASH_REMATCH[1]} output[columns]=${BASH_REMATCH[2]}
    # a size of more than six digits is no terminal's, and would overflow the arithmetic
    [[ ${LINES:-} =~ ^[1-9][0-9]{0,5}$ ]] && output[rows]=$LINES
    [[ ${COLUMNS:-} =~ ^[1-9][0-9]{0,5}$ ]] && output[columns]=$COLUMNS
    ((output[rows] >= 4)) || output[rows]=4
    return 0
}

# rows_of VAR LINE: how many rows of the screen LINE takes, tabs and wrapping counted.
rows_of() {
    local rows_rest=$2 rows_columns=0 rows_piece
    while [[ $rows_rest == *$'\t'* ]]; do
        rows_piece=${rows_rest%%$'\t'*}
        rows_rest=${rows_rest#*$'\t'}
        rows_columns=$(((rows_columns + ${#rows_piece}) / 8 * 8 + 8))
    done
    rows_columns=$((rows_columns + ${#rows_rest}))
    printf -v "$1" '%d' $((rows_columns == 0 ? 1 : (rows_columns + output[columns] - 1) / output[columns]))
}

# emit STYLE LINE: prints one line; with --step it first pauses when the line would push the
# first row shown since the last pause off the screen (a row is kept for the pause's prompt).
emit() {
    local rows
    if ${opt[step]}; then
        rows_of rows "$2"
        if ((output[shown] > 0 && output[shown] + rows > output[rows] - 2)); then
            pause "[Enter for more]"
        fi
        output[shown]=$((output[shown] + rows))
    fi
    if [[ -n $1 ]]; then
        printf '%s%s%s\n' "$1" "$2" "$style_reset"
    else
        printf '%s\n' "$2"
    fi
}

# split ARRAY TEXT [SEPARATORS]: TEXT's words (or its fields between SEPARATORS; with a
# newline, its lines but the empty ones) into ARRAY, nothing globbed. Not `read <<<`, which
# reads a here-string a byte per system call.
split() {
    local -n split_into=$1
    local IFS=${3-$' \t\n'} -
    set -f
    # shellcheck disable=SC2206 # split on purpose, with globbing off
    # shellcheck disable=SC2034 # split_into: the caller's variable, assigned through this nameref
    split_into=($2)
}

# wrap ARRAY FIRST NEXT TEXT: TEXT in lines of at most $width columns into ARRAY, the first
# line led by FIRST, the others by NEXT. A word longer than a line stands alone on its line.
wrap() {
    local -n wrap_into=$1
    local wrap_prefix=$2 wrap_line wrap_rest wrap_words wrap_room
    split wrap_words "$4"
    wrap_rest=${wrap_words[*]} # the words, one space between each
    wrap_into=()
    while [[ -n $wrap_rest ]]; do
        wrap_room=$((width - ${#wrap_prefix}))
        if ((${#wrap_rest} <= wrap_room)); then
            wrap_line=$wrap_rest
        elif [[ ${wrap_rest:0:wrap_room+1} =~ ^(.*)\  ]]; then
            wrap_line=${BASH_REMATCH[1]} # up to the last space that leaves it room
        else
            wrap_line=${wrap_rest%% *} # a word longer than the line, alone
        fi
        wrap_rest=${wrap_rest:${#wrap_line}+1}
        wrap_into+=("$wrap_prefix$wrap_line")
        wrap_prefix=$3
    done
}

# listed VAR WORD...: "A", "A and B", "A, B and C" into VAR.
listed() {
    local -n listed_into=$1
    listed_into=$2
    shift 2
    while (($# > 1)); do
        listed_into+=", $1"
        shift
    done
    listed_into+=${1:+ and $1}
}

# say STYLE FIRST NEXT TEXT: TEXT wrapped as wrap does, each line printed in STYLE.
say() {
    local line lines
    wrap lines "$2" "$3" "$4"
    for line in "${lines[@]}"; do
        emit "$1" "$line"
    done
}

folder_heading() {
    emit "" ""
    emit "$style_folder" "$1/"
}

heading() {
    emit "" ""
    say "$style_heading" "== $1: " "   " "$2"
}

note() {
    say "$style_note" "# " "# " "$*"
}

# command_line PROMPT TEXT: a command as the user types it; PROMPT names the terminal. A line
# too long for the screen is continued as continued_lines says.
command_line() {
    local line lines
    continued_lines lines "${1:+[$1] }\$ " "$2"
    for line in "${lines[@]}"; do
        emit "$style_command" "$line"
    done
}

# continued_lines ARRAY LEAD TEXT: the command line TEXT led by LEAD into ARRAY, in lines that
# fit the screen: one too long is continued with a backslash at a space outside quotes, the
# next led by as many spaces as LEAD.
continued_lines() {
    local -n continued_into=$1
    local continued_lead=$2 continued_text=$3 continued_cut continued_i continued_char
    local continued_quote=""
    continued_into=()
    while ((${#continued_lead} + ${#continued_text} > width + 2)); do
        continued_cut=0
        for ((continued_i = 0; continued_i < ${#continued_text} &&
            ${#continued_lead} + continued_i < width; continued_i++)); do
            continued_char=${continued_text:continued_i:1}
            if [[ -n $continued_quote ]]; then
                [[ $continued_char == "$continued_quote" ]] && continued_quote=""
            elif [[ $continued_char == [\'\"] ]]; then
                continued_quote=$continued_char
            elif [[ $continued_char == ' ' ]]; then
                continued_cut=$continued_i
            fi
        done
        ((continued_cut > 0)) || break
        continued_into+=("$continued_lead${continued_text:0:continued_cut} \\")
        continued_text=${continued_text:continued_cut+1}
        continued_lead="${continued_lead//?/ }"
        continued_quote=""
    done
    # shellcheck disable=SC2034 # continued_into: the caller's variable, through this nameref
    continued_into+=("$continued_lead$continued_text")
}

# shell_word VAR WORD: WORD as a user types it, into VAR: as it is when the shell reads
# nothing in it specially; else in single quotes, which show every letter as it is in any
# locale; a word with a control character as $'...', which shows it escaped.
shell_word() {
    local -n word_into=$1
    # shellcheck disable=SC2034 # word_into: the caller's variable, through this nameref
    if [[ $2 =~ ^[A-Za-z0-9_./:,=+@%-]+$ ]]; then
        word_into=$2
    elif [[ $2 == *[[:cntrl:]]* ]]; then
        printf -v word_into '%q' "$2"
    else
        word_into="'${2//\'/\'\\\'\'}'"
    fi
}

# read_file VAR FILE [FROM [TO]]: the bytes of FILE from offset FROM (up to offset TO) into VAR.
read_file() {
    local -n file_into=$1
    local LC_ALL=C file_from=${3:-0}
    file_into=""
    IFS= read -r -d '' file_into <"$2" || true
    file_into=${file_into:file_from}
    [[ -z ${4:-} ]] || file_into=${file_into:0:$4 - file_from}
}

# size_at VAR FILE: FILE's size in bytes into VAR.
size_at() {
    local size_text
    read_file size_text "$2"
    local LC_ALL=C
    printf -v "$1" '%d' "${#size_text}"
}

# show_text TEXT: what a program printed, line by line, carriage returns of the terminal
# dropped; a last line without a newline is said to be one.
show_text() {
    local text=${1//$'\r'/} line
    [[ -n $text ]] || return 0
    while [[ $text == *$'\n'* ]]; do
        line=${text%%$'\n'*}
        text=${text#*$'\n'}
        emit "" "$line"
    done
    if [[ -n $text ]]; then
        emit "" "$text"
        note "(no newline at the end)"
    fi
}

# show_output FILE [FROM [TO]]: the bytes of FILE from offset FROM on (up to offset TO).
show_output() {
    local text
    read_file text "$@"
    show_text "$text"
}

# visible VAR TEXT: TEXT with each control character shown as a backslash and its three octal
# digits (an escape as \033), into VAR: a name from the file system or from a user shown so
# cannot move the cursor or rewrite what the terminal shows. One substitution per character.
visible() {
    local -n visible_into=$1
    local visible_text=$2 visible_code visible_char visible_octal
    if [[ $visible_text == *[[:cntrl:]]* ]]; then
        for visible_code in {1..31} 127; do
            printf -v visible_octal '\\%03o' "$visible_code"
            # shellcheck disable=SC2059 # the format is the escape
            printf -v visible_char "$visible_octal"
            [[ $visible_text != *"$visible_char"* ]] ||
                visible_text=${visible_text//"$visible_char"/"$visible_octal"}
        done
    fi
    # shellcheck disable=SC2034 # visible_into: the caller's variable, assigned through this nameref
    visible_into=$visible_text
}

fail() {
    local message
    visible message "$1"
    printf 'tour: %s\n' "$message" >&2
    exit 1
}

usage_error() {
    local message
    visible message "$1"
    printf 'tour: %s\n' "$message" >&2
    usage >&2
    exit 2
}
