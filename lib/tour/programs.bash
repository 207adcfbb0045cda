# shellcheck shell=bash
# Which programs the tour shows and where they are: the ones asked for on the command line,
# from $SYSLAB_BIN, beside the installed tour, or built in the clone; and the tools it needs.
# show_tour walks through those asked for, each under its folder's heading.
# The programs come only from a directory that no one but root and the caller can change, and
# only the programs come from it: never another command the tour runs.

programs_bin=""     # the directory the programs run from
programs_unbuilt="" # a program asked for that this processor cannot run, left out

# counter_here: whether this processor has the counter pidtimer reads (x86-64 or aarch64);
# elsewhere pidtimer is not built.
counter_here() {
    [[ $HOSTTYPE == x86_64 || $HOSTTYPE == aarch64 ]]
}

selected_has() {
    # shellcheck disable=SC2154 # opt: the options, written by the tour's parse_arguments
    [[ " ${opt[programs]} " == *" $1 "* ]]
}

# out_of_date: why the clone's build/default/bin is out of date ("no PROGRAM", or the first
# source newer than the oldest program there: a .cpp, a CMakeLists.txt, programs.list, the
# presets, cmake/), or nothing when it is up to date. Tests and one find, so that a class
# starting the tour at once costs nothing when nothing changed.
out_of_date() {
    # shellcheck disable=SC2154 # root: the tour's
    local bin=$root/build/default/bin path name oldest="" newer
    local -A folders=()
    # shellcheck disable=SC2154 # tour_programs: the tour's list of the programs
    for path in "${tour_programs[@]}"; do
        name=${path##*/}
        [[ $name != pidtimer ]] || counter_here || continue
        if [[ ! -x $bin/$name ]]; then
            printf 'no %s' "$name"
            return
        fi
        [[ -n $oldest && ! $bin/$name -ot $oldest ]] || oldest=$bin/$name
        folders[$root/${path%/*}]=1
    done
    newer=$(find "${!folders[@]}" "$root/CMakeLists.txt" "$root/CMakePresets.json" \
        "$root/programs.list" "$root/cmake" -newer "$oldest" -type f \( -name '*.cpp' \
        -o -name '*.cmake' -o -name CMakeLists.txt -o -name CMakePresets.json \
        -o -name programs.list \) -print -quit 2>/dev/null) || true
    printf '%s' "${newer#"$root/"}"
}

# can_build: whether this account may write the clone's build tree, and so build there.
can_build() {
    local build=$root/build/default
    if [[ -d $build ]]; then
        [[ -w $build && (! -d $build/bin || -w $build/bin) ]]
    elif [[ -d $root/build ]]; then
        [[ -w $root/build ]]
    else
        [[ -w $root ]]
    fi
}

# build_programs: in a clone, runs the programs in build/default/bin, brought up to date first
# when this account may write there; otherwise as they are, saying so when they are older than
# their sources. The first build takes a minute or so.
build_programs() {
    local build=$root/build/default stale log owner path
    programs_bin=$build/bin
    stale=$(out_of_date)
    [[ -n $stale ]] || return 0
    if ! can_build; then
        owner=$(stat -c %U -- "$build" 2>/dev/null || stat -c %U -- "$root")
        [[ $stale != "no "* ]] ||
            fail "the programs are not built in $programs_bin, and only $owner can build them there: with $(tour_command), or cmake --workflow --preset default"
        printf 'tour: the programs in %s are older than %s; they run as built until %s builds them again\n' \
            "$programs_bin" "$stale" "$owner" >&2
        return 0
    fi
    # CMake as this account runs what the build tree says: nothing there may be another's.
    path=$(find "$root/build" \( ! -uid 0 ! -uid "$EUID" \) -o \( ! -type l -perm /022 \) \
        -print -quit 2>/dev/null) || true
    [[ -z $path ]] || fail "$path can be changed by another user: the tour builds nothing in $root/build"
    if [[ $stale == "no "* ]]; then
        printf 'Building the programs with CMake (the first time takes a while)...\n'
    else
        printf 'Building the programs again with CMake (%s changed)...\n' "$stale"
    fi
    if ! log=$(
        cd "$root" && {
            # A CMake too old for the presets (before 3.25) configures the same build plainly.
            [[ -f $build/CMakeCache.txt ]] || if cmake --list-presets >/dev/null 2>&1; then
                cmake --preset default
            else
                cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
            fi && cmake --build "$build" --parallel "$(nproc)"
        } 2>&1
    ); then
        printf '%s\n' "$log" >&2
        fail "the build failed"
    fi
    # A change that relinks nothing (a comment in CMakeLists.txt) leaves the programs older
    # than it; marked up to date, they are not built again at every start.
    touch -c -- "${tour_programs[@]/#*\//"$programs_bin"/}"
}

# find_programs: $SYSLAB_BIN if set; else the programs beside the tour (installed); else
# those built in the clone. Refused when someone else could change them.
find_programs() {
    local path file missing=() files=() links=()
    if [[ -n ${SYSLAB_BIN:-} ]]; then
        programs_bin=$(cd -P -- "$SYSLAB_BIN" 2>/dev/null && pwd -P) ||
            fail "SYSLAB_BIN=$SYSLAB_BIN is not a directory"
    elif [[ -x $root/${tour_programs[0]##*/} ]]; then
        programs_bin=$root
    elif [[ -f $root/CMakeLists.txt ]]; then
        build_programs
    else
        fail "no programs beside $0, and no source tree to build them in"
    fi
    for path in "${tour_programs[@]}"; do
        file=$programs_bin/${path##*/}
        if [[ -L $file ]]; then
            links+=("$file")
        elif [[ -e $file ]]; then
            files+=("$file")
        fi
        selected_has "${path##*/}" || continue
        [[ -x $file ]] || missing+=("${path##*/}")
    done
    # syslab-look, which draws the pictures, is run from there too.
    file=$programs_bin/syslab-look
    if [[ -L $file ]]; then
        links+=("$file")
    elif [[ -e $file ]]; then
        files+=("$file")
    fi
    # A program that is a link is checked where it leads, and all the way there.
    ((${#links[@]} == 0)) || mapfile -t -O "${#files[@]}" files < <(realpath -e -- "${links[@]}")
    trusted "${SYSLAB_BIN:+SYSLAB_BIN=$SYSLAB_BIN}" "$programs_bin" "${files[@]}"
    if [[ ${missing[*]} == pidtimer ]] && ! counter_here; then
        programs_unbuilt=pidtimer
        return
    fi
    ((${#missing[@]} == 0)) || fail "no program ${missing[*]} in $programs_bin"
}

# put_programs_on_path: lets the programs be typed by name, while every other command the tour
# runs (ps, sleep, strace...) comes from where PATH had it. A directory of the programs alone
# (a build with the suite's tools, most SYSLAB_BIN, an installation of its own with the tour)
# goes first on PATH. One of other commands too (/usr/bin) is left where PATH has it, and each
# program must be found there before any other of its name.
put_programs_on_path() {
    local entry path name dir dirs found other="" missed=()
    # The tools built and installed beside the programs are the tour's own too.
    local -A program=([syslab-look]=1 [syslab-grade]=1)
    for path in "${tour_programs[@]}"; do
        program[${path##*/}]=1
    done
    for entry in "$programs_bin"/* "$programs_bin"/.[!.]* "$programs_bin"/..?*; do
        [[ -e $entry || -L $entry ]] || continue
        # The suite's own tools (syslab-grade, syslab-look) are built beside the programs.
        [[ -n ${program[${entry##*/}]:-} || $entry -ef $0 || ${entry##*/} == syslab-* ]] ||
            other=${other:-${entry##*/}}
    done
    if [[ -z $other ]]; then
        export PATH=$programs_bin${PATH:+:$PATH}
        return
    fi
    split dirs "$PATH" :
    for path in "${tour_programs[@]}"; do
        name=${path##*/}
        [[ -e $programs_bin/$name ]] || continue
        found=""
        for dir in "${dirs[@]}"; do
            if [[ -f ${dir:-.}/$name && -x ${dir:-.}/$name ]]; then
                found=${dir:-.}/$name
                break
            fi
        done
        [[ -n $found && $found -ef $programs_bin/$name ]] || missed+=("$name")
    done
    ((${#missed[@]} < 2)) || missed=("${missed[0]} and $((${#missed[@]} - 1)) more")
    ((${#missed[@]} == 0)) ||
        fail "$programs_bin holds other commands too ($other), and PATH finds ${missed[0]} elsewhere or not at all: set SYSLAB_BIN to a directory of the programs alone"
}

check_tools() {
    local tool missing=()
    for tool in script pgrep ps od stat mkfifo chrt; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    ((${#missing[@]} == 0)) ||
        fail "missing ${missing[*]}: apt-get install util-linux procps coreutils bsdutils"
}

# tour_name: the tour as the user calls it: ./tour in a clone, else its installed name.
tour_name() {
    if [[ -f $root/CMakeLists.txt ]]; then printf './tour'; else printf '%s' "${0##*/}"; fi
}

# tour_command: the tour as it can be typed from any directory: its path in a clone; installed,
# its name where PATH finds it (syslab-tour), else its path.
tour_command() {
    local name=${0##*/} path
    [[ ! -f $root/CMakeLists.txt ]] || name=tour
    path=$root/$name
    if [[ $name != tour && $(type -P -- "$name") -ef $path ]]; then
        printf '%s' "$name"
    else
        shell_word path "$path"
        printf '%s' "$path"
    fi
}

# joined WORD...: the words separated by commas.
joined() {
    local text="" word
    for word in "$@"; do
        text+=${text:+, }$word
    done
    printf '%s' "$text"
}

# show_tour: the programs selected, each in its turn under its folder's heading; the one shown
# after the one showing in tour_next_program, empty for the last.
tour_next_program=""
show_tour() {
    local seeded
    # shellcheck disable=SC2046 # the names, one word each
    listed seeded $(lab_names needs)
    say "" "" "" "syslab tour: each program runs in a scratch directory holding $seeded. Lines \
that begin with [second terminal] show what another terminal shows at that moment; lines that \
begin with # are the tour's remarks."
    [[ -z $variant_seed ]] || note "with the numbers of $(variant_label)"

    local left_out=() parts=() name path folder="" shown=() key
    for path in "${tour_programs[@]}"; do
        name=${path##*/}
        if ! ${opt[quick]} || ! selected_has "$name"; then continue; fi
        case ${fact[$name.long]:-} in
        "") ;;
        "$name") left_out+=("$name") ;;
        *) parts+=("${fact[$name.long]}") ;;
        esac
    done
    left_out+=("${parts[@]}")
    ((${#left_out[@]} == 0)) ||
        note "--quick: left out, as they wait longer than a second: $(joined "${left_out[@]}")"
    local traced=() looks=()
    for path in "${tour_programs[@]}"; do
        name=${path##*/}
        selected_has "$name" || continue
        [[ -z ${fact[$name.traced]:-} ]] || traced+=("$name")
        [[ -z ${fact[$name.looks]:-} ]] || looks+=("$name")
    done
    if ((${#traced[@]} > 0)) && ! strace_usable; then
        note "no usable strace here (apt-get install strace): left out, the strace views of" \
            "$(joined "${traced[@]}")"
    fi
    if ((${#looks[@]} > 0)) && ! look_usable; then
        note "no syslab-look with the programs in $programs_bin: left out, its pictures of" \
            "$(joined "${looks[@]}")"
    fi
    if [[ -n $programs_unbuilt ]]; then
        note "left out: $programs_unbuilt, which needs an x86-64 or aarch64 processor"
    fi

    # The long waits run side by side from the start, each shown in its turn; with --ask or
    # --step each runs in its turn, so that what is shown happens as the class looks.
    if ! ${opt[quick]} && ! ${opt[step]} && ! ${opt[ask]}; then
        selected_has stdinwait && start_stdinwait
        selected_has orphanmaker && start_orphanmaker
        selected_has zombiemaker && start_zombiemaker
    fi

    for path in "${tour_programs[@]}"; do
        name=${path##*/}
        selected_has "$name" || continue
        if [[ $name == "$programs_unbuilt" ]]; then
            # shellcheck disable=SC2154 # question_asks: questions.bash's
            for key in ${question_asks[$name]:-}; do
                left_out "$name" "$key" "$name needs an x86-64 or aarch64 processor"
            done
            continue
        fi
        ${opt[quick]} && [[ ${fact[$name.long]:-} == "$name" ]] && continue
        shown+=("$path")
    done
    local i
    for ((i = 0; i < ${#shown[@]}; i++)); do
        # shellcheck disable=SC2034 # tour_next_program: read by questions.bash's answer
        path=${shown[i]} tour_next_program=${shown[i + 1]:-}
        # shellcheck disable=SC2154 # answer_paused: questions.bash's
        if ${opt[step]} && ((i > 0)) && ! $answer_paused; then
            emit "" ""
            pause "[Enter for the next program]"
        fi
        answer_paused=false
        [[ ${path%/*} == "$folder" ]] || {
            folder=${path%/*}
            folder_heading "$folder"
        }
        "show_${path##*/}"
    done
    emit "" ""
    emit "" "The tour is over."
}
