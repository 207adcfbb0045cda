// Bundles for the autograders: a zip (stored entries, each with its CRC-32) holding the
// scripts the platform runs and syslab's source, built and installed where the grading runs.
//
//   gradescope    setup.sh, run_autograder, points (the teacher's to edit), syslab/...
//   prairielearn  Dockerfile (the grader's image), tests/run.sh (the entrypoint), info.json
//                 (the question's part that names them), points, syslab/...
#include "tool.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef SYSLAB_SOURCE_DIR
#define SYSLAB_SOURCE_DIR "."
#endif

namespace
{

// What the source carries: the build's files and the folders it reads; not the build trees,
// the tests or the history.
const char *const carried[] = {
    "CMakeLists.txt", "CMakePresets.json", "programs.list", "tour",          "README.md",
    "cmake",          "scheduling",        "locking",       "files",         "processes",
    "launchers",      "procinfo",          "lib",           "questions",     "man",
    "docs",           "packaging",         "tools",         ".clang-format", ".clang-tidy"};

constexpr char setup_sh[] = R"script(#!/bin/sh
# setup.sh: Gradescope runs this once, as root, on its Ubuntu base image (22.04): what syslab
# needs, then syslab built from the source in this bundle and installed in /usr/local.
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends cmake make g++ gcc libc6-dev strace procps \
    util-linux bsdutils gzip file
cd /autograder/source/syslab
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build --parallel "$(nproc)"
cmake --install build
)script";

