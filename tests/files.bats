#!/usr/bin/env bats
# File and descriptor tools: seekgap, sizedecho, bytecat, stdinwait, exclcreate, fdflood,
# makelinks. Missing data files, hostile sizes and closed standard streams are in hostile.bats.

load helper

# expect_bytes FILE FORMAT [ARG...]: FILE holds exactly the bytes that printf makes.
expect_bytes() {
    local file=$1
    shift
    # shellcheck disable=SC2059
    printf "$@" >"$BATS_TEST_TMPDIR/expected"
    cmp "$BATS_TEST_TMPDIR/expected" "$file" || {
        echo "expected:" && od -An -c "$BATS_TEST_TMPDIR/expected"
        echo "got:" && od -An -c "$file"
        return 1
    }
}

# The silent pipe keeps stdinwait waiting its full 10 seconds: it runs beside the other tests
# from here and the last test examines it. Opened read-write, the fifo has a writer that
# never writes (stdinwait itself), so it neither ends nor gets data.
setup_file() {
    cd "$BATS_FILE_TMPDIR" || return 1
    mkfifo silent
    (
        close_inherited_fds
        stdinwait <>silent >silent.out 2>silent.err &
        started $! || started=0
        status=0
        wait $! || status=$?
        since_boot
        echo "$status $started $since_boot" >silent.tmp
        mv silent.tmp silent.done
    ) &
}

# A flood left running by a failed test is stopped here; only its own pid is killed.
teardown() {
    if [[ -n ${flood_pid:-} ]]; then
        kill -KILL "$flood_pid" 2>/dev/null || true
        wait "$flood_pid" 2>/dev/null || true
    fi
}

pattern=0101011010
zeros='\0\0\0\0\0\0\0\0\0\0'

