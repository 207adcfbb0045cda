# shellcheck shell=bash disable=SC2034,SC2154 # the parts share the tour's variables
# Which programs the tour shows and where they are: the ones asked for on the command line,
# from $SYSLAB_BIN, beside the installed tour, or built in the clone; and the tools it needs.

selected=() # the programs asked for, by name, in the order of the folders
unbuilt=""  # a program this processor cannot run, left out
build_log=""
bin_dir=""

selected_has() {
    local name
    for name in "${selected[@]}"; do
        [[ $name == "$1" ]] && return 0
    done
    return 1
}

# build_programs: in a clone, brings the programs in build/default up to date. A build that
# has nothing to do takes a fraction of a second; the first one takes a minute or so.
build_programs() {
    local build=$root/build/default path
    for path in "${programs[@]}"; do
        if [[ ! -x $build/bin/${path##*/} ]]; then
            printf 'Building the programs with CMake (the first time takes a minute)...\n'
            break
        fi
    done
    build_log=$(mktemp)
    if ! (
        cd "$root" &&
            { [[ -f $build/CMakeCache.txt ]] || cmake --preset default; } &&
            cmake --build --preset default --parallel "$(nproc)"
    ) >"$build_log" 2>&1; then
        cat "$build_log" >&2
        fail "the build failed"
    fi
    rm -f "$build_log"
    build_log=""
    bin_dir=$build/bin
}

# find_programs: $SYSLAB_BIN if set; else the programs beside the tour (installed); else
# those built in the clone.
find_programs() {
    if [[ -n ${SYSLAB_BIN:-} ]]; then
        bin_dir=$(cd "$SYSLAB_BIN" 2>/dev/null && pwd) || fail "SYSLAB_BIN=$SYSLAB_BIN is not a directory"
    elif [[ -x $root/${programs[0]##*/} ]]; then
        bin_dir=$root
    elif [[ -f $root/CMakeLists.txt ]]; then
        build_programs
    else
        fail "no programs beside $0, and no source tree to build them in"
    fi
    local path missing=()
    for path in "${programs[@]}"; do
        selected_has "${path##*/}" || continue
        [[ -x $bin_dir/${path##*/} ]] || missing+=("${path##*/}")
    done
    # pidtimer reads a counter of x86-64 or aarch64; elsewhere it is not built.
    if [[ ${missing[*]} == pidtimer && $(uname -m) != x86_64 && $(uname -m) != aarch64 ]]; then
        unbuilt=pidtimer
        return
    fi
    ((${#missing[@]} == 0)) || fail "no program ${missing[*]} in $bin_dir"
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

# joined WORD...: the words separated by commas.
joined() {
    local text="" word
    for word in "$@"; do
        text+=${text:+, }$word
    done
    printf '%s' "$text"
}
