# Makes the default Symbian signing certificate OUT_CER and its key OUT_KEY
# when they are missing: RSA 2048 with a self-signed SHA1withRSA certificate
# (what phones of that era verify), valid for twenty years so its end date
# stays before 2050, and the key as encrypted PKCS#8 with the passphrase
# "52039871", as the default settings name it. Every build and installation
# makes its own; none is ever copied.
if(EXISTS "${OUT_CER}" AND EXISTS "${OUT_KEY}")
    return()
endif()
file(REMOVE "${OUT_CER}.new" "${OUT_KEY}.new")
execute_process(
    COMMAND "${OPENSSL}" req -x509 -newkey rsa:2048 -sha1 -days 7300
            -subj "/CN=Jarseal/O=Jarseal"
            -keyout "${OUT_KEY}.new" -out "${OUT_CER}.new" -passout pass:52039871
    RESULT_VARIABLE result
    OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 0)
    file(REMOVE "${OUT_CER}.new" "${OUT_KEY}.new")
    message(FATAL_ERROR "openssl could not make the Symbian certificate ${OUT_CER}")
endif()
file(RENAME "${OUT_KEY}.new" "${OUT_KEY}")
file(RENAME "${OUT_CER}.new" "${OUT_CER}")
