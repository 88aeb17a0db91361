# Run by `cmake --install` into a game folder before anything is installed: a folder name that
# CMake's file commands would change (a backslash is read as a separator) or that no launcher
# entry can name (control characters, line breaks) is refused, so that nothing is installed
# half.
set(folder "${CMAKE_INSTALL_PREFIX}")
string(FIND "${folder}" "\\" backslash)
set(control -1)
foreach(code RANGE 1 31)
    string(ASCII ${code} character)
    string(FIND "${folder}" "${character}" at)
    if(at GREATER -1)
        set(control ${at})
    endif()
endforeach()
if(backslash GREATER -1 OR control GREATER -1)
    message(FATAL_ERROR "Zandrel cannot be installed into a folder whose name holds a backslash, "
                        "a control character or a line break: ${folder}")
endif()
