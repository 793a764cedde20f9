# Where the install tree keeps Brimwell's private libraries, and how they get there.
#
# The chart library serves this program alone: it goes to a folder of its own under the
# library folder, without the unversioned development link or headers, and the program finds
# it through its RUNPATH ($ORIGIN-relative, so any prefix works). On a multiarch system the
# folder is the multiarch one whatever the prefix, so a package made from any build puts it
# where Debian puts a package's private libraries (/usr/lib/<triplet>/brimwell).
if(CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_LIBDIR STREQUAL "lib")
  set(private_libdir lib/${CMAKE_LIBRARY_ARCHITECTURE}/brimwell)
else()
  set(private_libdir ${CMAKE_INSTALL_LIBDIR}/brimwell)
endif()
set(BRIMWELL_INSTALL_PRIVATE_LIBDIR ${private_libdir} CACHE STRING
    "Folder of Brimwell's private libraries, relative to the install prefix")
unset(private_libdir)

file(RELATIVE_PATH brimwell_bin_to_private /prefix/${CMAKE_INSTALL_BINDIR}
     /prefix/${BRIMWELL_INSTALL_PRIVATE_LIBDIR})
set(CMAKE_INSTALL_RPATH "$ORIGIN/${brimwell_bin_to_private}")

# A stripped install (cpack, `cmake --install --strip`) also drops the compiler's name and
# version, which strip keeps and no user needs.
function(_brimwell_strip_comments installed_file)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                              --remove-section=.note \"\$ENV{DESTDIR}${installed_file}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endfunction()

# Installs the program.
function(brimwell_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  _brimwell_strip_comments(\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>)
endfunction()

# Installs a shared library of the project into the private folder. The packaging reads the
# list of them (global property BRIMWELL_PRIVATE_LIBRARIES) for the package's file list.
function(brimwell_install_private_library target)
  # It needs nothing of its own folder; only the program looks there.
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "")
  install(TARGETS ${target} LIBRARY DESTINATION ${BRIMWELL_INSTALL_PRIVATE_LIBDIR} NAMELINK_SKIP)
  _brimwell_strip_comments(
    \${CMAKE_INSTALL_PREFIX}/${BRIMWELL_INSTALL_PRIVATE_LIBDIR}/$<TARGET_FILE_NAME:${target}>)
  set_property(GLOBAL APPEND PROPERTY BRIMWELL_PRIVATE_LIBRARIES ${target})
endfunction()
