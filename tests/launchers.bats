#!/usr/bin/env bats
# Program launchers: execvlist, execlelist, execlplist, runother.

load helper

launchers=(execvlist execlelist execlplist)

# ls_as_launched PROGRAM: what ls itself prints for the launcher's arguments, in the environment
# the launcher hands it (none at all for execlelist: C locale, times in /etc/localtime's zone).
ls_as_launched() {
    if [ "$1" = execlelist ]; then
        env -i /bin/ls -Rl lsdemo.txt
    else
        /bin/ls -Rl lsdemo.txt
    fi
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

# expect_listing GLOB: each listing launcher, read through a pipe (where the banner waits in the
# buffer), prints its banner once, then ls's listing, which matches GLOB. No PATH leads to ls:
# each names /bin/ls itself.
expect_listing() {
    local program listing
    for program in "${launchers[@]}"; do
        listing=$(ls_as_launched "$program")
        # shellcheck disable=SC2053 # a glob on purpose
        [[ $listing == $1 ]]
        outcome 0 "${banner[$program]}"$'\n'"$listing" '' \
            env PATH=/nowhere "$(command -v "$program")"
    done
}

@test "listing launchers: through a pipe the banner comes once, then ls's long line" {
    printf 'demo\n' >lsdemo.txt
    chmod 0644 lsdemo.txt # rw-r--r--
    expect_listing '-rw-r--r-- 1 * 5 * lsdemo.txt'
}

@test "listing launchers: a directory lsdemo.txt is listed recursively" {
    umask 022
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
    for program in "${launchers[@]}"; do
        path=$(command -v "$program")
        ls_environment='["SYSLAB_MARK=caller"]'
        [ "$program" = execlelist ] && ls_environment='[]'

        env -i SYSLAB_MARK=caller strace -f -qq -e trace=execve -v -s 200 -o trace \
            "$path" >/dev/null
        # each line: the process id (padded to five places), then the call
        [ "$(wc -l <trace)" -eq 2 ]
        {
            read -r first_pid first_call
            read -r second_pid second_call
        } <trace
        [ "$second_pid" = "$first_pid" ]
        [[ $first_call == "execve(\"$path\", [\"$path\"], [\"SYSLAB_MARK=caller\"]"*") = 0" ]]
        local ls_call='execve("/bin/ls", ["/bin/ls", "-Rl", "lsdemo.txt"], '
        [[ $second_call == "$ls_call$ls_environment"* ]]
        [[ $second_call == *") = 0" ]]
    done
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
            if ((status == 0)); then
                largest_running=$size
            else
                smallest_failing=$size
            fi
        done

        run_with_filler "$program" "$smallest_failing"
        [ "$status" -eq 126 ]
        printf '%s\n\n' "${banner[$program]}" | cmp - out
        [ "$(cat err)" = "/bin/ls: Argument list too long" ]
    done
}

@test "runother: the child program's output and status are the process's own" {
    mkdir childprog
    cat >childprog/childprog_out <<'EOF'
#!/bin/sh
printf '[%s]\n' "$0" "$@"
echo "pid $$"
echo "to stderr" >&2
exit 3
EOF
    chmod 0755 childprog/childprog_out # rwxr-xr-x

    run --separate-stderr bash -c 'echo "pid $$"; exec runother'
    [ "$status" -eq 3 ]
    [ "${lines[0]}" = "${lines[3]}" ] # one process from the shell to the child program
    [ "${lines[1]}" = "[./childprog/childprog_out]" ]
    [ "${lines[2]}" = "[childprog.c]" ]
    [ "${#lines[@]}" -eq 4 ]
    [ "$stderr" = "to stderr" ]

    # The whole argument list as the started program gets it: bash runs childprog.c.
    cp "$(command -v bash)" childprog/childprog_out
    # shellcheck disable=SC2016 # the script's own $$
    printf '%s\n' 'tr "\0" " " </proc/$$/cmdline' >childprog.c
    outcome 0 './childprog/childprog_out childprog.c ' '' runother
}

# without_ls PROGRAM SOURCE TARGET: runs PROGRAM in a private mount namespace with SOURCE
# mounted over TARGET; its output goes to out and err, its status to $status.
without_ls() {
    status=0
    # shellcheck disable=SC2016 # the inner shell's arguments
    timeout 10 unshare --mount --propagation private sh -c 'mount --bind "$1" "$2" && exec "$3"' \
        sh "$2" "$3" "$(command -v "$1")" >out 2>err || status=$?
}

@test "listing launchers: /bin/ls missing is status 127, not executable 126, after the banner" {
    require_root "a private mount namespace hides /bin/ls"
    unshare --mount --propagation private true 2>/dev/null || skip "no mount namespace here"
    mkdir nothing
    printf 'echo ran\n' >plain
    chmod 0644 plain # rw-r--r--
    local program
    for program in "${launchers[@]}"; do
        without_ls "$program" "$PWD/nothing" /bin # an empty folder: no /bin/ls at all
        [ "$status" -eq 127 ]
        printf '%s\n\n' "${banner[$program]}" | cmp - out
        [ "$(cat err)" = "/bin/ls: No such file or directory" ]
        without_ls "$program" "$PWD/plain" /bin/ls # no execute bit
        [ "$status" -eq 126 ]
        printf '%s\n\n' "${banner[$program]}" | cmp - out
        [ "$(cat err)" = "/bin/ls: Permission denied" ]
    done
}

# A missing childprog_out is in hostile.bats.
@test "runother: a childprog_out that cannot run is an error line and status 126 or 127" {
    touch childprog # a file where the folder should be
    run -127 --separate-stderr runother
    [ "$output" = "" ]
    [ "$stderr" = "./childprog/childprog_out: Not a directory" ]

    rm childprog
    mkdir childprog
    printf '#!/bin/sh\necho ran\n' >childprog/childprog_out
    chmod 0644 childprog/childprog_out # rw-r--r--: no execute bit, even for root
    outcome 126 '' "./childprog/childprog_out: Permission denied" runother

    # Executable but with no #! line: execl, unlike the shell, does not fall back to sh.
    printf 'echo ran\n' >childprog/childprog_out
    chmod 0755 childprog/childprog_out # rwxr-xr-x
    outcome 126 '' "./childprog/childprog_out: Exec format error" runother
}
