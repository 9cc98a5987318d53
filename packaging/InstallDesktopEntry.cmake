# Run at install time (install(SCRIPT)): writes the desktop entry for the final prefix.
# Under /usr and /usr/local the launcher is on the PATH and the icons are in the icon theme,
# so the entry names them; under any other prefix it gives their full paths, so the entry
# still works when linked into ~/.local/share/applications.
# Expects KUU_DESKTOP_IN (the template), KUU_DESKTOP_ID (the entry's file name without .desktop)
# and KUU_DESKTOP_SCRATCH (a folder in the build).

set(name kestrune-update-utility)
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr" OR prefix STREQUAL "/usr/local")
    set(exec "${name}")
    set(icon "${name}")
else()
    set(exec "${prefix}/bin/${name}")
    set(icon "${prefix}/share/icons/hicolor/scalable/apps/${name}.svg")
    # Desktop-entry quoting: a path with reserved characters goes in double quotes, with
    # \ " ` $ escaped inside them; then backslashes are escaped once more for the string.
    if(exec MATCHES "[] \t\n\"'\\\\><~|&;$*?#()`[]")
        string(REGEX REPLACE "([\\\\\"`$])" "\\\\\\1" exec "${exec}")
        set(exec "\"${exec}\"")
    endif()
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "%" "%%" exec "${exec}")
    string(REPLACE "\\" "\\\\" icon "${icon}")
endif()

file(READ "${KUU_DESKTOP_IN}" entry)
string(REPLACE "@EXEC@" "${exec}" entry "${entry}")
string(REPLACE "@ICON@" "${icon}" entry "${entry}")
# A scratch folder of its own for each destination, so installs in parallel cannot mix.
string(MD5 destination "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
set(scratch "${KUU_DESKTOP_SCRATCH}/${destination}/${KUU_DESKTOP_ID}.desktop")
file(WRITE "${scratch}" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE FILES "${scratch}")
