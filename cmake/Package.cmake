# The layout of the Debian package (`cpack -G DEB` in a build folder
# configured with -DJARSEAL_DEB=ON -DCMAKE_INSTALL_PREFIX=/usr, see
# scripts/make-deb.sh). The program folder is /usr/lib/jarseal, which no user
# may write: each user's settings, key store and working folder live in the
# user's own folders, made at the first run. /usr/bin holds links to the
# programs, which find their folder through the link.
set(libdir lib/jarseal)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
install(TARGETS jarseal-cli RUNTIME DESTINATION ${libdir})
if(TARGET jarseal)
    install(TARGETS jarseal RUNTIME DESTINATION ${libdir})
endif()
install(TARGETS signsis RUNTIME DESTINATION ${libdir}/data)
install(FILES ${CMAKE_BINARY_DIR}/data/jadtool.jar DESTINATION ${libdir}/data)
install(DIRECTORY ${CMAKE_BINARY_DIR}/data/locale DESTINATION ${libdir}/data)
foreach(program jarseal jarseal-cli)
    file(CREATE_LINK ../${libdir}/${program} ${CMAKE_BINARY_DIR}/deb/${program} SYMBOLIC)
    install(FILES ${CMAKE_BINARY_DIR}/deb/${program} DESTINATION bin)
endforeach()

# Menu entry, icon, metadata, manual pages, completion, licence.
set(app_id io.github.jarseal.Jarseal)
file(READ ${CMAKE_SOURCE_DIR}/desktop/jarseal.desktop.in entry)
string(REPLACE "\"@PROGRAM_DIR@/jarseal\"" "jarseal" entry "${entry}")
string(REPLACE "Icon=jarseal" "Icon=${app_id}" entry "${entry}")
file(WRITE ${CMAKE_BINARY_DIR}/deb/${app_id}.desktop "${entry}")
install(FILES ${CMAKE_BINARY_DIR}/deb/${app_id}.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/jarseal.svg DESTINATION share/icons/hicolor/scalable/apps
        RENAME ${app_id}.svg)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/${app_id}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/completion/jarseal-cli.bash DESTINATION share/bash-completion/completions
        RENAME jarseal-cli)
foreach(page jarseal.1 jarseal-cli.1)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/deb/${page}.gz
                       COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/doc/${page} > ${CMAKE_BINARY_DIR}/deb/${page}.gz
                       DEPENDS ${CMAKE_SOURCE_DIR}/doc/${page})
    list(APPEND manual_pages ${CMAKE_BINARY_DIR}/deb/${page}.gz)
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${manual_pages})
install(FILES ${manual_pages} DESTINATION share/man/man1)
# Debian's copyright file and changelog, which every package carries.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
file(WRITE ${CMAKE_BINARY_DIR}/deb/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: jarseal\n\nFiles: *\nCopyright: 2026 The Jarseal authors\nLicense: Expat\n")
string(REGEX REPLACE "\n\n" "\n.\n" licence_lines "${licence}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" licence_lines "${licence_lines}")
file(APPEND ${CMAKE_BINARY_DIR}/deb/copyright " ${licence_lines}")
string(TIMESTAMP today "%a, %d %b %Y 00:00:00 +0000" UTC)
file(WRITE ${CMAKE_BINARY_DIR}/deb/changelog
     "jarseal (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n  * Release ${PROJECT_VERSION}.\n\n"
     " -- The Jarseal authors <jarseal@users.noreply.github.com>  ${today}\n")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz
                   COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/deb/changelog > ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz
                   DEPENDS ${CMAKE_BINARY_DIR}/deb/changelog)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/deb/copyright ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz
        DESTINATION share/doc/jarseal)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME jarseal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "The Jarseal authors <jarseal@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "prepare and sign Java ME suites and Symbian packages")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Jarseal writes a descriptor for a Java ME MIDlet suite, signs it with a key\n"
    "store and adds the permissions the suite needs, and signs Symbian packages\n"
    "(.sis and .sisx). A window with a Russian user interface and the console\n"
    "program jarseal-cli do the same jobs.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/jarseal/jarseal")
# The shared libraries (Qt 6, libzip, OpenSSL, libdeflate, zlib) as the
# release that builds the package names them; Java is started as a program.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Liberation Sans Narrow, the window's font, has a package of its own from Debian 13 on.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "default-jre-headless | java-runtime-headless, openssl, fonts-liberation-sans-narrow | fonts-liberation")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
