#!/usr/bin/env bats
# The tour on a server shared by a class: what a student (nobody) can try to make root (the
# teacher) do through a lab (--lab), through SYSLAB_BIN and through a clone root built; a lab
# that cannot be written; the lab's files, its names, and the lines that enter and renew it.

load helper

tour=$BATS_TEST_DIRNAME/../tour
export SYSLAB_BIN

# student CMD...: runs CMD as the student.
student() {
    setpriv --reuid="$unprivileged_user" --regid="$unprivileged_group" --clear-groups -- "$@"
}

# joined_lines: $output with each line continued by a backslash joined to the next.
joined_lines() {
    printf '%s\n' "$output" | sed -e ':a' -e '/ \\$/{N;s/ \\\n */ /;ba;}'
}

@test "lab, SYSLAB_BIN: nothing a student prepares makes root write through it or run it" {
    require_root "the other user, and root's own files"
    base=$BATS_TEST_TMPDIR/base home=$BATS_TEST_TMPDIR/base/home shared=$BATS_TEST_TMPDIR/base/tmp
    local bin=$base/bin u=$unprivileged_user
    local lab="\"\$tour\" --lab $home/lab --for $u >/dev/null"
    local programs_to="mkdir $bin && cp $SYSLAB_BIN/* $bin"
    local copy_tour="mkdir $base/tour && cp -R $BATS_TEST_DIRNAME/../{tour,lib,questions,programs.list} $base/tour"
    local changeable="the tour runs only what no one but root and you can change"
    local rows=(
        # what the student did | what root runs | its status | its standard error | then, true
        "$lab && student ln -sf $base/victim $home/lab/childprog/childprog_out
            |\"\$tour\" --lab $home/lab --for $u|1
            |tour: $home/lab holds what the lab did not put there: childprog/childprog_out; nothing was changed"
        "$lab && student ln -sf $base/victim $home/lab/db.txt
            |\"\$tour\" --lab $home/lab --for $u|1
            |tour: $home/lab holds what the lab did not put there: db.txt; nothing was changed"
        "$lab && student touch $home/lab/\$'\\e[2K\\rready'
            |\"\$tour\" --lab $home/lab --for $u|1
            |tour: $home/lab holds what the lab did not put there: \\033[2K\\015ready; nothing was changed"
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
        "student mkdir -m 755 $home/empty|\"\$tour\" --lab $home/empty --for $u >/dev/null|0|
            |[[ \$(stat -c %U:%a $home/empty) == $u:700 ]]"
        "$copy_tour && chmod 700 $base/tour|$base/tour/tour --lab $home/lab --for $u >/dev/null|0|
            |[[ \$(stat -c %U:%a $home/lab/db.txt) == $u:644 ]]"
        "$copy_tour && chmod 700 $base/tour/lib/tour/lab-writer|$base/tour/tour --lab $home/lab --for $u|1
            |tour: $base/tour/lib/tour/lab-writer can be read only by its owner and group: chmod o+r it, and a lab can be made for $u"
        "$programs_to && chown $u $bin|env SYSLAB_BIN=$bin \"\$tour\" rrrange|1
            |tour: SYSLAB_BIN=$bin: $bin belongs to $u: $changeable"
        "$programs_to && chmod o+w $bin/bytecat|env SYSLAB_BIN=$bin \"\$tour\" rrrange|1
            |tour: SYSLAB_BIN=$bin: $bin/bytecat can be written by anyone: $changeable"
        "$programs_to && chmod g+w $bin/rrrange|env SYSLAB_BIN=$bin \"\$tour\" rrrange|1
            |tour: SYSLAB_BIN=$bin: $bin/rrrange can be written by the group root: $changeable"
        "$programs_to && mv $bin/bytecat $base/bytecat && chmod 777 $base/bytecat &&
            ln -s ../bytecat $bin/bytecat|env SYSLAB_BIN=$bin \"\$tour\" rrrange|1
            |tour: SYSLAB_BIN=$bin: $base/bytecat can be written by anyone: $changeable"
        "$copy_tour && chmod g+w $base/tour/lib/tour/output.bash|$base/tour/tour --worksheet|1
            |tour: $base/tour/lib/tour/output.bash can be written by the group root: $changeable"
        "$copy_tour && chmod o+w $base/tour/questions/files.txt|$base/tour/tour --worksheet|1
            |tour: $base/tour/questions/files.txt can be written by anyone: $changeable"
        "$programs_to && cp /bin/true $bin/sleep|env SYSLAB_BIN=$bin \"\$tour\" rrrange|1
            |tour: $bin holds other commands too (sleep), and PATH finds ${programs[0]} and $((${#programs[@]} - 1)) more elsewhere or not at all: set SYSLAB_BIN to a directory of the programs alone"
    )
    local row before command status error after got_status got_error got
    shopt -s extglob
    chmod o+x "$BATS_RUN_TMPDIR" "$BATS_FILE_TMPDIR" "$BATS_TEST_TMPDIR"
    for row in "${rows[@]}"; do
        IFS='|' read -r before command status error after <<<"${row//$'\n'+( )/}"
        # a fresh server: root's base with root's file victim (mode 600); the student's home
        # (0755, as many servers make them) with their file notes; a shared sticky tmp, as /tmp
        rm -rf "$base" && mkdir -m 755 "$base" "$home" "$shared" && chmod 1777 "$shared"
        printf "root's own\n" >"$base/victim" && chmod 600 "$base/victim"
        chown "$u:$unprivileged_group" "$home" && student sh -c "echo mine >$home/notes"
        eval "$before"
        got_status=0
        got_error=$(eval "timeout 30 $command" 2>&1 >/dev/null) || got_status=$?
        got="$got_status $got_error"
        # and then root's file and the student's are as they were
        [[ $(cat "$base/victim") == "root's own" && $(stat -c %a:%U "$base/victim") == 600:root &&
            $(cat "$home/notes") == mine && $(stat -c %U "$home/notes") == "$u" ]] &&
            eval "${after:-true}" || got+=" (and then the files were not as expected)"
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

@test "tour --lab: the seeded files, the lines to enter it and renew it; refused as it is; names" {
    run "$tour" --lab lab
    [ "$status" -eq 0 ]
    grep -qx "    cd $PWD/lab" <<<"$output"
    grep -qx "    export PATH=$SYSLAB_BIN:\"\$PATH\"" <<<"$output"
    # the lines to enter make man find the pages built beside the programs, MANPATH set or not
    if command -v man >/dev/null && [[ -d $SYSLAB_BIN/../man/man1 ]]; then
        # shellcheck disable=SC2016 # the inner shell's own
        [ "$(MANPATH=/nowhere bash -c "$(grep '^    export ' <<<"$output")"'
            man -w exclusivehold')" = "$(cd "$SYSLAB_BIN/../man/man1" && pwd -P)/exclusivehold.1.gz" ]
    fi
    # each lock view's terminals, as the lab tells them
    [ "$(grep -A 9 '^    exclusivehold, 3 terminals:$' <<<"$output" | sed -n '2,4p;6,9p' |
        cut -c 7- | paste -sd '|')" = "$(printf '%s|' "[terminal 1] exclusivehold" \
        "[terminal 2] sharedhold" "[terminal 3] lslocks -o COMMAND,PID,TYPE,MODE,START,END,PATH" \
        "[terminal 1] sharedhold" "[terminal 2] sharedhold" "[terminal 3] exclusivehold" \
        "[terminal 4] lslocks -o COMMAND,PID,TYPE,MODE,START,END,PATH" | sed 's/|$//')" ]
    # the tour by its own path (continued at a space where the path makes it long)
    local renew
    renew=$(joined_lines | tail -n 1)
    [ "$renew" = "    $(cd "$BATS_TEST_DIRNAME/.." && pwd -P)/tour --lab $PWD/lab" ]
    [ "$(stat -c %a lab)" = 700 ]
    [ "$(cd lab && find . -path ./.syslab-lab -prune -o -type f -print | sort | paste -sd ' ')" = \
        "./bytecat.txt ./childprog/childprog_out ./db.txt ./lsdemo.txt ./seekgap.txt ./three.txt" ]
    [ -x lab/childprog/childprog_out ]
    (cd lab && exclcreate >/dev/null && seekgap >/dev/null && mkdir flood && makelinks)
    (cd / && eval "$renew" >/dev/null)
    [ ! -e lab/exclcreate.txt ]
    [ ! -s lab/seekgap.txt ]
    [ ! -e lab/flood ]
    [ ! -e lab/four.txt ]
    [ ! -e lab/five.txt ]
    # a student's lab: that student's files, and the lines that name the numbers to use
    run "$tour" --lab "$PWD/ann" --student "Ann Lee"
    [ "$status" -eq 0 ]
    [ "$(stat -c %s ann/seekgap.txt ann/bytecat.txt | paste -sd ' ')" = "23 21" ]
    grep -qxF '    sizedecho: give it the size 9, then the line "partial read"' <<<"$output"
    # (the renewal command continued at a space where the path makes it long)
    [[ $(joined_lines)$'\n' == *" --lab $PWD/ann --student 'Ann Lee'"$'\n'* ]]
    # and under the POSIX locale, a name in its letters, as typed
    run env LC_ALL=C "$tour" --lab "$PWD/zoe" --student "Zoë Martín"
    [[ $(joined_lines)$'\n' == *" --lab $PWD/zoe --student 'Zoë Martín'"$'\n'* ]]
    # a lab that holds a file of someone's own is refused, as it is
    touch lab/notes.txt
    local before
    before=$(cd lab && ls -lAR --time-style=+%s.%N)
    outcome 1 "" "tour: $PWD/lab holds what the lab did not put there: notes.txt; nothing was changed" \
        "$tour" --lab "$PWD/lab"
    [ "$(cd lab && ls -lAR --time-style=+%s.%N)" = "$before" ]

    local rows=(
        # a name | status | the lab made, or the first line of standard error
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
    [ "$status" -eq 0 ]
    [ "$stderr" = "" ]
    [ "${lines[-1]}" = "The tour is over." ]
    touch "$clone/files/seekgap.cpp"
    run --separate-stderr student "${run_tour[@]}" rrrange
    [ "$status" -eq 0 ]
    [ "${lines[-1]}" = "The tour is over." ]
    [ "$stderr" = "tour: the programs in $clone/build/default/bin are older than files/seekgap.cpp; they run as built until root builds them again" ]
    [ ! -e "$BATS_TEST_TMPDIR/cmake.calls" ]

    # root builds, once: what it built counts as newer, and the next start builds nothing
    run "${run_tour[@]}" rrrange
    [ "$status" -eq 0 ]
    [ "${lines[0]}" = "Building the programs again with CMake (files/seekgap.cpp changed)..." ]
    run "${run_tour[@]}" rrrange
    [ "$status" -eq 0 ]
    [ "$(cat "$BATS_TEST_TMPDIR/cmake.calls")" = "root --build $clone/build/default --parallel $(nproc)" ]

    rm "$clone/build/default/bin/seekgap"
    outcome 1 "" "tour: the programs are not built in $clone/build/default/bin, and only root can build them there: with $clone/tour, or cmake --workflow --preset default" \
        student "${run_tour[@]}" rrrange
    [ "$(ls -A "$clone/tmp")" = "" ]
}

# students SCRIPT: the student's processes that descend from SCRIPT, a line each: its pid, name,
# session, controlling terminal (stat's field 7) and where each of its descriptors leads.
students() {
    local pid stat parent fields comm fds
    for pid in $(pgrep -u "$unprivileged_user"); do
        parent=$pid
        while ((parent > 1)) && [[ $parent != "$1" ]]; do
            { read -r stat <"/proc/$parent/stat"; } 2>/dev/null || continue 2
            read -ra fields <<<"${stat##*) }"
            parent=${fields[1]}
        done
        [[ $parent == "$1" ]] || continue
        { read -r stat <"/proc/$pid/stat" && read -r comm <"/proc/$pid/comm"; } 2>/dev/null ||
            continue
        read -ra fields <<<"${stat##*) }"
        fds=$(find "/proc/$pid/fd" -mindepth 1 -printf '%l ' 2>/dev/null)
        # one that ended meanwhile is not shown
        [[ ! -e /proc/$pid/fd ]] ||
            printf '%s %s %s %s %s\n' "$pid" "$comm" "${fields[3]}" "${fields[4]}" "$fds"
    done
}

@test "lab --for, root on a terminal: no process of the student's holds a terminal or its session" {
    require_root "the other user"
    command -v strace >/dev/null && command -v script >/dev/null || skip "no strace or script"
    local home=$BATS_TEST_TMPDIR/home u=$unprivileged_user seen pid comm session tty fds
    mkdir -m 755 "$home" && chown "$u:$unprivileged_group" "$home"
    chmod o+x "$BATS_RUN_TMPDIR" "$BATS_FILE_TMPDIR" "$BATS_TEST_TMPDIR"
    mkfifo keys
    exec {keys_fd}<>keys
    # strace holds each mkdir for 3 s, while the student's processes are looked at
    timeout 60 script -qefc "strace -f -o /dev/null -e trace=mkdir,mkdirat \
        -e inject=mkdir,mkdirat:delay_exit=3000000 $(printf '%q ' "$tour" --lab "$home/lab" --for "$u")" \
        /dev/null <keys >screen 2>&1 &
    local script_pid=$!
    # shellcheck disable=SC2016 # expanded at each look
    wait_for 20 eval '[[ $(students "$script_pid") == *" mkdir "* ]]' || {
        kill "$script_pid" 2>/dev/null
        cat screen
        false
    }
    seen=$(students "$script_pid")
    local pids
    pids=" $(cut -d' ' -f1 <<<"$seen" | paste -sd ' ') "
    while read -r pid comm session tty fds; do
        # a session led by one of theirs, no controlling terminal, no descriptor of a terminal
        [[ $pids == *" $session "* && $tty == 0 && " $fds" != *" /dev/pts/"* &&
            " $fds" != *" /dev/tty"* ]] ||
            row_fails "$pid $comm" "$session $tty $fds" "its own session, tty 0, no terminal"
    done <<<"$seen"
    wait "$script_pid"
    exec {keys_fd}>&-
    [ "$(stat -c %U "$home/lab/db.txt")" = "$u" ]
}
