# The hardening the Debian packages get from hardening=+all, for every build
# from source: stack protector (strong), _FORTIFY_SOURCE=2 where optimised,
# full RELRO (relro and now), position-independent executables.
#
# _FORTIFY_SOURCE needs the optimiser (at -O0 glibc warns and does nothing)
# and is left out beside the sanitizers, which intercept the same calls. A
# level already given in the flags (dpkg-buildflags puts it in CPPFLAGS) is
# kept as it is, so that it is never defined twice.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

add_compile_options(-fstack-protector-strong)
add_link_options(LINKER:-z,relro LINKER:-z,now)

set(koru_given_flags "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS}")
if(DEFINED ENV{CPPFLAGS})
  string(APPEND koru_given_flags " $ENV{CPPFLAGS}")
endif()
if(NOT KORU_SANITIZE AND NOT KORU_TSAN AND NOT koru_given_flags MATCHES "_FORTIFY_SOURCE")
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
