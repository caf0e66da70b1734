# The programs Pinlark.app carries are stripped as soon as they are linked, before the bundle is
# assembled and sealed: a release (the update archive, the Debian package) carries no debug
# information, a tenth of the size, and its sealed files are never stripped afterwards. The debug
# information stays in the build tree beside each program, as <program>.debug, which the stripped
# program names: `gdb build/src/Pinlark` finds it, and so does `symbol-file` for the bundle's copy.
function(pinlark_split_debug_info target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}>
                $<TARGET_FILE:${target}>.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-all --remove-section=.comment
                --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
