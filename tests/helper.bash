# Loaded by every test file: puts the built programs first on PATH and runs each test
# in a fresh scratch directory of its own.
# shellcheck shell=bash

bats_require_minimum_version 1.5.0

SYSLAB_BIN=${SYSLAB_BIN:-$BATS_TEST_DIRNAME/../build/default/bin}
PATH=$SYSLAB_BIN:$PATH

setup() {
    cd "$BATS_TEST_TMPDIR" || return 1
}

# An ordinary user for the unprivileged cases when the tests run as root.
unprivileged_user=nobody
unprivileged_group=nogroup

# unprivileged CMD...: runs CMD as an ordinary user: as is when the tests do not run as root,
# else through setpriv, with the program copied where that user can reach it (the build
# tree may sit in root's home) and the scratch directory made reachable.
unprivileged() {
    if ((EUID != 0)); then
        "$@"
        return
    fi
    local program copy=$BATS_FILE_TMPDIR/unprivileged-bin/$1
    program=$(command -v "$1") || return 127
    mkdir -p "${copy%/*}"
    [[ -e $copy ]] || cp "$program" "$copy"
    chmod o+x "$BATS_RUN_TMPDIR" "$BATS_FILE_TMPDIR" "${copy%/*}" "$BATS_TEST_TMPDIR"
    shift
    setpriv --reuid="$unprivileged_user" --regid="$unprivileged_group" --clear-groups -- "$copy" "$@"
}

# scratch_open_to_all: lets the unprivileged user create files in the scratch directory.
scratch_open_to_all() {
    chmod o+x "$BATS_RUN_TMPDIR"
    chmod 1777 "$BATS_TEST_TMPDIR"
}

# require_root REASON: skips the test unless it runs as root.
require_root() {
    ((EUID == 0)) || skip "needs root: $1"
}

# require_realtime: skips the test unless this process may take a real-time policy.
require_realtime() {
    require_root "real-time scheduling policies"
    chrt -f 10 true 2>/dev/null || skip "real-time scheduling is refused here, even to root"
}

# wait_for SECONDS CMD...: polls CMD every 50 ms until it succeeds; fails after SECONDS.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

# close_inherited_fds: closes every descriptor above 2 of this shell (bats keeps some open),
# so that a program exec'd from it gets the lowest free numbers, as it would from a terminal.
close_inherited_fds() {
    local fd
    for fd in "/proc/$BASHPID/fd/"*; do
        fd=${fd##*/}
        if ((fd > 2)); then exec {fd}>&-; fi
    done
}

# bare CMD...: runs CMD with descriptors 0 to 2 only.
bare() {
    (
        close_inherited_fds
        exec "$@"
    )
}

# child_of PID: prints the first child of PID, fails while it has none.
child_of() {
    local children
    children=$(cat "/proc/$1/task/$1/children" 2>/dev/null) || return 1
    [[ -n $children ]] || return 1
    echo "${children%% *}"
}

# state_of PID: prints "STATE PPID" of PID, fails once it is gone.
state_of() {
    local stat state ppid
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    read -r state ppid _ <<<"${stat##*) }"
    echo "$state $ppid"
}

# require_native REASON: skips the test when the programs run under an emulator
# (SYSLAB_EMULATOR, set by the aarch64 preset), which REASON says it cannot stand.
require_native() {
    [[ -z ${SYSLAB_EMULATOR:-} ]] || skip "under emulation: $1"
}