constexpr char run_autograder[] = R"script(#!/bin/sh
# run_autograder: Gradescope runs this, as root, for each submission: the student's programs
# in /autograder/submission (PROGRAM.c, PROGRAM.cpp or an executable PROGRAM; those in a
# single folder of the upload are found there) graded into /autograder/results/results.json.
# The student's code runs as a uid of its own that cannot read /autograder/source.
set -u
chmod 700 /autograder/source
mkdir -p /autograder/results
submission=/autograder/submission
set -- "$submission"/*
if [ "$#" -eq 1 ] && [ -d "$1" ]; then
    submission=$1
fi
syslab-grade --format gradescope --points /autograder/source/points \
    --output /autograder/results/results.json "$submission"
status=$?
# 0: all passed, 1: some failed; either way the results are written. 2: nothing graded.
[ "$status" -le 2 ] && [ -s /autograder/results/results.json ]
)script";

constexpr char prairielearn_dockerfile[] =
    R"script(# The external grader's image for PrairieLearn: syslab built and installed on Debian 12.
#   docker build -t YOUR-ORGANISATION/syslab-grader:1 .
#   docker push YOUR-ORGANISATION/syslab-grader:1
# and name that image in info.json (externalGradingOptions.image).
FROM debian:bookworm-slim
RUN apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y \
        --no-install-recommends cmake make g++ gcc libc6-dev strace procps util-linux \
        bsdutils gzip file && rm -rf /var/lib/apt/lists/*
COPY syslab /usr/src/syslab
COPY points /usr/local/share/syslab/grade-points.course
RUN cmake -S /usr/src/syslab -B /usr/src/syslab/build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBUILD_TESTING=OFF && cmake --build /usr/src/syslab/build --parallel \
    && cmake --install /usr/src/syslab/build && rm -rf /usr/src/syslab/build
)script";

constexpr char prairielearn_run[] = R"script(#!/bin/sh
# run.sh: the entrypoint PrairieLearn's external grader runs in the image, as root: the files
# the student submitted, in /grade/student, graded into /grade/results/results.json.
set -u
mkdir -p /grade/results
syslab-grade --format prairielearn --points /usr/local/share/syslab/grade-points.course \
    --output /grade/results/results.json /grade/student
status=$?
[ "$status" -le 2 ] && [ -s /grade/results/results.json ]
)script";

constexpr char prairielearn_info[] = R"script({
  "gradingMethod": "External",
  "externalGradingOptions": {
    "enabled": true,
    "image": "YOUR-ORGANISATION/syslab-grader:1",
    "serverFilesCourse": [],
    "entrypoint": "/grade/tests/run.sh",
    "timeout": 120
  }
}
)script";

uint32_t crc_table[256];

void make_crc_table()
{
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
}

uint32_t crc32(const unsigned char *data, size_t length)
{
    uint32_t c = 0xFFFFFFFFU;
    for (size_t i = 0; i < length; ++i)
        c = crc_table[(c ^ data[i]) & 0xFFU] ^ (c >> 8);
    return c ^ 0xFFFFFFFFU;
}

// The zip being written: its entries' central directory records, kept until the end.
struct Zip {
    FILE *out;
    unsigned char *central;
    size_t central_length;
    size_t central_size;
    uint32_t offset;
    uint16_t entries;
    bool failed;
};

void put16(unsigned char *p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v & 0xFFU);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char *p, uint32_t v)
{
    put16(p, static_cast<uint16_t>(v & 0xFFFFU));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}

// One stored entry: `name` with its bytes; executable ones keep their x bits (Unix mode in
// the upper half of the external attributes, "made by" Unix).
void add_entry(Zip &z, const char *name, const unsigned char *data, size_t length, bool executable)
{
    const size_t name_length = strlen(name);
    const uint32_t crc = crc32(data, length);
    unsigned char local[30] = {};
    put32(local, 0x04034b50U);
    put16(local + 4, 10);
    put16(local + 8, 0);     // stored
    put16(local + 10, 0);    // time
    put16(local + 12, 0x21); // 1980-01-01
    put32(local + 14, crc);
    put32(local + 18, static_cast<uint32_t>(length));
    put32(local + 22, static_cast<uint32_t>(length));
    put16(local + 26, static_cast<uint16_t>(name_length));
    if (fwrite(local, 1, sizeof local, z.out) != sizeof local ||
        fwrite(name, 1, name_length, z.out) != name_length ||
        fwrite(data, 1, length, z.out) != length)
        z.failed = true;

    unsigned char central[46] = {};
    put32(central, 0x02014b50U);
    put16(central + 4, 0x0300 | 10); // made by Unix, version 1.0
    put16(central + 6, 10);
    put16(central + 12, 0);
    put16(central + 14, 0x21);
    put32(central + 16, crc);
    put32(central + 20, static_cast<uint32_t>(length));
    put32(central + 24, static_cast<uint32_t>(length));
    put16(central + 28, static_cast<uint16_t>(name_length));
    const uint32_t mode = 0100000U | (executable ? 0755U : 0644U);
    put32(central + 38, mode << 16);
    put32(central + 42, z.offset);
    if (z.central == nullptr || z.central_length + sizeof central + name_length > z.central_size) {
        z.central_size = (z.central_size + sizeof central + name_length) * 2;
        auto *grown = static_cast<unsigned char *>(realloc(z.central, z.central_size));
        if (grown == nullptr) {
            z.failed = true;
            return;
        }
        z.central = grown;
    }
    memcpy(z.central + z.central_length, central, sizeof central);
    // A zip's names have no terminating null.
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
    memcpy(z.central + z.central_length + sizeof central, name, name_length);
    z.central_length += sizeof central + name_length;
    z.offset += static_cast<uint32_t>(sizeof local + name_length + length);
    ++z.entries;
}

void add_text(Zip &z, const char *name, const char *text, bool executable)
{
    add_entry(z, name, reinterpret_cast<const unsigned char *>(text), strlen(text), executable);
}

bool add_file(Zip &z, const char *path, const char *name)
{
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {
    };
    if (fd == -1 || fstat(fd, &st) == -1 || !S_ISREG(st.st_mode)) {
        if (fd != -1)
            close(fd);
        return false;
    }
    auto *data = static_cast<unsigned char *>(malloc(static_cast<size_t>(st.st_size) + 1));
    size_t got = 0;
    while (data != nullptr && got < static_cast<size_t>(st.st_size)) {
        const ssize_t n = read(fd, data + got, static_cast<size_t>(st.st_size) - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (data == nullptr || got != static_cast<size_t>(st.st_size)) {
        free(data);
        return false;
    }
    add_entry(z, name, data, got, (st.st_mode & S_IXUSR) != 0);
    free(data);
    return true;
}

// A file or a folder of the source, under syslab/ in the zip, in a stable order.
void add_tree(Zip &z, const char *path, const char *name)
{
    struct stat st {
    };
    if (lstat(path, &st) == -1)
        return;
    if (S_ISREG(st.st_mode)) {
        if (!add_file(z, path, name))
            z.failed = true;
        return;
    }
    if (!S_ISDIR(st.st_mode))
        return;
    dirent **list = nullptr;
    const int n = scandir(path, &list, nullptr, alphasort);
    for (int i = 0; i < n; ++i) {
        if (list[i]->d_name[0] != '.') {
            char child[2048];
            char child_name[2048];
            snprintf(child, sizeof child, "%s/%s", path, list[i]->d_name);
            snprintf(child_name, sizeof child_name, "%s/%s", name, list[i]->d_name);
            add_tree(z, child, child_name);
        }
        free(list[i]);
    }
    free(list);
}

void finish(Zip &z)
{
    unsigned char end[22] = {};
    put32(end, 0x06054b50U);
    put16(end + 8, z.entries);
    put16(end + 10, z.entries);
    put32(end + 12, static_cast<uint32_t>(z.central_length));
    put32(end + 16, z.offset);
    if (fwrite(z.central, 1, z.central_length, z.out) != z.central_length ||
        fwrite(end, 1, sizeof end, z.out) != sizeof end)
        z.failed = true;
}

} // namespace

int write_bundle(const char *platform, const char *file)
{
    char probe[1024];
    snprintf(probe, sizeof probe, "%s/tools/grade/points", SYSLAB_SOURCE_DIR);
    if (access(probe, R_OK) != 0) {
        fprintf(stderr,
                "syslab-grade: --bundle carries syslab's source, and %s is not there: run it "
                "from a clone (./grade --bundle ...)\n",
                SYSLAB_SOURCE_DIR);
        return 2;
    }
    make_crc_table();
    Zip z{};
    // A new file only: a link or a file already there is left alone.
    const int fd = open(file, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    z.out = fd == -1 ? nullptr : fdopen(fd, "w");
    if (z.out == nullptr) {
        fprintf(stderr, "syslab-grade: %s: %s\n", file, strerror(errno));
        return 2;
    }
    const bool gradescope = strcmp(platform, "gradescope") == 0;
    if (gradescope) {
        add_text(z, "setup.sh", setup_sh, true);
        add_text(z, "run_autograder", run_autograder, true);
    } else {
        add_text(z, "Dockerfile", prairielearn_dockerfile, false);
        add_text(z, "tests/run.sh", prairielearn_run, true);
        add_text(z, "info.json", prairielearn_info, false);
    }
    add_file(z, probe, "points");
    for (const char *name : carried) {
        char path[1024];
        char inside[1024];
        snprintf(path, sizeof path, "%s/%s", SYSLAB_SOURCE_DIR, name);
        snprintf(inside, sizeof inside, "syslab/%s", name);
        add_tree(z, path, inside);
    }
    finish(z);
    free(z.central);
    if (fclose(z.out) != 0 || z.failed) {
        fprintf(stderr, "syslab-grade: writing %s failed\n", file);
        unlink(file);
        return 2;
    }
    printf("%s: the %s bundle, %u files\n", file, platform, static_cast<unsigned>(z.entries));
    return 0;
}
