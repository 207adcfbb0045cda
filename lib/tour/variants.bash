# shellcheck shell=bash
# Numbers of a student's own (--student NAME, --seed N): the sizes, counts and limits that the
# tour runs the programs with, the lab is seeded with and the questions ask about. Each is in
# variant[NAME], which a question names as {NAME}. Without a seed they are the tour's usual
# numbers; a seed gives others, and the same seed always the same, on any machine: the seed
# drives a generator in bash's own arithmetic (bash's $RANDOM gives another sequence for the
# same seed since bash 5.1), and a name is turned into a seed by cksum, which POSIX defines.
#
# What the tour knows of each program's numbers lives in its folder's show file: a function
# numbers_PROGRAM draws them, in the order of variant_draws, and puts them into variant[].
declare -gA variant=()
variant_seed=""    # the seed, empty for the usual numbers
variant_student="" # the student's name, as given
variant_state=0    # the generator's state
# The programs whose numbers a seed draws, in the order they draw them: kept for good, so that
# a seed gives the same numbers; a new program's numbers go after the last.
variant_draws=(seekgap sizedecho bytecat niceset exclcreate fdflood forkappend envdump)

# What each question whose numbers vary teaches, which every student's numbers must keep:
# "PROGRAM KEY|TEST|POINT", TEST an arithmetic test over the numbers, {NAME} standing for
# variant[NAME] and #{NAME} for its length in characters. The questions not named here keep
# their point whatever the numbers (seekgap's offset and gap past the end of any file,
# exclcreate's lowest free descriptor).
# shellcheck disable=SC2034 # variant_points: read by the tests
variant_points=(
    "seekgap blocks|{seekgap_size} <= 1024|so small a file lies in one block: its gap is no hole"
    "sizedecho read|#{sizedecho_rest} > 0|some of the line is left over"
    "bytecat calls|{bytecat_bytes} >= 10|enough bytes that a call each shows in the count"
    "fdflood full|{fdflood_limit} > 8|every name is opened before the table fills"
    "fdflood each|{fdflood_count} >= 2|the same file is open in more than one descriptor"
    "niceset clamp|{nice_start} + {nice_add} > 19 && {nice_raised} < 19|the kernel's clamp at 19 is reached, by the second run only"
    "forkappend size|{forkappend_runs} >= 2|records from several runs, none lost"
    "envdump environ|{envdump_count} >= 1|env -i hands on only the variables named"
)

# point_kept VAR ROW: whether the numbers in variant[] keep the point of ROW (of
# variant_points); the test as it was filled in into VAR.
point_kept() {
    local point_test=${2#*|} point_name
    point_test=${point_test%%|*}
    while [[ $point_test =~ \#\{([a-z_]+)\} ]]; do
        point_name=${BASH_REMATCH[1]}
        point_test=${point_test//"#{$point_name}"/${#variant[$point_name]}}
    done
    fill "$1" "$point_test"
    ((${!1}))
}

# draw VAR LOW HIGH USUAL: with a seed, the generator's next number, from LOW to HIGH, into
# VAR; without, USUAL. A linear congruential generator modulo 2^32, read from its high bits;
# no product exceeds 2^53.
draw() {
    if [[ -z $variant_seed ]]; then
        printf -v "$1" '%d' "$4"
        return
    fi
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
    # shellcheck disable=SC2034 # thrown: drawn, never read
    local name thrown
    variant_seed=${1:-} variant_student=""
    variant=()
    # Three draws thrown away first, so that seeds next to each other part ways.
    variant_state=${variant_seed:-0}
    draw thrown 0 0 0 && draw thrown 0 0 0 && draw thrown 0 0 0
    for name in "${variant_draws[@]}"; do
        "numbers_$name"
    done
}

# The letters that a combining mark after them makes into one (as macOS and some web forms
# give a name, decomposed): "MARK|LETTERS|COMPOSED", the mark as its UTF-8 bytes.
readonly -a composed_letters=(
    $'\xcc\x80|aeiounw|àèìòùǹẁ'
    $'\xcc\x81|aeiouycnszlrgw|áéíóúýćńśźĺŕǵẃ'
    $'\xcc\x82|aeioucghjswyz|âêîôûĉĝĥĵŝŵŷẑ'
    $'\xcc\x83|anoiuy|ãñõĩũỹ'
    $'\xcc\x88|aeiouyw|äëïöüÿẅ'
    $'\xcc\x8a|au|åů'
    $'\xcc\x8b|ou|őű'
    $'\xcc\x8c|cdenrstzaiougk|čďěňřšťžǎǐǒǔǧǩ'
    $'\xcc\x86|aeiogu|ăĕĭŏğŭ'
    $'\xcc\x87|ezgc|ėżġċ'
    $'\xcc\xa7|cstklnrg|çşţķļņŗģ'
    $'\xcc\xa8|aeiu|ąęįų'
)

# folded_name VAR NAME: NAME in small letters (non-ASCII ones too, under a UTF-8 locale that
# libc always has), its decomposed letters composed, into VAR: the same name, however typed.
folded_name() {
    local LC_ALL=C.UTF-8 # first, for the small letters that follow
    local fold_name=${2,,} fold_row fold_mark fold_letters fold_composed fold_i
    for fold_row in "${composed_letters[@]}"; do
        fold_mark=${fold_row%%|*} fold_letters=${fold_row#*|}
        fold_composed=${fold_letters#*|} fold_letters=${fold_letters%%|*}
        [[ $fold_name == *"$fold_mark"* ]] || continue
        for ((fold_i = 0; fold_i < ${#fold_letters}; fold_i++)); do
            fold_name=${fold_name//"${fold_letters:fold_i:1}$fold_mark"/"${fold_composed:fold_i:1}"}
        done
    done
    printf -v "$1" '%s' "$fold_name"
}

# choose_student NAME: the numbers of a student, by name. The seed is the cksum of the name
# folded (folded_name): neither the case of its letters, nor whether they come composed or
# decomposed, nor the spaces around and between its words count, nor the CR at the end of
# the lines of a list saved on Windows.
choose_student() {
    local words folded
    read -ra words <<<"${1//$'\r'/}"
    folded_name folded "${words[*]}"
    choose_variant "$(printf '%s' "$folded" | cksum | cut -d ' ' -f 1)"
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
    local name
    if [[ -n $variant_student ]]; then
        shell_word name "$variant_student"
        printf ' --student %s' "$name"
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
    local lines
    # shellcheck disable=SC2016 # printed for the user to type
    continued_lines lines '    envdump: ' "env -i ${variant[envdump_variables]} \"\$(command -v envdump)\""
    printf '%s\n' "${lines[@]}"
    printf '\nThe questions with these numbers:\n\n'
    continued_lines lines '    ' "$(tour_command) --worksheet$(variant_options)"
    printf '%s\n' "${lines[@]}"
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
