# The layout's dependency rule, held by the includes: each folder includes only from itself and
# the folders before it (framework, then capture, then media, then the stream parts preview,
# check and record, then ui, then tools, app and about). res/ holds only resources and is open to
# all. The exceptions are the main window's own: its member functions defined in capture/ and
# preview/, and the About box that it opens and that takes its icon.
# cmake -DROOT=<source folder> -P check_layers.cmake
set(allowed_framework framework)
set(allowed_capture framework capture)
set(allowed_media framework capture media)
set(allowed_preview framework capture media preview)
set(allowed_check framework capture media check)
set(allowed_record framework capture media record)
set(allowed_ui framework capture media preview check record ui)
set(allowed_tools framework capture media preview check record ui tools)
set(allowed_app framework capture media preview check record ui tools app about)
set(allowed_about framework about)
set(exceptions
    "capture/device_list.cpp>ui/lookwell_dlg.h"
    "preview/preview_graph.cpp>ui/lookwell_dlg.h"
    "ui/lookwell_dlg.cpp>about/about_dlg.h"
    "about/about_dlg.cpp>ui/lookwell_dlg.h")

set(failures "")
foreach(folder framework capture media preview check record ui tools app about)
    file(GLOB sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.h)
    foreach(source ${sources})
        file(STRINGS ${ROOT}/${source} lines REGEX "^#include \"[a-z_]+/")
        foreach(line ${lines})
            string(REGEX REPLACE "^#include \"([a-z_]+)/([^\"]+)\".*" "\\1" included_folder "${line}")
            string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
            if(included_folder STREQUAL "res")
                continue()
            endif()
            list(FIND allowed_${folder} ${included_folder} at)
            list(FIND exceptions "${source}>${included}" excepted)
            if(at EQUAL -1 AND excepted EQUAL -1)
                string(APPEND failures "\n  ${source} includes ${included}")
            endif()
        endforeach()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "Includes against the layout's order:${failures}")
endif()
