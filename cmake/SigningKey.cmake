# The Ed25519 key pair that signs the bundle's seal. The app trusts the public key, compiled in
# (PINLARK_PUBLISHER_KEY_BYTES, for generated/PublisherKey.h); the private key is read only by
# pinlark-seal, from the path PINLARK_SIGNING_KEY_FILE that the bundle's assembly hands it.
#
# A release names the publisher's private key with -DPINLARK_SIGNING_KEY=FILE (PEM). Without it
# the first configure makes a development key pair in the build folder, never in the source tree:
# an app built so accepts only bundles signed in the same build folder. Either way the private key
# stays where it is and goes into no bundle, archive or package.
set(PINLARK_SIGNING_KEY "" CACHE FILEPATH
    "The publisher's Ed25519 private key (PEM) that signs the bundle; empty: a development key in the build folder")
find_program(PINLARK_OPENSSL openssl REQUIRED)

block(PROPAGATE PINLARK_SIGNING_KEY_FILE PINLARK_PUBLISHER_KEY_BYTES)
    set(signing ${CMAKE_BINARY_DIR}/signing)
    file(MAKE_DIRECTORY ${signing})
    if(PINLARK_SIGNING_KEY)
        set(PINLARK_SIGNING_KEY_FILE ${PINLARK_SIGNING_KEY})
    else()
        set(PINLARK_SIGNING_KEY_FILE ${signing}/development-key.pem)
        if(NOT EXISTS ${PINLARK_SIGNING_KEY_FILE})
            message(STATUS "Making a development signing key: ${PINLARK_SIGNING_KEY_FILE}")
            # openssl writes a private key readable by its owner only.
            execute_process(COMMAND ${PINLARK_OPENSSL} genpkey -algorithm ed25519
                                    -out ${PINLARK_SIGNING_KEY_FILE}
                            RESULT_VARIABLE made ERROR_VARIABLE error)
            if(NOT made EQUAL 0)
                message(FATAL_ERROR "making a development signing key failed: ${error}")
            endif()
        endif()
        file(CHMOD ${PINLARK_SIGNING_KEY_FILE} PERMISSIONS OWNER_READ OWNER_WRITE)
    endif()
    # A key replaced under the same name is picked up by the next build.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PINLARK_SIGNING_KEY_FILE})

    # The public key as DER: a fixed 12-byte Ed25519 prefix, then the 32 raw bytes.
    execute_process(COMMAND ${PINLARK_OPENSSL} pkey -in ${PINLARK_SIGNING_KEY_FILE} -pubout
                            -outform DER -out ${signing}/public-key.der
                    RESULT_VARIABLE derived ERROR_VARIABLE error)
    set(der "")
    if(derived EQUAL 0)
        file(READ ${signing}/public-key.der der HEX)
    endif()
    string(LENGTH "${der}" length)
    if(NOT length EQUAL 88 OR NOT der MATCHES "^302a300506032b6570032100")
        message(FATAL_ERROR "${PINLARK_SIGNING_KEY_FILE} is not an Ed25519 private key\n${error}")
    endif()
    string(SUBSTRING ${der} 24 64 raw)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " PINLARK_PUBLISHER_KEY_BYTES ${raw})
    string(REGEX REPLACE ", $" "" PINLARK_PUBLISHER_KEY_BYTES ${PINLARK_PUBLISHER_KEY_BYTES})
endblock()
