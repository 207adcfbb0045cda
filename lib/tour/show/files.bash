# shellcheck shell=bash
# The files folder: seekgap, sizedecho, bytecat, stdinwait, exclcreate, fdflood, makelinks.

# What the tour knows of each program here (see fact in the tour). fdflood run in
# the lab itself, not in flood/, makes its five names there.
# shellcheck disable=SC2034 # read by lib/tour/programs.bash and lab.bash
declare -gA fact
fact[seekgap.looks]=yes
fact[bytecat.traced]=yes
fact[stdinwait.long]="stdinwait's 10-second time-out"
fact[exclcreate.makes]="exclcreate.txt"
fact[fdflood.looks]=yes
fact[fdflood.makes]="flood/one.txt flood/two.txt flood/three.txt flood/four.txt flood/five.txt
    one.txt two.txt four.txt@empty five.txt"
fact[makelinks.makes]="four.txt@link five.txt"

# The lines sizedecho is given, by the size it reads: the rest of the line is what the shell
# reads as a command afterwards at a terminal, so no rest begins with a command's name.
sizedecho_lines=(
    [2]="hello world" [3]="kernel buffer" [4]="pipe buffer" [5]="hello world"
    [6]="page cache" [7]="good morning" [8]="kernel space" [9]="partial read"
    [10]="terminal queue" [11]="quick brown fox" [12]="read returns early"
)
# The redirections exclcreate may be started with.
exclcreate_redirections=("" "3<db.txt" "<&-" "3<db.txt 4<db.txt" "4<db.txt" "3<db.txt 5<db.txt"
    "<&- 3<db.txt" "2>&-" "3<db.txt 4<db.txt 6<db.txt" "3<db.txt 4<db.txt 5<db.txt"
    "3<db.txt 4<db.txt 5<db.txt 7<db.txt" "3<db.txt 4<db.txt 5<db.txt 6<db.txt")
# The names fdflood opens in turn.
flood_names=(one.txt two.txt three.txt four.txt five.txt)

# The numbers each show file draws for its own programs (lib/tour/variants.bash), read by
# the views and the questions.
# shellcheck disable=SC2034 # variant: variants.bash's map
declare -gA variant

# The numbers of each program here (lib/tour/variants.bash draws them, in its order).

# seekgap writes 10 bytes at 0 and seeks 10 past the end: a file under 10 bytes is extended to
# 10 first.
numbers_seekgap() {
    local bytes text=abcdefghijklmnopqrstuvwxyz
    draw bytes 4 59 0
    variant[seekgap_bytes]=$bytes
    text=$text$text$text
    variant[seekgap_text]=${text:0:bytes}
    ((bytes >= 10)) || bytes=10
    variant[seekgap_gap]=$bytes
    variant[seekgap_gap_end]=$((bytes + 9))
    variant[seekgap_offset]=$((bytes + 10))
    variant[seekgap_size]=$((bytes + 20))
}

numbers_sizedecho() {
    local size
    draw size 2 12 5
    variant[sizedecho_size]=$size
    variant[sizedecho_line]=${sizedecho_lines[size]}
    variant[sizedecho_echo]=${sizedecho_lines[size]:0:size}
    variant[sizedecho_rest]=${sizedecho_lines[size]:size}
}

numbers_bytecat() {
    local bytes
    draw bytes 12 90 33
    variant[bytecat_bytes]=$bytes
    variant[bytecat_reads]=$((bytes + 1))
    text_of_size "variant[bytecat_text]" "$bytes" "One read and one write per byte."
}

numbers_exclcreate() {
    local i redirection word open=" 0 1 2 " fd words=()
    draw i 0 $((${#exclcreate_redirections[@]} - 1)) 0
    redirection=${exclcreate_redirections[i]}
    variant[exclcreate]="exclcreate${redirection:+ $redirection}"
    for word in $redirection; do
        case $word in
        '<&-') open=${open/ 0 / } ;;
        [0-9]'>&-') open=${open/ ${word:0:1} / } ;;
        [0-9]'<'*) open+="${word:0:1} " ;;
        esac
    done
    for ((fd = 0; fd < 10; fd++)); do
        [[ $open == *" $fd "* ]] || break
    done
    variant[exclcreate_fd]=$fd
    for ((fd = 0; fd < 10; fd++)); do
        [[ $open != *" $fd "* ]] || words+=("$fd")
    done
    listed "variant[exclcreate_open]" "${words[@]}"
}

# fdflood opens the five names in turn into descriptors 3 to limit - 1.
numbers_fdflood() {
    local limit file
    draw limit 16 128 64
    draw file 0 4 0
    variant[fdflood_limit]=$limit
    variant[fdflood_last]=$((limit - 1))
    variant[fdflood_file]=${flood_names[file]}
    variant[fdflood_first]=$((3 + file))
    variant[fdflood_file_last]=$((3 + file + (limit - 4 - file) / 5 * 5))
    variant[fdflood_count]=$(((limit - 4 - file) / 5 + 1))
}

