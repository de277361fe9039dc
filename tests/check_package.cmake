# The release package as a Windows user downloads it: made by CPack into a folder of its own,
# holding the stripped program and camera and the README, and the program's resources intact.
# cmake -DBUILD=... -DOBJDUMP=... -DWINE_EXEC=... -DTESTS=... -DVERSION=... -P check_package.cmake
set(out ${BUILD}/package-check)
file(REMOVE_RECURSE ${out})
file(MAKE_DIRECTORY ${out}/unpacked)
execute_process(COMMAND cpack --config ${BUILD}/CPackConfig.cmake -B ${out}
                RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
set(zip ${out}/Lookwell-${VERSION}-win64.zip)
if(NOT rc EQUAL 0 OR NOT EXISTS ${zip})
    message(FATAL_ERROR "cpack made no ${zip}:\n${log}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${out}/unpacked
                RESULT_VARIABLE rc)
file(GLOB_RECURSE files RELATIVE ${out}/unpacked ${out}/unpacked/*)
list(SORT files)
set(top Lookwell-${VERSION}-win64)
set(expected ${top}/Lookwell.exe ${top}/README.txt ${top}/lookwell_testcam.dll)
if(NOT rc EQUAL 0 OR NOT files STREQUAL expected)
    message(FATAL_ERROR "the package holds \"${files}\", expected \"${expected}\"")
endif()

foreach(binary Lookwell.exe lookwell_testcam.dll)
    execute_process(COMMAND ${OBJDUMP} -h ${out}/unpacked/${top}/${binary} OUTPUT_VARIABLE sections)
    if(sections MATCHES "\\.debug_")
        message(FATAL_ERROR "${binary} is not stripped:\n${sections}")
    endif()
    file(SIZE ${out}/unpacked/${top}/${binary} size)
    message(STATUS "${binary}: ${size} bytes")
endforeach()
# What the README must name for a Windows user: its version, every key and switch, where the
# files go, the test camera's removal.
set(readme_names
    "Lookwell ${VERSION}" "regsvr32 /u"
    F11 Esc Ctrl+C Ctrl+S Ctrl+R Ctrl+Shift+R Ctrl+T Ctrl+I Ctrl+M Alt+Enter Alt+F4
    "Double-click" "Right double-click"
    /? /list /device: /format: /preview /fullscreen /check /csv /report: /record:
    /uncompressed /seconds:
    "Videos folder" "Pictures folder" "Documents folder")
file(READ ${out}/unpacked/${top}/README.txt readme)
set(missing)
foreach(name IN LISTS readme_names)
    string(FIND "${readme}" "${name}" at)
    if(at EQUAL -1)
        list(APPEND missing "${name}")
    endif()
endforeach()
if(missing)
    list(JOIN missing ", " missing)
    message(FATAL_ERROR "the package's README.txt does not name: ${missing}")
endif()

# The same resource tests as for the built program, on the packaged copy.
string(REPLACE "/" "\\" exe "Z:${out}/unpacked/${top}/Lookwell.exe")
set(ENV{LOOKWELL_EXE} "${exe}")
execute_process(COMMAND ${WINE_EXEC} --prefix ${BUILD}/test-prefix ${TESTS} --gtest_filter=Resources.*
                RESULT_VARIABLE rc
                OUTPUT_VARIABLE log ERROR_VARIABLE log)
message(STATUS "${log}")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the packaged Lookwell.exe lost resources")
endif()
