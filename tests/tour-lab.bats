#!/usr/bin/env bats
# The tour on a server shared by a class: what a student can try to make root do through a lab
# (--lab), through SYSLAB_BIN and through the clone, one row per attempt; a lab that cannot be
# written; names that look like options; a clone built by root and run by everyone. The
# student is nobody; root is the teacher. A row gives what the student did beforehand, the
# command root runs, its status and its standard error; after every row root's own file and
# the student's are as they were.

load helper

tour=$BATS_TEST_DIRNAME/../tour
export SYSLAB_BIN

# student CMD...: runs CMD as the student.
student() {
    setpriv --reuid="$unprivileged_user" --regid="$unprivileged_group" --clear-groups -- "$@"
}

# fresh_server: $base, root's, with root's file victim (mode 600); the student's home $home
# (0755, as many servers make them), holding their file notes; a shared sticky $shared, as /tmp.
fresh_server() {
    rm -rf "$base"
    mkdir -m 755 "$base" "$home" "$shared"
    chmod 1777 "$shared"
    chmod o+x "$BATS_RUN_TMPDIR" "$BATS_FILE_TMPDIR" "$BATS_TEST_TMPDIR"
    printf "root's own\n" >"$base/victim"
    chmod 600 "$base/victim"
    chown "$unprivileged_user:$unprivileged_group" "$home"
    student sh -c "echo mine >$home/notes"
}

# untouched: root's file and the student's are as fresh_server left them.
untouched() {
    [[ $(cat "$base/victim") == "root's own" && $(stat -c %a:%U "$base/victim") == 600:root &&
        $(cat "$home/notes") == mine && $(stat -c %U "$home/notes") == "$unprivileged_user" ]]
}

