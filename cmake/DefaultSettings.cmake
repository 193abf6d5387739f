# Writes the settings file a new program folder ships with: the Java signing
# values that go with the default key store data/key, and the Symbian ones of
# data/symbian.cer and data/symbian.key (the same values the
# "По умолчанию" button restores). Run only while the file is missing, so the
# user's own settings are never replaced.
if(EXISTS "${OUT}")
    return()
endif()
set(crlf "\r\n")
file(WRITE "${OUT}.new"
    "[Java]${crlf}"
    "keystore=${PROGRAM_DIR}/data/key${crlf}"
    "storepass=52039871${crlf}"
    "keypass=52039871${crlf}"
    "alias1=jsk${crlf}"
    "alias2=jsk${crlf}"
    "[Symbian]${crlf}"
    "certificate=${PROGRAM_DIR}/data/symbian.cer${crlf}"
    "key=${PROGRAM_DIR}/data/symbian.key${crlf}"
    "passphrase=52039871${crlf}")
file(RENAME "${OUT}.new" "${OUT}")
