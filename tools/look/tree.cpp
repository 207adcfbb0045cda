// look tree PID...: the processes around PIDs, from the first process (the one whose parent is
// 0: process 1, or a container's first) down through their ancestors to them and their
// children, with each one's id, state and command.
#include "look.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace
{

constexpr int most_nodes = 4096;
constexpr int most_depth = 128;
constexpr int most_children = 12; // of one process, drawn; the rest counted

struct node {
    pid_t pid;
    pid_t ppid;
    char state;
    bool asked;
    int parent; // index in the forest, or -1
};

struct forest {
    node nodes[most_nodes];
    int count;
};

// read_node: PID's state and parent from /proc/PID/stat; false with errno when gone.
bool read_node(pid_t pid, node *into)
{
    char path[path_size];
    char text[line_size];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    if (read_text(path, text, sizeof text) < 0)
        return false;
    // "pid (name) state ppid ...": the name may hold spaces and parentheses itself.
    const char *end = strrchr(text, ')');
    if (end == nullptr || end[1] != ' ' || end[2] == '\0' || end[3] != ' ') {
        errno = ESRCH;
        return false;
    }
    char *after = nullptr;
    long ppid = strtol(end + 4, &after, decimal);
    if (after == end + 4) {
        errno = ESRCH;
        return false;
    }
    *into = node{pid, static_cast<pid_t>(ppid), end[2], false, -1};
    return true;
}

int find(const forest *trees, pid_t pid)
{
    for (int i = 0; i < trees->count; i++)
        if (trees->nodes[i].pid == pid)
            return i;
    return -1;
}

// add: PID into the forest, read from /proc unless there already; its index, or -1.
int add(forest *trees, pid_t pid)
{
    int at = find(trees, pid);
    if (at >= 0 || trees->count == most_nodes)
        return at;
    if (!read_node(pid, &trees->nodes[trees->count]))
        return -1;
    return trees->count++;
}

// add_children: the children of PID, as the kernel lists them for each of its threads; false
// when the kernel has no such lists (then every process is looked at instead).
bool add_children(forest *trees, pid_t pid)
{
    char path[path_size];
    snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid));
    DIR *tasks = opendir(path);
    if (tasks == nullptr)
        return true; // gone since: no children to draw
    bool listed = false;
    while (const dirent *task = readdir(tasks)) {
        pid_t tid = number(task->d_name);
        if (tid == 0)
            continue;
        char list_path[path_size];
        char text[text_size];
        snprintf(list_path, sizeof list_path, "/proc/%d/task/%d/children", static_cast<int>(pid),
                 static_cast<int>(tid));
        if (read_text(list_path, text, sizeof text) < 0)
            continue;
        listed = true;
        char *rest = text;
        while (char *word = strtok_r(rest, " \n", &rest))
            add(trees, number(word));
    }
    closedir(tasks);
    return listed;
}

void add_children_by_scan(forest *trees, pid_t pid)
{
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return;
    while (const dirent *entry = readdir(proc)) {
        pid_t other = number(entry->d_name);
        node seen{};
        if (other != 0 && find(trees, other) < 0 && read_node(other, &seen) && seen.ppid == pid &&
            trees->count < most_nodes)
            trees->nodes[trees->count++] = seen;
    }
    closedir(proc);
}

int by_pid(const void *a, const void *b)
{
    pid_t left = static_cast<const node *>(a)->pid;
    pid_t right = static_cast<const node *>(b)->pid;
    return (left > right) - (left < right);
}

const char *state_word(char state)
{
    switch (state) {
    case 'R':
        return "running";
    case 'S':
        return "sleeping";
    case 'D':
        return "disk-wait";
    case 'T':
        return "stopped";
    case 't':
        return "traced";
    case 'Z':
        return "zombie";
    case 'X':
        return "dead";
    case 'I':
        return "idle";
    default:
        return "?";
    }
}

struct drawing {
    page *pg;
    const forest *trees;
    bool last[most_depth];
};

