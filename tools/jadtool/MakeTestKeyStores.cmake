# Makes the key stores the JAD tool tests sign with (run with cmake -P):
#   chain.jks  JKS, store password "store-pw":
#     root    self-signed CA, key password "root-pw"
#     inter   intermediate CA signed by root, key password "inter-pw"
#     signer  signed by inter, key password "key-pw"; its chain is
#             signer, inter, root
#   solo.p12   PKCS12, alias "solo", self-signed, password "p12-pw"
# Arguments: -DKEYTOOL=<keytool> -DOUT=<folder>
cmake_minimum_required(VERSION 3.22)

set(work ${OUT}/keystore-work)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
file(REMOVE ${OUT}/chain.jks ${OUT}/solo.p12)

function(keytool)
    execute_process(COMMAND ${KEYTOOL} ${ARGN}
                    WORKING_DIRECTORY ${work}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "keytool ${ARGN} failed:\n${out}")
    endif()
endfunction()

set(jks -storetype JKS -keystore chain.jks -storepass store-pw)
set(rsa -keyalg RSA -keysize 2048 -validity 3650)
keytool(-genkeypair ${jks} ${rsa} -alias root -keypass root-pw -dname "CN=Jarseal Test Root" -ext bc:c)
keytool(-exportcert ${jks} -rfc -alias root -file root.pem)

keytool(-genkeypair ${jks} ${rsa} -alias inter -keypass inter-pw -dname "CN=Jarseal Test Intermediate")
keytool(-certreq ${jks} -alias inter -keypass inter-pw -file inter.csr)
keytool(-gencert ${jks} -rfc -alias root -keypass root-pw -infile inter.csr -outfile inter.pem -ext bc:c -validity 3650)
file(READ ${work}/inter.pem inter)
file(READ ${work}/root.pem root)
file(WRITE ${work}/inter-reply.pem "${inter}${root}")
keytool(-importcert ${jks} -noprompt -alias inter -keypass inter-pw -file inter-reply.pem)

keytool(-genkeypair ${jks} ${rsa} -alias signer -keypass key-pw -dname "CN=Jarseal Test Signer, O=Jarseal")
keytool(-certreq ${jks} -alias signer -keypass key-pw -file signer.csr)
keytool(-gencert ${jks} -rfc -alias inter -keypass inter-pw -infile signer.csr -outfile signer.pem -validity 3650)
file(READ ${work}/signer.pem signer)
file(WRITE ${work}/signer-reply.pem "${signer}${inter}${root}")
keytool(-importcert ${jks} -noprompt -alias signer -keypass key-pw -file signer-reply.pem)

keytool(-genkeypair -storetype PKCS12 -keystore solo.p12 -storepass p12-pw ${rsa} -alias solo
        -dname "CN=Jarseal Test Solo")

file(COPY_FILE ${work}/chain.jks ${OUT}/chain.jks)
file(COPY_FILE ${work}/solo.p12 ${OUT}/solo.p12)
file(REMOVE_RECURSE ${work})
