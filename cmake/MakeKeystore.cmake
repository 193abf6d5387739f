# Makes a default key store at OUT when none is there: alias "jsk", store and
# key password "52039871". JKS, because older signing tools read only that
# type. The key is RSA 2048 and the self-signed certificate is signed with
# SHA1withRSA: many MIDP 2.0 phones can verify neither SHA-256 certificate
# signatures nor keys above 2048 bits. Twenty years' validity keeps the end
# date before 2050, so it is written as UTCTime, the only form some phones
# parse. The certificate is an X.509 v3 CA certificate (basicConstraints
# CA:TRUE and keyUsage digitalSignature and keyCertSign, both critical): several
# Series 40 phones take a root for applications only in that form, and a
# self-signed suite installs only where its certificate is such a root. Every
# build and every installation makes its own key; none is ever copied. A
# user's key store is made the same way (PrepareUserFolders in
# src/app/UserFolders.cpp): keep the two alike.
if(EXISTS "${OUT}")
    return()
endif()
file(REMOVE "${OUT}.new")
execute_process(
    COMMAND "${KEYTOOL}" -genkeypair -noprompt
            -storetype JKS -keystore "${OUT}.new" -storepass 52039871
            -alias jsk -keypass 52039871
            -keyalg RSA -keysize 2048 -sigalg SHA1withRSA -validity 7300
            -dname "CN=Jarseal, OU=MIDlet signing, O=Jarseal"
            -ext BasicConstraints:critical=ca:true
            -ext KeyUsage:critical=digitalSignature,keyCertSign
    RESULT_VARIABLE result
    OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 0)
    file(REMOVE "${OUT}.new")
    message(FATAL_ERROR "keytool could not make the key store ${OUT}")
endif()
file(RENAME "${OUT}.new" "${OUT}")