void draw_node(drawing *draw_at, int index, int depth)
{
    page *pg = draw_at->pg;
    const node &n = draw_at->trees->nodes[index];
    for (int level = 1; level < depth; level++)
        put(pg, draw_at->last[level] ? "   " : (pg->utf8 ? "\u2502  " : "|  "));
    if (depth > 0)
        put(pg, draw_at->last[depth] ? (pg->utf8 ? "\u2514\u2500 " : "`- ")
                                     : (pg->utf8 ? "\u251c\u2500 " : "|- "));
    paint(pg, n.asked ? ink_asked : ink_plain);
    putf(pg, "%d ", static_cast<int>(n.pid));
    paint(pg, n.state == 'Z' ? ink_zombie : (n.asked ? ink_asked : ink_plain));
    put(pg, state_word(n.state));
    paint(pg, n.asked ? ink_asked : ink_plain);
    put(pg, " ");
    char command[line_size];
    if (!command_of(n.pid, command, sizeof command))
        snprintf(command, sizeof command, "(gone)");
    if (n.state == 'Z')
        strncat(command, " <defunct>", sizeof command - strlen(command) - 1);
    put_name(pg, command, page_width - pg->column - (n.asked ? 2 : 0), false);
    if (n.asked)
        put(pg, pg->utf8 ? " \u25c0" : " <");
    end_line(pg);

    int children[most_children];
    int count = 0;
    for (int i = 0; i < draw_at->trees->count; i++)
        if (draw_at->trees->nodes[i].parent == index) {
            if (count < most_children)
                children[count] = i;
            count++;
        }
    int shown = count > most_children ? most_children - 1 : count;
    for (int i = 0; i < shown && depth + 1 < most_depth; i++) {
        draw_at->last[depth + 1] = i == count - 1;
        draw_node(draw_at, children[i], depth + 1);
    }
    if (shown < count) {
        for (int level = 1; level <= depth; level++)
            put(pg, draw_at->last[level] ? "   " : (pg->utf8 ? "\u2502  " : "|  "));
        paint(pg, ink_dim);
        putf(pg, "%s and %d more", pg->utf8 ? "\u2514\u2500 \u2026" : "`- ...", count - shown);
        end_line(pg);
    }
}

} // namespace

int draw_tree(page *pg, const pid_t *pids, int count)
{
    static forest trees;
    trees.count = 0;
    int status = 0;
    char asked[line_size] = "";
    for (int i = 0; i < count; i++) {
        int at = add(&trees, pids[i]);
        if (at < 0) {
            char what[word_size];
            snprintf(what, sizeof what, "no process %d", static_cast<int>(pids[i]));
            problem(pg, what, 0);
            status = 1;
            continue;
        }
        trees.nodes[at].asked = true;
        size_t used = strlen(asked);
        snprintf(asked + used, sizeof asked - used, "%s%d", used > 0 ? " " : "",
                 static_cast<int>(pids[i]));
    }
    int asked_count = trees.count;
    if (asked_count == 0)
        return 1;
    for (int i = 0; i < asked_count; i++) {
        if (!add_children(&trees, trees.nodes[i].pid))
            add_children_by_scan(&trees, trees.nodes[i].pid);
        // Its ancestors up to the first process, whose parent is 0.
        for (pid_t up = trees.nodes[i].ppid; up > 0;) {
            int at = add(&trees, up);
            if (at < 0)
                break;
            up = trees.nodes[at].ppid;
        }
    }
    qsort(trees.nodes, static_cast<size_t>(trees.count), sizeof trees.nodes[0], by_pid);
    for (int i = 0; i < trees.count; i++) {
        node key{};
        key.pid = trees.nodes[i].ppid;
        const void *parent = bsearch(&key, trees.nodes, static_cast<size_t>(trees.count),
                                     sizeof trees.nodes[0], by_pid);
        trees.nodes[i].parent =
            parent == nullptr ? -1
                              : static_cast<int>(static_cast<const node *>(parent) - trees.nodes);
    }

    paint(pg, ink_title);
    put(pg, "processes around ");
    constexpr int after_pids = 36; // " (<), parents above, children below"
    put_name(pg, asked, page_width - pg->column - after_pids, false);
    put(pg, pg->utf8 ? " (\u25c0), parents above, children below"
                     : " (<), parents above, children below");
    end_line(pg);
    static drawing draw_at;
    draw_at.pg = pg;
    draw_at.trees = &trees;
    for (int i = 0; i < trees.count; i++)
        if (trees.nodes[i].parent < 0)
            draw_node(&draw_at, i, 0);
    return status;
}
