# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# The files the programs use, put into the tour's scratch directory or into a lab that
# students work in (--lab DIR), renewed when the tour made it before and refused otherwise.

readonly lab_mark=.syslab-lab

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

# seed DIR: puts the programs' files into DIR, as new.
seed() {
    mkdir -p "$1/childprog"
    : >"$1/db.txt"
    : >"$1/seekgap.txt"
    printf 'One read and one write per byte.\n' >"$1/bytecat.txt"
    printf 'The target of the links.\n' >"$1/three.txt"
    printf 'A file to list.\n' >"$1/lsdemo.txt"
    cat >"$1/childprog/childprog_out" <<'SCRIPT'
#!/bin/sh
# Stands in for a program of your own: prints the arguments it was started with.
echo "childprog_out started as $0, with $# argument(s): $*"
SCRIPT
    chmod 755 "$1/childprog/childprog_out" # rwxr-xr-x
}

# foreign_entries DIR: prints what DIR holds that a lab does not, one name per line: a name no
# program needs or makes, or one of those names of another kind than the programs make it.
foreign_entries() {
    local entry name known known_names inside
    known_names=" $lab_mark $(lab_names needs) $(lab_names makes) "
    for entry in "$1"/* "$1"/.[!.]* "$1"/..?*; do
        [[ -e $entry || -L $entry ]] || continue
        name=${entry##*/}
        known=false inside=""
        [[ $known_names == *" $name "* || $known_names == *" $name@"* ]] && known=true
        [[ $known_names =~ \ $name/ ]] && known=true
        if ! $known; then
            printf '%s\n' "$name"
            continue
        fi
        if [[ $known_names =~ \ $name/ ]]; then
            inside=$(tr ' ' '\n' <<<"$known_names" | sed -n "s|^$name/||p" | paste -sd ' ')
            # shellcheck disable=SC2086 # the names, one word each
            foreign_entries_of "$entry" $inside
        elif [[ $name == "$lab_mark" ]]; then
            :
        elif [[ -L $entry ]]; then
            [[ $known_names == *" $name@link "* ]] || printf '%s\n' "$name"
        elif [[ -f $entry ]]; then
            [[ $known_names == *" $name "* || ($known_names == *" $name@empty "* && ! -s $entry) ]] ||
                printf '%s\n' "$name"
        else
            printf '%s\n' "$name"
        fi
    done
}

# foreign_entries_of DIR NAME...: prints DIR/X for each X in DIR not among NAME...
foreign_entries_of() {
    local dir=$1 entry
    shift
    [[ -d $dir && ! -L $dir ]] || {
        printf '%s\n' "${dir##*/}"
        return
    }
    for entry in "$dir"/* "$dir"/.[!.]* "$dir"/..?*; do
        [[ -e $entry || -L $entry ]] || continue
        [[ " $* " == *" ${entry##*/} "* ]] || printf '%s\n' "${dir##*/}/${entry##*/}"
    done
}

# make_lab DIR: a directory of the programs' files for students to work in, new, or renewed
# when this tour made it before; DIR holding anything else is left as it is.
make_lab() {
    local dir=$1 foreign quoted_dir quoted_bin name
    if [[ -e $dir || -L $dir ]]; then
        [[ -d $dir && ! -L $dir ]] || fail "$dir is not a directory: choose a new or empty one"
        if [[ ! -e $dir/$lab_mark ]] && [[ -n $(ls -A "$dir") ]]; then
            fail "$dir holds files that are not a lab's: choose a new or empty directory"
        fi
        foreign=$(foreign_entries "$dir")
        if [[ -n $foreign ]]; then
            fail "$dir holds what the lab did not put there: $(paste -sd ' ' <<<"$foreign"); nothing was changed"
        fi
    fi
    find_programs
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    for name in $(lab_names makes); do
        name=${name%@*}
        rm -rf "${dir:?}/${name%%/*}"
    done
    seed "$dir"
    printf 'A syslab lab directory, made by its tour (--lab); running that again renews it.\n' \
        >"$dir/$lab_mark"

    printf -v quoted_dir '%q' "$dir"
    printf -v quoted_bin '%q' "$bin_dir"
    printf 'The lab is ready in %s:\n' "$dir"
    printf '  %s\n\n' "$(lab_names needs)"
    printf 'In each of two terminals, enter:\n\n'
    printf '    cd %s\n' "$quoted_dir"
    # shellcheck disable=SC2016 # printed for the user to type
    printf '    export PATH=%s:"$PATH"\n\n' "$quoted_bin"
    printf 'Then run a program in one terminal and watch it from the other. The second\n'
    printf 'terminal finds its process id with pgrep, for example:\n\n'
    # shellcheck disable=SC2016 # printed for the user to type
    printf '    lslocks -p "$(pgrep -n -u "$USER" exclusivehold)"\n\n'
    printf 'The same command again puts every file back as new:\n\n'
    printf '    %s --lab %s\n' "$(tour_name)" "$quoted_dir"
}
