# shellcheck shell=bash
# What the tour can see of this machine, for the answers that depend on it: the tour's
# capabilities and limits (its programs inherit them), autogroup, a virtual machine,
# page-table isolation and the file system a directory lies on. Read with builtins from /proc
# and /sys.

# has_capability NUMBER: whether the tour's effective capabilities hold capability NUMBER
# (CAP_SYS_NICE is 23).
has_capability() {
    local key value
    while read -r key value; do
        [[ $key == CapEff: ]] && (((16#$value >> $1) & 1)) && return 0
    done </proc/$$/status
    return 1
}

# who_asks VAR: who runs the programs, as it matters for the scheduler: "root with
# CAP_SYS_NICE", "root, but without CAP_SYS_NICE (as in a container that drops it)", or "an
# ordinary user, without CAP_SYS_NICE".
who_asks() {
    if has_capability 23; then
        printf -v "$1" '%s' "$( ((EUID == 0)) && echo root || echo "a user") with CAP_SYS_NICE"
    elif ((EUID == 0)); then
        printf -v "$1" '%s' "root, but without CAP_SYS_NICE (as in a container that drops it)"
    else
        printf -v "$1" '%s' "an ordinary user, without CAP_SYS_NICE"
    fi
}

# autogroup_said VAR: what autogroup means here for two terminals and their nice values.
autogroup_said() {
    local autogroup_enabled=""
    { read -r autogroup_enabled </proc/sys/kernel/sched_autogroup_enabled; } 2>/dev/null || true
    case $autogroup_enabled in
    1) printf -v "$1" '%s' "autogroup is on here (/proc/sys/kernel/sched_autogroup_enabled is 1): \
the programs of two terminals are two sessions, which share a busy processor equally whatever \
their nice values; nice weighs processes within one session" ;;
    0) printf -v "$1" '%s' "autogroup is off here: nice weighs every process against all the \
others" ;;
    *) printf -v "$1" '%s' "this kernel has no autogroup: nice weighs every process against all \
the others" ;;
    esac
}

# processor_said VAR: what the processor and the kernel make one getpid cost: a virtual
# machine (the hypervisor flag) and page-table isolation (PTI) each make it dearer.
processor_said() {
    local processor_key processor_line processor_flags="" processor_meltdown="" processor_text
    while IFS=: read -r processor_key processor_line; do
        [[ $processor_key == flags* ]] && processor_flags=" $processor_line " && break
    done </proc/cpuinfo
    { read -r processor_meltdown </sys/devices/system/cpu/vulnerabilities/meltdown; } 2>/dev/null || true
    if [[ $processor_flags == *" hypervisor "* ]]; then
        processor_text="this is a virtual machine (the processor shows the hypervisor flag)"
    else
        processor_text="this looks like a physical machine (no hypervisor flag)"
    fi
    if [[ $processor_meltdown == *PTI* || $processor_flags == *" pti "* ]]; then
        processor_text+=", with page-table isolation on, which makes every entry into the kernel dearer"
    else
        processor_text+=", without page-table isolation"
    fi
    printf -v "$1" '%s' "$processor_text"
}

# file_system_of VAR DIR: the type of the file system DIR (absolute, physical) lies on, as the
# mount table names it (ext4, tmpfs, btrfs, overlay): the mount whose mount point is the
# longest that leads to DIR, the last mounted of those on one point. Not stat -f, which names
# the magic number that ext2, ext3 and ext4 share.
file_system_of() {
    local -n mount_into=$1
    local mount_line mount_fields mount_point mount_best=-1 mount_i
    mount_into=unknown
    while IFS= read -r mount_line; do
        split mount_fields "$mount_line"
        mount_point=${mount_fields[4]//\\040/ }
        [[ $mount_point == / || $2/ == "$mount_point"/* ]] || continue
        ((${#mount_point} >= mount_best)) || continue
        for ((mount_i = 6; mount_i < ${#mount_fields[@]} - 1; mount_i++)); do
            [[ ${mount_fields[mount_i]} != - ]] || {
                mount_best=${#mount_point}
                # shellcheck disable=SC2034 # mount_into: the caller's variable, through this nameref
                mount_into=${mount_fields[mount_i + 1]}
                break
            }
        done
    done </proc/self/mountinfo
}
