# shellcheck shell=bash
# Numbers of a student's own (--student NAME, --seed N): the sizes, counts and limits that the
# tour runs the programs with, the lab is seeded with and the questions ask about. Each is in
# variant[NAME], which a question names as {NAME}. Without a seed they are the tour's usual
# numbers; a seed gives others, and the same seed always the same, on any machine: the seed
# drives a generator in bash's own arithmetic (bash's $RANDOM gives another sequence for the
# same seed since bash 5.1), and a name is turned into a seed by cksum, which POSIX defines.
declare -gA variant=()
# What seekgap.txt and bytecat.txt are seeded with (lib/tour/lab.bash): plain variables, so
# that a lab made as another user (--for) is handed them.
# shellcheck disable=SC2034 # read by lab.bash
seekgap_text="" bytecat_text=""
variant_seed=""    # the seed, empty for the usual numbers
variant_student="" # the student's name, as given
variant_state=0    # the generator's state

# The lines sizedecho is given, by the size it reads: the rest of the line is what the shell
# reads as a command afterwards at a terminal, so no rest begins with a command's name.
sizedecho_lines=(
    [2]="hello world" [3]="kernel buffer" [4]="pipe buffer" [5]="hello world"
    [6]="page cache" [7]="good morning" [8]="kernel space" [9]="partial read"
    [10]="terminal queue" [11]="quick brown fox" [12]="read returns early"
)
# The redirections exclcreate may be started with, and what envdump may be given.
exclcreate_redirections=("" "3<db.txt" "<&-" "3<db.txt 4<db.txt" "4<db.txt" "3<db.txt 5<db.txt"
    "<&- 3<db.txt" "2>&-" "3<db.txt 4<db.txt 6<db.txt" "3<db.txt 4<db.txt 5<db.txt"
    "3<db.txt 4<db.txt 5<db.txt 7<db.txt" "3<db.txt 4<db.txt 5<db.txt 6<db.txt")
envdump_variables=(FRUIT=apple COLOUR=green SHAPE=round TASTE=sweet SEASON=autumn SIZE=small)
flood_names=(one.txt two.txt three.txt four.txt five.txt)

# draw VAR LOW HIGH: the generator's next number, from LOW to HIGH, into VAR. A linear
# congruential generator modulo 2^32, read from its high bits; no product exceeds 2^53.
draw() {
    variant_state=$(((variant_state * 1664525 + 1013904223) % 4294967296))
    printf -v "$1" '%d' $(($2 + (variant_state >> 16) % ($3 - $2 + 1)))
}

