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

# Makes an Ed25519 private key at `pem` unless one is there (readable by its owner only), and
# gives in `bytes` its public key's 32 raw bytes as a C initialiser list.
function(pinlark_ed25519_key pem bytes)
    if(NOT EXISTS ${pem})
        message(STATUS "Making a signing key: ${pem}")
        # openssl writes a private key readable by its owner only.
        execute_process(COMMAND ${PINLARK_OPENSSL} genpkey -algorithm ed25519 -out ${pem}
                        RESULT_VARIABLE made ERROR_VARIABLE error)
        if(NOT made EQUAL 0)
            message(FATAL_ERROR "making a signing key failed: ${error}")
        endif()
        file(CHMOD ${pem} PERMISSIONS OWNER_READ OWNER_WRITE)
    endif()
    # A key replaced under the same name is picked up by the next build.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pem})

    # The public key as DER: a fixed 12-byte Ed25519 prefix, then the 32 raw bytes.
    string(MD5 name ${pem})
    set(public ${CMAKE_BINARY_DIR}/CMakeFiles/public-key-${name}.der)
    execute_process(COMMAND ${PINLARK_OPENSSL} pkey -in ${pem} -pubout -outform DER -out ${public}
                    RESULT_VARIABLE derived ERROR_VARIABLE error)
    set(der "")
    if(derived EQUAL 0)
        file(READ ${public} der HEX)
    endif()
    string(LENGTH "${der}" length)
    if(NOT length EQUAL 88 OR NOT der MATCHES "^302a300506032b6570032100")
        message(FATAL_ERROR "${pem} is not an Ed25519 private key\n${error}")
    endif()
    string(SUBSTRING ${der} 24 64 raw)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " list ${raw})
    string(REGEX REPLACE ", $" "" list "${list}")
    set(${bytes} "${list}" PARENT_SCOPE)
endfunction()

if(PINLARK_SIGNING_KEY)
    set(PINLARK_SIGNING_KEY_FILE ${PINLARK_SIGNING_KEY})
else()
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/signing)
    set(PINLARK_SIGNING_KEY_FILE ${CMAKE_BINARY_DIR}/signing/development-key.pem)
endif()
pinlark_ed25519_key(${PINLARK_SIGNING_KEY_FILE} PINLARK_PUBLISHER_KEY_BYTES)
