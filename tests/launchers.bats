#!/usr/bin/env bats
# Program launchers: execvlist, execlelist, execlplist, runother.

load helper

launchers=(execvlist execlelist execlplist)

# expect_listing GLOB: each listing launcher, read through a pipe (where the banner waits in the
# buffer), prints its banner once, then ls's listing, which matches GLOB. No PATH leads to ls:
# each names /bin/ls itself.
expect_listing() {
    local program listing
    for program in "${launchers[@]}"; do
        listing=$(/bin/ls -Rl lsdemo.txt)
        # execlelist hands ls no environment: C locale, times in /etc/localtime's zone.
        [[ $program != execlelist ]] || listing=$(env -i /bin/ls -Rl lsdemo.txt)
        # shellcheck disable=SC2053 # a glob on purpose
        [[ $listing == $1 ]]
        outcome 0 "${banner[$program]}"$'\n'"$listing" '' \
            env PATH=/nowhere "$(command -v "$program")"
    done
}

@test "listing launchers: through a pipe the banner comes once, then ls's listing, recursive" {
    umask 022
    printf 'demo\n' >lsdemo.txt
    expect_listing '-rw-r--r-- 1 * 5 * lsdemo.txt'
    rm lsdemo.txt
    mkdir -p lsdemo.txt/inner
    touch lsdemo.txt/top lsdemo.txt/inner/deep
    expect_listing $'lsdemo.txt:*\nlsdemo.txt/inner:\ntotal 0\n-rw-r--r-- 1 * deep'
}

@test "listing launchers: one process becomes ls, with the caller's environment or none" {
    require_native "strace sees the emulator's calls, and env -i drops QEMU_LD_PREFIX"
    command -v strace >/dev/null || skip "strace is not installed"
    strace -o /dev/null true 2>/dev/null || skip "strace may not trace here"
    touch lsdemo.txt
    local program path ls_environment first_pid first_call second_pid second_call
    local ls_call='execve("/bin/ls", ["/bin/ls", "-Rl", "lsdemo.txt"], '
    for program in "${launchers[@]}"; do
        path=$(command -v "$program")
        ls_environment='["SYSLAB_MARK=caller"]'
        [ "$program" = execlelist ] && ls_environment='[]'
        env -i SYSLAB_MARK=caller strace -f -qq -e trace=execve -v -s 200 -o trace \
            "$path" >/dev/null
        # each line: the process id (padded to five places), then the call
        [ "$(wc -l <trace)" -eq 2 ]
        { read -r first_pid first_call && read -r second_pid second_call; } <trace
        [ "$second_pid" = "$first_pid" ]
        [[ $first_call == "execve(\"$path\", [\"$path\"], [\"SYSLAB_MARK=caller\"]"*") = 0" ]]
        [[ $second_call == "$ls_call$ls_environment"*") = 0" ]]
    done
}

# exec_failed PROGRAM ERROR: the launcher wrote its banner and an empty line to out, and
# "/bin/ls: ERROR" to err.
exec_failed() {
    printf '%s\n\n' "${banner[$1]}" | cmp - out
    [ "$(cat err)" = "/bin/ls: $2" ]
}

# run_with_filler PROGRAM SIZE: runs a copy of PROGRAM with one more variable of SIZE bytes in a
# near-empty environment, under a 512 KiB stack limit, which caps what one exec may carry at
# 128 KiB. bash starts env under the name "x" and env starts the copy as "./PROGRAM": both carry
# fewer bytes than ls's path and three arguments, so there is a band of sizes that lets the
# launcher start but not ls. Leaves the status in $status, the output in the files out and err.
run_with_filler() {
    [[ -e ./$1 ]] || cp "$(command -v "$1")" "./$1"
    status=0
    # shellcheck disable=SC2016 # $1 and $2 are the inner shell's
    env -i bash -c 'ulimit -S -s 512; printf -v FILL "%*s" "$2" ""; export FILL
        exec -a x env "./$1"' filler "$1" "$2" >out 2>err || status=$?
}