# text_of_size VAR SIZE TEXT: TEXT repeated and cut to SIZE bytes, the last one a newline,
# into VAR.
text_of_size() {
    local sized_text=$3
    while ((${#sized_text} < $2)); do sized_text+=" $3"; done
    printf -v "$1" '%s\n' "${sized_text:0:$2-1}"
}

# choose_variant [SEED]: the numbers of SEED into variant[], or the usual ones without it.
choose_variant() {
    local seekgap=0 size=5 bytes=33 start=0 raise=5 add=100 redirection="" limit=64 file=0
    local runs=3 count=2 i fd open=" 0 1 2 " word words
    variant_seed=${1:-} variant_student=""
    variant=()
    if [[ -n $variant_seed ]]; then
        # The draws come in this order for good: a new number goes after the last.
        # Three draws thrown away first, so that seeds next to each other part ways.
        variant_state=$variant_seed
        draw i 0 0 && draw i 0 0 && draw i 0 0
        draw seekgap 4 59
        draw size 2 12
        draw bytes 12 90
        draw start 1 7
        draw raise 1 9
        draw add 8 22
        add=$((add - start))
        # the second run must not repeat the first, which would show its answer
        ((add != raise)) || add=$((add + 1))
        draw i 0 $((${#exclcreate_redirections[@]} - 1))
        redirection=${exclcreate_redirections[i]}
        draw limit 16 128
        draw file 0 4
        draw runs 2 10
        draw count 1 ${#envdump_variables[@]}
    fi

    # seekgap writes 10 bytes at 0 and seeks 10 past the end: a file under 10 bytes is
    # extended to 10 first.
    variant[seekgap_bytes]=$seekgap
    seekgap_text=abcdefghijklmnopqrstuvwxyz
    seekgap_text=$seekgap_text$seekgap_text$seekgap_text
    seekgap_text=${seekgap_text:0:seekgap}
    ((seekgap >= 10)) || seekgap=10
    variant[seekgap_gap]=$seekgap
    variant[seekgap_gap_end]=$((seekgap + 9))
    variant[seekgap_offset]=$((seekgap + 10))
    variant[seekgap_size]=$((seekgap + 20))

    variant[sizedecho_size]=$size
    variant[sizedecho_line]=${sizedecho_lines[size]}
    variant[sizedecho_echo]=${sizedecho_lines[size]:0:size}
    variant[sizedecho_rest]=${sizedecho_lines[size]:size}

    variant[bytecat_bytes]=$bytes
    variant[bytecat_reads]=$((bytes + 1))
    text_of_size bytecat_text "$bytes" "One read and one write per byte."

    variant[niceset]=niceset
    ((start == 0)) || variant[niceset]="nice -n $start niceset"
    variant[nice_start]=$start
    variant[nice_raise]=$raise
    variant[nice_raised]=$((start + raise))
    variant[nice_add]=$add
    variant[nice_new]=$((start + add > 19 ? 19 : start + add))

    variant[exclcreate]="exclcreate${redirection:+ $redirection}"
    for word in $redirection; do
        case $word in
        '<&-') open=${open/ 0 / } ;;
        [0-9]'>&-') open=${open/ ${word:0:1} / } ;;
        [0-9]'<'*) open+="${word:0:1} " ;;
        esac
    done
    for ((fd = 0; fd < 10; fd++)); do
        [[ $open == *" $fd "* ]] || break
    done
    variant[exclcreate_fd]=$fd
    words=()
    for ((fd = 0; fd < 10; fd++)); do
        [[ $open != *" $fd "* ]] || words+=("$fd")
    done
    listed "variant[exclcreate_open]" "${words[@]}"

    # fdflood opens the five names in turn into descriptors 3 to limit - 1.
    variant[fdflood_limit]=$limit
    variant[fdflood_last]=$((limit - 1))
    variant[fdflood_file]=${flood_names[file]}
    variant[fdflood_first]=$((3 + file))
    variant[fdflood_file_last]=$((3 + file + (limit - 4 - file) / 5 * 5))
    variant[fdflood_count]=$(((limit - 4 - file) / 5 + 1))

    variant[forkappend_runs]=$runs
    variant[forkappend_bytes]=$((30 * runs))
    variant[forkappend_records]=$runs
    variant[forkappend]=forkappend
    for ((i = 1; i < runs; i++)); do variant[forkappend]+="; forkappend"; done

    variant[envdump_count]=$count
    variant[envdump_variables]=${envdump_variables[*]:0:count}
    variant[envdump_first]=${envdump_variables[0]}
    variant[envdump_last]=${envdump_variables[count - 1]}
    listed "variant[envdump_listed]" "${envdump_variables[@]:0:count}"
}

# choose_student NAME: the numbers of a student, by name. The seed is the cksum of the name
# in small letters: neither the case of its letters nor the spaces around and between its
# words count, nor the CR at the end of the lines of a list saved on Windows.
choose_student() {
    local words
    read -ra words <<<"${1//$'\r'/}"
    choose_variant "$(printf '%s' "${words[*]}" | LC_ALL=C tr '[:upper:]' '[:lower:]' |
        cksum | cut -d ' ' -f 1)"
    variant_student=${words[*]}
}

# variant_label: whose numbers these are, for the headings: "NAME (seed N)" or "seed N".
variant_label() {
    if [[ -n $variant_student ]]; then
        printf '%s (seed %s)' "$variant_student" "$variant_seed"
    elif [[ -n $variant_seed ]]; then
        printf 'seed %s' "$variant_seed"
    fi
}

# variant_options: the options that give these numbers again, as typed: " --student NAME",
# " --seed N", or nothing for the usual numbers.
variant_options() {
    if [[ -n $variant_student ]]; then
        printf ' --student %q' "$variant_student"
    elif [[ -n $variant_seed ]]; then
        printf ' --seed %s' "$variant_seed"
    fi
}

# lab_numbers: after --lab with a student's numbers, the commands to type with them.
lab_numbers() {
    [[ -n $variant_seed ]] || return 0
    printf '\nThe numbers of %s, which the questions ask about:\n\n' "$(variant_label)"
    printf '    seekgap.txt holds %s bytes, bytecat.txt %s\n' \
        "${variant[seekgap_bytes]}" "${variant[bytecat_bytes]}"
    printf '    sizedecho: give it the size %s, then the line "%s"\n' \
        "${variant[sizedecho_size]}" "${variant[sizedecho_line]}"
    printf '    niceset: %s %s, then %s %s\n' "${variant[niceset]}" "${variant[nice_raise]}" \
        "${variant[niceset]}" "${variant[nice_add]}"
    printf '    exclcreate: run it as %s, twice\n' "${variant[exclcreate]}"
    printf '    fdflood: (mkdir -p flood && cd flood && ulimit -n %s && exec fdflood) &\n' \
        "${variant[fdflood_limit]}"
    printf '             then count its descriptors, and those that lead to %s\n' \
        "${variant[fdflood_file]}"
    printf '    forkappend: run it %s times\n' "${variant[forkappend_runs]}"
    local lines last i
    # shellcheck disable=SC2016 # printed for the user to type
    wrap lines '    envdump: env -i ' '             ' "${variant[envdump_variables]} \"\$(command -v envdump)\""
    last=$((${#lines[@]} - 1))
    for ((i = 0; i < last; i++)); do
        printf '%s \\\n' "${lines[i]}"
    done
    printf '%s\n' "${lines[last]}"
    printf '\nThe questions with these numbers: %s --worksheet%s\n' "$(tour_command)" "$(variant_options)"
}

# fill VAR TEXT: TEXT with each {NAME} replaced by variant[NAME], into VAR.
fill() {
    local fill_rest=$2 fill_done="" fill_name
    while [[ $fill_rest =~ \{([a-z_]+)\} ]]; do
        fill_name=${BASH_REMATCH[1]}
        fill_done+=${fill_rest%%"{$fill_name}"*}${variant[$fill_name]-"{$fill_name}"}
        fill_rest=${fill_rest#*"{$fill_name}"}
    done
    printf -v "$1" '%s' "$fill_done$fill_rest"
}

# unknown_placeholder VAR TEXT: whether TEXT has a {NAME} that names no number; the first
# such into VAR.
unknown_placeholder() {
    local placeholder_rest=$2
    while [[ $placeholder_rest =~ \{([a-z_]+)\} ]]; do
        [[ -n ${variant[${BASH_REMATCH[1]}]+set} ]] || {
            printf -v "$1" '%s' "${BASH_REMATCH[0]}"
            return 0
        }
        placeholder_rest=${placeholder_rest#*"${BASH_REMATCH[0]}"}
    done
    return 1
}

# The usual numbers, so that the questions load before any option is read.
choose_variant
