# syslab in a container: the programs, syslab-tour and the manual pages installed, the sources
# in /usr/src/syslab for students to read (and to build and test as they are), a user student.
#
#   docker build -t syslab .                  (podman reads this file too)
#   docker run --rm -it syslab                the tour, a page at a time, then a shell
#   docker run --rm -it --init --cap-add SYS_NICE syslab
#                                             orphans and zombies collected as on a machine,
#                                             real-time policies and lower nice values for
#                                             root (podman adds the capability for student too)
#
# BASE names another Debian image (docker build --build-arg BASE=debian:trixie-slim .).
ARG BASE=debian:bookworm-slim
FROM ${BASE}

# The slim images leave out every package's manual pages; here they are wanted (man ps,
# man 2 fork), and groff's macros with them, which man needs to lay a page out. jq and cmark
# let the suite in the image read the grader's JSON results and render the Markdown sheet.
RUN sed -i -e '\|/usr/share/man|d' -e '\|/usr/share/groff|d' -e '\|/var/cache/man|d' \
        /etc/dpkg/dpkg.cfg.d/* 2>/dev/null || true; \
    apt-get update \
    && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        cmake make g++ bats util-linux bsdutils procps strace man-db manpages manpages-dev less \
        jq cmark \
    && rm -rf /var/lib/apt/lists/*

COPY . /usr/src/syslab
RUN chmod -R go-w,a+rX /usr/src/syslab \
    && cmake -S /usr/src/syslab -B /tmp/syslab-build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBUILD_TESTING=OFF \
    && cmake --build /tmp/syslab-build -j "$(nproc)" \
    && cmake --install /tmp/syslab-build \
    && rm -rf /tmp/syslab-build \
    && mandb -q \
    && useradd --create-home --shell /bin/bash student

USER student
WORKDIR /home/student
# The tour first, as a student meets syslab; then a shell where the programs, man and the
# sources are at hand (docker run ... bash skips the tour).
CMD ["/bin/bash", "-c", "syslab-tour --step; exec bash -l"]