@test "execvlist, execlplist: a failed exec keeps the empty line, names the path, status 126" {
    require_native "env -i drops QEMU_LD_PREFIX, and the size limit would be the emulator's"
    touch lsdemo.txt
    local program size smallest_failing largest_running
    for program in execvlist execlplist; do
        # The smallest filler size at which ls no longer runs (its exec fails with E2BIG).
        largest_running=0 smallest_failing=131072
        while ((smallest_failing - largest_running > 1)); do
            size=$(((largest_running + smallest_failing) / 2))
            run_with_filler "$program" "$size"
            if ((status == 0)); then largest_running=$size; else smallest_failing=$size; fi
        done
        run_with_filler "$program" "$smallest_failing"
        [ "$status" -eq 126 ]
        exec_failed "$program" "Argument list too long"
    done
}

@test "listing launchers: /bin/ls missing or /bin a file is status 127, not executable 126, after the banner" {
    require_root "a private mount namespace hides /bin/ls"
    unshare --mount --propagation private true 2>/dev/null || skip "no mount namespace here"
    mkdir nothing
    printf 'echo ran\n' >plain
    chmod 0644 plain # rw-r--r--
    # Mounted over /bin, an empty folder leaves no /bin/ls; over /bin/ls, a file without the
    # execute bit.
    local rows=("nothing /bin 127 No such file or directory" "plain /bin/ls 126 Permission denied")
    local row program source target expected error hidden
    for row in "${rows[@]}"; do
        read -r source target expected error <<<"$row"
        for program in "${launchers[@]}"; do
            # shellcheck disable=SC2016 # the inner shell's arguments
            hidden=(timeout 10 unshare --mount --propagation private sh -c
                'mount --bind "$1" "$2" && exec "$3"' sh "$PWD/$source" "$target"
                "$(command -v "$program")")
            status=0
            "${hidden[@]}" >out 2>err || status=$?
            [ "$status" -eq "$expected" ]
            exec_failed "$program" "$error"
            # On one file for both, the empty line comes before the error line.
            "${hidden[@]}" >both 2>&1 || true
            cat out err | cmp - both
        done
    done

    # /bin a plain file (ENOTDIR), in a root of its own holding the launchers and what they
    # load: not found, 127, as a missing file is
    require_native "the root of its own holds no emulator"
    [[ ${SYSLAB_SANITIZED:-} != 1 ]] ||
        skip "the root of its own has no /proc, which a sanitized program reads as it starts"
    local library
    mkdir root && touch root/bin
    for program in "${launchers[@]}"; do cp "$(command -v "$program")" root; done
    for library in $(ldd root/execvlist | grep -o '/[^ ]*'); do
        mkdir -p "root${library%/*}" && cp "$library" "root$library"
    done
    for program in "${launchers[@]}"; do
        status=0
        timeout 10 env PATH=/bin "$(command -v chroot)" root "/$program" >out 2>err || status=$?
        [ "$status" -eq 127 ]
        exec_failed "$program" "Not a directory"
    done
}

# A missing childprog_out is in hostile.bats.
@test "runother: the child program's output and status are its own, or an error line, 126 or 127" {
    # bash, started as childprog_out, runs childprog.c, which shows the whole argument list.
    mkdir childprog
    cp "$(command -v bash)" childprog/childprog_out
    # shellcheck disable=SC2016 # the script's own $$
    printf '%s\n' 'echo "$$ $(tr "\0" " " </proc/$$/cmdline)"' 'echo "to stderr" >&2' 'exit 3' \
        >childprog.c
    run --separate-stderr bash -c 'echo "$$"; exec runother'
    [ "$status" -eq 3 ]
    # one process from the shell to the child program
    [ "$output" = "${lines[0]}"$'\n'"${lines[0]} ./childprog/childprog_out childprog.c " ]
    [ "$stderr" = "to stderr" ]

    # Executable but with no #! line: execl, unlike the shell, does not fall back to sh.
    printf 'echo ran\n' >childprog/childprog_out
    outcome 126 '' "./childprog/childprog_out: Exec format error" runother
    chmod 0644 childprog/childprog_out # rw-r--r--: no execute bit, even for root
    outcome 126 '' "./childprog/childprog_out: Permission denied" runother
    rm -r childprog
    touch childprog # a file where the folder should be
    run -127 --separate-stderr runother
    [ "$output" = "" ]
    [ "$stderr" = "./childprog/childprog_out: Not a directory" ]
}
