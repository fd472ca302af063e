# What `cmake --install` puts in place, and the Debian package made of it.
#
# Two components: "quenlit" is everything a user or a package installs under the prefix;
# "autostart" is the system-wide autostart entry in /etc/xdg/autostart, which only the package (or
# an install to /usr as root) carries. `./dev install` installs the first and writes the per-user
# autostart entry through the program itself, which names the executable it was started as.
include(GNUInstallDirs)

# `cmake --install` and cpack install what is built; they do not build every benchmark first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(QUENLIT_DATA ${CMAKE_SOURCE_DIR}/data)
set(QUENLIT_MAINTAINER "The Quenlit developers <quenlit@users.noreply.github.com>")

install(TARGETS quenlit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT quenlit)

# KWin offers its fake input (paste-back) and window management only to a program whose installed
# desktop entry names its executable by its full path; the prefix is known only when installing
# (`cmake --install --prefix`, cpack), so the entry is written then, before it is copied.
set(QUENLIT_INSTALLED_ENTRY ${CMAKE_BINARY_DIR}/install/quenlit.desktop)
install(CODE "
    file(READ \"${QUENLIT_DATA}/quenlit.desktop\" entry)
    string(REPLACE \"\\nExec=quenlit\\n\" \"\\nExec=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quenlit\\n\" entry \"\${entry}\")
    file(WRITE \"${QUENLIT_INSTALLED_ENTRY}\" \"\${entry}\")
" COMPONENT quenlit)
install(FILES ${QUENLIT_INSTALLED_ENTRY}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT quenlit)
install(FILES ${QUENLIT_DATA}/icons/quenlit.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT quenlit)
foreach(size 16 32 48 64 128 256)
    install(FILES ${QUENLIT_DATA}/icons/quenlit-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME quenlit.png COMPONENT quenlit)
endforeach()

# Debian's man and lintian want the man page and the changelog compressed, without a time stamp
# in the gzip header; they are built with the program, so building only the `quenlit` target is
# enough to install. The changelog of this native package names the version it was built as.
string(TIMESTAMP QUENLIT_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${QUENLIT_DATA}/debian/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
set(QUENLIT_MANPAGE ${CMAKE_BINARY_DIR}/doc/quenlit.1.gz)
set(QUENLIT_CHANGELOG ${CMAKE_BINARY_DIR}/doc/changelog.gz)
foreach(pair "${QUENLIT_DATA}/quenlit.1|${QUENLIT_MANPAGE}" "${CMAKE_BINARY_DIR}/doc/changelog|${QUENLIT_CHANGELOG}")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 plain)
    list(GET pair 1 compressed)
    add_custom_command(OUTPUT ${compressed}
        COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${plain} ${compressed}
        DEPENDS ${plain}
        VERBATIM)
endforeach()
add_custom_target(quenlit_docs ALL DEPENDS ${QUENLIT_MANPAGE} ${QUENLIT_CHANGELOG})
add_dependencies(quenlit quenlit_docs)
install(FILES ${QUENLIT_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT quenlit)

install(FILES ${QUENLIT_DATA}/completions/quenlit.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quenlit COMPONENT quenlit)
install(FILES ${QUENLIT_DATA}/completions/_quenlit
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT quenlit)
install(FILES ${QUENLIT_DATA}/completions/quenlit.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d COMPONENT quenlit)

# The GNOME Shell extension's source, which `quenlit --install-gnome-extension` turns into the
# variant the user's GNOME loads; the build folder keeps a copy at the same place relative to the
# program, so a build installs its own.
set(QUENLIT_GNOME_EXTENSION ${QUENLIT_DATA}/gnome-shell/quenlit@quenlit.github.io)
file(GLOB_RECURSE QUENLIT_GNOME_EXTENSION_FILES CONFIGURE_DEPENDS ${QUENLIT_GNOME_EXTENSION}/*)
set(QUENLIT_GNOME_EXTENSION_STAMP ${CMAKE_BINARY_DIR}/share/quenlit/gnome-shell/.copied)
add_custom_command(OUTPUT ${QUENLIT_GNOME_EXTENSION_STAMP}
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${CMAKE_BINARY_DIR}/share/quenlit/gnome-shell
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${QUENLIT_GNOME_EXTENSION}
            ${CMAKE_BINARY_DIR}/share/quenlit/gnome-shell/quenlit@quenlit.github.io
    COMMAND ${CMAKE_COMMAND} -E touch ${QUENLIT_GNOME_EXTENSION_STAMP}
    DEPENDS ${QUENLIT_GNOME_EXTENSION_FILES}
    VERBATIM)
add_custom_target(quenlit_gnome_extension ALL DEPENDS ${QUENLIT_GNOME_EXTENSION_STAMP})
add_dependencies(quenlit quenlit_gnome_extension)
install(DIRECTORY ${QUENLIT_GNOME_EXTENSION}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quenlit/gnome-shell COMPONENT quenlit)

# Debian keeps the license as share/doc/PACKAGE/copyright, beside the changelog.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quenlit RENAME copyright COMPONENT quenlit)
install(FILES ${QUENLIT_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quenlit COMPONENT quenlit)

# The system-wide autostart folder is /etc/xdg/autostart whatever the prefix.
install(FILES ${QUENLIT_DATA}/quenlit-autostart.desktop
        DESTINATION /etc/xdg/autostart RENAME quenlit.desktop COMPONENT autostart)

# The Debian package: `cpack` in the release build folder (`./dev package`).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenlit)
set(CPACK_PACKAGE_VENDOR "The Quenlit developers")
set(CPACK_PACKAGE_CONTACT "${QUENLIT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keyboard launcher and clipboard history for X11 and Wayland")
set(CPACK_PACKAGE_DESCRIPTION "Quenlit runs in the background of an X11 desktop session, or of a Wayland
session on sway and other wlroots compositors. One hotkey opens a search over
your applications, Firefox profiles, folders, window-snapping commands and an
inline calculator; another opens a searchable clipboard history. Its
subcommands answer from the command line without a display.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcrypto and libsecret are loaded only when an earlier release's encrypted history is imported,
# so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3 | libssl3t64, libsecret-1-0")
# Qt draws on Wayland through a plugin, which no library dependency brings in.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zoxide, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QUENLIT_DATA}/debian/conffiles)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
include(CPack)
