# Assembles Pinlark.app from built parts, then seals and signs it; run with cmake -P.
#   APP         the bundle folder to (re)create
#   INFO        the information dictionary
#   ICON        the menu-bar icon
#   EXECUTABLE  the app's executable; empty while the app has no entry point yet
#   HELPERS     the helper tools, separated by "|"
#   SEAL        pinlark-seal
#   KEY         the Ed25519 private key (PEM) that signs the seal; it stays outside the bundle
file(REMOVE_RECURSE "${APP}")
file(MAKE_DIRECTORY "${APP}/Contents/MacOS" "${APP}/Contents/Resources" "${APP}/Contents/Helpers")
file(COPY_FILE "${INFO}" "${APP}/Contents/Info.plist")
file(COPY_FILE "${ICON}" "${APP}/Contents/Resources/MenuBarIcon.png")
if(EXECUTABLE)
    file(COPY "${EXECUTABLE}" DESTINATION "${APP}/Contents/MacOS")
endif()
string(REPLACE "|" ";" helpers "${HELPERS}")
file(COPY ${helpers} DESTINATION "${APP}/Contents/Helpers")
execute_process(COMMAND "${SEAL}" --key "${KEY}" "${APP}" RESULT_VARIABLE sealed)
if(NOT sealed EQUAL 0)
    message(FATAL_ERROR "sealing and signing ${APP} failed")
endif()
