#!/usr/bin/env bats
# File and descriptor tools: seekgap, sizedecho, bytecat, stdinwait, exclcreate, fdflood,
# makelinks. Missing data files, hostile sizes and closed standard streams are in hostile.bats.

load helper

# expect_bytes FILE FORMAT [ARG...]: FILE holds exactly the bytes that printf makes; a
# mismatch shows both, character by character.
expect_bytes() {
    # shellcheck disable=SC2059
    diff <(printf "${@:2}" | od -An -vc) <(od -An -vc "$1")
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

@test "seekgap: pattern, ten zero bytes, pattern from 10 past the end; a longer file keeps its tail" {
    # \000, not \0, so that a digit after it is not read as part of an octal number
    local p=0101011010 z='\000\000\000\000\000\000\000\000\000\000'
    local rows=(
        # file before, as a printf format    stdout          file after, likewise
        ''                                  'offset : 20'   "$p$z$p"
        abcd                                'offset : 20'   "$p$z$p"
        ABCDEFGHIJKLMNOPQRSTUVWXY           'offset : 35'   "${p}KLMNOPQRSTUVWXY$z$p"
        "$p$z$p"                            'offset : 40'   "$p$z$p$z$p"
    )
    local row # not i, which run sets
    for ((row = 0; row < ${#rows[@]}; row += 3)); do
        # shellcheck disable=SC2059
        printf "${rows[row]}" >seekgap.txt
        seekgap >out 2>&1
        expect_bytes out "${rows[row + 1]}"
        expect_bytes seekgap.txt "${rows[row + 2]}"
    done

    # With standard output closed the file, given descriptor 1, is written above 2, and the
    # offset meant for the console does not land in it.
    : >seekgap.txt
    bare seekgap >&-
    expect_bytes seekgap.txt "$p$z$p"
    command -v strace >/dev/null || skip "strace is not installed"
    ASAN_OPTIONS=detect_leaks=0 bare strace -o trace -e trace=write seekgap >&- ||
        skip "strace cannot trace here"
    [ "$(grep -c "^write([3-9][0-9]*, \"$p\", 10) *= 10\$" trace)" -eq 2 ]
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

@test "sizedecho: one read of at most the size, the rest left unread; a failed write is status 1" {
    local rows=(
        # input, then what sizedecho echoes and the shell reads after it, as printf formats
        '5\nhello world\n'          'hello\n--\n world\n'
        # the typed newline is echoed, then the program's own
        '80\nhi\n'                  'hi\n\n--\n'
        # the read returns 0 at once and only the newline follows
        '0\nhello\n'                '\n--\nhello\n'
        # the formatted read of the number also takes the one character after it
        '3 abcdef\n'                'abc\n--\ndef\n'
        '\n +007\nabcdefghij\n'     'abcdefg\n--\nhij\n'
    )
    local row prompts="$prompt"'\nenter string\nthe entered string is\n'
    for ((row = 0; row < ${#rows[@]}; row += 2)); do
        # The pipe stands in for the terminal: what the read leaves, the shell would read next.
        # shellcheck disable=SC2059
        printf "${rows[row]}" | { timeout 10 sizedecho && echo -- && cat; } >out 2>&1
        expect_bytes out "$prompts${rows[row + 1]}"
    done

    outcome 1 '' "Writing the text failed: No space left on device" \
        bash -c 'printf "5\nhello\n" | timeout 10 sizedecho >/dev/full'
    # Room for the prompts (94 bytes) but not the echo: the raw write itself fails.
    head -c 930 /dev/zero >out
    outcome 1 '' "Writing the text failed: File too large" \
        bash -c 'trap "" XFSZ; ulimit -f 1; printf "5\nhello\n" | timeout 10 sizedecho >>out'
    [ "$(stat -c %s out)" -eq 1024 ]
}

@test "bytecat: copies byte for byte, one read and one write each; a failed one is status 1" {
    local content
    for content in 'ab\0c\n\0\377\tz' ''; do
        # shellcheck disable=SC2059
        printf "$content" >bytecat.txt
        bytecat >out 2>&1
        expect_bytes out "$content"
    done

    printf data >bytecat.txt
    outcome 1 '' "Writing to standard output failed: No space left on device" \
        bash -c 'timeout 10 bytecat >/dev/full'
    mkdir dir && cd dir && mkdir bytecat.txt
    outcome 1 '' "Reading bytecat.txt failed: Is a directory" timeout 10 bytecat
    cd ..

    command -v strace >/dev/null || skip "strace is not installed"
    # LeakSanitizer cannot run under ptrace.
    ASAN_OPTIONS=detect_leaks=0 strace -o trace -e trace=read,write bytecat >out ||
        skip "strace cannot trace here"
    run grep -Ec '^write\(1, .*, 1\) += 1$' trace
    [ "$output" = 4 ]
    run grep -Ec '^read\([0-9]+, .*, 1\) += [01]$' trace
    [ "$output" = 5 ]
}

@test "exclcreate: descriptor 3 and an empty rw-r--r-- file, then -1 once it exists" {
    (umask 000 && bare exclcreate >out)
    expect_bytes out 'The file descriptor value is: 3'
    [ "$(stat -c '%a %s %F' exclcreate.txt)" = "644 0 regular empty file" ]

    echo kept >exclcreate.txt
    bare exclcreate >out 2>&1
    expect_bytes out 'The file descriptor value is: -1'
    [ "$(cat exclcreate.txt)" = kept ]
}

@test "makelinks: a dangling symlink, both links beside three.txt; fdflood meets its links" {
    mkdir linked plain && cd linked
    outcome 0 '' "Failed : : No such file or directory" makelinks
    [ "$(readlink four.txt)" = three.txt ]
    [ ! -e four.txt ] # dangling
    [ ! -e five.txt ]
    rm four.txt
    echo kept >three.txt
    outcome 0 '' '' makelinks
    [ "$(readlink four.txt)" = three.txt ]
    [ "$(cat four.txt)" = kept ]
    [ "$(stat -c '%i %h' five.txt)" = "$(stat -c '%i 2' three.txt)" ]
    outcome 0 '' $'Failed : : File exists\nFailed : : File exists' makelinks

    # The flood fills its table in the order of its names and runs on. In "linked" its opens
    # of four.txt follow the symbolic link; in "plain" its files take the link maker's names.
    require_native "the emulator's own descriptors count against the limit"
    local dir fd target flags names expected
    for dir in linked plain; do
        cd "$BATS_TEST_TMPDIR/$dir"
        (ulimit -n 64 && umask 000 && close_inherited_fds && exec fdflood) &
        flood_pid=$!
        wait_for 10 prints 64 fd_count "$flood_pid"
        # Still running, not ended or a zombie, and still with a full table.
        [[ $(state_ppid "$flood_pid") == [RS]\ * ]]
        [ ! -e "/proc/$flood_pid/fd/64" ]
        names=
        for ((fd = 3; fd < 64; fd++)); do
            target=$(readlink "/proc/$flood_pid/fd/$fd")
            names+=" ${target#"$PWD/"}"
        done
        # Opened read-write (the access mode is the low two bits of the octal flags).
        flags=$(sed -n 's/^flags:[[:space:]]*//p' "/proc/$flood_pid/fdinfo/63")
        (((8#$flags & 3) == 2))
        kill -KILL "$flood_pid"
        wait "$flood_pid" || true
        flood_pid=
        # Twelve passes of the five names and one more open.
        expected=" one.txt two.txt three.txt four.txt five.txt"
        [[ $dir == linked ]] && expected=${expected/four/three}
        expected=$(printf "$expected%.0s" {1..12})" one.txt"
        [ "$names" = "$expected" ] || row_fails "$dir" "$names" "$expected"
    done

    for target in one two three four five; do
        [ "$(stat -c '%a %s %F' "$target.txt")" = "777 0 regular empty file" ]
    done
    outcome 0 '' $'Failed : : File exists\nFailed : : File exists' makelinks
    [ ! -L four.txt ]
    cd ../linked
    [ "$(readlink four.txt)" = three.txt ]
    [ ! -L three.txt ] && [ "$(cat three.txt)" = kept ]
}

# The silent pipe was opened in setup_file; by now most of its 10 seconds have passed.
@test "stdinwait: input ready at once or after a second is seen; a silent pipe waits 10 seconds" {
    outcome 0 "The data is now available" '' timeout 5 stdinwait </dev/null
    # The line is not read: it is still there for the next reader.
    outcome 0 $'The data is now available\nhi' '' \
        bash -c '{ sleep 1; echo hi; } | { timeout 5 stdinwait; cat; }'
    # The time-out select is given is 10 s exactly, as strace shows it (select or pselect6);
    # then the clock below need only tell a wait of 10 s from none or from one far longer.
    local margin=100
    if [[ -z ${SYSLAB_EMULATOR:-} ]] && command -v strace >/dev/null &&
        ASAN_OPTIONS=detect_leaks=0 strace -o trace -e trace=select,pselect6 stdinwait </dev/null >/dev/null; then
        grep -Eq '^p?select6?\(1, \[0\], NULL, NULL, \{tv_sec=10, tv_[un]sec=0\}' trace
        margin=1000
    fi

    wait_for 20 test -e "$BATS_FILE_TMPDIR/silent.done"
    local status started ended
    read -r status started ended <"$BATS_FILE_TMPDIR/silent.done"
    [ "$status" -eq 0 ]
    expect_bytes "$BATS_FILE_TMPDIR/silent.out" 'No data was given for 10 seconds\n'
    expect_bytes "$BATS_FILE_TMPDIR/silent.err" ''
    # Hundredths of a second from the program's start to the wake-up of the waiting shell: at
    # least the 10 s, with up to a second (ten where strace read the time-out) for a busy
    # machine or an emulator to start the program and notice its end.
    ((ended - started >= 1000 && ended - started < 1000 + margin))
}
