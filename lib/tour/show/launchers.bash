# shellcheck shell=bash
# The launchers folder: execvlist, execlelist, execlplist, runother.

# What the tour knows of each program here (see fact in the tour).
# shellcheck disable=SC2034 # read by lib/tour/programs.bash and lab.bash
declare -gA fact
fact[execvlist.traced]=yes
fact[execlelist.traced]=yes
fact[execlplist.traced]=yes
fact[runother.traced]=yes

# The files each program here needs in its lab (lib/tour/lab.bash writes them).
seeds_execvlist() {
    lab_file 644 lsdemo.txt $'A file to list.\n'
}

seeds_execlelist() {
    seeds_execvlist
}

seeds_execlplist() {
    seeds_execvlist
}

# childprog_out stands in for a program of the student's own.
# shellcheck disable=SC2016 # childprog_out's own $0, $# and $*
seeds_runother() {
    lab_file 755 childprog/
    lab_file 755 childprog/childprog_out '#!/bin/sh
# Stands in for a program of your own: prints the arguments it was started with.
echo "childprog_out started as $0, with $# argument(s): $*"
'
}

show_launcher() { # PROGRAM CALL SENTENCE KEY...
    heading "$1" "$3"
    typed "$1"
    local key
    if strace_usable; then
        for key in "${@:4}"; do ask "$1" "$key"; done
        traced "strace -qq -e trace=execve $1 >/dev/null"
        [[ $1 != execlelist ]] || observed_in execlelist environment '/\* ([0-9]+) vars \*/'
        for key in "${@:4}"; do answer "$1" "$key"; done
        note "one process, two programs: $2 replaced $1 with ls"
    else
        for key in "${@:4}"; do
            left_out "$1" "$key" "it needs strace's view, and there is no usable strace"
        done
    fi
}

show_execvlist() {
    show_launcher execvlist execv \
        "a banner, then /bin/ls -Rl lsdemo.txt through execv, with its own environment" replaced after
}

show_execlelist() {
    show_launcher execlelist execle \
        "a banner, then /bin/ls -Rl lsdemo.txt through execle, which is handed an environment" \
        environment
    strace_usable && note "ls got 0 environment variables"
    return 0
}

show_execlplist() {
    heading execlplist "a banner, then /bin/ls -Rl lsdemo.txt through execlp, with its own environment"
    ask execlplist path
    typed execlplist
    if strace_usable; then
        traced "strace -qq -e trace=execve execlplist >/dev/null"
        # shellcheck disable=SC2154 # commands: commands.bash's state
        if [[ ${commands[out]} == *ENOENT* ]]; then
            observed execlplist path yes
        else
            observed execlplist path no
        fi
    fi
    answer execlplist path
}

show_runother() {
    heading runother "calls execl on ./childprog/childprog_out with the argument childprog.c"
    observe "cat childprog/childprog_out"
    ask runother script
    ask runother status
    typed runother
    if strace_usable; then
        traced "strace -qq -e trace=execve runother >/dev/null"
    fi
    answer runother script
    answer runother status
}
