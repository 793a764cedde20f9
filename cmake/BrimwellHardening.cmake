# The hardening Debian builds its packages with (dpkg-buildflags): fortified libc calls, stack
# protection, and a read-only relocation table bound at start. Only in optimised builds without
# sanitizers: fortification needs the optimiser, and the sanitizers bring their own checks.
option(BRIMWELL_HARDENING "Build optimised binaries with Debian's hardening flags" ON)
if(BRIMWELL_HARDENING AND NOT BRIMWELL_SANITIZE AND NOT BRIMWELL_FUZZ)
  set(optimised $<NOT:$<CONFIG:Debug>>)
  add_compile_options($<${optimised}:-D_FORTIFY_SOURCE=2> $<${optimised}:-fstack-protector-strong>
                      $<${optimised}:-fstack-clash-protection>)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|amd64|i.86")
    add_compile_options($<${optimised}:-fcf-protection>)
  endif()
  add_link_options($<${optimised}:LINKER:-z,relro> $<${optimised}:LINKER:-z,now>)
  unset(optimised)
endif()
