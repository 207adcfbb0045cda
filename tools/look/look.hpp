// syslab-look: pictures of what the kernel holds for processes and files, drawn from /proc
// and the kernel's own calls in 80 columns. Each picture is drawn into a page first, then
// written at once (or compared with the last one, when watching).
#pragma once

#include <cstddef>
#include <sys/types.h>

constexpr int page_width = 80;
constexpr size_t page_size = 1 << 17;
// The sizes of the texts read and made: a path under /proc, a short text (a name, a number, a
// few words), a line, and a small file of /proc read whole.
constexpr size_t path_size = 96;
constexpr size_t word_size = 64;
constexpr size_t line_size = 512;
constexpr size_t text_size = 16384;
constexpr int decimal = 10;

// page: one drawing, its text and where the current line stands.
struct page {
    char text[page_size];
    size_t length;
    int column;    // columns used on the current line
    bool colour;   // ANSI colours (a terminal, NO_COLOR unset)
    bool utf8;     // box-drawing glyphs; otherwise ASCII
    bool watching; // --watch: a process or file that goes away is drawn, not an error
};

// The colours of the pictures: each a meaning, not a hue.
enum ink {
    ink_plain,
    ink_title,
    ink_asked,
    ink_zombie,
    ink_held,
    ink_waits,
    ink_shared,
    ink_data,
    ink_dim
};

void put(page *pg, const char *text);
void putf(page *pg, const char *format, ...) __attribute__((format(printf, 2, 3)));
void put_glyph(page *pg, const char *utf8, const char *ascii, int times);
void put_name(page *pg, const char *name, int width, bool keep_end);
void pad_to(page *pg, int column);
void paint(page *pg, ink colour);
void end_line(page *pg);
int name_width(const char *name, bool utf8);

// problem: a process or file that cannot be drawn: an error line on standard error, or, when
// watching, a line of the picture.
void problem(page *pg, const char *what, int error);

// read_text: the whole of PATH (at most SIZE - 1 bytes) into TEXT, ended by a NUL; its length,
// or -1 with errno set.
ssize_t read_text(const char *path, char *text, size_t size);
// number: a decimal process id from TEXT, or 0 when it is not one.
pid_t number(const char *text);
// command_of: the command of PID as ps shows it (arguments, or [name] where there are none),
// into TEXT; false when the process is gone.
bool command_of(pid_t pid, char *text, size_t size);

int draw_tree(page *pg, const pid_t *pids, int count);
int draw_files(page *pg, const pid_t *pids, int count);
int draw_locks(page *pg, const char *file);
int draw_holes(page *pg, const char *file);
