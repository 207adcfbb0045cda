// The page a picture is drawn on: text counted in columns, names from the system made safe to
// print (no control characters reach the terminal), colours only where asked for.
#include "look.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr size_t name_size = 1024;

// unit_length: the length of the printable character at TEXT (a byte, or a whole UTF-8
// sequence when UTF8), or 0 when it is not one: a control character, a stray byte, a C1
// control, or any byte above 127 without UTF-8.
size_t unit_length(const unsigned char *text, bool utf8)
{
    constexpr unsigned char space = 0x20;
    constexpr unsigned char del = 0x7f;
    if (text[0] < space || text[0] == del)
        return 0;
    if (text[0] < del)
        return 1;
    if (!utf8)
        return 0;
    constexpr unsigned char lead2 = 0xc2;
    constexpr unsigned char lead3 = 0xe0;
    constexpr unsigned char lead4 = 0xf0;
    constexpr unsigned char past = 0xf5;
    constexpr unsigned char c1_end = 0xa0; // U+0080 to U+009F: C2 80 to C2 9F
    size_t length = 0;
    if (text[0] >= lead2 && text[0] < lead3)
        length = 2;
    else if (text[0] >= lead3 && text[0] < lead4)
        length = 3;
    else if (text[0] >= lead4 && text[0] < past)
        length = 4;
    else
        return 0;
    for (size_t i = 1; i < length; i++) {
        constexpr unsigned char mask = 0xc0;
        constexpr unsigned char follow = 0x80;
        if ((text[i] & mask) != follow)
            return 0;
    }
    if (length == 2 && text[0] == lead2 && text[1] < c1_end)
        return 0;
    return length;
}

// safe_name: NAME with every unprintable byte as '?', into SAFE; its width in columns.
int safe_name(const char *name, char *safe, size_t size, bool utf8)
{
    const auto *text = reinterpret_cast<const unsigned char *>(name);
    size_t used = 0;
    int width = 0;
    constexpr size_t longest_unit = 4; // of UTF-8, and room for the NUL
    while (*text != 0 && used + longest_unit < size) {
        size_t length = unit_length(text, utf8);
        if (length == 0) {
            safe[used++] = '?';
            text++;
        } else {
            memcpy(safe + used, text, length);
            used += length;
            text += length;
        }
        width++;
    }
    safe[used] = '\0';
    return width;
}

// skip_units: the byte offset of the COUNT-th character of SAFE (printable already).
size_t skip_units(const char *safe, int count)
{
    constexpr unsigned char mask = 0xc0;
    constexpr unsigned char follow = 0x80;
    size_t offset = 0;
    for (int seen = 0; safe[offset] != '\0'; offset++) {
        if ((static_cast<unsigned char>(safe[offset]) & mask) == follow)
            continue;
        if (seen++ == count)
            return offset;
    }
    return offset;
}

void append(page *pg, const char *text, size_t length)
{
    if (pg->length + length >= page_size)
        length = page_size - 1 - pg->length;
    memcpy(pg->text + pg->length, text, length);
    pg->length += length;
    pg->text[pg->length] = '\0';
}

} // namespace

void put(page *pg, const char *text)
{
    constexpr unsigned char mask = 0xc0;
    constexpr unsigned char follow = 0x80;
    size_t length = strlen(text);
    for (size_t i = 0; i < length; i++)
        if ((static_cast<unsigned char>(text[i]) & mask) != follow)
            pg->column++;
    append(pg, text, length);
}

void putf(page *pg, const char *format, ...)
{
    char text[name_size];
    va_list arguments;
    va_start(arguments, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start has just begun it
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    put(pg, text);
}

void put_glyph(page *pg, const char *utf8, const char *ascii, int times)
{
    for (int i = 0; i < times; i++)
        put(pg, pg->utf8 ? utf8 : ascii);
}

int name_width(const char *name, bool utf8)
{
    char safe[name_size];
    return safe_name(name, safe, sizeof safe, utf8);
}

void put_name(page *pg, const char *name, int width, bool keep_end)
{
    char safe[name_size] = "";
    int have = safe_name(name, safe, sizeof safe, pg->utf8);
    if (width < 0)
        width = page_width - pg->column;
    if (width <= 0)
        return;
    if (have <= width) {
        put(pg, safe);
        return;
    }
    const char *ellipsis = pg->utf8 ? "\u2026" : "~";
    if (keep_end) {
        put(pg, ellipsis);
        put(pg, safe + skip_units(safe, have - width + 1));
    } else {
        safe[skip_units(safe, width - 1)] = '\0';
        put(pg, safe);
        put(pg, ellipsis);
    }
}

void pad_to(page *pg, int column)
{
    while (pg->column < column)
        put(pg, " ");
}

void paint(page *pg, ink colour)
{
    if (!pg->colour)
        return;
    static constexpr const char *codes[] = {
        "\033[0m",    // plain
        "\033[1m",    // a title
        "\033[1;36m", // what was asked for
        "\033[1;31m", // a zombie
        "\033[32m",   // a lock held
        "\033[33m",   // a lock waited for
        "\033[1;32m", // one open file description shared
        "\033[36m",   // data
        "\033[2m",    // what matters less
    };
    const char *code = codes[colour];
    append(pg, code, strlen(code));
}

void end_line(page *pg)
{
    paint(pg, ink_plain);
    append(pg, "\n", 1);
    pg->column = 0;
}

void problem(page *pg, const char *what, int error)
{
    if (pg->watching) {
        paint(pg, ink_dim);
        put_name(pg, what, -1, false);
        if (error != 0) {
            put(pg, ": ");
            put(pg, strerror(error));
        }
        end_line(pg);
        return;
    }
    if (error != 0)
        fprintf(stderr, "syslab-look: %s: %s\n", what, strerror(error));
    else
        fprintf(stderr, "syslab-look: %s\n", what);
}

ssize_t read_text(const char *path, char *text, size_t size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    size_t used = 0;
    while (used + 1 < size) {
        ssize_t got = read(fd, text + used, size - 1 - used);
        if (got < 0) {
            int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
        if (got == 0)
            break;
        used += static_cast<size_t>(got);
    }
    close(fd);
    text[used] = '\0';
    return static_cast<ssize_t>(used);
}

pid_t number(const char *text)
{
    constexpr long most = 1L << 22; // the kernel's largest pid_max
    constexpr int base = 10;
    long value = 0;
    if (*text == '\0')
        return 0;
    for (; *text != '\0'; text++) {
        if (*text < '0' || *text > '9')
            return 0;
        value = value * base + (*text - '0');
        if (value > most)
            return 0;
    }
    return static_cast<pid_t>(value);
}

bool command_of(pid_t pid, char *text, size_t size)
{
    char path[path_size];
    snprintf(path, sizeof path, "/proc/%d/cmdline", static_cast<int>(pid));
    ssize_t length = read_text(path, text, size);
    if (length < 0)
        return false;
    while (length > 0 && text[length - 1] == '\0')
        length--;
    for (ssize_t i = 0; i < length; i++)
        if (text[i] == '\0')
            text[i] = ' ';
    text[length] = '\0';
    if (length > 0)
        return true;
    // No arguments: a kernel thread or a zombie, shown by its name as ps does.
    char name[word_size];
    snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    ssize_t got = read_text(path, name, sizeof name);
    if (got < 0)
        return false;
    if (got > 0 && name[got - 1] == '\n')
        name[got - 1] = '\0';
    snprintf(text, size, "[%s]", name);
    return true;
}
