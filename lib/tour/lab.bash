# shellcheck shell=bash
# The files the programs use, put into the tour's scratch directory or into a lab that
# students work in (--lab DIR), renewed when the tour made it before and refused otherwise.
#
# A lab is private (0700) and written only by its owner, from inside it: entered with cd -P,
# checked to be the directory named, owned by the user writing and writable by no one else.
# Every name the lab holds is removed and created anew, without following links (noclobber
# opens with O_EXCL), so nothing left there, a link or a hard link, is written through.
# Root writes only a lab of its own; a student's it makes as that student (--for USER).

readonly lab_mark=.syslab-lab

# The files a lab starts with, as each program's seeds_PROGRAM in its folder's show file says
# (lab_gather asks them): MODE:NAME:TEXT, a file NAME of mode MODE holding TEXT, its
# directories made by entries before it; MODE:NAME/:, a directory.
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
    (cd -P -- "$1" && seed_here "${lab_entries[@]}")
}

# seed_here ENTRY...: creates each ENTRY (as in lab_entries) in the current directory, each a
# new name.
seed_here() {
    local entry mode name
    umask 022
    set -o noclobber
    for entry in "$@"; do
        mode=${entry%%:*} entry=${entry#*:}
        name=${entry%%:*} entry=${entry#*:}
        if [[ $name == */ ]]; then
            mkdir -m "$mode" -- "${name%/}" || return
        else
            printf '%s' "$entry" >"$name" || return
            [[ $mode == 644 ]] || chmod "$mode" -- "$name" || return
        fi
    done
}

# foreign_entries DIR [NAMES]: prints what DIR holds that a lab does not, one name per line: a
# name no program needs or makes, or one of those names of another kind than the programs make
# it. NAMES: those of lab_names needs and makes, where the facts are not at hand.
foreign_entries() {
    foreign_in "$1" "" " $lab_mark ${2-$(lab_names needs) $(lab_names makes)} "
}

# foreign_in DIR PREFIX NAMES: foreign_entries of DIR, a directory of the lab named PREFIX.
foreign_in() {
    local entry name
    for entry in "$1"/* "$1"/.[!.]* "$1"/..?*; do
        [[ -e $entry || -L $entry ]] || continue
        name=$2${entry##*/}
        if [[ $3 == *" $name/"* && -d $entry && ! -L $entry ]]; then
            foreign_in "$entry" "$name/" "$3"
        elif [[ -L $entry ]]; then
            [[ $3 == *" $name@link "* ]] || printf '%s\n' "$name"
        elif [[ ! -f $entry ]]; then
            printf '%s\n' "$name"
        elif [[ $3 != *" $name "* && ($3 != *" $name@empty "* || -s $entry) ]]; then
            printf '%s\n' "$name"
        fi
    done
}

# write_lab GIVEN PATH NAMES ENTRY...: makes, or renews, the lab at PATH (absolute; GIVEN, as
# the user gave it) as the user running it, and prints the lab's own path. NAMES: as
# foreign_entries; ENTRY: the files to make, as in lab_entries.
# Run by root for a student through setpriv, it is all the code that runs as the student.
write_lab() {
    local given=$1 name=${2##*/} parent=${2%/*} names=() word id here owner user mode
    local made=false marked=false entry err
    parent=${parent:-/}
    [[ -d $parent ]] || fail "$parent: no such directory, to make $given in"
    cd -P -- "$parent" 2>/dev/null || fail "cannot enter $parent"
    if [[ -e ./$name || -L ./$name ]]; then
        [[ ! -L ./$name ]] || fail "$given is a symbolic link: choose a new or empty directory"
        [[ -d ./$name ]] || fail "$given is not a directory: choose a new or empty one"
    else
        # Root makes a lab of its own only in a directory of its own.
        if ((EUID == 0)) && [[ $(stat -c %u .) != 0 ]]; then
            fail "$given: $parent is not root's: add --for and the user the lab is for"
        fi
        err=$(mkdir -m 700 -- "./$name" 2>&1) || fail "cannot make $given: ${err##*: }"
        made=true
    fi
    if ! { id=$(stat -c %d:%i -- "./$name" 2>/dev/null) && cd -P -- "./$name" 2>/dev/null &&
        read -r here owner user mode < <(stat -c '%d:%i %u %U %a' .); }; then
        fail "cannot enter $given"
    fi
    [[ $here == "$id" ]] || fail "$given was replaced while it was being checked; nothing was changed"
    if ((owner != EUID)); then
        ((EUID != 0)) || fail "$given belongs to $user: add --for $user, and the lab is made as $user"
        fail "$given belongs to $user: only $user (or root, with --for $user) can make it a lab"
    fi
    (((8#$mode & 8#022) == 0)) ||
        fail "$given can be written by others than $user: chmod go-w it, or choose another directory"

    if [[ -f ./$lab_mark && ! -L ./$lab_mark ]]; then
        marked=true
        err=$(foreign_entries . "$3")
        [[ -z $err ]] ||
            fail "$given holds what the lab did not put there: ${err//$'\n'/ }; nothing was changed"
    else
        for entry in ./* ./.[!.]* ./..?*; do
            [[ ! -e $entry && ! -L $entry ]] ||
                fail "$given holds files that are not a lab's: choose a new or empty directory"
        done
    fi

    # From here on no one else can enter, and every name is made anew.
    [[ $mode == 700 ]] || chmod 700 . || exit 1
    for word in $3; do
        word=${word%%/*}
        word=./${word%@*}
        [[ " ${names[*]} " == *" $word "* ]] || names+=("$word")
    done
    ! $marked || rm -rf -- "${names[@]}" || exit 1
    $marked || names+=("./$lab_mark")
    if ! err=$(fill_lab "$marked" "${@:4}" 2>&1 >/dev/null); then
        # Half a lab is no lab: what this run made goes, and it says why, as the disk said it.
        err=${err##*$'\n'}
        err=${err##*: }
        rm -rf -- "${names[@]}"
        if $made && cd -P .. && [[ $(stat -c %d:%i -- "./$name") == "$id" ]]; then
            rmdir -- "./$name"
        fi
        $marked || fail "cannot make the lab in $given: $err; nothing of it is left"
        fail "cannot renew the lab in $given: $err; it is left empty but for its mark: the same command renews it once there is room"
    fi
    pwd -P
}

# fill_lab MARKED ENTRY...: the mark (unless MARKED: there already), then the programs' files,
# in the current directory.
fill_lab() {
    trap '' XFSZ # past a file-size limit a write fails, with its error, instead of killing
    set -o noclobber
    $1 || printf 'A syslab lab directory, made by its tour (--lab); running that again renews it.\n' \
        >"$lab_mark" || return
    seed_here "${@:2}"
}

# make_lab DIR: a directory of the programs' files for students to work in, new, or renewed
# when this tour made it before; DIR holding anything else is left as it is. As root, for a
# user named with --for, all of it is written as that user.
make_lab() {
    local given=$1 path=$1 uid=$EUID gid needs names lab quoted_dir quoted_bin for=""
    while [[ $path == */ && $path != / ]]; do
        path=${path%/}
    done
    case ${path##*/} in
    "" | . | ..) fail "$given: name the lab's own directory, not / . or .." ;;
    esac
    [[ $path == /* ]] || path=${PWD%/}/$path
    if [[ -n ${opt[for]} ]]; then
        uid=$(id -u -- "${opt[for]}" 2>/dev/null) || fail "--for ${opt[for]}: no such user"
        ((uid == EUID || EUID == 0)) || fail "--for ${opt[for]}: only root makes a lab for another user"
        ((uid == 0)) || for=" --for ${opt[for]}"
    fi
    find_programs
    needs=$(lab_names needs)
    names="$needs $(lab_names makes)"
    lab_gather
    if ((uid != EUID)); then
        gid=$(id -g -- "${opt[for]}")
        lab=$(cd / && setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env -- \
            "$BASH" -c "$(declare -p lab_mark; declare -f fail \
                write_lab fill_lab seed_here foreign_entries foreign_in); write_lab \"\$@\"" \
                tour "$given" "$path" "$names" "${lab_entries[@]}") ||
            exit 1
    else
        ((EUID != 0)) || roots_own "$given" "$path"
        lab=$(write_lab "$given" "$path" "$names" "${lab_entries[@]}") || exit 1
    fi

    printf -v quoted_dir '%q' "$lab"
    # shellcheck disable=SC2154 # programs_bin: programs.bash's
    printf -v quoted_bin '%q' "$programs_bin"
    printf 'The lab is ready in %s:\n' "$lab"
    printf '  %s\n\n' "$needs"
    printf 'In each of two terminals, enter:\n\n'
    printf '    cd %s\n' "$quoted_dir"
    # The programs in /usr/bin (the package) are on every login's PATH already; put first,
    # /usr/bin would come before /usr/local/bin.
    # shellcheck disable=SC2016 # printed for the user to type
    [[ $programs_bin == /usr/bin || $programs_bin == /bin ]] ||
        printf '    export PATH=%s:"$PATH"\n' "$quoted_bin"
    printf '\n'
    printf 'Then run a program in one terminal and watch it from the other. The second\n'
    printf 'terminal finds its process id with pgrep, for example:\n\n'
    # shellcheck disable=SC2016 # printed for the user to type
    printf '    lslocks -p "$(pgrep -n -u "$USER" exclusivehold)"\n\n'
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