@test "seekgap: pattern, ten zero bytes, pattern from offset 10; a longer file keeps its tail" {
    local rows=(
        # file before               stdout          file after, as a printf format
        ''                          'offset : 20'   "%s$zeros%s"
        abcd                        'offset : 20'   "%s$zeros%s"
        ABCDEFGHIJKLMNOPQRSTUVWXY   'offset : 35'   "%sKLMNOPQRSTUVWXY$zeros%s"
    )
    local row # not i, which run sets
    for ((row = 0; row < ${#rows[@]}; row += 3)); do
        printf %s "${rows[row]}" >seekgap.txt
        outcome 0 "${rows[row + 1]}" '' seekgap
        expect_bytes seekgap.txt "${rows[row + 2]}" $pattern $pattern
    done

    # A second run adds the hole and pattern after the new end.
    seekgap >out
    expect_bytes out 'offset : 55'
    expect_bytes seekgap.txt "%sKLMNOPQRSTUVWXY$zeros%s$zeros%s" $pattern $pattern $pattern

    # With standard output closed the file, given descriptor 1, is written above 2.
    command -v strace >/dev/null || skip "strace is not installed"
    : >seekgap.txt
    ASAN_OPTIONS=detect_leaks=0 bare strace -o trace -e trace=write seekgap >&- ||
        skip "strace cannot trace here"
    [ "$(grep -c "^write([3-9][0-9]*, \"$pattern\", 10) *= 10\$" trace)" -eq 2 ]
}

@test "seekgap: a write past the size limit is status 1; an offset past 4 GiB is printed whole" {
    head -c 1020 /dev/zero >seekgap.txt
    # ulimit -f counts 1 KiB blocks; with SIGXFSZ ignored the write fails with EFBIG.
    outcome 1 "offset : 1030" "Writing seekgap.txt failed: File too large" \
        bash -c 'trap "" XFSZ; ulimit -f 1; exec seekgap'

    # 4294967285 + 10 is 2^32 - 1, which a 32-bit offset would show as -1 (an error).
    truncate -s 4294967285 seekgap.txt || skip "no sparse file of 4 GiB here"
    outcome 0 "offset : 4294967295" '' seekgap
    [ "$(stat -c %s seekgap.txt)" -eq 4294967305 ]
}

sizedecho_prompts="$prompt"'\nenter string\nthe entered string is\n'

@test "sizedecho: one read of at most the size, the rest left unread; a failed write is status 1" {
    # The pipe stands in for the terminal: what the read leaves, the shell would read next.
    printf '5\nhello world\n' | { sizedecho && echo "rest:" && cat; } >out
    expect_bytes out "${sizedecho_prompts}hello\nrest:\n world\n"

    printf '5\nhello world\n' | sizedecho >out
    expect_bytes out "${sizedecho_prompts}hello\n"

    # Size 80 and two characters: the typed newline is echoed, then the program's own.
    printf '80\nhi\n' | sizedecho >out
    expect_bytes out "${sizedecho_prompts}hi\n\n"

    # Size 0: the read returns 0 at once and only the newline follows.
    printf '0\nhello\n' | { sizedecho && cat; } >out
    expect_bytes out "${sizedecho_prompts}\nhello\n"

    # Text on the size's own line is what the read sees, less the one character after the
    # number that the formatted read takes to see where the number ends.
    printf '3 abcdef\n' | sizedecho >out
    expect_bytes out "${sizedecho_prompts}abc\n"
    printf '\n +007\nabcdefghij\n' | sizedecho >out
    expect_bytes out "${sizedecho_prompts}abcdefg\n"

    # A failing write is an error with status 1.
    outcome 1 '' "Writing the text failed: No space left on device" \
        bash -c 'printf "5\nhello\n" | sizedecho >/dev/full'

    # Room for the prompts (94 bytes) but not the echo: the raw write itself fails.
    head -c 930 /dev/zero >out
    outcome 1 '' "Writing the text failed: File too large" \
        bash -c 'trap "" XFSZ; ulimit -f 1; printf "5\nhello\n" | sizedecho >>out'
    [ "$(stat -c %s out)" -eq 1024 ]
}

@test "bytecat: copies byte for byte, no final newline added; a failed read or write is status 1" {
    printf 'ab\0c\n\0\377\tz' >bytecat.txt
    outcome 0 '' '' bash -c 'bytecat >out'
    expect_bytes out 'ab\0c\n\0\377\tz'

    : >bytecat.txt
    outcome 0 '' '' bash -c 'bytecat >out'
    expect_bytes out ''

    # A failed write or a failed read ends with status 1.
    printf data >bytecat.txt
    outcome 1 '' "Writing to standard output failed: No space left on device" \
        bash -c 'bytecat >/dev/full'
    rm bytecat.txt && mkdir bytecat.txt
    outcome 1 '' "Reading bytecat.txt failed: Is a directory" bytecat
}

@test "bytecat: one read and one write system call per byte" {
    command -v strace >/dev/null || skip "strace is not installed"
    printf 'a\0\n' >bytecat.txt
    # LeakSanitizer cannot run under ptrace.
    ASAN_OPTIONS=detect_leaks=0 strace -o trace -e trace=read,write bytecat >out ||
        skip "strace cannot trace here"
    expect_bytes out 'a\0\n'
    run grep -Ec '^write\(1, .*, 1\) += 1$' trace
    [ "$output" = 3 ]
    run grep -Ec '^read\([0-9]+, .*, 1\) += [01]$' trace
    [ "$output" = 4 ]
}

@test "stdinwait: input ready at once or after a second is seen before the time-out" {
    outcome 0 "The data is now available" '' timeout 5 stdinwait </dev/null

    # The line is not read: it is still there for the next reader.
    local started=$SECONDS
    outcome 0 $'The data is now available\nhi' '' \
        bash -c '{ sleep 1; echo hi; } | { timeout 5 stdinwait; cat; }'
    ((SECONDS - started < 5))
}

@test "exclcreate: descriptor 3 and an empty rw-r--r-- file, then -1 once it exists" {
    (
        umask 000
        bare exclcreate >out
    )
    expect_bytes out 'The file descriptor value is: 3'
    [ "$(stat -c '%a %s %F' exclcreate.txt)" = "644 0 regular empty file" ]

    echo kept >exclcreate.txt
    outcome 0 "The file descriptor value is: -1" '' bare exclcreate
    [ "$(cat exclcreate.txt)" = kept ]
}

# flood_until_full: starts fdflood in the background under a limit of 64 descriptors and waits
# until its table is full; sets flood_pid.
flood_until_full() {
    (
        ulimit -n 64
        umask 000
        close_inherited_fds
        exec fdflood
    ) &
    flood_pid=$!
    wait_for 10 flood_table_full
}

flood_table_full() {
    [[ $(readlink "/proc/$flood_pid/exe") == */fdflood ]] && prints 64 fd_count "$flood_pid"
}

stop_flood() {
    kill -KILL "$flood_pid"
    wait "$flood_pid" || true
    flood_pid=
}

@test "fdflood: fills the table to the limit and keeps running; its files block makelinks" {
    require_native "the emulator's own descriptors count against the limit"
    flood_until_full
    # Still running, not ended or a zombie, and still with a full table.
    [[ $(state_ppid "$flood_pid") == [RS]\ * ]]
    [ -e "/proc/$flood_pid/fd/63" ] && [ ! -e "/proc/$flood_pid/fd/64" ]
    # Opened read-write (the access mode is the low two bits of the octal flags).
    local flags
    flags=$(sed -n 's/^flags:[[:space:]]*//p' "/proc/$flood_pid/fdinfo/63")
    (((8#$flags & 3) == 2))
    # The first pass took 3 to 7, one name after the other in their order.
    local fd=3 name
    for name in one two three four five; do
        [ "$(readlink "/proc/$flood_pid/fd/$fd")" = "$PWD/$name.txt" ]
        fd=$((fd + 1))
    done
    stop_flood

    for name in one two three four five; do
        [ "$(stat -c '%a %s %F' "$name.txt")" = "777 0 regular empty file" ]
    done

    # The flood's plain files take both of the link maker's names.
    outcome 0 '' $'Failed : : File exists\nFailed : : File exists' makelinks
    [ ! -L four.txt ]
}

@test "fdflood: its open of four.txt follows the symbolic link makelinks left" {
    require_native "the emulator's own descriptors count against the limit"
    echo kept >three.txt
    makelinks
    [ "$(readlink four.txt)" = three.txt ]

    flood_until_full
    local fd name targets=() counts=
    for fd in "/proc/$flood_pid/fd/"*; do
        [[ ${fd##*/} -gt 2 ]] && targets+=("$(readlink "$fd")")
    done
    stop_flood

    # Twelve passes of five and one more open; four.txt never appears, three.txt twice a pass.
    for name in one two three four five; do
        counts+=" $name $(printf '%s\n' "${targets[@]}" | grep -cx "$PWD/$name.txt" || true)"
    done
    [ "$counts" = " one 13 two 12 three 24 four 0 five 12" ]
    [ "$(readlink four.txt)" = three.txt ]
    [ -f three.txt ] && [ ! -L three.txt ] && [ "$(cat three.txt)" = kept ]
}

@test "makelinks: a dangling symlink in an empty directory, both links beside three.txt" {
    outcome 0 '' "Failed : : No such file or directory" makelinks
    [ "$(readlink four.txt)" = three.txt ]
    [ ! -e four.txt ] # dangling
    [ ! -e five.txt ]

    rm four.txt
    echo data >three.txt
    outcome 0 '' '' makelinks
    [ "$(readlink four.txt)" = three.txt ]
    [ "$(stat -c '%i %h' five.txt)" = "$(stat -c '%i 2' three.txt)" ]
    [ "$(cat four.txt)" = data ]

    outcome 0 '' $'Failed : : File exists\nFailed : : File exists' makelinks
}

# Started in setup_file; by now most of its 10 seconds have passed beside the other tests.
@test "stdinwait: a silent pipe gets the verdict after 10 seconds" {
    wait_for 20 test -e "$BATS_FILE_TMPDIR/silent.done"
    local status started ended
    read -r status started ended <"$BATS_FILE_TMPDIR/silent.done"
    [ "$status" -eq 0 ]
    expect_bytes "$BATS_FILE_TMPDIR/silent.out" 'No data was given for 10 seconds\n'
    expect_bytes "$BATS_FILE_TMPDIR/silent.err" ''
    # Hundredths of a second from the program's start to the wake-up of the waiting shell: at
    # least the 10 s, with up to a second for a busy machine or an emulator to start the
    # program and notice its end; a time-out of 9 s or 11 s fails.
    ((ended - started >= 1000 && ended - started < 1100))
}
