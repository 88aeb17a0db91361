# Run by `cmake --install` into a game folder (the install prefix): writes the launcher entry
# with the folder's absolute paths, quoted and escaped as desktop entries are (freedesktop.org rules),
# and makes backup/ beside maps/ when it is missing. The paths are the ones the program runs
# from, without DESTDIR. game_folder_check.cmake has refused the names that cannot be written.
set(folder "${CMAKE_INSTALL_PREFIX}")
set(staged "$ENV{DESTDIR}${folder}")

# A string value of the entry: "\" is written "\\".
function(desktop_string value out)
    string(REPLACE "\\" "\\\\" value "${value}")
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

# An argument of Exec: in double quotes, with ", `, $ and \ escaped by "\" and % doubled; then
# written as a string value.
function(desktop_exec_argument value out)
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(REPLACE "`" "\\`" value "${value}")
    string(REPLACE "$" "\\$" value "${value}")
    string(REPLACE "%" "%%" value "${value}")
    desktop_string("\"${value}\"" value)
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

desktop_exec_argument("${folder}/zandrel" ZANDREL_DESKTOP_EXEC)
desktop_string("${folder}/zandrel.png" ZANDREL_DESKTOP_ICON)
message(STATUS "Installing: ${staged}/zandrel.desktop")
configure_file("${ZANDREL_DESKTOP_TEMPLATE}" "${staged}/zandrel.desktop" @ONLY)

if(IS_DIRECTORY "${staged}/maps" AND NOT EXISTS "${staged}/backup")
    message(STATUS "Making the game folder's backup folder: ${staged}/backup")
    file(MAKE_DIRECTORY "${staged}/backup")
elseif(NOT IS_DIRECTORY "${staged}/maps")
    message(STATUS "No maps folder in ${staged}: not a game folder yet, so no backup folder made")
endif()
