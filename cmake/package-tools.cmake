# Read by cpack before it builds the Debian package. CPack needs `file` to tell the programs
# from the other files, and dpkg-shlibdeps (dpkg-dev) to compute the libraries they depend on;
# without the first it stops with a terse message, without the second it leaves Depends out
# without a word. Both are checked here, so that either stops the build with what to install.
find_program(SYSLAB_FILE_UTILITY file)
find_program(SYSLAB_DPKG_SHLIBDEPS dpkg-shlibdeps)
set(missing "")
if(NOT SYSLAB_FILE_UTILITY)
  list(APPEND missing file)
endif()
if(NOT SYSLAB_DPKG_SHLIBDEPS)
  list(APPEND missing dpkg-dev)
endif()
if(missing)
  list(JOIN missing " " missing)
  message(FATAL_ERROR "The Debian package needs ${missing}: "
    "apt-get install -y --no-install-recommends ${missing}")
endif()
