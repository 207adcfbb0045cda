# shellcheck shell=bash
# The files the programs use, put into the tour's scratch directory or into a lab that
# students work in (--lab DIR), renewed when the tour made it before and refused otherwise.
#
# lib/tour/lab-writer writes them, and all of a lab: its header says what holds. Root writes
# only a lab of its own; a student's it makes as that student (--for USER), through setpriv
# in a session of its own, holding no descriptor of root's but the pipes root reads and the
# writer itself, read only, which it closes once its bash has it open.

# shellcheck disable=SC2154 # share: the tour's
lab_writer=$share/lib/tour/lab-writer # the executable that writes the lab, beside the parts

# The files a lab starts with, as each program's seeds_PROGRAM in its folder's show file says
# (lab_gather asks them), as lab-writer takes them: MODE:NAME:TEXT, a file NAME of mode MODE
# holding TEXT, its directories made by entries before it; MODE:NAME/:, a directory.
lab_entries=()

# lab_file MODE NAME [TEXT]: a file of the lab, for a show file's seeds_PROGRAM; a name two
# programs need is made once.
lab_file() {
    local entry
    for entry in "${lab_entries[@]}"; do
        [[ ${entry#*:} != "$2:"* ]] || return 0
    done
    lab_entries+=("$1:$2:${3:-}")
}

# lab_gather: lab_entries from the programs' seeds_PROGRAM, in the order of the programs.
lab_gather() {
    local path
    lab_entries=()
    # shellcheck disable=SC2154 # tour_programs: the tour's list of the programs
    for path in "${tour_programs[@]}"; do
        ! declare -F "seeds_${path##*/}" >/dev/null || "seeds_${path##*/}"
    done
}

# lab_names KIND: the names of the files the programs need (KIND needs, the files their
# seeds_PROGRAM make), or of those they make (KIND makes, as fact[PROGRAM.makes] gives them),
# each once, in the order of the programs. A name NAME@KIND says what it is when it is not a
# plain file: @link, a symbolic link; @empty, an empty file.
lab_names() {
    local path name names=" " entry
    if [[ $1 == needs ]]; then
        lab_gather
        for entry in "${lab_entries[@]}"; do
            name=${entry#*:}
            name=${name%%:*}
            [[ $name == */ ]] || names+="$name "
        done
    else
        for path in "${tour_programs[@]}"; do
            for name in ${fact[${path##*/}.$1]:-}; do
                [[ $names == *" $name "* ]] || names+="$name "
            done
        done
    fi
    names=${names:1}
    printf '%s' "${names% }"
}

# lab_seed DIR: puts the programs' files into DIR, as new.
lab_seed() {
    lab_gather
    (cd -P -- "$1" && "$lab_writer" --here "${lab_entries[@]}" </dev/null)
}

# writer_errors: the writer's standard error, each line printed with its control characters
# escaped, so that a name in it cannot rewrite root's terminal.
writer_errors() {
    local line
    while IFS= read -r line || [[ -n $line ]]; do
        visible line "$line"
        printf '%s\n' "$line"
    done
}

# run_writer KEEP CMD...: runs CMD (lab-writer, or setpriv running it) with nothing of the
# tour's but a pipe for its output (this function's), one for its errors (printed by
# writer_errors) and the descriptor KEEP (none when empty): its input /dev/null, every other
# descriptor closed, in a session of its own, with no controlling terminal, from /.
run_writer() {
    local keep=${1:--1}
    shift
    {
        (
            for entry in "/proc/$BASHPID/fd/"*; do
                fd=${entry##*/}
                ((fd > 2 && fd != write_out && fd != keep)) || continue
                { exec {fd}>&-; } 2>/dev/null
            done
            cd / && exec setsid --wait "$@" </dev/null 2>&1 >&"$write_out" {write_out}>&-
        ) | writer_errors >&2
        return "${PIPESTATUS[0]}"
    } {write_out}>&1
}

# make_lab DIR: a directory of the programs' files for students to work in, new, or renewed
# when this tour made it before; DIR holding anything else is left as it is. As root, for a
# user named with --for, all of it is written as that user.
make_lab() {
    local given=$1 path=$1 uid=$EUID gid needs names lab for="" run shown writer="" status=0
    while [[ $path == */ && $path != / ]]; do
        path=${path%/}
    done
    case ${path##*/} in
    "" | . | ..) fail "$given: name the lab's own directory, not / . or .." ;;
    esac
    [[ $path == /* ]] || path=${PWD%/}/$path
    # shellcheck disable=SC2154 # opt: the options, written by the tour's parse_arguments
    if [[ -n ${opt[for]} ]]; then
        uid=$(id -u -- "${opt[for]}" 2>/dev/null) || fail "--for ${opt[for]}: no such user"
        ((uid == EUID || EUID == 0)) || fail "--for ${opt[for]}: only root makes a lab for another user"
        ((uid == 0)) || for=" --for ${opt[for]}"
    fi
    find_programs
    needs=$(lab_names needs)
    names="$needs $(lab_names makes)"
    lab_gather
    run=("$lab_writer" "$given" "$path" "$names" "${lab_entries[@]}")
    if ((uid != EUID)); then
        gid=$(id -g -- "${opt[for]}")
        # The user may have no path to the writer (a clone in root's 0700 home): it is handed
        # over open, read only, and that user's bash reads it from the descriptor.
        (($(stat -c '0%a' -- "$lab_writer") & 8#004)) ||
            fail "$lab_writer can be read only by its owner and group: chmod o+r it, and a lab can be made for ${opt[for]}"
        exec {writer}<"$lab_writer"
        run=(setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env --
            "$BASH" "/dev/fd/$writer" "${run[@]:1}")
    else
        ((EUID != 0)) || roots_own "$given" "$path"
    fi
    lab=$(run_writer "$writer" "${run[@]}") || status=1
    [[ -z $writer ]] || exec {writer}<&-
    ((status == 0)) || exit 1
    visible shown "$lab"
    lab_printout "$lab" "$shown" "$needs" "$for"
}

# lab_printout LAB SHOWN NEEDS FOR: what the students are told of the lab at LAB (SHOWN: its
# name as printed): the files it holds, the lines that enter it in each terminal, how many
# terminals the programs take, and the command that renews it.
lab_printout() {
    local quoted_dir quoted_bin manuals=${programs_bin%/*}/man path name lines line i
    shell_word quoted_dir "$1"
    # shellcheck disable=SC2154 # programs_bin: programs.bash's
    shell_word quoted_bin "$programs_bin"
    printf 'The lab is ready in %s:\n' "$2"
    printf '  %s\n\n' "$3"
    printf 'Each program takes two terminals, the locks more (below). In each terminal,\n'
    printf 'first enter:\n\n'
    printf '    cd %s\n' "$quoted_dir"
    # The programs in /usr/bin (the package) are on every login's PATH already, and their
    # manual pages where man looks; put first, /usr/bin would come before /usr/local/bin.
    if [[ $programs_bin != /usr/bin && $programs_bin != /bin ]]; then
        # shellcheck disable=SC2016 # printed for the user to type
        printf '    export PATH=%s:"$PATH"\n' "$quoted_bin"
        # man would find the pages built beside bin/ through PATH, unless MANPATH is set
        if [[ -d $manuals/man1 ]]; then
            shell_word manuals "$manuals"
            # shellcheck disable=SC2016 # printed for the user to type
            printf '    export MANPATH=%s:"$MANPATH"\n' "$manuals"
        fi
    fi
    printf '\n'
    printf 'Then run a program in terminal 1 and watch it from terminal 2, which finds its\n'
    printf 'process id with pgrep, for example:\n\n'
    # shellcheck disable=SC2016 # printed for the user to type
    printf '    ps -o pid,ppid,stat,cmd -p "$(pgrep -n -u "$USER" zombiemaker)"\n\n'
    printf 'A program that waits for Enter runs in the foreground of a terminal of its\n'
    printf 'own: started with &, it is stopped when it reads the terminal (SIGTTIN; the\n'
    printf 'shell says "[1]+ Stopped"), keeping its lock until fg. The locks:\n\n'
    # shellcheck disable=SC2154 # tour_programs: the tour's list of the programs
    for path in "${tour_programs[@]}"; do
        name=${path##*/}
        [[ -n ${fact[$name.terminals]:-} ]] || continue
        split lines "${fact[$name.terminals]}" ';'
        printf '    %s, %d terminals:\n' "$name" "${#lines[@]}"
        i=0
        for line in "${lines[@]}"; do
            printf '      [terminal %d] %s\n' $((++i)) "$line"
        done
    done
    printf '\n'
    # shellcheck disable=SC2016 # printed for the user to type
    [[ ! -x $programs_bin/syslab-look ]] ||
        printf '%s\n' 'syslab-look draws what the kernel holds (syslab-look(1)): the processes,' \
            'their open files, the locks and the holes, for example:' '' \
            '    syslab-look tree "$(pgrep -n -u "$USER" zombiemaker)"' \
            '    syslab-look locks db.txt' ''
    printf 'Each program has its manual page: man exclusivehold; man 7 syslab lists them.\n\n'
    printf 'The same command again puts every file back as new:\n\n'
    continued_lines lines '    ' "$(tour_command) --lab $quoted_dir$4$(variant_options)"
    printf '%s\n' "${lines[@]}"
}

# roots_own GIVEN PATH: root makes a lab of its own only along a path of its own: each step of
# PATH as written, and each directory it leads to, must be root's; else the user it is for
# must be named.
roots_own() {
    local given=$1 path=$2 step="" part parts steps=() physical uid user name
    split parts "${path#/}" /
    for part in "${parts[@]}"; do
        step+=/$part
        [[ ! -e $step && ! -L $step ]] || steps+=("$step")
    done
    if physical=$(cd -P -- "${path%/*}/" 2>/dev/null && pwd -P); then
        while [[ $physical == /?* ]]; do
            steps+=("$physical")
            physical=${physical%/*}
        done
    fi
    while IFS=' ' read -r -d '' uid user name; do
        ((uid == 0)) ||
            fail "$given: $name belongs to $user: as root, add --for $user, and the lab is made as $user"
    done < <(stat --printf '%u %U %n\0' -- "${steps[@]}")
}
