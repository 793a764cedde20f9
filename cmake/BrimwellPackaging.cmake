# The Debian package: `cpack -G DEB` in a release build makes brimwell_<version>_<arch>.deb.
#
# Its dependencies are computed by dpkg-shlibdeps from the program's libraries; the ones it
# cannot see are named here: Qt's SVG image and icon plugins, which Qt loads at run time (the
# tray icon is an SVG; Debian 12 ships them in libqt6svg6). The X11 platform comes with
# libqt6gui6. libcurl is loaded only when usage events are sent to a collection host, and Qt's
# Wayland platform only serves Wayland sessions without XWayland: both are recommended.

# The package's file list, for the checks in tests/packaging: the fixed files, then every
# private library under its target's file names.
get_property(brimwell_private_libraries GLOBAL PROPERTY BRIMWELL_PRIVATE_LIBRARIES)
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/package-files.txt brimwell_package_files
     REGEX "^[^#]")
foreach(library IN LISTS brimwell_private_libraries)
  list(APPEND brimwell_package_files
       "${BRIMWELL_INSTALL_PRIVATE_LIBDIR}/$<TARGET_SONAME_FILE_NAME:${library}>"
       "${BRIMWELL_INSTALL_PRIVATE_LIBDIR}/$<TARGET_FILE_NAME:${library}>")
endforeach()
list(JOIN brimwell_package_files "\n" brimwell_package_files)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/package-files.txt
     CONTENT "${brimwell_package_files}\n")

# Everything the package holds, so a packaging run builds no tests or benchmarks.
add_custom_target(package_contents DEPENDS brimwell brimwell_data ${brimwell_private_libraries})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brimwell)
set(CPACK_PACKAGE_VENDOR "The Brimwell developers")
set(CPACK_PACKAGE_CONTACT "The Brimwell developers <maintainers@brimwell.app>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://brimwell.app/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "memory use at a glance, and memory freed on request")
set(CPACK_PACKAGE_DESCRIPTION [=[
Brimwell puts an icon into the system tray of the desktop's panel. A click
on it opens a small popover with a pie chart of wired, active, inactive and
free memory, the amount of free memory and a Clean Memory button. A clean
runs in the background, never takes more than the kernel can give without
swapping or more than the session's memory limits allow, and a desktop
notification tells how much memory it freed.
.
The same program prints the memory figures, the biggest processes and the
result of a clean on the command line, as text or JSON.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The default component only: an autostart entry (BRIMWELL_INSTALL_AUTOSTART) is for installs by
# hand; a packaged program is started at login from its own preferences.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
# Qt's own texts (standard buttons, text field menus) in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcurl4, qt6-wayland, qt6-translations-l10n")
include(CPack)
