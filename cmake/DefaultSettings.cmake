# Writes the settings file a new program folder ships with: the Java signing
# values that go with the default key store data/key, and the Symbian ones of
# data/symbian.cer and data/symbian.key (the same values the
# "По умолчанию" button restores), and the bookkeeping of a finished first
# run. Run only while the file is missing, so the user's own settings are
# never replaced.
if(EXISTS "${OUT}")
    return()
endif()
set(crlf "\r\n")
# The folder as the running program will find it, so that its first start
# counts as done and asks nothing.
file(REAL_PATH "${PROGRAM_DIR}" program_dir)
file(WRITE "${OUT}.new"
    "[Jarseal]${crlf}"
    "FirstRun=0${crlf}"
    "AppPath=${program_dir}${crlf}"
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
