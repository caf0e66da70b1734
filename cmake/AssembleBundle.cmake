# Assembles Pinlark.app from built parts, then seals and signs it; run with cmake -P.
#   APP         the bundle folder to (re)create
#   INFO        the information dictionary
#   ICON        the menu-bar icon
#   EXECUTABLE  the app's executable; empty while the app has no entry point yet
#   MODULES     the app itself, which the executable loads from Contents/Frameworks, and the
#               library window, which the app loads from there; separated by "|"
#   HELPERS     the helper tools, separated by "|"
#   SEAL        pinlark-seal
#   KEY         the Ed25519 private key (PEM) that signs the seal; it stays outside the bundle
file(REMOVE_RECURSE "${APP}")
file(MAKE_DIRECTORY "${APP}/Contents/MacOS" "${APP}/Contents/Resources" "${APP}/Contents/Helpers")
file(COPY_FILE "${INFO}" "${APP}/Contents/Info.plist")
file(COPY_FILE "${ICON}" "${APP}/Contents/Resources/MenuBarIcon.png")
if(EXECUTABLE)
    file(COPY "${EXECUTABLE}" DESTINATION "${APP}/Contents/MacOS")
    file(MAKE_DIRECTORY "${APP}/Contents/Frameworks")
    string(REPLACE "|" ";" modules "${MODULES}")
    file(COPY ${modules} DESTINATION "${APP}/Contents/Frameworks")
endif()
string(REPLACE "|" ";" helpers "${HELPERS}")
file(COPY ${helpers} DESTINATION "${APP}/Contents/Helpers")
# The seal takes modes as they are and refuses any that lets group or others write: whatever the
# umask of the build, the bundle's folders and programs are 0755, its other files 0644.
set(runnable OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(GLOB_RECURSE programs "${APP}/Contents/MacOS/*" "${APP}/Contents/Helpers/*")
file(CHMOD "${APP}" "${APP}/Contents" "${APP}/Contents/MacOS" "${APP}/Contents/Resources"
     "${APP}/Contents/Helpers" ${programs} PERMISSIONS ${runnable})
# The module the executable loads is no program of its own.
file(GLOB modules "${APP}/Contents/Frameworks/*")
if(EXISTS "${APP}/Contents/Frameworks")
    file(CHMOD "${APP}/Contents/Frameworks" PERMISSIONS ${runnable})
endif()
file(CHMOD "${APP}/Contents/Info.plist" "${APP}/Contents/Resources/MenuBarIcon.png" ${modules}
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(COMMAND "${SEAL}" --key "${KEY}" "${APP}" RESULT_VARIABLE sealed)
if(NOT sealed EQUAL 0)
    message(FATAL_ERROR "sealing and signing ${APP} failed")
endif()
