# `cmake --install BUILD --prefix FOLDER` lays out a portable program folder:
# the executables at its top, data/ with the JAD tool, the signing tool and an
# empty working folder, a key store and settings file made for this folder
# (never copied from a build), and a desktop entry with its icon.
install(TARGETS jarseal-cli RUNTIME DESTINATION .)
if(TARGET jarseal)
    install(TARGETS jarseal RUNTIME DESTINATION .)
endif()
if(TARGET signsis)
    install(TARGETS signsis RUNTIME DESTINATION data)
endif()
if(TARGET jadtool)
    install(FILES ${CMAKE_BINARY_DIR}/data/jadtool.jar DESTINATION data)
    # The tool's class archive, made for the installed jar at its place (one
    # made under a staging DESTDIR would fit no jar once the files move).
    if(Java_JAVA_EXECUTABLE)
        install(CODE "
if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    execute_process(COMMAND \"${CMAKE_COMMAND}\" \"-DJAVA=${Java_JAVA_EXECUTABLE}\" \"-DKEYTOOL=${JARSEAL_KEYTOOL}\"
                            \"-DJAR=\${CMAKE_INSTALL_PREFIX}/data/jadtool.jar\"
                            \"-DOUT=\${CMAKE_INSTALL_PREFIX}/data/jadtool.jsa\"
                            -P \"${CMAKE_SOURCE_DIR}/tools/jadtool/MakeClassArchive.cmake\")
endif()
")
    endif()
endif()
install(DIRECTORY DESTINATION data/temp)
install(DIRECTORY ${CMAKE_BINARY_DIR}/data/locale DESTINATION data)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/jarseal.svg DESTINATION .)

set(jarseal_install_script ${CMAKE_BINARY_DIR}/JarsealInstall.cmake)
file(WRITE ${jarseal_install_script} "
set(program \"\${CMAKE_INSTALL_PREFIX}\")
set(root \"\$ENV{DESTDIR}\${program}\")
if(EXISTS \"${JARSEAL_KEYTOOL}\")
    execute_process(COMMAND \"${CMAKE_COMMAND}\" -DKEYTOOL=${JARSEAL_KEYTOOL} \"-DOUT=\${root}/data/key\"
                    -P \"${CMAKE_SOURCE_DIR}/cmake/MakeKeystore.cmake\" RESULT_VARIABLE r)
    if(NOT r EQUAL 0)
        message(FATAL_ERROR \"the key store could not be made\")
    endif()
endif()
if(EXISTS \"${JARSEAL_OPENSSL}\")
    execute_process(COMMAND \"${CMAKE_COMMAND}\" -DOPENSSL=${JARSEAL_OPENSSL} \"-DOUT_CER=\${root}/data/symbian.cer\"
                    \"-DOUT_KEY=\${root}/data/symbian.key\" -P \"${CMAKE_SOURCE_DIR}/cmake/MakeSymbianKey.cmake\"
                    RESULT_VARIABLE r)
    if(NOT r EQUAL 0)
        message(FATAL_ERROR \"the Symbian certificate could not be made\")
    endif()
endif()
execute_process(COMMAND \"${CMAKE_COMMAND}\" \"-DOUT=\${root}/Jarseal.ini\" \"-DPROGRAM_DIR=\${program}\"
                -P \"${CMAKE_SOURCE_DIR}/cmake/DefaultSettings.cmake\")
file(READ \"${CMAKE_SOURCE_DIR}/desktop/jarseal.desktop.in\" entry)
string(REPLACE \"@PROGRAM_DIR@\" \"\${program}\" entry \"\${entry}\")
file(WRITE \"\${root}/jarseal.desktop\" \"\${entry}\")
message(STATUS \"Program folder: \${root}\")
")
install(SCRIPT ${jarseal_install_script})
