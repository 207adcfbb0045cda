# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# The files the programs use, put into the tour's scratch directory or into a lab that
# students work in (--lab DIR), renewed when the tour made it before and refused otherwise.
#
# lib/tour/lab-writer writes them, and all of a lab: its header says what holds. Root writes
# only a lab of its own; a student's it makes as that student (--for USER), through setpriv
# in a session of its own, holding no descriptor of root's but the pipes root reads.

lab_writer="" # the executable lab-writer beside the tour's parts, set by the tour
lab_for="" # --for USER: whom root makes the lab for, as that user

# lab_names KIND: the names that fact[PROGRAM.KIND] gives (needs: what the programs read,
# makes: what they make), each once, in the order of the programs. A name NAME@KIND says what
# it is when it is not a plain file: @link, a symbolic link; @empty, an empty file.
lab_names() {
    local path name names=" "
    for path in "${programs[@]}"; do
        for name in ${fact[${path##*/}.$1]:-}; do
            [[ $names == *" $name "* ]] || names+="$name "
        done
    done
    names=${names:1}
    printf '%s' "${names% }"
}

# lab_files ARRAY: the files every lab and scratch directory starts with, as lab-writer takes
# them (MODE:NAME:TEXT, a directory MODE:NAME/:); seekgap.txt and bytecat.txt hold
# $seekgap_text and $bytecat_text (lib/tour/variants.bash).
# shellcheck disable=SC2016 # childprog_out's own $0, $# and $*
lab_files() {
    local -n files_into=$1
    files_into=(
        "755:childprog/:"
        "644:db.txt:"
        "644:seekgap.txt:$seekgap_text"
        "644:bytecat.txt:$bytecat_text"
        $'644:three.txt:The target of the links.\n'
        $'644:lsdemo.txt:A file to list.\n'
        "755:childprog/childprog_out:#!/bin/sh
# Stands in for a program of your own: prints the arguments it was started with.
echo \"childprog_out started as \$0, with \$# argument(s): \$*\"
"
    )
}

# seed DIR: puts the programs' files into DIR, as new.
seed() {
    local files
    lab_files files
    (cd -P -- "$1" && "$lab_writer" --here "${files[@]}" </dev/null)
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

# run_writer CMD...: runs CMD (lab-writer, or setpriv running it) with nothing of the tour's
# but a pipe for its output (this function's) and one for its errors (printed by
# writer_errors): its input /dev/null, every other descriptor closed, in a session of its own,
# with no controlling terminal, from /.
run_writer() {
    {
        (
            for entry in "/proc/$BASHPID/fd/"*; do
                fd=${entry##*/}
                ((fd > 2 && fd != write_out)) || continue
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
    local given=$1 path=$1 uid=$EUID gid needs names lab quoted_dir quoted_bin for="" files run
    local shown
    while [[ $path == */ && $path != / ]]; do
        path=${path%/}
    done
    case ${path##*/} in
    "" | . | ..) fail "$given: name the lab's own directory, not / . or .." ;;
    esac
    [[ $path == /* ]] || path=${PWD%/}/$path
    if [[ -n $lab_for ]]; then
        uid=$(id -u -- "$lab_for" 2>/dev/null) || fail "--for $lab_for: no such user"
        ((uid == EUID || EUID == 0)) || fail "--for $lab_for: only root makes a lab for another user"
        ((uid == 0)) || for=" --for $lab_for"
    fi
    find_programs
    needs=$(lab_names needs)
    names="$needs $(lab_names makes)"
    lab_files files
    run=("$lab_writer" "$given" "$path" "$names" "${files[@]}")
    if ((uid != EUID)); then
        gid=$(id -g -- "$lab_for")
        run=(setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env -- "${run[@]}")
    else
        ((EUID != 0)) || roots_own "$given" "$path"
    fi
    lab=$(run_writer "${run[@]}") || exit 1
    visible shown "$lab"

    printf -v quoted_dir '%q' "$lab"
    printf -v quoted_bin '%q' "$bin_dir"
    printf 'The lab is ready in %s:\n' "$shown"
    printf '  %s\n\n' "$needs"
    printf 'In each of two terminals, enter:\n\n'
    printf '    cd %s\n' "$quoted_dir"
    # The programs in /usr/bin (the package) are on every login's PATH already; put first,
    # /usr/bin would come before /usr/local/bin.
    # shellcheck disable=SC2016 # printed for the user to type
    [[ $bin_dir == /usr/bin || $bin_dir == /bin ]] ||
        printf '    export PATH=%s:"$PATH"\n' "$quoted_bin"
    printf '\n'
    printf 'Then run a program in one terminal and watch it from the other. The second\n'
    printf 'terminal finds its process id with pgrep, for example:\n\n'
    # shellcheck disable=SC2016 # printed for the user to type
    printf '    lslocks -p "$(pgrep -n -u "$USER" exclusivehold)"\n\n'
    # shellcheck disable=SC2016 # printed for the user to type
    [[ ! -x $bin_dir/syslab-look ]] ||
        printf '%s\n' 'and syslab-look draws what the kernel holds (syslab-look(1)): the processes,' \
            'their open files, the locks and the holes, for example:' '' \
            '    syslab-look tree "$(pgrep -n -u "$USER" zombiemaker)"' \
            '    syslab-look locks db.txt' ''
    printf 'The same command again puts every file back as new:\n\n'
    printf '    %s --lab %s%s%s\n' "$(tour_command)" "$quoted_dir" "$for" "$(variant_options)"
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
