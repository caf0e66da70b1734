# A desktop user's install on Linux: the desktop entry, which starts the app with a link handed to
# it (%u) and declares no type it opens, the app icon in the hicolor theme and the tray's symbolic
# icon beside it, which tray hosts load by name and recolour. All go in the "desktop" component. A copy of the app in a folder of the user's own writes the same
# files under $XDG_DATA_HOME itself (platform/linux/DesktopRegistration); the Debian package
# (scripts/deb) puts them under /usr/share.
#
# The application bundle itself is installed by the bundle's own rules, at
# PINLARK_BUNDLE_INSTALL_DIR below the prefix; the entry starts the executable inside it.
include(GNUInstallDirs)
set(PINLARK_BUNDLE_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/Pinlark.app" CACHE STRING
    "Where the application bundle goes, relative to the install prefix")

# Every icon of resources/icons/; a "-symbolic" one goes to the theme's symbolic folder.
file(GLOB PINLARK_APP_ICONS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/icons/*.svg)
foreach(icon ${PINLARK_APP_ICONS})
    set(kind scalable)
    if(icon MATCHES "-symbolic\\.svg$")
        set(kind symbolic)
    endif()
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${kind}/apps
            COMPONENT desktop)
endforeach()

# Written at install time, so that the entry names the executable under the prefix actually
# installed to (cmake --install --prefix).
install(CODE "
    set(PINLARK_EXEC \"\${CMAKE_INSTALL_PREFIX}/${PINLARK_BUNDLE_INSTALL_DIR}/Contents/MacOS/Pinlark\")
    if(PINLARK_EXEC MATCHES \" \")
        set(PINLARK_EXEC \"\\\"\${PINLARK_EXEC}\\\"\")
    endif()
    set(entry \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/${PINLARK_BUNDLE_IDENTIFIER}.desktop\")
    message(STATUS \"Installing: \${entry}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/resources/app.pinlark.Pinlark.desktop.in\" \"\${entry}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${entry}\")
" COMPONENT desktop)
