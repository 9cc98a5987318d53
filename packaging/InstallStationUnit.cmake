# Run at install time (install(SCRIPT)): writes the station's systemd unit and its environment
# file for the final prefix. The unit names the launcher by its full path; the environment file
# goes to /etc under the prefix /usr (the Debian package), to <prefix>/etc under any other.
# Expects KUU_STATION_UNIT_IN (the template), KUU_STATION_CONF_IN (the environment file) and
# KUU_STATION_SCRATCH (a folder in the build).

set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
    set(sysconf "/etc")
else()
    set(sysconf "${prefix}/etc")
endif()
set(conf "${sysconf}/kestrune-update/station.conf")
set(launcher "${prefix}/lib/kestrune-update-utility/kestrune-update-station")

# A word of a unit's command line in double quotes: \ and " escaped, and % and $ doubled, as
# systemd would otherwise take them for specifiers and variables.
function(kuu_unit_word text out)
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\\\"" text "${text}")
    string(REPLACE "%" "%%" text "${text}")
    string(REPLACE "$" "$$" text "${text}")
    set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()
kuu_unit_word("${launcher}" exec_launcher)
kuu_unit_word("${conf}" exec_conf)
string(REPLACE "%" "%%" conf_setting "${conf}")

file(READ "${KUU_STATION_UNIT_IN}" unit)
string(REPLACE "@CONF_TEXT@" "${conf}" unit "${unit}")
string(REPLACE "@CONF@" "${conf_setting}" unit "${unit}")
string(REPLACE "@EXEC@" "${exec_launcher} ${exec_conf}" unit "${unit}")
# A scratch folder of its own for each destination, so installs in parallel cannot mix.
string(MD5 destination "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
set(scratch "${KUU_STATION_SCRATCH}/${destination}/kestrune-update-station.service")
file(WRITE "${scratch}" "${unit}")
file(INSTALL DESTINATION "${prefix}/lib/systemd/system" TYPE FILE FILES "${scratch}")
file(INSTALL DESTINATION "${sysconf}/kestrune-update" TYPE FILE FILES "${KUU_STATION_CONF_IN}")