@test "lab, SYSLAB_BIN: nothing a student prepares makes root write through it or run it" {
    require_root "the other user, and root's own files"
    base=$BATS_TEST_TMPDIR/base home=$BATS_TEST_TMPDIR/base/home shared=$BATS_TEST_TMPDIR/base/tmp
    local bin=$base/bin u=$unprivileged_user
    local lab="\"\$tour\" --lab $home/lab --for $u >/dev/null"
    local programs_to="mkdir $bin && cp $SYSLAB_BIN/* $bin"
    local changeable="the tour runs only what no one but root and you can change"
    local rows=(
        # what the student did | what root runs | status | standard error | then, true
        "$lab && student ln -sf $base/victim $home/lab/childprog/childprog_out
            |\"\$tour\" --lab $home/lab --for $u|1
            |tour: $home/lab holds what the lab did not put there: childprog/childprog_out; nothing was changed"
        "$lab && student ln -sf $base/victim $home/lab/db.txt
            |\"\$tour\" --lab $home/lab --for $u|1
            |tour: $home/lab holds what the lab did not put there: db.txt; nothing was changed"
        "$lab|\"\$tour\" --lab $home/lab|1
            |tour: $home/lab: $home belongs to $u: as root, add --for $u, and the lab is made as $u"
        "student mkdir -m 755 $shared/lab && student touch $shared/lab/.syslab-lab &&
            student ln -s $base/victim $shared/lab/db.txt
            |\"\$tour\" --lab $shared/lab|1
            |tour: $shared/lab: $shared/lab belongs to $u: as root, add --for $u, and the lab is made as $u"
        "\"\$tour\" --lab $base/rootlab >/dev/null && student ln -s $base/rootlab $home/link
            |\"\$tour\" --lab $home/link/ --for $u|1
            |tour: $home/link/ is a symbolic link: choose a new or empty directory"
        "student mkdir -m 777 $home/open
            |\"\$tour\" --lab $home/open --for $u|1
            |tour: $home/open can be written by others than $u: chmod go-w it, or choose another directory"
        "|\"\$tour\" --lab $home/lab --for $u >/dev/null|0|
            |[[ \$(stat -c %U:%a $home/lab) == $u:700 && -z \$(find $home/lab ! -user $u) ]]"
        "$programs_to && chown $u $bin|env SYSLAB_BIN=$bin \"\$tour\" rrrange|1
            |tour: SYSLAB_BIN=$bin: $bin belongs to $u: $changeable"
        "$programs_to && chmod o+w $bin/bytecat|env SYSLAB_BIN=$bin \"\$tour\" rrrange|1
            |tour: SYSLAB_BIN=$bin: $bin/bytecat can be written by anyone: $changeable"
        "$programs_to && cp /bin/true $bin/sleep|env SYSLAB_BIN=$bin \"\$tour\" rrrange|1
            |tour: $bin holds other commands too (sleep), and PATH finds ${programs[0]} and $((${#programs[@]} - 1)) more elsewhere or not at all: set SYSLAB_BIN to a directory of the programs alone"
    )
    local row before command status error after got_status got_error got
    shopt -s extglob
    for row in "${rows[@]}"; do
        IFS='|' read -r before command status error after <<<"${row//$'\n'+( )/}"
        fresh_server
        eval "$before"
        got_status=0
        got_error=$(eval "timeout 30 $command" 2>&1 >/dev/null) || got_status=$?
        got="$got_status $got_error"
        untouched && eval "${after:-true}" || got+=" (and then the files were not as expected)"
        [[ $got == "$status $error" ]] || row_fails "$command" "$got" "$status $error"
    done
}

@test "lab on a full disk: a new lab is removed, a renewed one keeps its mark; the disk's error" {
    require_root "a small file system of its own (mount)"
    unshare --mount --propagation private mount -t tmpfs tmpfs "$PWD" ||
        skip "no file system of its own can be mounted here, even by root"
    # shellcheck disable=SC2016 # expanded by the shell inside the namespace
    outcome 0 "1 filler" \
        "tour: cannot make the lab in disk/lab: No space left on device; nothing of it is left" \
        unshare --mount --propagation private bash -c '
        mkdir disk && mount -t tmpfs -o size=64k tmpfs disk || exit 99
        head -c 1M /dev/zero >disk/filler 2>/dev/null
        "$1" --lab disk/lab
        echo "$? $(ls -A disk)"' - "$tour"

    # past a file-size limit (a quota does the same): what the renewal made is gone, the mark
    # stays, and the same command renews the lab once there is room
    "$tour" --lab lab >/dev/null
    # shellcheck disable=SC2016 # the inner shell's $1
    run bash -c 'ulimit -f 0 && "$1" --lab lab 2>&1 | cat' - "$tour"
    [ "$output" = "tour: cannot renew the lab in lab: File too large; it is left empty but for its mark: the same command renews it once there is room" ]
    [ "$(ls -A lab)" = .syslab-lab ]
    "$tour" --lab lab >/dev/null
    [ -s lab/bytecat.txt ] && [ -x lab/childprog/childprog_out ]
}

@test "lab names: one beginning with - is a name, an empty one is refused; the renewal line" {
    local rows=(
        # the name | status | the lab made, or the first line of standard error
        "-x|0|-x"
        "-|0|-"
        "./-y/|0|-y"
        "|2|tour: --lab needs a directory"
        ".|1|tour: .: name the lab's own directory, not / . or .."
    )
    local row name want made got
    mkdir here && cd here
    for row in "${rows[@]}"; do
        IFS='|' read -r name want made <<<"$row"
        run --separate-stderr "$tour" --lab "$name"
        got="$status ${stderr%%$'\n'*}"
        [[ $status != 0 ]] || got="$status $(ls -A)"
        rm -rf -- ./* ./.[!.]*
        [[ $got == "$want $made" ]] || row_fails "$name" "$got" "$want $made"
    done
    # the line that renews the lab works from any directory: the tour by its own path
    local renew
    renew=$("$tour" --lab lab | tail -n 1)
    [ "$renew" = "    $(cd "$BATS_TEST_DIRNAME/.." && pwd -P)/tour --lab $PWD/lab" ]
    [ "$(stat -c %a lab)" = 700 ]
    (cd / && eval "$renew" >/dev/null)
}

@test "a clone root built: students run it as built, told when it is older; root alone builds" {
    require_root "a clone that another user runs"
    local clone source
    source=$(cd "$BATS_TEST_DIRNAME/.." && pwd -P)
    clone=$(cd "$BATS_TEST_TMPDIR" && pwd -P)/clone
    mkdir -p "$clone/build/default" "$clone/files" "$clone/tmp" "$clone/fake"
    cp -r "$source"/{tour,lib,questions,programs.list,CMakeLists.txt} "$clone"
    touch "$clone/build/default/CMakeCache.txt"
    touch -d '2000-01-01' "$clone/files/seekgap.cpp" "$clone/CMakeLists.txt" "$clone/programs.list"
    cp -r "$SYSLAB_BIN" "$clone/build/default/bin"
    chmod 1777 "$clone/tmp"
    chmod o+x "$BATS_RUN_TMPDIR" "$BATS_FILE_TMPDIR" "$BATS_TEST_TMPDIR"
    # cmake, should anyone call it, says so and builds nothing
    # shellcheck disable=SC2016 # the fake's own $(id -un) and $*
    printf '#!/bin/sh\necho "$(id -un) $*" >>%s/cmake.calls\n' "$BATS_TEST_TMPDIR" >"$clone/fake/cmake"
    chmod 755 "$clone/fake/cmake"
    local run_tour=(env -u SYSLAB_BIN "PATH=$clone/fake:$PATH" "TMPDIR=$clone/tmp" timeout 30 "$clone/tour")

    run --separate-stderr student "${run_tour[@]}" rrrange
    [ "$status" -eq 0 ] && [ "$stderr" = "" ] && [ "${lines[-1]}" = "The tour is over." ]
    touch "$clone/files/seekgap.cpp"
    run --separate-stderr student "${run_tour[@]}" rrrange
    [ "$status" -eq 0 ] && [ "${lines[-1]}" = "The tour is over." ]
    [ "$stderr" = "tour: the programs in $clone/build/default/bin are older than files/seekgap.cpp; they run as built until root builds them again" ]
    [ ! -e "$BATS_TEST_TMPDIR/cmake.calls" ]

    # root builds, once: what it built counts as newer, and the next start builds nothing
    run "${run_tour[@]}" rrrange
    [ "$status" -eq 0 ] && [ "${lines[0]}" = "Building the programs again with CMake (files/seekgap.cpp changed)..." ]
    run "${run_tour[@]}" rrrange
    [ "$status" -eq 0 ]
    [ "$(cat "$BATS_TEST_TMPDIR/cmake.calls")" = "root --build --preset default --parallel $(nproc)" ]

    rm "$clone/build/default/bin/seekgap"
    run --separate-stderr student "${run_tour[@]}" rrrange
    [ "$status" -eq 1 ]
    [ "$stderr" = "tour: the programs are not built in $clone/build/default/bin, and only root can build them there: with $clone/tour, or cmake --workflow --preset default" ]
    [ "$(ls -A "$clone/tmp")" = "" ]
}