# The files each program here needs in its lab (lib/tour/lab.bash writes them).
seeds_seekgap() {
    lab_file 644 seekgap.txt "${variant[seekgap_text]}"
}

seeds_bytecat() {
    lab_file 644 bytecat.txt "${variant[bytecat_text]}"
}

seeds_makelinks() {
    lab_file 644 three.txt $'The target of the links.\n'
}

# stdinwait's time-out, which runs in the background while the others are shown: the
# descriptor of its silent input, its process id, and the moment (in µs) it started.
declare -gA files_demo=()

show_seekgap() {
    heading seekgap "writes ten digits, seeks past the end of seekgap.txt and writes them again"
    ask seekgap offset
    typed seekgap
    observed_in seekgap offset '^offset : (-?[0-9]+)'
    answer seekgap offset
    ask seekgap gap
    ask seekgap zeros
    observe "od -A d -c seekgap.txt"
    observe_first_zero_byte seekgap gap
    answer seekgap gap
    answer seekgap zeros
    note "bytes ${variant[seekgap_gap]} to ${variant[seekgap_gap_end]} were never written:" \
        "they read back as \\0 (with -A d, od numbers its offsets in decimal)"
    ask seekgap blocks
    observe "stat -c '%s bytes, %b blocks of %B bytes allocated' seekgap.txt"
    # shellcheck disable=SC2154 # commands: commands.bash's state
    local blocks=${commands[out]#*bytes, }
    # shellcheck disable=SC2154 # process: process.bash's state
    answer seekgap blocks "${blocks%% of*} of 512 bytes on ${process[file_system]}: the \
${variant[seekgap_size]} bytes, the zeros among them, fill part of one of its blocks"
    if ! look_usable; then
        note "a gap this small lies inside a block the file has anyway; a gap of whole blocks" \
            "would take no disk space at all (try it after truncate -s 1M seekgap.txt)"
        return 0
    fi
    note "a gap this small lies inside a block the file has anyway; a gap of whole blocks" \
        "takes no disk space at all:"
    typed "truncate -s 1M seekgap.txt"
    observe "syslab-look holes seekgap.txt"
    note "its data and its hole, as lseek's SEEK_DATA and SEEK_HOLE find them: the hole has" \
        "no blocks"
}

# observe_first_zero_byte PROGRAM KEY: observed, the offset of the first zero byte in the
# od -A d -c (decimal offsets) that the last command line printed.
observe_first_zero_byte() {
    local line lines offset i
    split lines "${commands[out]}" $'\n'
    for line in "${lines[@]}"; do
        [[ $line =~ ^([0-9]{7}) ]] || continue
        offset=$((10#${BASH_REMATCH[1]}))
        for ((i = 0; i < 16; i++)); do
            [[ ${line:7+4*i:4} != '  \0' ]] || {
                observed "$1" "$2" $((offset + i))
                return
            }
        done
    done
}

show_sizedecho() {
    heading sizedecho "one raw read of at most N bytes, written back exactly as it came"
    ask sizedecho read
    ask sizedecho rest
    typed "printf '${variant[sizedecho_size]}\\n${variant[sizedecho_line]}\\n' | sizedecho"
    local echoed=${commands[out]%$'\n'}
    echoed=${echoed##*$'\n'}
    observed sizedecho read "${#echoed}"
    answer sizedecho read
    answer sizedecho rest
    note "the read took ${variant[sizedecho_size]} bytes, \"${variant[sizedecho_echo]}\";" \
        "typed at a terminal, the rest of the line stays queued and the shell reads it as a" \
        "command afterwards"
}

show_bytecat() {
    heading bytecat "copies bytecat.txt to its output a byte at a time, through read and write"
    typed bytecat
    if strace_usable; then
        ask bytecat calls
        traced "strace -c -e trace=read,write -P \"\$PWD/bytecat.txt\" -P /dev/null bytecat >/dev/null"
        # (a share of the time of 100.00 fills its column: the line starts with it)
        observed_in bytecat calls '^ *[0-9.]+ +[0-9.]+ +[0-9]+ +([0-9]+)( +[0-9]+)? +read$'
        answer bytecat calls
        local size
        size_at size bytecat.txt
        note "$size bytes: a write for each, a read for each and one more that finds the end"
    else
        left_out bytecat calls "it needs strace's count, and there is no usable strace"
    fi
}

start_stdinwait() {
    local silent=${process[dir]}/silent pid fd
    mkfifo "$silent"
    # The tour holds the writing end open and never writes: no input, and no end of file.
    exec {fd}<>"$silent"
    hold_fd "$fd"
    files_demo[stdinwait_fd]=$fd
    now_us "files_demo[stdinwait_started]"
    spawn pid stdinwait <"$silent" >"${process[dir]}/stdinwait.out" 2>&1
    files_demo[stdinwait_pid]=$pid
    watch_end "$pid" "${process[dir]}/stdinwait.end"
}

show_stdinwait() {
    heading stdinwait "waits for input with select, for a time it sets itself, and says whether it came"
    ask stdinwait ready
    typed "echo hello | stdinwait"
    if [[ ${commands[out]} == *"The data is now available"* ]]; then
        observed stdinwait ready no
    else
        observed stdinwait ready yes
    fi
    answer stdinwait ready
    note "input was there at once; stdinwait does not read it"
    # shellcheck disable=SC2154 # opt: the options, written by the tour's parse_arguments
    ${opt[quick]} && return
    [[ -n ${files_demo[stdinwait_pid]:-} ]] || start_stdinwait
    ask stdinwait timeout
    ask stdinwait meanwhile
    command_line "" "stdinwait"
    note "nothing typed..."
    local status=0 ended seconds fd=${files_demo[stdinwait_fd]}
    wait_shown "${files_demo[stdinwait_pid]}" $((files_demo[stdinwait_started] + 10000000)) \
        "stdinwait's time-out ends" || status=$?
    wait_until 2 "the end of stdinwait being noted" test -s "${process[dir]}/stdinwait.end"
    release_fd "$fd"
    show_output "${process[dir]}/stdinwait.out"
    ((status == 0)) || note "exit status $status"
    read -r ended <"${process[dir]}/stdinwait.end"
    seconds_between seconds "${files_demo[stdinwait_started]}" "$ended"
    note "the verdict came $seconds s after the start"
    observed stdinwait timeout $(((ended - files_demo[stdinwait_started] + 500000) / 1000000))
    answer stdinwait timeout
    answer stdinwait meanwhile
}

show_exclcreate() {
    heading exclcreate "creates exclcreate.txt only if it is not there yet, and prints the descriptor"
    ask exclcreate first
    typed "${variant[exclcreate]}"
    observed_in exclcreate first '^The file descriptor value is: (-?[0-9]+)$'
    answer exclcreate first
    observe "ls -l exclcreate.txt"
    ask exclcreate second
    typed "${variant[exclcreate]}"
    observed_in exclcreate second '^The file descriptor value is: (-?[0-9]+)$'
    answer exclcreate second
    note "the second open failed (the file exists): -1"
}

fd_table_full() { # PID LIMIT
    local entries=("/proc/$1/fd/"*)
    ((${#entries[@]} >= $2))
}

show_fdflood() {
    heading fdflood "opens five files over and over, never closing one, until no descriptor is left"
    local pid status=0 fd_limit=${variant[fdflood_limit]} file=${variant[fdflood_file]}
    local cmdline="mkdir -p flood && cd flood && ulimit -n $fd_limit && exec fdflood"
    command_line "" "($cmdline) &"
    spawn pid sh -c "$cmdline"
    emit "" "[1] $pid"
    note "it prints nothing and never ends; the shell's job line gives its process id" \
        "(so does \$! after the &)"
    # shellcheck disable=SC2154 # ready_seconds: process.bash's
    wait_until "$ready_seconds" "fdflood filling its descriptor table" \
        fd_table_full "$pid" "$fd_limit"
    ask fdflood full
    observe "ls /proc/$pid/fd | wc -l"
    observed_in fdflood full '^ *([0-9]+)$'
    answer fdflood full
    note "the table is full: $fd_limit descriptors, 0 to $((fd_limit - 1)); every further open fails"
    ask fdflood each
    observe "ls -l /proc/$pid/fd | grep -c $file"
    observed_in fdflood each '^([0-9]+)$'
    answer fdflood each
    observe "ls -l flood"
    if look_usable; then
        observe "syslab-look files $pid"
        note "one row for each name: each of its descriptors is an open file description of" \
            "its own, a separate open"
    fi
    ask fdflood running
    observe "ps -o pid,stat,cmd -p $pid"
    local state
    stat_field state "$pid" 3
    if [[ $state == R ]]; then observed fdflood running yes; else observed fdflood running no; fi
    answer fdflood running
    note "still running (R): it keeps trying at full speed"
    command_line "second terminal" "kill $pid"
    kill -TERM "$pid"
    wait "$pid" || status=$?
    note "ended by the signal (exit status $status)"
}

show_makelinks() {
    heading makelinks "makes a symbolic link four.txt and a hard link five.txt to three.txt"
    typed makelinks
    ask makelinks inodes
    ask makelinks count
    observe "ls -li three.txt four.txt five.txt"
    observed_in makelinks count '^ *[0-9]+ +[-rwxsStT]{10}[.+]? +([0-9]+) .* three\.txt$'
    answer makelinks inodes
    answer makelinks count
    note "four.txt is a link to the name; five.txt shares three.txt's inode (link count 2)"
    ask makelinks again
    typed makelinks
    # both calls refused, as makelinks reports it, or else a name replaced
    if [[ ${commands[out]} == *"File exists"*"File exists"* ]]; then
        observed makelinks again no
    else
        observed makelinks again yes
    fi
    answer makelinks again
    note "the second time both names exist"
}
