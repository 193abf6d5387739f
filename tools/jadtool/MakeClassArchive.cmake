# Makes the class archive of the JAD tool (run with cmake -P): the classes a
# run loads, ready to map, which cuts the start of a run to a fraction. The
# archive belongs to one jar at one place and to one Java runtime; the program
# hands it to the tool's runs (src/process/RunAndWait.cpp), and a runtime that
# finds it does not fit ignores it.
#
# The archive comes from a training run of -addjarsig (it loads every class
# -addcert does, and more) with a throwaway key store, and replaces OUT only
# when the run succeeded. A failure leaves no archive, only a warning: the
# tool works as well without one.
# Arguments: -DJAVA=<java> -DKEYTOOL=<keytool> -DJAR=<jadtool.jar> -DOUT=<jadtool.jsa>
#            [-DIF_OLDER=ON: nothing to do when OUT is newer than JAR]
cmake_minimum_required(VERSION 3.22)

if(IF_OLDER AND EXISTS "${OUT}" AND "${OUT}" IS_NEWER_THAN "${JAR}")
    return()
endif()

set(work "${OUT}.work")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
file(REMOVE "${OUT}" "${OUT}.new")

function(give_up what output)
    file(REMOVE_RECURSE "${work}")
    file(REMOVE "${OUT}.new")
    message(WARNING "No class archive for the JAD tool (it runs without one, only slower): ${what}\n${output}")
endfunction()

execute_process(COMMAND "${KEYTOOL}" -genkeypair -noprompt -storetype JKS -keystore key -storepass training
                        -alias training -keypass training -keyalg RSA -keysize 2048 -sigalg SHA1withRSA
                        -validity 2 -dname "CN=Training"
                WORKING_DIRECTORY "${work}" RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
    give_up("keytool failed" "${out}")
    return()
endif()
file(WRITE "${work}/training.jad" "MIDlet-Name: Training\r\nMIDlet-Jar-URL: training.jar\r\n")
string(REPEAT "training " 4096 bytes)
file(WRITE "${work}/training.jar" "${bytes}")

# The runtime writes the archive when the run ends; cds*=off keeps its notes
# about classes it leaves out quiet.
execute_process(COMMAND "${JAVA}" "-XX:ArchiveClassesAtExit=${OUT}.new" -Xshare:auto "-Xlog:cds*=off"
                        -jar "${JAR}" -addjarsig -alias training -keystore key -storepass training
                        -inputjad training.jad -outputjad signed.jad -jarfile training.jar
                WORKING_DIRECTORY "${work}" RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR NOT EXISTS "${OUT}.new")
    give_up("the training run failed" "${out}")
    return()
endif()
file(RENAME "${OUT}.new" "${OUT}")
file(REMOVE_RECURSE "${work}")
